#pragma once

#include <QWidget>

// The training page of the main window.
class ModelTrainingWid : public QWidget
{
    Q_OBJECT

public:
    explicit ModelTrainingWid(QWidget* parent = nullptr);
    ~ModelTrainingWid() override;
};
