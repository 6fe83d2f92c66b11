#pragma once

#include "ComLib/WorkerThread.h"

#include "Canvas/CanvasImage.h"
#include "ImageIntake.h"

#include "Nexil/ImageInfo.h"

#include <QItemSelection>
#include <QList>
#include <QModelIndex>
#include <QString>
#include <QWidget>

#include <memory>

class AnnotationSession;
class DisplayAdjustWid;
class ImgROIListModel;
class MarksImgModel;
class ROIItem;
class SourceImgModel;
class StatusFilterProxyModel;
class QAbstractButton;
class QButtonGroup;
class QLabel;
class QMenu;
class QShortcut;

namespace Ui
{
class ImgMarksWidClass;
}

// The annotation page: images enter the project here, get their ROIs and categories or are marked
// OK. What is shown and edited is the session's; the page routes the widgets to it and shows what
// it announces. The shown image is also stored when the page goes away.
class ImgMarksWid : public QWidget
{
    Q_OBJECT

public:
    // The core delivers a project's data in batches after opening; the page reads it this much later.
    static constexpr int kInitialLoadDelayMs = 500;

    explicit ImgMarksWid(QWidget* parent = nullptr);
    ~ImgMarksWid() override;

    // The INI file whose [Config] LoadImgPath the initial load scans; the root folder's Config.ini
    // unless set before the initial load.
    void SetConfigFile(const QString& path) { m_configFile = path; }
    // Lists the images of a folder and its subfolders (statuses from the folder names), adds those
    // with an annotation file beside them to the project, and remembers the folder for the next
    // opening of the project; the note below the lists then says what arrived.
    void ImportFolder(const QString& folder);

signals:
    void Signal_ImportMarkImg(QString path, bool bAddDB);
    void Signal_LoadImgPath(QString path);
    void Signal_LoadImg(QString fullPath);
    void Signal_KnownImages(KnownImages images);
    void Signal_DelImg(QStringList paths);
    void Signal_SaveMarkResult(QString id, bool bSucc, QString msg);
    void Signal_CloseWaitDailog();

public slots:
    void Slot_BtnRdoClicked(QAbstractButton* button);
    void Slot_BtnAddImgClicked();
    void Slot_BtnAddImgFoldClicked();
    void Slot_BtnSaveMarkClicked();
    void Slot_BtnDelUnMarkImgClicked();
    void Slot_BtnMarkToOKClicked();
    void Slot_tblViewUnmarksSelectChanged(const QModelIndex& current, const QModelIndex& previous);
    void Slot_treeViewMarksItemClicked(const QModelIndex& index);
    void Slot_BtnStartDrawClicked();
    void Slot_ImgViewDrawRoiCompleted(bool bAccept);
    void Slot_ImgViewClickedROI(std::weak_ptr<ROIItem> roi);
    void Slot_BtnAddMarkTypeClicked();
    void Slot_BtnSaveMarkTypeClicked();
    void Slot_BtnReloadMark();
    void Slot_BtnPreImg();
    void Slot_BtnNextImg();
    void Slot_btnDelImgMarkClicked();
    void Slot_BtnDelImgAllMark();
    void Slot_BtnDelImgOneMark();
    void Slot_ImgList(QList<std::shared_ptr<pro::ImageInfo>> vtImgPtr);
    void Slot_ScanFinished();
    void Slot_TabWidCurrentIndexChanged(int index);
    void Slot_BtnImportMarkClicked();
    void Slot_BtnDelMarkImgClicked();
    void Slot_BtnClearUnMarkTblClicked();
    void Slot_BtnZoomFitClicked();
    void Slot_MarkImgRoiSelectionChanged(const QItemSelection& selected, const QItemSelection& deselected);
    void Slot_SaveMarkResult(QString id, bool bSucc, QString msg);
    void Slot_BtnWhereClicked();
    void Slot_BtnUndoClicked();
    void Slot_BtnRedoClicked();
    // Copies the ROIs of the image shown just before onto the shown one, as one undoable edit.
    void Slot_BtnCarryRoisClicked();
    void Slot_ImgViewRoiDragFinished(std::weak_ptr<ROIItem> roi, std::shared_ptr<ROIItem> before);
    void Slot_BtnExportMarkClicked();
    // Delete or Backspace: the ROI selected on the canvas leaves the shown image, as one undoable edit.
    void Slot_DeleteSelectedRoi();

private:
    void SetupViews();
    void SetupLoader();
    void SetupShapeButtons();
    void SetupShortcuts();
    void SetupSession();
    void ConnectWidgets();
    void ConnectCanvas();
    void InitialLoad();
    void ShowImage(const std::shared_ptr<pro::ImageInfo>& spImg);
    std::shared_ptr<pro::ImageInfo> ShownRecord() const;
    // The session showed another image, or none.
    void ShownChanged();
    void RoisChanged(const std::shared_ptr<pro::ImageInfo>& spImg, bool stored);
    void StoreStarted(const QString& id);
    void RefreshRoiList(const pro::ImageInfo& img);
    void UpdateUndoTips();
    bool ShapeBeingDrawn() const;
    void FillCategories();
    // The canvas and the ROI list colour the shapes by the project's categories.
    void UpdateCategoryColours();
    // The line under the canvas that says how to draw the shape begun; hidden when none is.
    void ShowDrawHint(const QString& text);
    // The display adjustment popup of btnDisplayAdjust and the value readout under the canvas.
    void SetupDisplayAdjust();
    void ApplyDisplayAdjust(const CanvasImage::Adjust& adjust);
    void ShowPixelValues(const QPointF& location, const QVector<double>& values);
    void AppendProjectImages();
    // Every scan goes through here, after the loader has learnt the project's images. report: the
    // note says what arrived when it ends.
    void RequestScan(const QString& path, bool report, bool singleFile = false);
    // Shows the rows of a status when the shown status holds none.
    void ShowStatusOf(int code);
    void SetupImportNote();
    void Navigate(bool next);
    // Asks for a folder, starting where the user last took images from; empty when cancelled.
    QString ChooseFolder();
    QString StartFolder() const;
    void RememberFolder(const QString& folder);

    std::unique_ptr<Ui::ImgMarksWidClass> ui;
    QButtonGroup* m_statusGroup;
    QButtonGroup* m_shapeGroup;
    SourceImgModel* m_srcModel;
    StatusFilterProxyModel* m_proxy;
    MarksImgModel* m_marksModel;
    ImgROIListModel* m_roiModel;
    QMenu* m_menu;
    QMenu* m_adjustMenu;
    DisplayAdjustWid* m_adjustWid;
    // F5 while the not-annotated tab hides btnReloadMark, whose own shortcut is then inactive.
    QShortcut* m_reloadKey;
    // Ctrl+Z is the page's, not the button's: it also takes back a polygon's last vertex while the
    // undo button is disabled.
    QShortcut* m_undoKey;
    // The second redo key; Ctrl+Y is the button's own.
    QShortcut* m_redoKey;
    QShortcut* m_deleteKey;
    QShortcut* m_backspaceKey;
    // The shown and the previous image, and the history of the shown image's edits.
    AnnotationSession* m_session;
    QString m_pendingSaveId;
    ImageIntake m_intake;
    // What the last import brought, below the lists.
    QLabel* m_importNote = nullptr;
    // How to draw the shape begun, over the canvas's corner so that the image does not move.
    QLabel* m_drawHint = nullptr;
    QString m_configFile;
    // Last, so that the loader ends before the page goes.
    comlib::WorkerThread m_thread{QStringLiteral("LoadImgWork")};
};
