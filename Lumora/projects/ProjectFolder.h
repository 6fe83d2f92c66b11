#pragma once

#include <QCoreApplication>
#include <QString>

// The folder of a project as the program is about to work in it. The core library creates the folder and
// opens its database in its own thread and only logs a failure, so the windows check the folder themselves
// before they show the project.
class ProjectFolder
{
    Q_DECLARE_TR_FUNCTIONS(ProjectFolder)

public:
    // Creates the folder when it is missing. Empty when the project can be opened there; otherwise why
    // not, in words for the user: the folder cannot be made or is a file, or its database is not a
    // project database the program may read and write.
    static QString OpenProblem(const QString& folder);
};
