#pragma once
// CAudioProcess: the container process built from a CAudioProcessDef. It owns its child
// processes (one per non-prototype child definition, in declaration order), the links between
// them, its bypass states and its structural parameter inputs, and runs its children block by
// block in dependency order.
//
// Inside a container "*" stands for the container's own ports: a link from "*" port p reads
// what arrives at the container's input port p, a link to "*" port p feeds its output port p.
// The container passes segments through by reference (no copies); several links into one
// input channel are summed.
//
// Sub-block loop of process():
//   1. the sub-block length is the smallest front-segment length over the container's input
//      connections, starting from 99999999 (no input limits it; a container with no inputs
//      runs `length` samples once), cut short at the next queued parameter change of the
//      container or of any process inside it;
//   2. own due changes are applied (structural inputs, bypass states); when dirty the states
//      are evaluated, links and children switched and the sequence rebuilt ("process seq err"
//      on a cycle);
//   3. the process time advances by the sub-block length;
//   4. each child in sequence applies its due changes, runs its per-block update, and
//      processes (or passes its input on when bypassed); consumed segments are released;
//   5. repeat while input remains.
// Sequence: every child runs after the children that feed it; among the children that are
// free to run, the first in declaration order goes next (so unlinked children keep declaration
// order). Links from or to an "is-outoforder" child do not order.
//
// Structural inputs are the container's own "audio:param-alloc" bindings: only a change of a
// value's integer rounding (half away from zero; -99999 when there is no value) marks the
// container dirty. Bypass states watch "param" and "and-param"; a matching entry updates the
// state's copy of the values and marks the container dirty, so the state is re-evaluated before
// the next sub-block. A child is bypassed when its own "bypass-state-id" names an active state
// (it passes input port 0 on), or when a link into it carries an active "bypass-state-id" (it
// passes that link's port on): the source's signal goes on unchanged. Links with a "state-id"
// other than -1 are active only while the container's switch state equals it.
//
// With "is-auto-links" the children that no link names are chained in declaration order from
// the container's input port 0 to its output port 0 (when every child is unlinked this is the
// plain chain * -> first -> ... -> last -> *).

#include "Audio/AudioProcessBase.h"

#include <vector>

namespace zel
{

class CAudioProcessBypassStateDef;
class CAudioProcessLinkDef;

class CAudioProcess : public CAudioProcessBase
{
public:
    static void registerClass(CClassInfo& info);

    // Fails with "Audio process def of invalid class supplied." for a definition that is not a
    // CAudioProcessDef.
    CErrorPtr initFromDef(const CAudioProcessDefBase& def,
                          std::shared_ptr<const CAudioProcessSetup> setup,
                          const CText& instancePath) override;
    void flush() override;
    CErrorPtr applyParamChanges(std::int64_t position) override;
    CErrorPtr process(std::int32_t length) override;
    CErrorPtr connect() override;
    std::int64_t pendingChangePosition() const override;

    // Instantiates def as a child named name; a second child of that name fails with
    // "Duplicate audio process name '%1'.".
    CErrorPtr addProcess(const CAudioProcessDefBase& def, const CText& name,
                         CAudioProcessBase*& child);

    // Children in declaration order.
    const std::vector<CAudioProcessBase*>& processes() const { return m_children; }
    CAudioProcessBase* findProcess(const CText& name) const;
    // The current run order (indices into processes()).
    const std::vector<std::int32_t>& sequence() const { return m_sequence; }
    bool isDirty() const { return m_dirty; }
    void markDirty() { m_dirty = true; }
    // -1 after a rebuild when the child runs, else the input port it passes on.
    std::int32_t bypassPort(std::size_t child) const { return m_bypassPort[child]; }
    bool isStateActive(std::int32_t id) const;
    std::int32_t switchState() const { return m_switchState; }
    void setSwitchState(std::int32_t state);

private:
    struct CLink
    {
        std::int32_t src = -1; // child index, -1 for "*"
        std::int32_t srcPort = 0;
        std::int32_t dst = -1;
        std::int32_t dstPort = 0;
        std::int32_t stateId = -1;
        std::int32_t bypassStateId = -1;
        std::vector<CAudioConnection*> connections;
    };
    struct CState
    {
        const CAudioProcessBypassStateDef* def = nullptr;
        CAudioParamInput first;
        CAudioParamInput second;
        bool active = false;
    };

    CErrorPtr rebuild();
    void addAutoLinks();
    std::int32_t childIndex(const CText& name) const;
    CErrorPtr forwardOutputs(std::int32_t n);

    std::vector<CAudioProcessBase*> m_children;
    std::vector<CLink> m_links;
    std::vector<CState> m_states;
    std::vector<std::int32_t> m_sequence;
    std::vector<std::int32_t> m_bypassPort;
    std::vector<std::int32_t> m_pending; // rebuild scratch: unmet dependencies per child
    std::vector<char> m_placed;          // rebuild scratch
    // "*" as a link source (fed from the container's inputs) and as a destination (feeding
    // the container's outputs).
    std::vector<CAudioOutputPort> m_innerOutputs;
    std::vector<CAudioInputPort> m_innerInputs;
    bool m_dirty = true;
    std::int32_t m_switchState = -1;
};

} // namespace zel
