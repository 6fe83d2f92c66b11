#pragma once

#include <QtGlobal>

// The library is built with hidden symbols; only what carries this macro is visible to the program.
#if defined(NEXIL_LIBRARY)
#define NEXIL_EXPORT Q_DECL_EXPORT
#else
#define NEXIL_EXPORT Q_DECL_IMPORT
#endif
