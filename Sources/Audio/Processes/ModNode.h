#pragma once
// CModNode ("audio:modNode", definition CModNodeDef): a connection point of the graph. It
// issues no kernels: every input port passes to the output port of the same number by
// reference (several links into one channel are summed). Containers use nodes to join and
// split signals, for example to give several modules one common input.

#include "Audio/AudioProcessBase.h"
#include "Audio/AudioProcessDef.h"

namespace zel
{

class CModNode : public CAudioProcessBase
{
public:
    static void registerClass(CClassInfo& info);
};

class CModNodeDef : public CAudioProcessDefBase
{
public:
    static void registerClass(CClassInfo& info);
    CErrorPtr makeProcess(TObjectPtr<CAudioProcessBase>& process) const override;
};

} // namespace zel
