#include "Nexil/Nexil.h"

#include "Nexil/NexilConst.h"
#include "Nexil/PrjMng.h"
#include "Nexil/ProMngWork.h"

#include "ComLib/AtomicFile.h"
#include "ComLib/ProjectName.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

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

Nexil::~Nexil() = default;

bool Nexil::Init(const QString& path)
{
    m_lastError.clear();
    if (m_pWork)
    {
        m_lastError = QString("the catalogue of %1 is open already").arg(m_path);
        qWarning().noquote() << "Init: the catalogue of" << m_path << "is open already.";
        return false;
    }
    if (path.isEmpty())
    {
        m_lastError = "no workspace path";
        qWarning() << "Init: no workspace path.";
        return false;
    }
    // The catalogue stays closed when its file cannot be read or written: nothing is written over a file
    // that could not be read, and no change is accepted that could not be stored.
    auto upWork = std::make_unique<ProMngWork>();
    QMap<QString, QString> mapConfig;
    QMap<QString, std::shared_ptr<pro::info>> mapPro;
    if (!upWork->Open(path) || !upWork->LoadConfig(mapConfig) || !upWork->LoadProjects(mapPro))
    {
        m_lastError = upWork->Error();
        return false;
    }
    m_path = path;
    m_mapConfig = mapConfig;
    m_mapPro = mapPro;
    WriteProjectJson();

    m_pWork = m_thread.Adopt(upWork.release());
    connect(this, &Nexil::Signal_AddPro, m_pWork, &ProMngWork::Slot_AddPro);
    connect(this, &Nexil::Signal_ModPro, m_pWork, &ProMngWork::Slot_ModPro);
    connect(this, &Nexil::Signal_DelPro, m_pWork, &ProMngWork::Slot_DelPro);
    m_thread.Start();
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
    m_lastError.clear();
    if (!spPInfo || !m_pWork)
    {
        m_lastError = spPInfo ? "the catalogue is not open" : "no record";
        qWarning().noquote() << "AddPro:" << m_lastError;
        return false;
    }
    if (m_mapPro.contains(spPInfo->id))
    {
        m_lastError = QString("the id %1 is taken").arg(spPInfo->id);
        return false;
    }
    // The name becomes the project's folder under the workspace.
    if (!comlib::IsSafeProjectName(spPInfo->name))
    {
        m_lastError = QString("the name \"%1\" cannot be a folder name").arg(spPInfo->name);
        qWarning().noquote() << "AddPro:" << m_lastError;
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
    m_lastError.clear();
    // The previous project goes first: its worker must have let go of the project database
    // connection before the next worker opens one under the same name.
    m_spPrj.reset();
    const auto it = m_mapPro.constFind(id);
    if (it == m_mapPro.constEnd())
    {
        m_lastError = QString("no project has the id %1").arg(id);
        return;
    }
    // Names come from AIPrj.db, which anything may have written: "../x" would lead out of the workspace.
    if (!comlib::IsSafeProjectName(it.value()->name))
    {
        m_lastError = QString("the name \"%1\" cannot be a folder name").arg(it.value()->name);
        qWarning().noquote() << "OpenPro:" << m_lastError << "- the project is not opened.";
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

QString Nexil::LastError() const
{
    return m_lastError;
}

QString Nexil::WorkspacePath() const
{
    return m_path;
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
    QString error;
    if (!comlib::WriteFileAtomically(m_path + nexil::kProjectJsonFile,
                                     QJsonDocument(root).toJson(QJsonDocument::Compact), error))
    {
        qWarning().noquote() << "Write failed:" << error;
    }
}
