#pragma once
// CModMeter ("audio:modMeter", definition CModMeterDef): the level meter. One CModMeterModule
// per channel (or one for all channels with "is-terminal-whole") keeps, per measured channel,
// the meter state record and the ring of sub-block extremes in one slot of its own (state
// first, ring after it) and a result record in another (CModMeterResult: level and peak as
// amplitudes), published once per block through the publishing kernel with the slot marked
// notify-on-use.
//
// A meter is a side-effect process: output port 0 carries input port 0 unchanged, passed on by
// reference with no kernel, whatever the settings (enabled or not). A channel whose input is
// not connected is neither measured nor output.
//
// Definition attributes (besides the common ones):
//   "is-compression"  track minima ("DCDAW_meterc"/"DCDAW_metersubc"), for gain signals
//   "is-diff"         two inputs: port 0 measured against port 1 ("DCDAW_meterd"/
//                     "DCDAW_metersubd"), the level being the ratio of their mean squares;
//                     a channel without a port 1 input is not measured. Takes precedence over
//                     "is-compression".
//   "is-inverted"     with "is-diff" the ratio is inverted (port 1 over port 0) by the kernel;
//                     without it the values are published as they are and the result info
//                     tells the display to show them inverted
//   "viz-fps"         update rate u in Hz (inherited from enclosing definitions; without it
//                     the environment's "viz-fps", else 30). Sub-block S = round(fs/u), ring
//                     R = round(peak-time * fs / S), both at least 1.
// The level starts from 0, or from 1 (unity) for compression and two-input meters.
//
// Parameter inputs, by binding index (times in seconds, gains in dB):
//   0 "peak-time" (1), 1 "rms-time" (0.1), 2 "gain" (0), 3 "bias-time", 4 "use-bias",
//   5 "release" (0.5), 6 "peakgain" (0), 7 "rms-time2" (0.1), 8 "release2", 9 "use-time2" (off),
//   10 the "<meter name>-enable" switch (on when unbound).
// "rms-time" is the integration time and "release" the release time. The kernel's third time
// (the integration time of the second input) is "rms-time2" while "use-time2" is on, else
// "rms-time". "gain" scales both published values, "peakgain" the peak on top of it.
// "bias-time", "use-bias" and "release2" are bound for the description's sake; the meter
// kernels have no use for them. Times are clamped: peak 0.001..10 s, integration
// 0.0001..5 s, release 0..5 s.
//
// Changes: a new integration or release time retunes the coefficients in place (the meter
// keeps its levels); a new ring length, and switching the meter on, start it afresh from its
// initial level. The audio never changes, so nothing is crossfaded. While switched off the
// meter issues no kernel, publishes nothing and holds no buffer slot: switching it off gives
// its state and result slots back to the pool, switching it on takes them again (a many-band
// tree can only afford its meters while few of them are shown). The result of a meter that is
// off has no slot (its reference is invalid and its flag stays down).

#include "Audio/AudioProcessDef.h"
#include "Audio/AudioProcessTerminal.h"
#include "Audio/Processes/ModMeterResult.h"

#include <memory>
#include <vector>

namespace zel
{

class CModMeterModule : public CAudioModuleBase
{
public:
    enum EInput : std::int32_t
    {
        kPeakTimeInput = 0,
        kRmsTimeInput = 1,
        kGainInput = 2,
        kBiasTimeInput = 3,
        kUseBiasInput = 4,
        kReleaseInput = 5,
        kPeakGainInput = 6,
        kRmsTime2Input = 7,
        kRelease2Input = 8,
        kUseTime2Input = 9,
        kEnableInput = 10
    };

    CErrorPtr start(CAudioProcessTerminalBase& owner, std::int32_t channel) override;
    CErrorPtr update(CAudioProcessTerminalBase& owner) override;
    CErrorPtr process(CAudioModuleBlock& block) override;
    void stop(CAudioProcessTerminalBase& owner) override;
    // Switched off, a meter keeps no state: an unread meter that is off need not run.
    bool isIdleWhenUnread() const override;

    std::uint32_t subBlockLength() const { return m_subBlock; }
    // The measured channels of this instance.
    std::size_t resultCount() const { return m_meters.size(); }
    std::int32_t channelOf(std::size_t index) const { return m_meters[index]->channel; }
    // The slot of a channel's state record (the ring follows the state).
    std::uint32_t stateRef(std::size_t index) const { return m_meters[index]->stateRef; }
    CModMeterResult& result(std::size_t index) { return m_meters[index]->result; }
    bool isDisplayInverted() const { return m_inverted && !m_diff; }

private:
    struct CSettings
    {
        double peakTime = 1.0;
        double rmsTime = 0.1;
        double thirdTime = 0.1;
        double release = 0.5;
        double scale = 1.0;     // linear "gain"
        double peakScale = 1.0; // linear "peakgain"
        bool enabled = true;
    };
    struct CMeter
    {
        std::int32_t channel = 0;
        std::uint32_t stateRef = 0;
        bool taken = false;
        std::uint32_t ringLength = 1;
        CSettings settings;
        CModMeterResult result;
    };

    CSettings settingsOf(const CAudioProcessTerminalBase& owner, std::int32_t channel) const;
    std::uint32_t ringLengthFor(double peakTime) const;
    // Fills the state record from the settings and issues the initialiser.
    CErrorPtr initialise(CDCDAWContextObject& context, CMeter& meter);
    // New integration, release and third times without touching the levels.
    void retune(CDCDAWContextObject& context, CMeter& meter) const;
    // Takes the state and result slots and initialises the meter; gives them back.
    CErrorPtr acquire(CDCDAWContextObject& context, CMeter& meter);
    static void releaseSlots(CDCDAWContextObject& context, CMeter& meter);

    std::vector<std::unique_ptr<CMeter>> m_meters;
    double m_sampleRate = 44100.0;
    std::uint32_t m_subBlock = 1;
    std::uint32_t m_ringCapacity = 1;
    std::uint8_t* m_processFlag = nullptr;
    bool m_compression = false;
    bool m_diff = false;
    bool m_inverted = false;
    const CDCDAWKernel* m_init = nullptr;
    const CDCDAWKernel* m_publish = nullptr;
    const CDCDAWKernel* m_scale = nullptr;
};

class CModMeter : public CModMeterProcess<CModMeterModule>
{
};

class CModMeterDef : public CAudioProcessDefBase
{
public:
    static void registerClass(CClassInfo& info);
    CErrorPtr makeProcess(TObjectPtr<CAudioProcessBase>& process) const override;

    bool isCompression() const { return m_compression; }
    bool isDiff() const { return m_diff; }
    bool isInverted() const { return m_inverted; }

    CErrorPtr onVizFps(const CText& value);

private:
    bool m_compression = false;
    bool m_diff = false;
    bool m_inverted = false;
};

} // namespace zel
