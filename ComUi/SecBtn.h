#pragma once

#include <QPushButton>

// Secondary action: grey text on white with a thin border. The look comes from the skin, which addresses the
// class by name.
class SecBtn : public QPushButton
{
    Q_OBJECT

public:
    using QPushButton::QPushButton;
};
