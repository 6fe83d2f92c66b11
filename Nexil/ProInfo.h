#pragma once

#include <QMetaType>
#include <QString>

#include <memory>

namespace pro
{

// The two kinds of project, by the number the catalogue stores.
enum ProjectType : int
{
    kSegmentProject = 1,
    kObjectProject = 2,
};

// One project of the catalogue, shared between the library and the program.
struct info
{
    QString id;
    QString name;
    // A ProjectType; always set by whoever makes the record.
    int type = 0;
    // The user's notes: column "tips", JSON key "notes".
    QString tips;
    QString createTime;
    QString lastUsedTime;
    // Shown by the project manager only; never stored.
    QString status;
};

} // namespace pro

Q_DECLARE_METATYPE(std::shared_ptr<pro::info>)
