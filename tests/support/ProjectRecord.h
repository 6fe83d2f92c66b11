#pragma once

#include "Nexil/ProInfo.h"

#include <memory>

// A catalogue record of a project as the tests hand it to the core library, created and last used
// at the same fixed time.
std::shared_ptr<pro::info> MakeInfo(const QString& id, const QString& name, int type = 1,
                                    const QString& tips = QString());
