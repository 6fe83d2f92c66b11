#pragma once

#include "Nexil/ImageInfo.h"
#include "Nexil/NexilExport.h"
#include "Nexil/ProInfo.h"

#include <QMap>
#include <QString>
#include <QStringList>

#include <memory>

// The open project. Used from the thread that opened it (the GUI thread) only. The program calls
// these operations by slot, so their order is fixed; add new ones only at the end.
class NEXIL_EXPORT IPrjCore
{
public:
    // Called in the GUI thread after every stored add or save of an image.
    using SaveCallback = void (*)(const QString& id, bool bSucc, const QString& msg, void* userData);

    virtual ~IPrjCore() = default;

    // 1: workspace path + "/" + project name.
    virtual QString PrjPath() const = 0;
    // 2
    virtual std::shared_ptr<pro::info> PrjInfo() const = 0;
    // 3, 4: setting "LastFilePath", kept while the project is open.
    virtual void SetLastFilePath(const QString& path) = 0;
    virtual QString GetLastFilePath() const = 0;
    // 5: false for an empty or existing name.
    virtual bool AddMarkType(const QString& type) = 0;
    // 6
    virtual void DelMarkType(const QString& type) = 0;
    // 7: the categories in order of arrival.
    virtual const QStringList& MarkTypes() const = 0;
    // 8
    virtual void SetSaveCallback(SaveCallback callback, void* userData) = 0;
    // 9: gives the record a new id, stores it and returns the id.
    virtual QString AddImage(std::shared_ptr<pro::ImageInfo> spImg) = 0;
    // 10: stores the current annotation of the image.
    virtual void SaveImage(const QString& id) = 0;
    // 11: deletes the image with its files.
    virtual void DelImage(const QString& id) = 0;
    // 12
    virtual const QMap<QString, std::shared_ptr<pro::ImageInfo>>& Images() const = 0;
    // 13
    virtual std::shared_ptr<pro::ImageInfo> ImageById(const QString& id) const = 0;
    // 14: the first record (in id order) whose path names the same file, or empty.
    virtual std::shared_ptr<pro::ImageInfo> ImageByPath(const QString& path) const = 0;
    // 15, 16: the testing page's image selection, memory only.
    virtual void SetTestPath(const QString& path) = 0;
    virtual const QString& TestPath() const = 0;
    // 17, 18: non-zero when the test images come from the project, memory only.
    virtual void SetTestLabeled(int labeled) = 0;
    virtual int TestLabeled() const = 0;
    // 19, 20: a setting of the project kept in PrjData.db; empty text when it was never set.
    virtual void SetSetting(const QString& name, const QString& value) = 0;
    virtual QString Setting(const QString& name) const = 0;
};
