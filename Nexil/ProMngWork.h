#pragma once

#include "Nexil/ProInfo.h"

#include <QMap>
#include <QObject>
#include <QSqlDatabase>
#include <QString>

#include <memory>

// Keeps the catalogue database AIPrj.db of a workspace. Opened and loaded in the caller's thread
// during Init, then moved to the core object's thread, where it only follows the catalogue's changes.
class ProMngWork : public QObject
{
    Q_OBJECT

public:
    ProMngWork() = default;
    ~ProMngWork() override;

    bool Open(const QString& path);
    bool LoadConfig(QMap<QString, QString>& mapConfig);
    bool LoadProjects(QMap<QString, std::shared_ptr<pro::info>>& mapPro);
    // Why the last of the three above failed.
    QString Error() const { return m_error; }

public slots:
    void Slot_AddPro(std::shared_ptr<pro::info> spPInfo);
    void Slot_ModPro(std::shared_ptr<pro::info> spPInfo);
    void Slot_DelPro(QString id);

private:
    QString m_path;
    QSqlDatabase m_db;
    QString m_error;
};
