#include "Skin.h"

#include "PlaceholderTint.h"

#include <QApplication>
#include <QDebug>
#include <QFile>

#include <mutex>

// Q_INIT_RESOURCE expands to a declaration that must stay outside any namespace.
static void InitLumoraQrc()
{
    Q_INIT_RESOURCE(Lumora);
}

void InitComUiResources()
{
    static std::once_flag once;
    std::call_once(once, InitLumoraQrc);
}

void LoadQSS(const QStringList& paths)
{
    InitComUiResources();
    QString sheet;
    for (const QString& path : paths)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        {
            qCritical() << "Cannot open style sheet" << path;
            continue;
        }
        sheet += QString::fromUtf8(file.readAll());
        sheet += QLatin1Char('\n');
    }
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!sheet.isEmpty() && app)
    {
        PlaceholderTint::InstallOnApplication();
        app->setStyleSheet(sheet);
    }
}
