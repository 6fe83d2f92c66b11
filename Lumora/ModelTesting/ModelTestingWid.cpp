#include "ModelTestingWid.h"

ModelTestingWid::ModelTestingWid(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("ModelTestingWid"));
}

ModelTestingWid::~ModelTestingWid() = default;

void ModelTestingWid::ReloadModels()
{
    ++m_reloadCount;
}
