#include "Startup.h"

#include "ComLib/SingleInstance.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);

    comlib::SingleInstance instance(QString::fromLatin1(Startup::kInstanceName));
    switch (instance.TryAcquire())
    {
    case comlib::SingleInstance::Lock::HeldByRunningCopy:
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

    const int result = Startup().Run();
    instance.Release();
    return result;
}
