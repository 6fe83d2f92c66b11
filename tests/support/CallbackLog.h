#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// What a project's save callback reported, in order.
struct CallbackLog
{
    QStringList ids;
    QList<bool> results;
    QStringList messages;

    // The save callback; userData is the CallbackLog to append to.
    static void Record(const QString& id, bool bSucc, const QString& msg, void* userData);
};
