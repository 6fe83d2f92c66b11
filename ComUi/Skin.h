#pragma once

#include <QStringList>

// Registers the compiled-in resources of the kit (style sheets, icons, the wait animation).
// The resources live in a static library, so the program calls this once at start-up, before
// the first window or LoadQSS; further calls do nothing.
void InitComUiResources();

// Sets the concatenated style sheets as the application's style sheet. A sheet that cannot be
// read is logged and skipped.
void LoadQSS(const QStringList& paths);
