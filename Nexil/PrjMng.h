#pragma once

#include "ComLib/WorkerThread.h"

#include "Nexil/IPrjCore.h"

#include <QHash>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <memory>

class PrjDataWork;

// The open project: its categories, settings and images in memory (GUI thread), mirrored into
// PrjData.db and the project directory by its worker in the project's own thread.
class PrjMng : public QObject, public IPrjCore
{
    Q_OBJECT

public:
    PrjMng(const QString& workspacePath, std::shared_ptr<pro::info> spInfo);
    ~PrjMng() override;

    QString PrjPath() const override;
    std::shared_ptr<pro::info> PrjInfo() const override;
    void SetLastFilePath(const QString& path) override;
    QString GetLastFilePath() const override;
    bool AddMarkType(const QString& type) override;
    void DelMarkType(const QString& type) override;
    const QStringList& MarkTypes() const override;
    void SetSaveCallback(SaveCallback callback, void* userData) override;
    QString AddImage(std::shared_ptr<pro::ImageInfo> spImg) override;
    void SaveImage(const QString& id) override;
    void DelImage(const QString& id) override;
    const QMap<QString, std::shared_ptr<pro::ImageInfo>>& Images() const override;
    std::shared_ptr<pro::ImageInfo> ImageById(const QString& id) const override;
    std::shared_ptr<pro::ImageInfo> ImageByPath(const QString& path) const override;
    void SetTestPath(const QString& path) override;
    const QString& TestPath() const override;
    void SetTestLabeled(int labeled) override;
    int TestLabeled() const override;
    void SetSetting(const QString& name, const QString& value) override;
    QString Setting(const QString& name) const override;

signals:
    void Signal_Init(QString sProPath);
    void Signal_ConfigInfo(QString name, QString val);
    void Signal_AddMarkImg(QString id, QString addTime, QString srcImgFile, QString fileName, QString filter,
                           bool markAsOK, QString roiJson, QString aiJson);
    void Signal_SaveMarkImg(QString id, QString imgFile, bool markAsOK, QString roiJson, QString aiJson);
    void Signal_DelMarkImg(QStringList lstId);
    void Signal_AddMarkType(QString type);
    void Signal_StoreConfig(QString name, QString val);
    void Signal_DelMarkType(QString type);

public slots:
    // lstState holds the PrjDataWork::FileState of each row.
    void Slot_MarkImg(QStringList lstId, QStringList lstImg, QStringList lstFilter, QStringList lstMarkAsOK,
                      QStringList lstRoi, QList<int> lstState);
    void Slot_ModMarkImgRlt(QString id, bool bSucc, QString msg);
    void Slot_MarkTypeInfo(QString type);
    void Slot_ConfigInfo(QString name, QString val);
    void Slot_ImageSources(QStringList lstId, QStringList lstSource);

private:
    std::shared_ptr<pro::info> m_spInfo;
    QString m_prjPath;
    QStringList m_markTypes;
    QMap<QString, QString> m_mapConfig;
    QString m_testPath;
    int m_testLabeled = 0;
    QMap<QString, std::shared_ptr<pro::ImageInfo>> m_mapImage;
    SaveCallback m_saveCallback = nullptr;
    void* m_userData = nullptr;
    // Images deleted before the worker confirmed their copy; the confirmation must not bring them back.
    QSet<QString> m_deletedBeforeCopy;
    // Adds whose result has not come yet, with the record's marked flag from before the add.
    struct PendingAdd
    {
        std::shared_ptr<pro::ImageInfo> spImg;
        bool marked = false;
    };
    QHash<QString, PendingAdd> m_pendingAdds;
    // Paths already logged as unreadable while loading.
    QSet<QString> m_keptPaths;
    // Lives in m_thread until the thread finishes; not owned.
    PrjDataWork* m_pWork = nullptr;
    // Last, so it ends first. The exit is queued behind the work already handed to the worker, so all of
    // it is done.
    comlib::WorkerThread m_thread{QStringLiteral("PrjDataWork"),
                                  comlib::WorkerThread::Ending::AfterQueuedCalls};
};
