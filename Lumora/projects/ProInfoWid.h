#pragma once

#include <QDialog>

#include <memory>

namespace Ui
{
class ProInfoWidClass;
}

class QAbstractButton;
class QButtonGroup;
class QKeyEvent;

// The new-project dialog: name, type and notes. Saving adds the project to the catalogue and accepts the
// dialog; a blank, unsafe or taken name keeps it open with a message.
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

    std::unique_ptr<Ui::ProInfoWidClass> ui;
    QButtonGroup* m_typeGroup;
};
