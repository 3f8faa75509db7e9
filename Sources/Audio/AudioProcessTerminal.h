#pragma once
// CAudioProcessTerminalBase and CAudioProcessTerminal<Module>: the process of a module. It runs
// one module instance per channel, or one for all channels when the definition sets
// "is-terminal-whole". The module instance (a CAudioModuleBase subclass) holds the per-channel
// state and does the work; the terminal does the plumbing.
//
// Writing a module:
//   - class CModFooModule : public CAudioModuleBase, overriding
//       start(owner, channel)  build time: take state buffers from owner.context(), issue the
//                              initialisers (channel is -1 for a whole-channel instance);
//       update(owner)          per-block update, called when operation 4 changed a parameter
//                              input: read owner.paramValue(index, channel, fallback, ...) and
//                              rebuild state records, start a crossfade (AudioCrossfade.h) for
//                              structural changes;
//       process(block)         run block.length() samples: block.input(port) is a pool
//                              reference to the input samples (kNoInput when nothing is
//                              connected; reading never copies, never write to it),
//                              block.output(port, ref) takes a fresh buffer that is queued on
//                              the output's readers once process returns, block.passInput
//                              queues an input on an output unchanged; issue kernels with
//                              block.issue(kernel, x, {refs}) (n = block.length());
//       stop(owner)            release what start took (the context is still alive);
//       isIdleWhenUnread()     true when a run whose outputs nobody reads may be skipped:
//                              the module keeps no state that such a run would advance
//                              (the default is false, so every run happens);
//       isPairable()           true when this run may share kernel passes with the next
//                              channel's (the default is false): the run touches only its
//                              channel's buffers and its own state, and reads no output
//                              of a call it issued in the same run. The terminal then runs channels
//                              0 and 1 (2 and 3, ...) in the kernel context's lanes
//                              (DCDAWContext.h), so that the recursions of the two channels
//                              overlap; results are unchanged.
//     Resolve kernels once (findDCDAWKernel) at start, not per block.
//   - class CModFoo : public CAudioProcessTerminal<CModFooModule> (or use the template as is);
//   - class CModFooDef : public CAudioProcessDefBase whose makeProcess makes a CModFoo, and a
//     row "audio:modFoo" in the product type table.
// Parameter inputs are bound from the definition's "audio:param-alloc" children before start.
// Input length: every run covers the smallest front segment over the connected inputs, so
// every input holds at least block.length() samples; a module with no connected input runs the
// enclosing sub-block's length.
//
// Virtual operations 8 and 9 (after those of CAudioProcessBase): startModules, stopModules.

#include "Audio/AudioProcessBase.h"
#include "Audio/Kernels/DCDAWKernel.h"

#include <initializer_list>
#include <memory>
#include <vector>

namespace zel
{

class CAudioProcessTerminalBase;

// The inputs and outputs of one module run.
class CAudioModuleBlock
{
public:
    CAudioModuleBlock(CAudioProcessTerminalBase& owner, std::int32_t length, std::int32_t channel)
        : m_owner(owner), m_length(length), m_channel(channel)
    {
    }
    CAudioProcessTerminalBase& owner() const { return m_owner; }
    CDCDAWContextObject& context() const;
    std::int32_t length() const { return m_length; }
    // The module's channel; -1 for a whole-channel instance.
    std::int32_t channel() const { return m_channel; }
    double sampleRate() const;
    // channel -1: the module's own channel.
    std::uint32_t input(std::int32_t port, std::int32_t channel = -1) const;
    CErrorPtr output(std::int32_t port, std::uint32_t& ref, std::int32_t channel = -1);
    CErrorPtr passInput(std::int32_t inPort, std::int32_t outPort, std::int32_t channel = -1);
    // Queues ref (any taken buffer, shared with whoever else holds it) on an output.
    CErrorPtr shareOutput(std::int32_t outPort, std::uint32_t ref, std::int32_t channel = -1);
    CErrorPtr issue(const CDCDAWKernel& kernel, double x,
                    std::initializer_list<std::uint32_t> refs);

private:
    std::int32_t resolve(std::int32_t channel) const { return channel < 0 ? m_channel : channel; }

    CAudioProcessTerminalBase& m_owner;
    std::int32_t m_length;
    std::int32_t m_channel;
};

class CAudioModuleBase
{
public:
    virtual ~CAudioModuleBase() = default;
    virtual CErrorPtr start(CAudioProcessTerminalBase& owner, std::int32_t channel);
    virtual CErrorPtr update(CAudioProcessTerminalBase& owner);
    virtual CErrorPtr process(CAudioModuleBlock& block) = 0;
    virtual void stop(CAudioProcessTerminalBase& owner);
    virtual bool isIdleWhenUnread() const;
    virtual bool isPairable() const;
};

class CAudioProcessTerminalBase : public CAudioProcessBase
{
public:
    // Stops the modules.
    ~CAudioProcessTerminalBase() override;

    // Base initialisation, then startModules.
    CErrorPtr initFromDef(const CAudioProcessDefBase& def,
                          std::shared_ptr<const CAudioProcessSetup> setup,
                          const CText& instancePath) override;
    CErrorPtr process(std::int32_t length) override;
    // Runs the modules' update when an input changed.
    CErrorPtr updateBlock() override;

    // 8. Creates and starts the module instances.
    virtual CErrorPtr startModules();
    // 9. Stops and destroys them.
    virtual void stopModules();

    bool isWhole() const { return m_whole; }
    std::size_t moduleCount() const { return m_modules.size(); }
    CAudioModuleBase& moduleAt(std::size_t index) { return *m_modules[index]; }

protected:
    virtual std::unique_ptr<CAudioModuleBase> makeModule() = 0;

private:
    friend class CAudioModuleBlock;

    std::size_t slot(std::int32_t port, std::int32_t channel) const;
    // No reader wants any output channel, and every module may skip such a run.
    bool canSkipRun() const;
    bool canPairRuns() const;
    // Runs modules first and first + 1 in the context's lanes.
    CErrorPtr runPair(std::size_t first, std::int32_t n);

    bool m_whole = false;
    std::vector<std::unique_ptr<CAudioModuleBase>> m_modules;
    // Per (port, channel) of the current run.
    std::vector<std::uint32_t> m_inRefs;
    std::vector<char> m_inOwned;
    std::vector<std::uint32_t> m_outRefs;
    std::vector<std::uint32_t> m_scratch;
};

template <class Module>
class CAudioProcessTerminal : public CAudioProcessTerminalBase
{
public:
    Module& module(std::size_t index) { return static_cast<Module&>(moduleAt(index)); }

protected:
    std::unique_ptr<CAudioModuleBase> makeModule() override { return std::make_unique<Module>(); }
};

} // namespace zel
