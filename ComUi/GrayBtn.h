#pragma once

#include <QPushButton>

// Large stop button: grey, red under the mouse. The look comes from the skin, which addresses the class by
// name.
class GrayBtn : public QPushButton
{
    Q_OBJECT

public:
    using QPushButton::QPushButton;
};
