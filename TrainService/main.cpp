#include "ComLib/ComFunc.h"
#include "ComLib/Log/Log.h"
#include "ComLib/Service/ServiceProtocol.h"
#include "TrainService/PrintableText.h"
#include "TrainService/ServiceHttp.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <malloc.h>
#include <pthread.h>
#include <spdlog/spdlog.h>
#include <thread>
#include <unistd.h>

namespace
{

constexpr char kLoggerName[] = "TrainService";
// Paths in a message may come from a hostile file; one message stays one bounded line.
constexpr int kMaxLogChars = 4000;

void LogMessage(QtMsgType type, const QMessageLogContext&, const QString& msg)
{
    const std::shared_ptr<spdlog::logger> logger = spdlog::get(kLoggerName);
    // Passed as an argument, never as the format: replies are JSON full of braces.
    const std::string text = trainsvc::Printable(msg, kMaxLogChars).toStdString();
    if (!logger)
    {
        std::fprintf(stderr, "%s\n", text.c_str());
        return;
    }
    switch (type)
    {
    case QtDebugMsg:
        logger->debug("{}", text);
        break;
    case QtInfoMsg:
        logger->info("{}", text);
        break;
    case QtWarningMsg:
        logger->warn("{}", text);
        break;
    default:
        logger->error("{}", text);
        break;
    }
}

// OpenMP reads its wait policy once, when the library loads: a spinning pool would take the other
// core from the program while the service trains, so the service restarts itself with it set.
void EnsurePassiveOpenMp(char** argv)
{
    if (std::getenv("OMP_WAIT_POLICY") != nullptr)
        return;
    setenv("OMP_WAIT_POLICY", "PASSIVE", 1);
    execv("/proc/self/exe", argv);
}

} // namespace

int main(int argc, char** argv)
{
    EnsurePassiveOpenMp(argv);
    // Every training step allocates big tensors; with glibc's defaults each one is a fresh mmap that
    // faults its pages in again (measured up to 12 times slower).
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, 512 * 1024 * 1024);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("TrainService"));
    QCoreApplication::setApplicationVersion(QStringLiteral(LUMORA_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Training service: trains and tests models for Lumora."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("TCP port on 127.0.0.1."),
                                        QStringLiteral("N"), QString::number(comlib::protocol::kServicePort));
    const QCommandLineOption logOption(QStringLiteral("log-dir"), QStringLiteral("Folder of the log files."),
                                       QStringLiteral("DIR"),
                                       QString::fromStdString(comlib::RootDir()) + QStringLiteral("/Log"));
    parser.addOption(portOption);
    parser.addOption(logOption);
    parser.process(app);
    bool portOk = false;
    const int port = parser.value(portOption).toInt(&portOk);
    if (!portOk || port <= 0 || port > 65535)
    {
        std::fprintf(stderr, "TrainService: invalid port %s\n", qPrintable(parser.value(portOption)));
        return 2;
    }
    QDir().mkpath(parser.value(logOption));
    comlib::Log::CreateLoggerIn(parser.value(logOption).toStdString(), kLoggerName, 1, true);
    qInstallMessageHandler(LogMessage);

    // SIGINT and SIGTERM end the server from a thread of their own, not from a signal handler.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    ServiceHttp http;
    std::string error;
    if (!http.Bind("127.0.0.1", port, error))
    {
        std::fprintf(stderr, "TrainService: %s\n", error.c_str());
        qCritical().noquote() << QString::fromStdString(error);
        return 1;
    }
    qInfo() << "TrainService listening on 127.0.0.1:" << port;
    std::thread waiter(
        [&http, stopSignals]
        {
            int signal = 0;
            sigwait(&stopSignals, &signal);
            qInfo() << "TrainService stopping on signal" << signal;
            http.Stop();
        });
    http.Run();
    // Run also ends without a signal when the server fails; wake the waiter so that it can be joined.
    pthread_kill(waiter.native_handle(), SIGTERM);
    waiter.join();
    return 0;
}
