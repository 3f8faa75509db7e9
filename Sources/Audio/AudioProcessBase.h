#pragma once
// CAudioProcessBase: the base of every run-time process of the audio graph (containers, module
// processes, connection points). A process is an object of the instance tree (its children are
// its child processes), built from a definition (AudioProcessDef.h), with:
//   - input and output ports, each with one channel per internal channel; a channel holds the
//     connections (AudioConnection.h) from or to other processes, made by connect() from the
//     links of the enclosing container, matched by channel number;
//   - the parameter instances of the "audio:param" definitions of its definition, registered in
//     the collector under "<instance path>.<parameter name>". A child's instance path is its
//     container's path, ".", and its definition's name, so the instance tree repeats the
//     names of the definition tree: the root definition "audio.modMain" instantiated as
//     "plugin.modMain" puts every parameter at its definition's path with "audio" replaced by
//     "plugin" (which the registry's "def-name-remap" plugin=audio maps back);
//   - parameter lookup for bindings: the name is first replaced by the nearest
//     "audio:param-remap" whose "orig" matches (this definition, then its enclosing ones);
//     "/a.b" is the instance path a.b; any other name is tried below this process's path, then
//     below each enclosing process's path, then as a full path;
//   - the parameter filters ("audio:param-filter-...") declared in its definition: each gets a
//     copy of its own, connected through the collector with the process's instance path as
//     scope right after the parameters are registered (so destinations hold their computed
//     values before any input is bound), and disconnected when the process goes;
//   - its bound parameter inputs (AudioParamInput.h), numbered by the "index" of the
//     "audio:param-alloc" bindings of its definition;
//   - its element offset: the element that per-element inputs read in place of element 0.
//     A process takes it over from where it is built: from a replica that sets one (a band of
//     a multiband process sets its band index), else from its enclosing process, else 0. So
//     every module of a band chain reads its band's entry of a per-band list unawares;
//   - its change queue: the process is a CAudioParamChangeSink bound in the collector to the
//     id of every parameter it uses; entries wait there, referenced, until operation 4 applies
//     and releases them;
//   - its process time, kept in samples (seconds = samples / sample rate).
//
// Virtual operations, in this order (after those of CObject):
//   1. destructor;
//   2. initFromDef: initialisation from the definition (parameters, bindings, children);
//   3. flush: drop every queued segment of the process's connections;
//   4. applyParamChanges(position): apply every queued entry stamped at or before the given
//      sample position (the start of the coming sub-block) to the inputs bound to its
//      parameter (or to all for the wildcard 9999), then release it;
//   5. process(length): run what is queued at the inputs (length is the enclosing sub-block's
//      length, the amount a process without inputs produces);
//   6. connect: create the per-channel connections of the links (containers), recursively;
//   7. updateBlock: the per-block update, called after operation 4 and before operation 5 on
//      every sub-block; modules rebuild their kernel state here when their inputs changed
//      (inputsChanged()) and start crossfades for structural changes. Containers leave it empty.
//
// Time stamps: an entry stamped t seconds lies at sample position ceil(t * sample rate); it is
// applied at the first sub-block boundary at or after that position (containers split
// sub-blocks there), so a change lands on the first sub-block that starts after its stamp.
//
// Audio is counted in samples everywhere (segments, lengths, positions).
//
// Not thread-safe: built on one thread, then run on the audio thread. The kernel context, the
// collector and the environment must outlive the processes.

#include "Audio/AudioConnection.h"
#include "Audio/AudioParamChange.h"
#include "Audio/AudioParamInput.h"
#include "Core/Object.h"

#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

namespace zel
{

class CAudioEnv;
class CAudioParam;
class CAudioParamCollector;
class CAudioProcessDefBase;
class CDCDAWContextObject;

// What every process of one instance shares. The creator keeps it alive with the tree.
struct CAudioProcessSetup
{
    CDCDAWContextObject* context = nullptr;    // required
    CAudioEnv* env = nullptr;                  // sample rate and block length; optional
    CAudioParamCollector* collector = nullptr; // parameters; optional (no parameters then)
    std::int32_t channelCount = 2;             // internal channels of every port
    std::int32_t groupCount = 1;               // channel groups of the parameters
    // The channel group of each channel; channels past the list are in group 0.
    std::vector<std::int32_t> channelGroups;
    double fallbackSampleRate = 44100.0; // without an environment
    std::int32_t fallbackMaxBlock = 512;
    // Processes between an up- and a down-sampler run at a multiple of the host's rate, with
    // blocks as many times longer: both accessors below include this factor.
    std::int32_t rateFactor = 1;

    double sampleRate() const;
    std::int32_t maxBlockLength() const;
    std::int32_t groupOf(std::int32_t channel) const;
};

struct CAudioInputChannel
{
    std::vector<CAudioConnection*> sources;
};
struct CAudioOutputChannel
{
    std::vector<CAudioConnection*> readers;
};
struct CAudioInputPort
{
    std::vector<CAudioInputChannel> channels;
};
struct CAudioOutputPort
{
    std::vector<CAudioOutputChannel> channels;
};

class CAudioProcessBase : public CObject, public CAudioParamChangeSink
{
public:
    static constexpr std::int32_t kUnlimited = 99999999;
    static constexpr std::uint32_t kNoInput = 0xFFFFFFFFu;

    CAudioProcessBase();
    // 1. Unbinds from the collector, removes the parameters it registered, releases queued
    // entries and the segments of the connections it owns.
    ~CAudioProcessBase() override;

    static void registerClass(CClassInfo& info);

    // Builds the process tree of def under parent as child name: makes the process, attaches
    // it and initialises it. instancePath is the collector path of the new process.
    static CErrorPtr instantiate(const CAudioProcessDefBase& def, CObject& parent,
                                 const CText& name, std::shared_ptr<const CAudioProcessSetup> setup,
                                 const CText& instancePath, CAudioProcessBase*& process);

    // ---- Virtual operations ----
    // 2. The base reads the flags, instantiates the parameters and binds the inputs.
    virtual CErrorPtr initFromDef(const CAudioProcessDefBase& def,
                                  std::shared_ptr<const CAudioProcessSetup> setup,
                                  const CText& instancePath);
    // 3.
    virtual void flush();
    // 4.
    virtual CErrorPtr applyParamChanges(std::int64_t position);
    // 5. The base passes input port 0 to output port 0 by reference.
    virtual CErrorPtr process(std::int32_t length);
    // 6. The base has nothing to connect.
    virtual CErrorPtr connect();
    // 7. The base does nothing.
    virtual CErrorPtr updateBlock();

    // The earliest sample position of a queued entry of this process or, for containers, of
    // any process inside it; kNoChange when none is queued.
    static constexpr std::int64_t kNoChange = std::numeric_limits<std::int64_t>::max();
    virtual std::int64_t pendingChangePosition() const;

    // Runs the coming input as bypassed: input port `port` passes unchanged to output port 0;
    // everything else queued at the inputs is consumed and dropped.
    CErrorPtr bypass(std::int32_t port);

    // ---- Ports ----
    CAudioInputPort& inputPort(std::int32_t port);   // made on first use (build time)
    CAudioOutputPort& outputPort(std::int32_t port); // made on first use (build time)
    std::int32_t inputPortCount() const { return static_cast<std::int32_t>(m_inputs.size()); }
    std::int32_t outputPortCount() const { return static_cast<std::int32_t>(m_outputs.size()); }
    // A connection owned by this process that feeds input port/channel from outside the graph
    // (the host side pushes the block's samples into it).
    CAudioConnection& feedInput(std::int32_t port, std::int32_t channel);
    // A connection owned by this process that collects output port/channel for the host side.
    CAudioConnection& tapOutput(std::int32_t port, std::int32_t channel);
    // Makes a connection owned by this process from one channel list to another.
    CAudioConnection& makeConnection(CAudioOutputChannel& from, CAudioInputChannel& to);

    // ---- Run-time state ----
    const CAudioProcessDefBase* definition() const { return m_def; }
    const CAudioProcessSetup& setup() const { return *m_setup; }
    const std::shared_ptr<const CAudioProcessSetup>& sharedSetup() const { return m_setup; }
    CDCDAWContextObject& context() const;
    const CText& instancePath() const { return m_instancePath; }
    std::int32_t channelCount() const { return m_setup ? m_setup->channelCount : 0; }
    double sampleRate() const { return m_setup->sampleRate(); }
    std::int64_t position() const { return m_position; }
    // A position counted in the samples of another process, in this process's own samples
    // (the two differ across an up- or down-sampler); towards the lower rate it rounds up, so
    // a change due at the converted position is due at the original one. kNoChange stays.
    std::int64_t positionFrom(std::int64_t position, const CAudioProcessBase& other) const
    {
        const std::int64_t mine = m_setup ? m_setup->rateFactor : 1;
        const std::int64_t theirs = other.m_setup ? other.m_setup->rateFactor : 1;
        if (mine == theirs || position == kNoChange || position < 0)
            return position;
        return mine > theirs ? position * (mine / theirs)
                             : (position + theirs / mine - 1) / (theirs / mine);
    }
    // Moves this process alone (not its children) to another setup, such as the same setup at
    // another rate factor; its position is rescaled to the new rate. The caller restarts what
    // depends on the rate.
    void rebaseSetup(std::shared_ptr<const CAudioProcessSetup> setup)
    {
        const std::int32_t from = m_setup ? m_setup->rateFactor : 1;
        m_setup = std::move(setup);
        m_position = m_position * m_setup->rateFactor / from;
    }
    double processTime() const;
    // The channel group this process works for where one is needed (bypass states); a stack
    // sets it per instance. Group 0 by default.
    std::int32_t group() const { return m_group; }
    void setGroup(std::int32_t group) { m_group = group; }
    // See the class comment. Set before the process is initialised to take effect on its
    // modules' first reads; processes built inside it later take it over.
    std::int32_t elementOffset() const { return m_elementOffset; }
    void setElementOffset(std::int32_t offset) { m_elementOffset = offset; }

    // ---- Parameters ----
    // The parameter instances made for this process's definition.
    const std::vector<std::unique_ptr<CAudioParam>>& params() const { return m_params; }
    // Input by its binding index; an unbound input when no binding has that index.
    const CAudioParamInput& paramInput(std::int32_t index) const;
    std::int32_t paramInputCount() const { return static_cast<std::int32_t>(m_inputsIn.size()); }
    // The value for a channel (looked up in the channel's group), fallback when unbound. The
    // element offset is added to element for inputs that follow it and hold more than one
    // element (one element is a single value, the same for every offset).
    double paramValue(std::int32_t index, std::int32_t channel, double fallback,
                      std::int32_t element = 0, std::int32_t valueIndex = 0) const;
    // Set by operation 4 when an entry changed an input, cleared by clearInputsChanged.
    bool inputsChanged() const { return m_inputsChanged; }
    void clearInputsChanged() { m_inputsChanged = false; }
    std::size_t queuedChangeCount() const { return m_queue.size() - m_queueHead; }

    // CAudioParamChangeSink
    void queueParamChange(CAudioParamChange& change) override;

    // Sample position of a time stamp in seconds.
    static std::int64_t stampPosition(double seconds, double sampleRate);

protected:
    // Parts of initFromDef for subclasses that order them differently.
    CErrorPtr initCommon(const CAudioProcessDefBase& def,
                         std::shared_ptr<const CAudioProcessSetup> setup,
                         const CText& instancePath);
    CErrorPtr bindParamInputs();
    // Resolves a parameter name as a binding of this process's definition sees it (remaps,
    // then absolute "/path" or the nearest enclosing scope); null when not registered.
    CAudioParam* resolveParam(const CText& name, CText& path, std::int32_t& id) const;
    // Binds an extra input (containers' bypass states): the sink is bound to its id.
    CErrorPtr bindInput(CAudioParamInput& input, const CText& name);

    // The next entry due at position (its reference passes to the caller, who releases it),
    // or null.
    CAudioParamChange* takeDueChange(std::int64_t position);

    // Smallest front-segment length over the active sources of every input channel:
    // kUnlimited when nothing is connected, 0 when a connected source is empty.
    std::int32_t availableInput() const;
    static std::int32_t availableIn(const CAudioInputChannel& channel);
    // The length of the next run: availableInput(), or `length` when nothing is connected
    // (then `once` is set: that run is the only one of this call). 0: nothing to run.
    std::int32_t nextRunLength(std::int32_t length, bool& once) const;
    // The same, cut short at the next pending parameter change after position(), so that a
    // container's sub-blocks start where changes are due.
    std::int32_t nextSubBlock(std::int32_t length, bool& once) const;
    // Passes everything an inner channel holds on to `to` (null: consumes it); n samples of
    // silence when nothing is connected to it.
    CErrorPtr drainChannel(CAudioInputChannel& from, CAudioOutputChannel* to, std::int32_t n);
    // n samples of silence in a buffer this process keeps (taken on first use with room for
    // the larger of `capacity` and the maximum block length, released with the process).
    CErrorPtr silence(std::int32_t n, std::uint32_t& ref, std::int32_t capacity = 0);
    // Reads n samples of a channel: one source gives its front reference (owned false), several
    // are summed into a new buffer (owned true, release it), none gives kNoInput. A source with
    // fewer than n samples in its front segment is left out (silence).
    CErrorPtr readChannel(const CAudioInputChannel& channel, std::int32_t n, std::uint32_t& ref,
                          bool& owned);
    static void consumeChannel(CAudioInputChannel& channel, std::int32_t n);
    void consumeAllInputs(std::int32_t n);
    // Queues n samples of ref on every active reader.
    static CErrorPtr pushChannel(CAudioOutputChannel& channel, std::uint32_t ref, std::int32_t n);
    // Moves n samples from one channel list to another by reference (summing several sources).
    CErrorPtr forwardChannel(CAudioInputChannel& from, CAudioOutputChannel& to, std::int32_t n);
    void clearPorts();
    static void clearPorts(std::vector<CAudioInputPort>& inputs,
                           std::vector<CAudioOutputPort>& outputs);
    static CAudioInputPort& grow(std::vector<CAudioInputPort>& ports, std::int32_t port,
                                 std::int32_t channels);
    static CAudioOutputPort& grow(std::vector<CAudioOutputPort>& ports, std::int32_t port,
                                  std::int32_t channels);

    std::vector<CAudioParamInput>& inputs() { return m_inputsIn; }
    void advance(std::int32_t samples) { m_position += samples; }
    void markInputsChanged() { m_inputsChanged = true; }

    std::vector<CAudioInputPort> m_inputs;
    std::vector<CAudioOutputPort> m_outputs;

private:
    void releaseQueue();
    std::int32_t inheritedElementOffset() const;
    CErrorPtr connectFilters(const CAudioProcessDefBase& def);

    const CAudioProcessDefBase* m_def = nullptr;
    std::shared_ptr<const CAudioProcessSetup> m_setup;
    CText m_instancePath;
    std::int64_t m_position = 0;
    std::int32_t m_group = 0;
    std::int32_t m_elementOffset = 0;
    bool m_inputsChanged = false;
    std::vector<std::unique_ptr<CAudioParam>> m_params;
    std::vector<CText> m_paramPaths;
    std::vector<CObjectPtr> m_filters;
    std::vector<CAudioParamInput> m_inputsIn;
    std::vector<CAudioParamChange*> m_queue;
    std::size_t m_queueHead = 0;
    std::vector<std::unique_ptr<CAudioConnection>> m_ownedConnections;
    bool m_sinkBound = false;
    std::uint32_t m_silence = kNoInput;
};

} // namespace zel
