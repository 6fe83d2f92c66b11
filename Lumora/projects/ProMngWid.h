#pragma once

#include <QDialog>

#include <memory>

namespace Ui
{
class ProMngWidClass;
}

class ProjectViewModel;
class QKeyEvent;
class QMenu;

// The project manager: lists the workspace's projects, filters them by a keyword, creates and deletes
// projects and opens one. The dialog is accepted only after a project was opened.
class ProMngWid : public QDialog
{
    Q_OBJECT

public:
    // Delay of the first fill of the list after the window is built.
    static constexpr int kInitialFillMs = 500;

    explicit ProMngWid(QWidget* parent = nullptr);
    ~ProMngWid() override;

public slots:
    // Lists the projects whose name, or else notes, contain the keyword (case-sensitive; an empty keyword
    // lists all).
    void Slot_BtnSchProClicked();
    // Runs the new-project dialog and lists again, whatever its result.
    void Slot_BtnNewPrjClicked();
    // Opens the row's project, as a double click does, when its record has an id.
    void Slot_OpenProject(const QModelIndex& index);
    void Slot_TableViewItemDoubleClicked(const QModelIndex& index);
    // Removes the current row's project from the catalogue after the user confirms.
    void Slot_DelPrjItem(bool checked);
    void Slot_ShowContextMenu(const QPoint& pos);

protected:
    // Esc clears the keyword and never closes the window, which would end the program; Enter clicks only
    // the button that has the focus.
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Opens the row's project and accepts; a project that cannot be opened is named in an error window
    // and the window stays.
    void Open(const QModelIndex& index, bool needId);

    std::unique_ptr<Ui::ProMngWidClass> ui;
    ProjectViewModel* m_model;
    QMenu* m_menu;
};
