#pragma once

#include <QMetaType>
#include <QString>

#include <memory>

namespace pro
{

// One project of the catalogue, shared between the library and the program.
struct info
{
    QString id;
    QString name;
    // 1 = Segment, 2 = Object; always set by whoever makes the record.
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
