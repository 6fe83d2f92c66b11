#include "ModelTrainingWid.h"

ModelTrainingWid::ModelTrainingWid(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("ModelTrainingWid"));
}

ModelTrainingWid::~ModelTrainingWid() = default;
