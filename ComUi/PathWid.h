#pragma once

#include <QWidget>

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
    explicit PathWid(QWidget* parent = nullptr);
    ~PathWid() override;

    void SetPath(const QString& path);
    QString Path() const { return m_path; }

public slots:
    // Reveals the shown file or folder; a path that does not exist is ignored.
    void Slot_BtnWhereClicked();

private:
    std::unique_ptr<Ui::PathWid> ui;
    QString m_path;
};
