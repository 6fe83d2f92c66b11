#include "Startup.h"

#include "Lumora.h"
#include "projects/ProMngWid.h"
#include "projects/ProjectFolder.h"

#include "ComLib/ComFunc.h"
#include "ComLib/IniFile.h"
#include "ComLib/Log/Log.h"
#include "ComLib/Platform.h"
#include "ComLib/ProjectName.h"
#include "ComLib/Service/ServiceStarter.h"
#include "ComUi/CMsgWnd.h"
#include "ComUi/Skin.h"
#include "Nexil/NexilApi.h"
#include "Nexil/NexilConst.h"

#include <QApplication>
#include <QDebug>
#include <QEventLoop>
#include <QFile>
#include <QIcon>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>
#include <QWidget>

#include <filesystem>
#include <map>

namespace
{

constexpr char kConfigSection[] = "Config";
constexpr char kMaker[] = "QARNO";
constexpr char kProduct[] = "VELTA";
// The record names the program file by this fixed name, whatever the running file is called.
constexpr char kProgramFile[] = "/Lumora.exe";
#ifdef Q_OS_WIN
constexpr char kServiceProgram[] = "/TrainService.exe";
#else
constexpr char kServiceProgram[] = "/TrainService";
#endif

int ProjectType(const QString& typeText)
{
    return typeText == QLatin1String("Object") ? 2 : 1;
}

} // namespace

Startup::Startup()
    : Startup(QString::fromStdString(comlib::RootDir()), QString::fromStdString(comlib::AppDir()))
{
}

Startup::Startup(const QString& rootDir, const QString& appDir)
    : m_rootDir(rootDir), m_appDir(appDir), m_runMainWindow([this] { return RunMainWindow(m_service.get()); })
{
}

Startup::~Startup() = default;

void Startup::SetProjectManagerRunner(WindowRunner runner)
{
    m_runProjectManager = std::move(runner);
}

void Startup::SetMainWindowRunner(WindowRunner runner)
{
    m_runMainWindow = std::move(runner);
}

QString Startup::ConfigFile() const
{
    return m_rootDir + nexil::kConfigFile;
}

int Startup::Run()
{
    Prepare();
    return Start();
}

void Startup::Prepare()
{
    comlib::Log::InitDefaultLog();
    comlib::Log::CreateLogger("Operater", true);
    qInstallMessageHandler(comlib::Log::customLogMessageHandler);
    InitComUiResources();
    QIcon icon;
    for (const int size : {16, 32, 48, 256})
        icon.addFile(QStringLiteral(":/app/lumora_%1.png").arg(size));
    QApplication::setWindowIcon(icon);
    LoadQSS({QStringLiteral(":/qss/common.css"), QStringLiteral(":/qss/titleBar.css")});
}

int Startup::Start()
{
    WarnIfConfigUnreadable();
    QString workspace;
    if (!OpenWorkspace(workspace))
        return 1;
    WriteInstallRecord(workspace);
    StartService();

    CreateNexil();
    {
        const auto spCore = NexilIns().lock();
        if (!spCore)
        {
            qCritical("system error, NexilIns return nullptr.");
            return -1;
        }
        if (!spCore->Init(workspace))
            ReportCatalogueFailure(workspace, spCore->LastError());
    }
    const int result = RunLoop(ApplyStartupJson());
    ReleaseNexil();
    m_service.reset();
    return result;
}

void Startup::StartService()
{
    m_service = std::make_unique<comlib::ServiceStarter>(m_appDir + kServiceProgram,
                                                         m_rootDir + QStringLiteral("/Log"));
    m_service->Ensure();
}

int Startup::SelfCheck(QTextStream& out)
{
    out << "Root folder: " << m_rootDir << "\n";
    QString workspace;
    try
    {
        workspace = QString::fromStdString(comlib::WorkspaceDirFrom(
            ConfigFile().toStdString(),
            comlib::platform::DefaultWorkspaceParent(m_appDir.toStdString()) + nexil::kWorkspaceStem));
    }
    catch (const std::filesystem::filesystem_error& e)
    {
        out << "Workspace: cannot be created: " << e.what() << "\n";
        return 1;
    }
    out << "Workspace: " << workspace << "\n";
    bool ok = true;
    CreateNexil();
    if (const auto spCore = NexilIns().lock(); !spCore || !spCore->Init(workspace))
    {
        out << "Catalogue: cannot be used: " << (spCore ? spCore->LastError() : QString()) << "\n";
        ok = false;
    }
    ReleaseNexil();

    StartService();
    QEventLoop loop;
    QObject::connect(m_service.get(), &comlib::ServiceStarter::Signal_StateChanged, &loop,
                     [&loop](comlib::ServiceStarter::State state)
                     {
                         if (state == comlib::ServiceStarter::State::Running ||
                             state == comlib::ServiceStarter::State::NotAvailable)
                             loop.quit();
                     });
    if (m_service->CurrentState() != comlib::ServiceStarter::State::Running &&
        m_service->CurrentState() != comlib::ServiceStarter::State::NotAvailable)
        loop.exec();
    const bool running = m_service->CurrentState() == comlib::ServiceStarter::State::Running;
    out << "Service: " << (running ? QStringLiteral("running") : "not available: " + m_service->Reason())
        << (m_service->StartedService() ? " (started by the program)" : "") << "\n";
    m_service.reset();
    return ok && running ? 0 : 1;
}

bool Startup::OpenWorkspace(QString& workspace) const
{
    const std::string config = ConfigFile().toStdString();
    const std::string fallback =
        comlib::platform::DefaultWorkspaceParent(m_appDir.toStdString()) + nexil::kWorkspaceStem;
    try
    {
        workspace = QString::fromStdString(comlib::WorkspaceDirFrom(config, fallback));
        return true;
    }
    catch (const std::filesystem::filesystem_error& e)
    {
        QString folder = QString::fromStdString(e.path1().u8string());
        if (folder.isEmpty())
            folder = QString::fromStdString(
                comlib::IniFile::ReadString(kConfigSection, "DatasPath", fallback, config));
        qCritical().noquote() << "Cannot create the workspace" << folder << ":" << e.code().message().c_str();
        CMsgWnd::Information(nullptr, tr("错误"),
                             tr("无法创建工作目录：%1\n请检查Config.ini中[Config]的DatasPath。").arg(folder),
                             NOTIFY_ERROR);
        return false;
    }
}

void Startup::WriteInstallRecord(const QString& workspace) const
{
    const std::map<std::string, std::string> values{
        {"Path", m_rootDir.toStdString()},
        {"ProjectPath", workspace.toStdString()},
        {"Startup", m_appDir.toStdString() + kProgramFile},
        {"Version", comlib::Log::ProductVersion()},
    };
    comlib::WriteRegValues(kMaker, kProduct, values);
}

void Startup::WriteConfig(const char* key, const QString& value) const
{
    if (value.contains(QLatin1Char('\n')) || value.contains(QLatin1Char('\r')))
    {
        qWarning().noquote() << "Startup.json: the value for" << key
                             << "has a line break and is not written.";
        return;
    }
    comlib::IniFile::WriteString(kConfigSection, key, value.toStdString(), ConfigFile().toStdString());
}

bool Startup::ApplyStartupJson()
{
    WriteConfig("Project", QString());
    WriteConfig("LoadImgPath", QString());
    WriteConfig("aiType", QString());

    QFile file(m_rootDir + kStartupFile);
    if (!file.exists() || !file.open(QIODevice::ReadOnly))
        return false;
    const QJsonObject json = QJsonDocument::fromJson(file.readAll()).object();

    if (json.contains(QLatin1String("toolDataPath")))
        WriteConfig("LoadImgPath", json.value(QLatin1String("toolDataPath")).toString());
    if (!json.contains(QLatin1String("aiProjectName")) || !json.contains(QLatin1String("aiType")))
        return false;
    const QString name = json.value(QLatin1String("aiProjectName")).toString();
    const QString typeText = json.value(QLatin1String("aiType")).toString();
    // The name becomes a folder under the workspace.
    if (!name.isEmpty() && !comlib::IsSafeProjectName(name))
    {
        qWarning().noquote() << "Startup.json: the project name" << name
                             << "cannot be a folder name; the project manager starts instead.";
        return false;
    }
    WriteConfig("Project", name);
    WriteConfig("aiType", typeText);
    if (name.isEmpty() || typeText.isEmpty())
        return false;

    const auto spCore = NexilIns().lock();
    if (!spCore)
        return false;
    QString id = spCore->ProIdByName(name);
    if (id.isEmpty())
    {
        const QString now = QString::fromStdString(comlib::NowString());
        auto spPInfo = std::make_shared<pro::info>();
        spPInfo->id = QString::fromStdString(comlib::MakeUniqueId());
        spPInfo->name = name;
        spPInfo->type = ProjectType(typeText);
        spPInfo->createTime = now;
        spPInfo->lastUsedTime = now;
        if (!spCore->AddPro(spPInfo))
        {
            qWarning().noquote() << "Startup.json: the project" << name
                                 << "cannot be added to the catalogue; the project manager starts instead.";
            return false;
        }
        id = spPInfo->id;
    }
    spCore->OpenPro(id);
    // The main window needs an open project.
    const auto spPrj = PrjIns().lock();
    const QString problem = spPrj ? ProjectFolder::OpenProblem(spPrj->PrjPath()) : QString();
    if (!spPrj || !problem.isEmpty())
    {
        qWarning().noquote() << "Startup.json: the project" << name
                             << "did not open; the project manager starts instead." << problem;
        return false;
    }
    return true;
}

int Startup::RunLoop(bool directMode)
{
    if (directMode)
        return m_runMainWindow();
    int result = m_runProjectManager();
    while (result == QDialog::Accepted)
    {
        m_runMainWindow();
        result = m_runProjectManager();
    }
    return result;
}

void Startup::ActivateMainWindow()
{
    for (QWidget* window : QApplication::topLevelWidgets())
    {
        if (!window->isVisible() || (!qobject_cast<ProMngWid*>(window) && !qobject_cast<Lumora*>(window)))
            continue;
        window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
        window->raise();
        window->activateWindow();
        return;
    }
}

int Startup::RunProjectManager()
{
    ProMngWid wid;
    return wid.exec();
}

int Startup::RunMainWindow(comlib::ServiceStarter* service)
{
    Lumora wnd;
    if (service)
        wnd.ShowServiceState(service);
    wnd.ShowOnScreen();
    return QApplication::exec();
}

int Startup::ReportLockFailure(const QString& lockFile, const QString& reason)
{
    qCritical().noquote() << "Single instance lock" << lockFile << "failed:" << reason;
    CMsgWnd::Information(
        nullptr, tr("错误"),
        tr("无法确认程序是否已在运行，程序将退出。\n锁文件：%1\n原因：%2").arg(lockFile, reason),
        NOTIFY_ERROR);
    return 1;
}

void Startup::WarnIfConfigUnreadable() const
{
    comlib::IniFile ini;
    if (ini.Load(ConfigFile().toStdString()) || !ini.IsUnreadable())
        return;
    // The reader has logged why; the user learns that the settings, the workspace among them, are not in
    // force.
    CMsgWnd::Information(nullptr, tr("提示"),
                         tr("配置文件无法读取：%1\n原因：%2\n本次启动使用默认设置，该文件不会被改写。")
                             .arg(ConfigFile(), QString::fromStdString(ini.Error())),
                         NOTIFY_WARNING);
}

void Startup::ReportCatalogueFailure(const QString& workspace, const QString& reason) const
{
    const QString file = workspace + nexil::kCatalogueFile;
    qCritical().noquote() << "The catalogue" << file << "cannot be used:" << reason;
    CMsgWnd::Information(
        nullptr, tr("错误"),
        tr("工程列表无法打开：%1\n原因：%2\n工程列表将为空，新建的工程也无法保存。").arg(file, reason),
        NOTIFY_ERROR);
}
