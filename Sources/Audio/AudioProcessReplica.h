#pragma once
// CAudioProcessReplicaBase: the shared run-time core of the processes that replicate a
// definition under the control of a parameter (the multiband process, AudioProcessMB.h, and
// the stack, AudioProcessStack.h). It is not a container of declared children: its children are
// replicas (CAudioProcessReplica), each holding one copy of the replicated stage processes,
// created and destroyed at run time as the controlling parameter changes.
//
// The base owns the wiring between its own ports and the replicas' stages: every connection it
// makes is its own, so replicas can be added and removed while the process runs. A relayout
// runs at a sub-block boundary, when every internal connection is empty: the base unwires
// everything, lets the subclass resize the replica list (only at its end: replicas that stay
// keep their running state), then asks the subclass to wire again. Where several connections
// end in one output channel their signals are summed.
//
// Sub-block loop of process(), as a container's: the sub-block is the smallest front segment
// over the inputs (a process with no inputs runs `length` samples once), cut short at the next
// queued parameter change of the process or of any stage; own changes are applied (the
// subclass marks a relayout when its controlling inputs change); the input is fanned out to
// the wiring; the process time advances; every replica, in order, runs its stages in order
// (due changes, per-block update, process); the summed results go to output port 0.
//
// With fading on (setFading), replicas run in parallel and each one's output passes a
// raised-cosine blend (AudioCrossfade.h) on its way out: a replica added while the process runs
// fades in from silence; a dropped one fades out and is only destroyed at the first sub-block
// boundary after its fade ended (it no longer counts as active meanwhile). Growing again
// while replicas fade out destroys those first.
//
// Not thread-safe: built on one thread, then run on the audio thread. A relayout allocates
// (it is a structural change); the steady state does not.

#include "Audio/AudioCrossfade.h"
#include "Audio/AudioProcessBase.h"

#include <memory>
#include <vector>

namespace zel
{

class CAudioProcessDefBase;

// One replica: the holder object of a copy of the stage processes (its children), with its
// index in the replica list.
class CAudioProcessReplica : public CObject
{
public:
    static void registerClass(CClassInfo& info);

    std::int32_t index() const { return m_index; }
    void setIndex(std::int32_t index) { m_index = index; }
    // The element offset the processes built inside take over; -1 (the default): theirs
    // comes from the enclosing process.
    std::int32_t elementOffset() const { return m_elementOffset; }
    void setElementOffset(std::int32_t offset) { m_elementOffset = offset; }
    // The stages in signal order.
    const std::vector<CAudioProcessBase*>& stages() const { return m_stages; }
    CAudioProcessBase& firstStage() const { return *m_stages.front(); }
    CAudioProcessBase& lastStage() const { return *m_stages.back(); }

    // Instantiates def as the next stage, named name, with the given collector path, and
    // connects its insides. With asContainer the stage is a plain container built from a
    // container definition (the replicated definition itself), else the definition's own
    // process class.
    CErrorPtr addStage(const CAudioProcessDefBase& def, const CText& name,
                       std::shared_ptr<const CAudioProcessSetup> setup, const CText& path,
                       bool asContainer, CAudioProcessBase*& stage);

    enum class EFade
    {
        kSteady,
        kIn,
        kOut
    };
    EFade fade() const { return m_fade; }

private:
    friend class CAudioProcessReplicaBase;

    bool fadeRunning() const;

    std::int32_t m_index = 0;
    std::int32_t m_elementOffset = -1;
    std::vector<CAudioProcessBase*> m_stages;
    // With fading: the last stage's output per channel, and what leaves after the blend.
    std::vector<CAudioInputChannel> m_tapIn;
    std::vector<CAudioOutputChannel> m_tapOut;
    std::vector<CAudioCrossfade> m_fades;
    EFade m_fade = EFade::kSteady;
};

class CAudioProcessReplicaBase : public CAudioProcessBase
{
public:
    // Drops the wiring (the replicas go after, with the children).
    ~CAudioProcessReplicaBase() override;

    static void registerClass(CClassInfo& info);

    void flush() override;
    CErrorPtr process(std::int32_t length) override;
    CErrorPtr connect() override;
    std::int64_t pendingChangePosition() const override;

    // Replicas, fading-out ones included (they are the last ones).
    std::int32_t replicaCount() const { return static_cast<std::int32_t>(m_replicas.size()); }
    // Replicas that are not fading out.
    std::int32_t activeReplicaCount() const;
    bool isFading() const { return m_fading; }
    CAudioProcessReplica& replica(std::int32_t index) const
    {
        return *m_replicas[static_cast<std::size_t>(index)];
    }
    // Set when a controlling input changed; the next sub-block relayouts first.
    bool isLayoutDirty() const { return m_layoutDirty; }
    // Relayouts now (build time and tests); process() does it on its own when dirty.
    CErrorPtr relayout();
    // Asks for a relayout before the next sub-block (the group changed, for instance).
    void markLayoutDirty() { m_layoutDirty = true; }

    // The index of the nearest replica of a process of class T holding the given process, -1
    // when the object is not inside one.
    template <class T>
    static std::int32_t replicaIndexOf(const CObject& object)
    {
        for (const CObject* at = &object; at != nullptr; at = at->parent())
        {
            const auto* replica = dynamic_cast<const CAudioProcessReplica*>(at);
            if (replica != nullptr && dynamic_cast<const T*>(replica->parent()) != nullptr)
                return replica->index();
        }
        return -1;
    }

protected:
    // The number of replicas the controlling inputs ask for now (at least 1).
    virtual std::int32_t wantedReplicas() const = 0;
    // Builds the stages of a new replica (its index is set).
    virtual CErrorPtr buildReplica(CAudioProcessReplica& replica) = 0;
    // Makes the connections of the current replica list with link() (inputs are the channels
    // of sourceChannel(), outputs those of sinkChannel()).
    virtual void wire() = 0;

    // Blends added and dropped replicas over seconds (at least 0.0001 s); build time only.
    void setFading(double seconds);
    // With fading: links the replica's output channel c (last) through its blend and returns
    // the channel that leaves it; without: returns last.
    CAudioOutputChannel& faded(CAudioOutputChannel& last, CAudioProcessReplica& replica,
                               std::int32_t channel);

    // Connects an output channel to an input channel with a connection this process owns.
    void link(CAudioOutputChannel& from, CAudioInputChannel& to);
    // What arrives at input port 0 channel c, as a source for the wiring.
    CAudioOutputChannel& sourceChannel(std::int32_t channel);
    // What leaves at output port 0 channel c, as a destination for the wiring.
    CAudioInputChannel& sinkChannel(std::int32_t channel);
    // Links channel c from `from` through the replica's stages; returns the last stage's
    // output channel.
    CAudioOutputChannel& chain(CAudioOutputChannel& from, CAudioProcessReplica& replica,
                               std::int32_t channel);

private:
    struct CWire
    {
        CAudioOutputChannel* from = nullptr;
        CAudioInputChannel* to = nullptr;
        std::unique_ptr<CAudioConnection> connection;
    };

    void unwire();
    CErrorPtr forwardOutputs(std::int32_t n);
    void destroyLast();
    CErrorPtr startFades(CAudioProcessReplica& replica, CAudioProcessReplica::EFade fade);
    CErrorPtr runFades(CAudioProcessReplica& replica);
    CErrorPtr zeros(std::int32_t n, std::uint32_t& ref);

    std::vector<CAudioProcessReplica*> m_replicas;
    std::vector<CWire> m_wires;
    CAudioOutputPort m_source; // fed from input port 0
    CAudioInputPort m_sink;    // feeds output port 0
    bool m_layoutDirty = true;
    bool m_running = false; // audio has run: layout changes blend from now on
    bool m_fading = false;
    double m_fadeLength = CAudioCrossfade::kMinLength;
    std::uint32_t m_zero = 0; // a buffer of silence for the blends
    std::int32_t m_zeroLength = 0;
};

} // namespace zel
