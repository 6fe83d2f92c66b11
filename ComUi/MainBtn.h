#pragma once

#include <QPushButton>

// Main action of a window: white text on the primary blue. The look comes from the skin, which addresses the
// class by name.
class MainBtn : public QPushButton
{
    Q_OBJECT

public:
    using QPushButton::QPushButton;
};
