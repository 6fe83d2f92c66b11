#pragma once

#include <QWidget>

// The testing page of the main window.
class ModelTestingWid : public QWidget
{
    Q_OBJECT

public:
    explicit ModelTestingWid(QWidget* parent = nullptr);
    ~ModelTestingWid() override;

    // Reloads the list of trained models of the open project; the main window calls it each time it
    // makes this page current, so a training run finished meanwhile shows up.
    void ReloadModels();
    // How many times the list was reloaded.
    int ReloadCount() const { return m_reloadCount; }

private:
    int m_reloadCount = 0;
};
