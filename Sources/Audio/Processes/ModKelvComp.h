#pragma once
// CModKelvComp ("audio:modKelvComp", definition CModKelvCompDef, per-channel instance
// CModKelvCompModule): the gain computer of a band. Its input is a non-negative level signal
// per channel (it does not rectify); its output is the gain factor g for every sample, a
// control signal that a following module multiplies into the audio. The per-sample law, the
// attack/release smoothing and the mean-square detector live in the gain computer kernels
// (Audio/Kernels/DCDAWGainComputer.h); this module binds the parameters, keeps each channel's
// state record in a kernel context slot and issues the kernel calls once per block.
//
// Parameter inputs ("audio:param-alloc" indices), read per channel, with the value used when
// an input is not bound:
//   0 threshold T, linear amplitude         0
//   1 ratio R, slope above the threshold    1.0
//   2 range L, linear factor                30.0
//   3 attack time, seconds                  0.01
//   4 release time, seconds                 0.15
//   5 inverse mode, on from 0.5             off
//   6 RMS detector, on from 0.5             off
//
// Lifecycle of a channel: start fills a state record and issues "DCDAW_kelvcompi" (g = 1,
// m = 0). Whenever any input changed, a fresh record is filled and "DCDAW_kelvcompu" carries
// g and m over from the running one, so a setting change never resets the gain. The rms input
// picks the processing kernel ("DCDAW_kelvcomprms" or "DCDAW_kelvcomp") each time a record is
// built.
//
// Structural changes: a change of the inverse or RMS switch changes the law's kind rather than
// its numbers. The old record then keeps running with its previous settings next to the new
// one and the output crossfades from the old gain signal to the new over "xfade-length"
// (CAudioCrossfade); the old record is released when the blend ends. Every other change is
// applied in place and the old record is released at once. A structural change during a blend
// drops the oldest record.
//
// No setting makes the output equal to the input, so the module always issues a kernel. An
// unconnected level input runs the law on silence.

#include "Audio/AudioCrossfade.h"
#include "Audio/AudioProcessDef.h"
#include "Audio/AudioProcessTerminal.h"

#include <array>

namespace zel
{

class CModKelvCompModule : public CAudioModuleBase
{
public:
    enum EInput : std::int32_t
    {
        kInputThreshold = 0,
        kInputRatio = 1,
        kInputRange = 2,
        kInputAttack = 3,
        kInputRelease = 4,
        kInputInverse = 5,
        kInputRms = 6,
        kInputCount = 7
    };

    CErrorPtr start(CAudioProcessTerminalBase& owner, std::int32_t channel) override;
    CErrorPtr update(CAudioProcessTerminalBase& owner) override;
    CErrorPtr process(CAudioModuleBlock& block) override;
    void stop(CAudioProcessTerminalBase& owner) override;
    // Outside a blend a run is one kernel call on this channel's buffers.
    bool isPairable() const override { return !m_fade.isRunning(); }

    // Inspection for tests and diagnostics.
    bool isCrossfading() const { return m_fade.isRunning(); }
    bool usesRms() const;

private:
    struct CSettings
    {
        std::array<double, kInputCount> values{};
        bool inverse() const;
        bool rms() const;
        bool operator==(const CSettings& other) const;
    };
    // One running copy of the law: its settings, its state record and its kernel.
    struct CCopy
    {
        CSettings settings;
        std::uint32_t state = 0;
        bool hasState = false;
        const CDCDAWKernel* kernel = nullptr;
    };

    CSettings settingsOf(const CAudioProcessTerminalBase& owner) const;
    // Takes a record for settings and initialises it ("DCDAW_kelvcompi"), or, with a running
    // copy to continue from, updates it from that copy ("DCDAW_kelvcompu").
    CErrorPtr makeCopy(CDCDAWContextObject& context, const CSettings& settings, const CCopy* from,
                       CCopy& copy) const;
    static void dropCopy(CDCDAWContextObject& context, CCopy& copy);

    std::int32_t m_channel = 0;
    double m_sampleRate = 44100.0;
    double m_fadeSeconds = CAudioCrossfade::kMinLength;
    CCopy m_current;
    CCopy m_previous; // while the blend runs
    CAudioCrossfade m_fade;

    const CDCDAWKernel* m_init = nullptr;
    const CDCDAWKernel* m_update = nullptr;
    const CDCDAWKernel* m_run = nullptr;
    const CDCDAWKernel* m_runRms = nullptr;
    const CDCDAWKernel* m_fill0 = nullptr;
};

class CModKelvComp : public CAudioProcessTerminal<CModKelvCompModule>
{
};

class CModKelvCompDef : public CAudioProcessDefBase
{
public:
    static void registerClass(CClassInfo& info);
    CErrorPtr makeProcess(TObjectPtr<CAudioProcessBase>& process) const override;
};

} // namespace zel
