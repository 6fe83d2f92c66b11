#pragma once

#include <QString>

class IPrjCore;

namespace pro
{
struct info;
}

// config.json of a new training run: checked against the open project and written into a run directory
// of its own. The page turns the status into the user's message.
class TrainConfig
{
public:
    enum class Status
    {
        Ok,
        NoMarkedImage,
        NoClass,
        // No ROI carries a category's name: the run would have nothing to learn.
        NoTrainableRoi,
        // detail: the image path
        ImageUnreadable,
        // detail: empty; the type is the project's
        UnsupportedType,
        // detail: the configuration path
        WriteFailed,
    };
    struct Result
    {
        Status status = Status::Ok;
        QString detail;
        // Set when status is Ok.
        QString configPath;
    };

    // Later seconds tried for a run directory whose name is taken.
    static constexpr int kVersionTries = 60;

    static Result Write(const IPrjCore& prj, const pro::info& info, int epochs, int fineness);

private:
    // Makes trainRoot/"V"+start time, taking the next free second when the name is taken, so two starts
    // within one second never share a directory. version is the name tried last.
    static bool ClaimVersionDir(const QString& trainRoot, QString& version);
};
