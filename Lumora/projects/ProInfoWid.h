#pragma once

#include <QDialog>

#include <memory>

namespace Ui
{
class ProInfoWidClass;
}

class INexil;
class QAbstractButton;
class QButtonGroup;
class QKeyEvent;

// The new-project dialog: name, type and notes. Saving adds the project to the catalogue and accepts the
// dialog; a blank, unsafe, too long or taken name, a folder of that name in the workspace, or a catalogue
// that refuses the record keeps it open with a message.
class ProInfoWid : public QDialog
{
    Q_OBJECT

public:
    explicit ProInfoWid(QWidget* parent = nullptr);
    ~ProInfoWid() override;

public slots:
    void Slot_BtnSaveClicked();
    void Slot_RdoBtnTypeClicked(QAbstractButton* button);

protected:
    // Esc closes the dialog, after asking when a name or notes were typed.
    void keyPressEvent(QKeyEvent* event) override;

private:
    // Name, type buttons, notes, save.
    void SetTabOrder();
    // The "type" of the first checked type button, 0 when none is checked.
    int CheckedType() const;
    // False, after telling the user, when the new project's folder is already in the workspace.
    bool CheckFolderFree(const INexil& core, const QString& name);

    std::unique_ptr<Ui::ProInfoWidClass> ui;
    QButtonGroup* m_typeGroup;
};
