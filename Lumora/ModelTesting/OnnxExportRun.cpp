#include "OnnxExportRun.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

namespace
{

// The inspector's error lines begin with this; the rest is the reason.
constexpr char kErrorPrefix[] = "LumoraInspect: error: ";

} // namespace

OnnxExportRun::OnnxExportRun(QObject* parent, QString program)
    : QObject(parent), m_program(std::move(program))
{
}

QString OnnxExportRun::DefaultProgram()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/LumoraInspect");
}

bool OnnxExportRun::Start(const QString& modelDir, const QString& target)
{
    if (IsRunning() || !QFileInfo(m_program).isExecutable())
        return false;
    m_modelDir = modelDir;
    m_target = target;
    m_process = new QProcess(this);
    connect(m_process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this,
            [this](int exitCode, QProcess::ExitStatus status)
            { Finish(exitCode, status != QProcess::NormalExit); });
    connect(m_process, &QProcess::errorOccurred, this,
            [this](QProcess::ProcessError error)
            {
                if (error == QProcess::FailedToStart)
                    Finish(-1, true);
            });
    m_process->start(m_program, {modelDir, QStringLiteral("--export"), target});
    return true;
}

bool OnnxExportRun::IsRunning() const
{
    return m_process != nullptr;
}

void OnnxExportRun::Finish(int exitCode, bool crashed)
{
    if (!m_process)
        return;
    QProcess* process = m_process;
    m_process = nullptr;
    process->deleteLater();
    if (!crashed && exitCode == 0)
    {
        emit Signal_Finished(true, m_target);
        return;
    }
    QString reason;
    for (const QString& line : QString::fromUtf8(process->readAllStandardError()).split(QLatin1Char('\n')))
    {
        if (line.startsWith(QLatin1String(kErrorPrefix)))
            reason = line.mid(int(qstrlen(kErrorPrefix))).trimmed();
    }
    if (reason.isEmpty())
        reason = crashed ? QStringLiteral("the inspector did not finish")
                         : QStringLiteral("exit status %1").arg(exitCode);
    // A message window shows a line's start only: the version and the file's name stand for the
    // long paths the user already knows, so the reason itself stays in view.
    const QFileInfo model(m_modelDir);
    reason.replace(QDir::toNativeSeparators(m_modelDir),
                   model.dir().dirName() + QLatin1Char('/') + model.fileName());
    reason.replace(QDir::toNativeSeparators(m_target), QFileInfo(m_target).fileName());
    emit Signal_Finished(false, reason);
}
