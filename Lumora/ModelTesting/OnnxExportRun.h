#pragma once

#include <QObject>
#include <QString>

class QProcess;

// Exports a trained version as an ONNX model by running the command-line inspector that is installed
// beside the program; it checks the model and its agreement with the service's runtime before it
// writes the file, so the program needs no network runtime of its own.
class OnnxExportRun : public QObject
{
    Q_OBJECT

public:
    explicit OnnxExportRun(QObject* parent = nullptr, QString program = DefaultProgram());

    // LumoraInspect in the program's own folder.
    static QString DefaultProgram();

    // Starts writing the version in modelDir to target; false when an export runs already or the
    // inspector cannot be found.
    bool Start(const QString& modelDir, const QString& target);
    bool IsRunning() const;

signals:
    // message: where the file went, or why nothing was written (the inspector's English reason).
    void Signal_Finished(bool ok, QString message);

private:
    void Finish(int exitCode, bool crashed);

    QString m_program;
    QString m_modelDir;
    QString m_target;
    QProcess* m_process = nullptr;
};
