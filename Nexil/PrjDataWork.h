#pragma once

#include <QObject>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

// Keeps the project database PrjData.db and the files of a project, in the project's own thread.
class PrjDataWork : public QObject
{
    Q_OBJECT

public:
    PrjDataWork() = default;
    ~PrjDataWork() override;

    // The file name up to its last "." (the whole name when it has none).
    static QString BaseName(const QString& fileName);
    // The annotation file beside an image: same folder, base name + ".json".
    static QString AnnotationFile(const QString& imageFile);

signals:
    void Signal_MarkImg(QStringList lstId, QStringList lstImg, QStringList lstFilter, QStringList lstMarkAsOK,
                        QStringList lstRoi);
    void Signal_SaveMarkImgRlt(QString id, bool bSucc, QString msg);
    void Signal_MarkTypeInfo(QString name);
    void Signal_ConfigInfo(QString name, QString val);

public slots:
    void Slot_Init(QString sProPath);
    void Slot_AddMarkImg(QString id, QString addTime, QString srcImgFile, QString fileName, QString filter,
                         bool markAsOK, QString roiJson, QString aiJson);
    void Slot_SaveMarkImg(QString id, QString imgFile, bool markAsOK, QString roiJson, QString aiJson);
    void Slot_DelMarkImg(QStringList lstId);
    void Slot_AddMarkType(QString type);
    void Slot_DelMarkType(QString type);

private:
    bool Open();
    void LoadConfig();
    void LoadImages();
    void LoadMarkTypes();
    // The stored relative image path of an id, or empty text when there is no such row.
    QString StoredImage(const QString& id) const;

    QString m_prjPath;
    QSqlDatabase m_db;
};
