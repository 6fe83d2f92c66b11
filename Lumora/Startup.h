#pragma once

#include <QCoreApplication>
#include <QString>

#include <functional>
#include <memory>

class QTextStream;

namespace comlib
{
class ServiceStarter;
}

// Start-up and the outer loop of the program, after the single-instance check: logging, skin, installation
// record, the core object with its workspace, Startup.json, then the project manager and the main window
// taking turns. The folders and the windows can be replaced, so that all but logging and skin run in tests.
class Startup
{
    Q_DECLARE_TR_FUNCTIONS(Startup)

public:
    // Name of the single-instance lock and socket.
    static constexpr char kInstanceName[] = "qarno.velta.Mutex";
    static constexpr char kStartupFile[] = "/Startup.json";

    // Runs one window turn and gives its result.
    using WindowRunner = std::function<int()>;

    // The program's own folders.
    Startup();
    // rootDir holds Config.ini and Startup.json; appDir is the program's folder.
    Startup(const QString& rootDir, const QString& appDir);
    ~Startup();

    void SetProjectManagerRunner(WindowRunner runner);
    void SetMainWindowRunner(WindowRunner runner);

    // Prepare(), then Start(); the process exit code.
    int Run();
    // Starts logging in the program's root folder, the Qt message handler and the skin.
    void Prepare();
    // The single-instance lock could not be taken, though no running copy holds it: logs and shows the
    // reason; the process exit code.
    static int ReportLockFailure(const QString& lockFile, const QString& reason);
    // Everything after logging and skin: 1 when the workspace cannot be created (the user is told), -1
    // without a core object, otherwise the result of the last window turn.
    int Start();
    // After Prepare, without windows: the workspace, its catalogue and the training service, started when
    // nothing answers and stopped again; what it found goes to out. The exit code: 0 when all is usable.
    int SelfCheck(QTextStream& out);
    // Applies Startup.json of the root folder; true when it opened a project, so the main window comes
    // first and the project manager never shows.
    bool ApplyStartupJson();
    // The turns of project manager and main window; its result is the exit code.
    int RunLoop(bool directMode);

    // Restores and raises the window whose turn it is, project manager or main window, as a second copy
    // asks. The copies meet on the local socket, so the windows keep their own titles.
    static void ActivateMainWindow();
    // One turn of a fresh project manager: its dialog result.
    static int RunProjectManager();
    // One turn of a fresh, maximised main window: the result of the application's event loop. The
    // training page shows the state of the service that service looks after, when there is one.
    static int RunMainWindow(comlib::ServiceStarter* service);

private:
    // The workspace of Config.ini, created when missing; false, after telling the user, when it cannot be.
    bool OpenWorkspace(QString& workspace) const;
    // Makes sure the training service installed beside the program answers, starting it when nothing does.
    void StartService();
    void WriteInstallRecord(const QString& workspace) const;
    // Tells the user when Config.ini is there but cannot be read, so that its settings are not in force.
    void WarnIfConfigUnreadable() const;
    // Init could not open the workspace's catalogue: logs and shows the file and the reason.
    void ReportCatalogueFailure(const QString& workspace, const QString& reason) const;
    // Writes [Config] key; a value with a line break would break the file and is left out.
    void WriteConfig(const char* key, const QString& value) const;
    QString ConfigFile() const;

    QString m_rootDir;
    QString m_appDir;
    WindowRunner m_runProjectManager = &Startup::RunProjectManager;
    WindowRunner m_runMainWindow;
    // Started with the workspace and ended with the windows, so that a service it started stops too.
    std::unique_ptr<comlib::ServiceStarter> m_service;
};
