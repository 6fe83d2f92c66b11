#pragma once

#include <QPushButton>

// Large go button (start), green. The look comes from the skin, which addresses the class by name.
class GreenBtn : public QPushButton
{
    Q_OBJECT

public:
    using QPushButton::QPushButton;
};
