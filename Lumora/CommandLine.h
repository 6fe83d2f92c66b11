#pragma once

#include <QString>
#include <QStringList>

// The program's command line. It is read before the application object exists, so that --version and
// --help need no display; options of Qt itself (-platform, -style, ...) are left to the application.
class CommandLine
{
public:
    explicit CommandLine(const QStringList& arguments);

    // True when the program leaves at once, with ExitCode(), after printing Output().
    bool LeavesNow() const { return m_leavesNow; }
    int ExitCode() const { return m_exitCode; }
    const QString& Output() const { return m_output; }
    // Start without windows, check the workspace and the training service, report and leave.
    bool SelfCheck() const { return m_selfCheck; }

    static QString HelpText();

private:
    bool m_leavesNow = false;
    int m_exitCode = 0;
    bool m_selfCheck = false;
    QString m_output;
};
