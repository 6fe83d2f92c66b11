#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

// Keeps the project database PrjData.db and the files of a project, in the project's own thread.
// Writes that arrive together share one transaction; their results are reported once it is committed.
class PrjDataWork : public QObject
{
    Q_OBJECT

public:
    // What stands at a row's image file, found by the worker when it reads the row, so that no file
    // is looked up in the GUI thread.
    enum FileState
    {
        kFileThere = 0,
        // Its folder can be listed and nothing is there: the file is surely gone.
        kFileMissing = 1,
        // Something that is not a file stands there.
        kNotAFile = 2,
        // The file is not there and its folder cannot be listed.
        kFolderUnreadable = 3,
        // The project's datas folder cannot be listed.
        kDatasUnreadable = 4,
        // The stored path leaves the datas folder (logged).
        kPathRefused = 5,
    };

    PrjDataWork() = default;
    ~PrjDataWork() override;

    // The file name up to its last "." (the whole name when it has none).
    static QString BaseName(const QString& fileName);
    // prjPath + image cleaned of "." and ".." parts, or empty text (logged) when that leaves the
    // project's datas folder: stored paths are never trusted with deleting or writing files.
    static QString DatasFile(const QString& prjPath, const QString& image);

signals:
    // lstState holds a FileState per row.
    void Signal_MarkImg(QStringList lstId, QStringList lstImg, QStringList lstFilter, QStringList lstMarkAsOK,
                        QStringList lstRoi, QList<int> lstState);
    void Signal_SaveMarkImgRlt(QString id, bool bSucc, QString msg);
    void Signal_MarkTypeInfo(QString name);
    void Signal_ConfigInfo(QString name, QString val);
    // The user's files the images were taken from, for the ids that have one.
    void Signal_ImageSources(QStringList lstId, QStringList lstSource);

public slots:
    void Slot_Init(QString sProPath);
    void Slot_AddMarkImg(QString id, QString addTime, QString srcImgFile, QString fileName, QString filter,
                         bool markAsOK, QString roiJson, QString aiJson);
    void Slot_SaveMarkImg(QString id, QString imgFile, bool markAsOK, QString roiJson, QString aiJson);
    void Slot_DelMarkImg(QStringList lstId);
    void Slot_AddMarkType(QString type);
    void Slot_DelMarkType(QString type);
    void Slot_StoreConfig(QString name, QString val);

private:
    // An annotation file as it was before this worker replaced or removed it.
    struct FileBackup
    {
        QString file;
        bool existed = false;
        QByteArray content;
    };
    // One add or save of the open batch, reported when the batch is committed.
    struct Result
    {
        QString id;
        bool bSucc = false;
        QString msg;
        // Told to the GUI when the row is committed; empty for saves and failures.
        QStringList markImg;
        // Undone when the commit fails: the copy this add made, the annotation file it replaced.
        QString copy;
        FileBackup annotation;
        QString rollbackMsg;
    };

    // What is known of a folder that rows name: whether it can be listed, and once it is named by
    // many rows, its files.
    struct FolderFiles
    {
        int named = 0;
        int readable = -1;
        bool listed = false;
        QSet<QString> names;
    };

    bool Open();
    void LoadConfig();
    void LoadImages();
    FileState ImageFileState(const QString& image, bool datasReadable,
                             QHash<QString, FolderFiles>* folders) const;
    void LoadMarkTypes();
    void LoadSources();
    // The stored relative image path of an id, or empty text when there is no such row.
    QString StoredImage(const QString& id) const;
    // Opens the batch's transaction if none is open.
    void BeginWrite();
    // Reports at once outside a batch, else once the batch is committed (or, if it is full, now).
    void Report(Result result);
    // Makes the batch's files and rows durable, then reports its results in order.
    void Commit();
    void Slot_CommitQueued();
    // Writes aiJson into file through a temporary file and a rename, so that a crash leaves the old
    // or the new text, never a part; the old state goes to *backup. False (logged) on failure.
    static bool WriteAnnotation(const QString& file, const QString& aiJson, FileBackup* backup);
    // Removes file, keeping its state in *backup; false (logged) when something else stands there.
    static bool RemoveAnnotation(const QString& file, FileBackup* backup);
    static void Restore(const FileBackup& backup);

    QString m_prjPath;
    QSqlDatabase m_db;
    bool m_inBatch = false;
    bool m_commitQueued = false;
    QElapsedTimer m_batchAge;
    QList<Result> m_batch;
};
