#pragma once

#include <QWidget>

#include <memory>

namespace Ui
{
class PlainTestWidClass;
}

// A collapsible log view: a title bar with a show/hide button above plain text lines.
class PlainTestWid : public QWidget
{
    Q_OBJECT

public:
    explicit PlainTestWid(QWidget* parent = nullptr);
    ~PlainTestWid() override;

    void AppendLine(const QString& text);
    void ClearLines();
    // Hides the text and checks the button, as if the user had collapsed the view.
    void Collapse();

public slots:
    void Slot_BtnShowClicked();

private:
    std::unique_ptr<Ui::PlainTestWidClass> ui;
};
