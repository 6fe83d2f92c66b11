#include "Startup.h"

#include "ComLib/SingleInstance.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);

    // A second copy brings the first one to the front and leaves before it starts any log.
    comlib::SingleInstance instance(QString::fromLatin1(Startup::kInstanceName));
    if (!instance.TryAcquire())
    {
        instance.NotifyRunning();
        return 0;
    }
    QObject::connect(&instance, &comlib::SingleInstance::Signal_Activate, &app, &Startup::ActivateMainWindow);

    const int result = Startup().Run();
    instance.Release();
    return result;
}
