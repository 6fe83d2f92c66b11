#pragma once

#include <QWidget>

#include <functional>
#include <memory>

namespace Ui
{
class PathWid;
}

// A read-only image path with a button that shows the file in the file manager.
class PathWid : public QWidget
{
    Q_OBJECT

public:
    // Shows a file or folder in the file manager; true when it was asked to.
    using Revealer = std::function<bool(const QString& path)>;

    explicit PathWid(QWidget* parent = nullptr);
    ~PathWid() override;

    // Replaces the platform's file manager, for tests.
    void SetRevealer(Revealer revealer);

    void SetPath(const QString& path);
    QString Path() const { return m_path; }

public slots:
    // Reveals the shown file or folder; a path that does not exist is ignored.
    void Slot_BtnWhereClicked();

private:
    std::unique_ptr<Ui::PathWid> ui;
    QString m_path;
    Revealer m_reveal;
};
