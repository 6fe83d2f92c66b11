#pragma once

#include "LoadImgWork.h"

#include "Nexil/ImageInfo.h"

#include <QCoreApplication>
#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <memory>

// The GUI thread's side of bringing images into the lists: which project record a scanned file is,
// what each scan brought (for the note after an import), and the folders of the project's imports,
// which are scanned again when it opens, so images waiting for annotation are listed again without
// being copied into the project.
class ImageIntake
{
    Q_DECLARE_TR_FUNCTIONS(ImageIntake)

public:
    // What one scan brought. Counts are of image files: fresh ones were neither in the project nor
    // listed; known ones were; annotated ones joined the annotated tree by this scan.
    struct Tally
    {
        bool report = false;
        int fresh = 0;
        int known = 0;
        int annotated = 0;
        // Status code to fresh images, and to the rows added to the not-annotated list.
        QMap<int, int> freshByStatus;
        QMap<int, int> listedByStatus;
    };

    // Records of the open project by the file they came from; run again after the project changed
    // outside this intake.
    void indexProject();
    // A record that joined the project.
    void remember(const std::shared_ptr<pro::ImageInfo>& spImg);
    // The open project's images for the loader.
    static KnownImages knownImages();
    // Replaces the records of files the project holds by the project's records; returns how many.
    int useProjectRecords(QList<std::shared_ptr<pro::ImageInfo>>& images) const;

    // Scans end in the order they were asked for; batches count for the oldest one still running.
    void scanRequested(bool report);
    Tally* runningScan();
    Tally scanFinished();

    // "新增 40 张：NG 30，OK 10；已标注 30", statuses by count.
    static QString summary(const Tally& tally);
    // The status most rows were listed in, or -1 when none.
    static int busiestStatus(const Tally& tally);

    // The folders remembered in the open project, and adding one (nothing when it is there).
    static QStringList importedFolders();
    static void rememberFolder(const QString& folder);
    static void forgetFolders();

private:
    QHash<QString, std::weak_ptr<pro::ImageInfo>> m_bySource;
    QList<Tally> m_scans;
};
