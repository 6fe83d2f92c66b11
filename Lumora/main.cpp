#include "ComLib/ComFunc.h"
#include "ComLib/Log/Log.h"

#include <QApplication>
#include <QWidget>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    comlib::Log::InitDefaultLog();
    comlib::Log::CreateLogger("Operater", true);
    qInstallMessageHandler(comlib::Log::customLogMessageHandler);
    QWidget window;
    window.setWindowTitle(QStringLiteral("VELTAMainWindow"));
    window.show();
    return app.exec();
}
