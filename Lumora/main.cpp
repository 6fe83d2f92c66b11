#include "CommandLine.h"
#include "Startup.h"

#include "ComLib/SingleInstance.h"

#include <QApplication>
#include <QTextStream>

#include <cstdio>

int main(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLine commandLine(arguments);
    if (commandLine.LeavesNow())
    {
        std::fputs(commandLine.Output().toLocal8Bit().constData(), stdout);
        return commandLine.ExitCode();
    }

    QApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(LUMORA_VERSION));

    comlib::SingleInstance instance(QString::fromLatin1(Startup::kInstanceName));
    switch (instance.TryAcquire())
    {
    case comlib::SingleInstance::Lock::HeldByRunningCopy:
        if (commandLine.SelfCheck())
        {
            std::fputs("Another copy of the program is running.\n", stderr);
            return 1;
        }
        // A second copy brings the first one to the front and leaves before it starts any log.
        instance.NotifyRunning();
        return 0;
    case comlib::SingleInstance::Lock::Failed:
    {
        // Two copies on one workspace would overwrite each other's work, so none starts unchecked.
        Startup startup;
        startup.Prepare();
        return Startup::ReportLockFailure(instance.LockPath(), instance.ErrorString());
    }
    case comlib::SingleInstance::Lock::Acquired:
        break;
    }
    QObject::connect(&instance, &comlib::SingleInstance::Signal_Activate, &app, &Startup::ActivateMainWindow);

    int result = 0;
    if (commandLine.SelfCheck())
    {
        QTextStream out(stdout);
        Startup startup;
        startup.Prepare();
        result = startup.SelfCheck(out);
    }
    else
    {
        result = Startup().Run();
    }
    instance.Release();
    return result;
}
