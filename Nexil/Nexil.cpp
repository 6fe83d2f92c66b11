#include "Nexil/Nexil.h"

#include "Nexil/NexilConst.h"
#include "Nexil/PrjMng.h"
#include "Nexil/ProMngWork.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace
{

QString TypeText(int type)
{
    switch (type)
    {
    case 1:
        return "Segment";
    case 2:
        return "Object";
    default:
        return QString();
    }
}

// The records cross to the catalogue thread as copies: the caller keeps changing its own record in place.
std::shared_ptr<pro::info> Snapshot(const std::shared_ptr<pro::info>& spPInfo)
{
    return std::make_shared<pro::info>(*spPInfo);
}

} // namespace

Nexil::Nexil()
{
    qRegisterMetaType<std::shared_ptr<pro::info>>("std::shared_ptr<pro::info>");
}

Nexil::~Nexil()
{
    // The exit is queued behind the changes already handed to the worker, so they all reach the database.
    if (m_thread.isRunning())
    {
        QMetaObject::invokeMethod(
            m_pWork, [this] { m_thread.exit(0); }, Qt::QueuedConnection);
    }
    m_thread.wait();
}

bool Nexil::Init(const QString& path)
{
    if (m_pWork)
    {
        qWarning().noquote() << "Init: the catalogue of" << m_path << "is open already.";
        return false;
    }
    if (path.isEmpty())
    {
        qWarning() << "Init: no workspace path.";
        return false;
    }
    auto upWork = std::make_unique<ProMngWork>();
    if (!upWork->Open(path))
    {
        return false;
    }
    QMap<QString, QString> mapConfig;
    if (!upWork->LoadConfig(mapConfig))
    {
        return false;
    }
    QMap<QString, std::shared_ptr<pro::info>> mapPro;
    if (!upWork->LoadProjects(mapPro))
    {
        return false;
    }
    m_path = path;
    m_mapConfig = mapConfig;
    m_mapPro = mapPro;
    WriteProjectJson();

    m_pWork = upWork.release();
    m_pWork->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_pWork, &QObject::deleteLater);
    connect(this, &Nexil::Signal_AddPro, m_pWork, &ProMngWork::Slot_AddPro);
    connect(this, &Nexil::Signal_ModPro, m_pWork, &ProMngWork::Slot_ModPro);
    connect(this, &Nexil::Signal_DelPro, m_pWork, &ProMngWork::Slot_DelPro);
    m_thread.start(QThread::InheritPriority);
    return true;
}

QString Nexil::TypeName(int type) const
{
    switch (type)
    {
    case 1:
        return QString::fromUtf8("分割");
    case 2:
        return QString::fromUtf8("目标");
    default:
        return QString();
    }
}

bool Nexil::AddPro(std::shared_ptr<pro::info> spPInfo)
{
    if (!spPInfo || !m_pWork)
    {
        qWarning() << "AddPro: no record or no open catalogue.";
        return false;
    }
    if (m_mapPro.contains(spPInfo->id))
    {
        return false;
    }
    m_mapPro.insert(spPInfo->id, spPInfo);
    WriteProjectJson();
    emit Signal_AddPro(Snapshot(spPInfo));
    return true;
}

bool Nexil::ModPro(const QString& id)
{
    const auto it = m_mapPro.constFind(id);
    if (it == m_mapPro.constEnd())
    {
        return false;
    }
    WriteProjectJson();
    emit Signal_ModPro(Snapshot(it.value()));
    return true;
}

void Nexil::DelPro(const QString& id)
{
    if (m_mapPro.remove(id) > 0)
    {
        WriteProjectJson();
    }
    emit Signal_DelPro(id);
}

void Nexil::OpenPro(const QString& id)
{
    m_lastOpenId = id;
    // The previous project goes first: its worker must have let go of the project database
    // connection before the next worker opens one under the same name.
    m_spPrj.reset();
    const auto it = m_mapPro.constFind(id);
    if (it == m_mapPro.constEnd())
    {
        return;
    }
    m_spPrj = std::make_shared<PrjMng>(m_path, it.value());
}

QString Nexil::ProIdByName(const QString& name) const
{
    for (const auto& spPInfo : m_mapPro)
    {
        if (spPInfo->name == name)
        {
            return spPInfo->id;
        }
    }
    return QString();
}

std::weak_ptr<IPrjCore> Nexil::PrjCore() const
{
    return m_spPrj;
}

QList<std::shared_ptr<pro::info>> Nexil::ProList() const
{
    return m_mapPro.values();
}

void Nexil::WriteProjectJson() const
{
    QJsonArray projects;
    for (const auto& spPInfo : m_mapPro)
    {
        QJsonObject project;
        project.insert("name", spPInfo->name);
        project.insert("notes", spPInfo->tips);
        project.insert("type", TypeText(spPInfo->type));
        projects.append(project);
    }
    QJsonObject root;
    root.insert("projects", projects);

    // Written beside the old file and renamed over it, so a crash or a full disk never leaves a
    // truncated export.
    QSaveFile file(m_path + nexil::kProjectJsonFile);
    if (!file.open(QIODevice::WriteOnly))
    {
        qWarning().noquote() << "Write" << file.fileName() << "failed:" << file.errorString();
        return;
    }
    file.write(QJsonDocument(root).toJson(QJsonDocument::Compact));
    if (!file.commit())
    {
        qWarning().noquote() << "Write" << file.fileName() << "failed:" << file.errorString();
    }
}
