#pragma once

#include "Nexil/NexilExport.h"
#include "Nexil/ProInfo.h"

#include <QList>
#include <QString>

#include <memory>

class IPrjCore;

// The project catalogue of a workspace. The program calls these operations by slot, so their order
// is fixed; add new ones only at the end.
class NEXIL_EXPORT INexil
{
public:
    virtual ~INexil() = default;

    // Opens the catalogue of the workspace (AIPrj.db) and loads it; false when that fails.
    virtual bool Init(const QString& path) = 0;
    // 1 → "分割", 2 → "目标", anything else → empty.
    virtual QString TypeName(int type) const = 0;
    // False when the id is already in the catalogue.
    virtual bool AddPro(std::shared_ptr<pro::info> spPInfo) = 0;
    // Stores the record of the id after the caller changed it in place; false for an unknown id.
    virtual bool ModPro(const QString& id) = 0;
    // Removes the project from the catalogue; its directory is left alone.
    virtual void DelPro(const QString& id) = 0;
    // Opens the project and releases the previous one; an unknown id leaves no project open.
    virtual void OpenPro(const QString& id) = 0;
    // Id of the first project (in id order) with exactly this name, or empty.
    virtual QString ProIdByName(const QString& name) const = 0;
    // The open project, or empty.
    virtual std::weak_ptr<IPrjCore> PrjCore() const = 0;
    // All projects in ascending id order.
    virtual QList<std::shared_ptr<pro::info>> ProList() const = 0;
    // Why the last Init, AddPro or OpenPro failed (for Init: why the catalogue file cannot be used);
    // empty after it succeeded.
    virtual QString LastError() const = 0;
    // The workspace of the successful Init; empty before.
    virtual QString WorkspacePath() const = 0;
};
