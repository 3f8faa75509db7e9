#include "Audio/Processes/ModNode.h"

namespace zel
{

void CModNode::registerClass(CClassInfo& info)
{
    CAudioProcessBase::registerClass(info);
}

void CModNodeDef::registerClass(CClassInfo& info)
{
    CAudioProcessDefBase::registerClass(info);
}

CErrorPtr CModNodeDef::makeProcess(TObjectPtr<CAudioProcessBase>& process) const
{
    process = CObject::make<CModNode>();
    return nullptr;
}

} // namespace zel
