#pragma once

#include "Nexil/INexil.h"
#include "Nexil/IPrjCore.h"
#include "Nexil/NexilExport.h"

#include <memory>

// Entry points of the core library. The program keeps only weak references and locks them for each use.

// Makes the core object; a second call replaces it.
NEXIL_EXPORT void CreateNexil();
// The core object, empty before CreateNexil and after ReleaseNexil.
NEXIL_EXPORT std::weak_ptr<INexil> NexilIns();
// The open project, empty without a core object or an open project.
NEXIL_EXPORT std::weak_ptr<IPrjCore> PrjIns();
// Destroys the core object, stopping its threads and closing the open project.
NEXIL_EXPORT void ReleaseNexil();
