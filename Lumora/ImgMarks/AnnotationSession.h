#pragma once

#include "Nexil/ImageInfo.h"
#include "Nexil/ROI/ROIItem.h"

#include <QObject>
#include <QSize>
#include <QStringList>

#include <memory>

class IPrjCore;
class QUndoStack;

// What is being annotated: the shown image with the history of its ROI edits, and the image shown
// before it. Every edit of the shown image's ROIs goes through the undo stack, and the session
// announces the outcome; the page only shows it. The shown image is stored whenever another one is
// shown and after every edit meant to be stored, by one rule (ShouldStore).
class AnnotationSession : public QObject
{
    Q_OBJECT

public:
    explicit AnnotationSession(QObject* parent = nullptr);

    // A listed image nobody worked on stays out of the project, and one deleted from the project
    // meanwhile is not brought back.
    static bool ShouldStore(const pro::ImageInfo& img, const IPrjCore* project);

    std::shared_ptr<pro::ImageInfo> shown() const { return m_shown.lock(); }
    std::shared_ptr<pro::ImageInfo> previous() const { return m_previous.lock(); }
    // The edits of the shown image, begun afresh with every image shown.
    QUndoStack* undoStack() const { return m_undoStack; }

    // Stores the shown image, which becomes the previous one, and shows spImg; false when spImg is
    // empty or shown already.
    bool show(const std::shared_ptr<pro::ImageInfo>& spImg);
    // The id handed to the project, empty when nothing was stored.
    QString storeShown();
    // The files of paths are being deleted: the shown image is stored unless among them, and goes
    // off; a deleted image has no ROIs to carry over any more.
    void imagesDeleted(const QStringList& paths);
    // Storing a project image after it was deleted would bring it back.
    void imageDeleted(const std::shared_ptr<pro::ImageInfo>& spImg);

    // The ROI gets the category and joins the shown image, which is no longer marked OK.
    void addRoi(const std::shared_ptr<ROIItem>& roi, const QString& category);
    // False when the shown image does not hold roi.
    bool removeRoi(const std::shared_ptr<ROIItem>& roi);
    void removeAllRois();
    void markOk();
    // Copies the previous image's ROIs onto the shown one as one edit. The shapes are kept inside
    // imageSize unless it is empty; one wholly outside is left behind.
    void carryOver(const QSize& imageSize);
    // One drag of a ROI of the shown image ended; roi already has its new geometry.
    void roiReshaped(const std::shared_ptr<ROIItem>& roi, const std::shared_ptr<const ROIItem>& before);

signals:
    // Another image is shown, or none.
    void shownChanged();
    // record's ROIs or OK mark changed; stored says the change was meant to be stored and the rule
    // was asked.
    void roisChanged(const std::shared_ptr<pro::ImageInfo>& record, bool stored);
    // storeShown handed the shown image to the project; its answer comes with this id.
    void storeStarted(const QString& id);
    // The stack's signals, passed on by the session so that a stack going away with the session
    // reaches nobody.
    void canUndoChanged(bool canUndo);
    void canRedoChanged(bool canRedo);
    void undoIndexChanged(int index);

private:
    friend class RoiListCommand;
    friend class RoiGeometryCommand;

    // A command gave record a state.
    void Applied(const std::shared_ptr<pro::ImageInfo>& record, bool store);
    void EditRois(const QString& text, const ROIList& rois, bool markAsOK, bool storeNow);
    QString Store(const std::shared_ptr<pro::ImageInfo>& spImg);
    void ClearShown();

    // A child: the session's connections are gone before it is deleted.
    QUndoStack* m_undoStack;
    std::weak_ptr<pro::ImageInfo> m_shown;
    std::weak_ptr<pro::ImageInfo> m_previous;
};
