#pragma once
// The definitions of the process graph, as the object description declares them:
//   CAudioProcessDefBase  base of every process and module definition: the attribute set that
//                         all of them carry (flags, multiband and stack settings, bypass state)
//   CAudioProcessDef      "audio:process-def": a container definition; its children are module
//                         definitions, nested process definitions, parameter definitions,
//                         parameter bindings, links and bypass states
//   CLatencyDef           mixin of module definitions that declare the latency they add
// Definitions only parse and validate; the run-time processes (AudioProcessBase.h) are built
// from them by makeProcess and initialised from them. A definition never holds audio state.

#include "Core/Object.h"

#include <cstdint>

namespace zel
{

class CAudioProcessBase;

class CAudioProcessDefBase : public CObject
{
public:
    static void registerClass(CClassInfo& info);

    // A new, uninitialised run-time process of the class this definition stands for. The
    // caller attaches it to its parent and calls its initFromDef with this definition.
    virtual CErrorPtr makeProcess(TObjectPtr<CAudioProcessBase>& process) const = 0;

    bool isSmoothUpdate() const { return m_smoothUpdate; }
    const CText& smoothUpdateParams() const { return m_smoothUpdateParams; }
    bool isMultiband() const { return m_multiband; }
    const CText& multibandFreqParam() const { return m_multibandFreqParam; }
    const CText& multibandCountParam() const { return m_multibandCountParam; }
    const CText& multibandPre() const { return m_multibandPre; }
    const CText& multibandLP() const { return m_multibandLP; }
    const CText& multibandHP() const { return m_multibandHP; }
    bool isStacked() const { return m_stacked; }
    const CText& stackParam() const { return m_stackParam; }
    std::int32_t stackIndexShift() const { return m_stackIndexShift; }
    bool isChannelStack() const { return m_channelStack; }
    bool isTerminalWhole() const { return m_terminalWhole; }
    bool isPrototype() const { return m_prototype; }
    bool isOutOfOrder() const { return m_outOfOrder; }
    bool isGroup0() const { return m_group0; }
    bool isElement0() const { return m_element0; }
    // -1: no bypass state.
    std::int32_t bypassStateId() const { return m_bypassStateId; }
    bool useAllParamGroups() const { return m_allParamGroups; }
    bool useAllParamElements() const { return m_allParamElements; }
    bool useTimeShift() const { return m_timeShift; }
    bool isWeightedInput() const { return m_weightedInput; }

    // Attribute handlers.
    CErrorPtr onStackIndexShift(const CText& value);
    CErrorPtr onBypassStateId(const CText& value);

private:
    bool m_smoothUpdate = false;
    CText m_smoothUpdateParams;
    bool m_multiband = false;
    CText m_multibandFreqParam;
    CText m_multibandCountParam;
    CText m_multibandPre;
    CText m_multibandLP;
    CText m_multibandHP;
    bool m_stacked = false;
    CText m_stackParam;
    std::int32_t m_stackIndexShift = 0;
    bool m_channelStack = false;
    bool m_terminalWhole = false;
    bool m_prototype = false;
    bool m_outOfOrder = false;
    bool m_group0 = false;
    bool m_element0 = false;
    std::int32_t m_bypassStateId = -1;
    bool m_allParamGroups = false;
    bool m_allParamElements = false;
    bool m_timeShift = false;
    bool m_weightedInput = false;
};

class CAudioProcessDef : public CAudioProcessDefBase
{
public:
    static void registerClass(CClassInfo& info);
    // Checks that every link names existing children (all children are loaded by now).
    CErrorPtr initChilds() override;
    CErrorPtr makeProcess(TObjectPtr<CAudioProcessBase>& process) const override;

    bool isAutoLinks() const { return m_autoLinks; }

    // The child process definitions (prototypes included) in declaration order.
    std::vector<CAudioProcessDefBase*> processDefs() const;

private:
    bool m_autoLinks = false;
};

// A module definition that adds latency also derives from this mixin; the latency uniformer
// asks every definition of the tree for it.
class CLatencyDef
{
public:
    virtual ~CLatencyDef() = default;
    // The latency in samples that the module adds at the given sample rate.
    virtual std::int32_t latencySamples(double sampleRate) const = 0;
};

// Children of an object in the order they were created (the description's declaration order).
std::vector<CObject*> childrenInDeclarationOrder(const CObject& parent);

} // namespace zel
