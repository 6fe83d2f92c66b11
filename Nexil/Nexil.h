#pragma once

#include "Nexil/INexil.h"
#include "Nexil/ProInfo.h"

#include "ComLib/WorkerThread.h"

#include <QMap>
#include <QObject>
#include <QString>

#include <memory>

class PrjMng;
class ProMngWork;

// The core object: the catalogue of one workspace in memory, mirrored into AIPrj.db by its worker
// in the catalogue thread, and the one open project.
class Nexil : public QObject, public INexil
{
    Q_OBJECT

public:
    Nexil();
    ~Nexil() override;

    bool Init(const QString& path) override;
    QString TypeName(int type) const override;
    bool AddPro(std::shared_ptr<pro::info> spPInfo) override;
    bool ModPro(const QString& id) override;
    void DelPro(const QString& id) override;
    void OpenPro(const QString& id) override;
    QString ProIdByName(const QString& name) const override;
    std::weak_ptr<IPrjCore> PrjCore() const override;
    QList<std::shared_ptr<pro::info>> ProList() const override;
    QString LastError() const override;
    QString WorkspacePath() const override;

signals:
    void Signal_AddPro(std::shared_ptr<pro::info> spPInfo);
    void Signal_ModPro(std::shared_ptr<pro::info> spPInfo);
    void Signal_DelPro(QString id);

private:
    void WriteProjectJson() const;

    QString m_path;
    QMap<QString, std::shared_ptr<pro::info>> m_mapPro;
    QString m_lastOpenId;
    QMap<QString, QString> m_mapConfig;
    std::shared_ptr<PrjMng> m_spPrj;
    // Lives in m_thread from a successful Init until the thread finishes; not owned.
    ProMngWork* m_pWork = nullptr;
    QString m_lastError;
    // Last, so it ends first. The exit is queued behind the changes already handed to the worker, so they
    // all reach the database.
    comlib::WorkerThread m_thread{QStringLiteral("ProMngWork"),
                                  comlib::WorkerThread::Ending::AfterQueuedCalls};
};
