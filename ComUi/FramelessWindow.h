#pragma once

#include <QColor>

class QWidget;

// The set-up the program's frameless windows share: they draw their own title bar, and those with a
// shadow keep a transparent margin round the panel that casts it. Called after setupUi; the frame
// helper keeps the window flags it finds, so they are set first.

enum class WindowResize
{
    Fixed,
    // Resized by dragging the 5-pixel border.
    AtBorder,
};

enum class WindowBackground
{
    Opaque,
    // Only what the window's children and style sheet paint is shown, leaving room for a shadow.
    Translucent,
};

// A frameless dialog, modal to the window it was opened from, dragged by its top titleHeight pixels.
void SetUpFramelessDialog(QWidget* window, int titleHeight, WindowResize resize, WindowBackground background);

// Dragging by the top titleHeight pixels, for a window whose flags are already set; the helper
// belongs to the window.
void AttachFrameHelper(QWidget* window, int titleHeight, WindowResize resize);

// A soft shadow of the given colour and blur all round the panel, cast into the window's margin.
void AddPanelShadow(QWidget* panel, const QColor& colour, int blurRadius);
