#pragma once

#include <QString>

namespace trainsvc
{

// text fit for one log line or a reply: control characters escaped (a line break in a request must not
// start a forged log line) and cut to maxChars, the cut said.
QString Printable(const QString& text, int maxChars);

} // namespace trainsvc
