#include "CommandLine.h"

#include <QCommandLineParser>

namespace
{

constexpr char kSelfCheckOption[] = "self-check";

} // namespace

CommandLine::CommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")});
    const QCommandLineOption selfCheck(QString::fromLatin1(kSelfCheckOption));
    parser.addOptions({help, version, selfCheck});
    // Unknown options are Qt's own or a desktop's; the application reads those it knows.
    parser.parse(arguments);
    if (parser.isSet(help))
        m_output = HelpText();
    else if (parser.isSet(version))
        m_output = QStringLiteral("Lumora %1\n").arg(QLatin1String(LUMORA_VERSION));
    m_leavesNow = !m_output.isEmpty();
    m_selfCheck = parser.isSet(selfCheck);
}

QString CommandLine::HelpText()
{
    return QStringLiteral(
               "Usage: Lumora [options]\n"
               "Lumora %1: annotates images, trains inspection models on the training service "
               "and tests them.\n"
               "\n"
               "Options:\n"
               "  -h, --help     Shows this help and exits.\n"
               "  -v, --version  Shows the version and exits.\n"
               "  --self-check   Starts without windows: opens the workspace and its catalogue, makes\n"
               "                 sure the training service answers (starting it when nothing does),\n"
               "                 prints the folders and the service's state, stops a service it\n"
               "                 started and exits; exit code 0 when all is well.\n"
               "\n"
               "Qt's own options, such as -platform offscreen, are accepted too.\n")
        .arg(QLatin1String(LUMORA_VERSION));
}
