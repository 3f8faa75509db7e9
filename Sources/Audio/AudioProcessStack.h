#pragma once
// CAudioProcessStack: the stacked process. A process definition with "is-stacked" runs a number
// of instances of itself, each a replica (AudioProcessReplica.h) holding one plain container
// built from the definition. The number comes from the parameter named by "stack-param"
// (rounded half away from zero, at least 1, at most kMaxInstances); without "stack-param" the
// stack keeps exactly one instance. A change of the number rebuilds the instance list before
// the next sub-block, only at its end: instances that stay keep running.
//
// Instance i has the stack index i + "stack-index-shift"; it is the channel group of the
// instance and of every process inside it (CAudioProcessBase::group: bypass states and the
// multiband process's band layout read their parameters in that group). Its collector path is the
// stack's path, ".", and i, so parameters declared inside the definition exist once per instance.
//
// Chaining:
//   - with "is-channel-stack" the instances run side by side, one per channel group: channel c
//     goes through the instance whose stack index equals the channel's group, and passes
//     unchanged when no instance has that index. Each instance is built with its group's
//     channels only (at least one), in their order: the group's k-th channel is the
//     instance's channel k;
//   - otherwise the instances run in series, every channel through instance 0, then 1, ...
// Output port 0 carries the result per channel.

#include "Audio/AudioProcessReplica.h"

namespace zel
{

class CAudioProcessStack : public CAudioProcessReplicaBase
{
public:
    static constexpr std::int32_t kMaxInstances = 64;

    static void registerClass(CClassInfo& info);

    // Fails with "Audio process def of invalid class supplied." for a definition that is not a
    // container definition.
    CErrorPtr initFromDef(const CAudioProcessDefBase& def,
                          std::shared_ptr<const CAudioProcessSetup> setup,
                          const CText& instancePath) override;
    CErrorPtr applyParamChanges(std::int64_t position) override;

    std::int32_t instanceCount() const { return replicaCount(); }
    CAudioProcessBase& instance(std::int32_t index) const { return replica(index).lastStage(); }
    bool hasSizeParam() const { return m_sizeInput.isBound(); }
    // The instance that channel c runs through in a channel stack; -1 when it passes unchanged
    // (and for a serial stack).
    std::int32_t instanceFor(std::int32_t channel) const;
    // The position of channel c among the channels of its group: its channel inside the
    // instance of a channel stack.
    std::int32_t memberOf(std::int32_t channel) const;

protected:
    std::int32_t wantedReplicas() const override;
    CErrorPtr buildReplica(CAudioProcessReplica& replica) override;
    void wire() override;

private:
    CAudioParamInput m_sizeInput;
};

} // namespace zel
