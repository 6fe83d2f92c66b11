#pragma once

#include "ComLib/Service/ServiceProtocol.h"

#include <QCoreApplication>
#include <QString>

// The readable account of a training run, one line per event (the start, a status reached, an epoch
// ended, the end), made from the status replies that arrive once a second. Replies that bring no news
// (the same status, an epoch still under way) give no line.
class TrainEvents
{
    Q_DECLARE_TR_FUNCTIONS(TrainEvents)

public:
    // The user's word for a status of the service; the status itself when it is none of ours.
    static QString StatusText(const QString& status);

    // Forgets the run before.
    QString Started(const QString& version, int epochs, int fineness);
    // The line of a reply; empty when it brings no news.
    QString Reply(const comlib::protocol::StatusReply& reply);
    QString Stopped();
    QString NetworkError(const QString& text);

private:
    QString m_status;
    int m_epoch = 0;
};
