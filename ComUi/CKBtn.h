#pragma once

#include <QPushButton>

// Checkable page button: white with a primary outline, primary blue when checked. The look comes from the
// skin, which addresses the class by name.
class CKBtn : public QPushButton
{
    Q_OBJECT

public:
    using QPushButton::QPushButton;
};
