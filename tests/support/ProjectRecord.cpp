#include "ProjectRecord.h"

std::shared_ptr<pro::info> MakeInfo(const QString& id, const QString& name, int type, const QString& tips)
{
    auto spInfo = std::make_shared<pro::info>();
    spInfo->id = id;
    spInfo->name = name;
    spInfo->type = type;
    spInfo->tips = tips;
    spInfo->createTime = "2024-01-02 03:04:05";
    spInfo->lastUsedTime = "2024-01-02 03:04:05";
    return spInfo;
}
