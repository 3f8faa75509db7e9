#pragma once
// CModSwitchedOutput: the output stage shared by the per-channel modules whose settings pick one
// of a few signal sources (CModGain, CModBypass): an input passed on by reference, an input
// scaled by a constant ("DCDAW_mulc"), or anti-denormal noise alone ("DCDAW_denormn"). A switch
// to a different source is crossfaded over the definition's "xfade-length": while the blend
// runs, both the previous and the current source are rendered and mixed by CAudioCrossfade;
// afterwards the previous one is dropped.
//
// A noise source keeps its 32-bit seed in a kernel context slot of its own. Each noise source
// that starts takes its seed from a process-wide counter that grows by one per start, so two
// channels (or instances) never produce the same noise.
//
// Also: the tolerance rules for parameter values that these modules share (isZero, isOne,
// isOn). Not thread-safe; one instance belongs to one module instance on the audio thread.

#include "Audio/AudioCrossfade.h"
#include "Core/Error.h"

#include <cstdint>

namespace zel
{

class CAudioModuleBlock;
class CDCDAWContextObject;
class CObject;
struct CDCDAWKernel;

// Values within the double-precision epsilon of 0 or 1 count as 0 or 1.
bool isZero(double value);
bool isOne(double value);
// A switch parameter is on from 0.5 up.
bool isOn(double value);
// The per-channel modules of this family run one instance per channel; a whole-channel
// instance (channel -1, "is-terminal-whole") is refused with an error naming the process.
CErrorPtr requirePerChannel(const CObject& process, std::int32_t channel);

class CModSwitchedOutput
{
public:
    enum class EKind
    {
        kInput,  // input `port` unchanged (no kernel); an unconnected port other than 0
                 // reads port 0 instead, and an unconnected port 0 gives silence
        kScaled, // input `port` times `factor`
        kNoise,  // +-1e-11 noise
    };
    struct CSource
    {
        EKind kind = EKind::kInput;
        std::int32_t port = 0;
        double factor = 1.0;

        bool operator==(const CSource& other) const;
    };

    // Resolves the kernels and starts on `initial` without a blend.
    CErrorPtr start(CDCDAWContextObject& context, const CSource& initial, double fadeSeconds,
                    double sampleRate);
    // Switches to `next` (nothing happens when it equals the current source). A switch during
    // a running blend drops the oldest source and blends from the current one.
    CErrorPtr change(CDCDAWContextObject& context, const CSource& next);
    // Renders block.length() samples on output port 0 of the block's channel.
    CErrorPtr process(CAudioModuleBlock& block);
    // Releases the seed slots and the blend state.
    void stop(CDCDAWContextObject& context);

    const CSource& current() const { return m_current.source; }
    bool isFading() const { return m_fade.isRunning(); }
    // No blend runs and the source keeps no state (no noise seed): a skipped run changes
    // nothing that a later one would show.
    bool isStateless() const { return !isFading() && m_current.source.kind != EKind::kNoise; }

    // Takes the next seed of the process-wide counter (the counter grows by one).
    static std::uint32_t takeNoiseSeed();
    // The seed the next noise source will take.
    static std::uint32_t peekNextSeed();

private:
    struct CCopy
    {
        CSource source;
        std::uint32_t seedRef = 0;
        bool hasSeed = false;
    };

    CErrorPtr makeCopy(CDCDAWContextObject& context, const CSource& source, CCopy& copy);
    static void dropCopy(CDCDAWContextObject& context, CCopy& copy);
    // Renders copy into dst, or gives the input reference itself for an unchanged input.
    CErrorPtr render(const CCopy& copy, CAudioModuleBlock& block, std::uint32_t dst,
                     std::uint32_t& result) const;

    CCopy m_current;
    CCopy m_previous;
    CAudioCrossfade m_fade;
    double m_fadeSeconds = CAudioCrossfade::kMinLength;
    double m_sampleRate = 44100.0;
    const CDCDAWKernel* m_mulc = nullptr;
    const CDCDAWKernel* m_noise = nullptr;
    const CDCDAWKernel* m_fill0 = nullptr;
};

} // namespace zel
