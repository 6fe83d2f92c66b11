#include "Nexil/NexilApi.h"

#include "Nexil/Nexil.h"

#include <QDebug>

namespace
{
// The library's one owning reference to the core object.
std::shared_ptr<INexil> g_spNexil;
} // namespace

void CreateNexil()
{
    g_spNexil = std::make_shared<Nexil>();
}

std::weak_ptr<INexil> NexilIns()
{
    return g_spNexil;
}

std::weak_ptr<IPrjCore> PrjIns()
{
    if (!g_spNexil)
    {
        return std::weak_ptr<IPrjCore>();
    }
    return g_spNexil->PrjCore();
}

void ReleaseNexil()
{
    qInfo() << "ReleaseNexil...";
    g_spNexil.reset();
}
