#pragma once

#include <QString>

// The text with each line break (CR LF, LF, CR, Unicode line and paragraph separators) as one space,
// for places that show a text on a single line.
QString OneLineText(const QString& text);
