#pragma once
// CModMeterCorr ("audio:modMeterCorr", definition CModMeterCorrDef): the correlation meter of
// channel pairs. Channels pair up in order, (0, 1), (2, 3), ...; a last channel without a
// partner is not measured. A whole-channel instance measures every pair; otherwise the
// instance of a pair's first channel measures the pair and the second channel's instance only
// passes its audio on.
//
// Per pair: a state slot (cut-off, coefficient, running means, last correlation) and a result
// slot (CModMeterResult, one field: the correlation), published once per block by
// "DCDAW_metercorrsub" with the slot marked notify-on-use. The published value is the
// correlation after the previous block, in [-1, 1]; silence gives 0.
//
// Like every meter it is a side-effect process: output port 0 carries input port 0 unchanged,
// by reference, on every channel.
//
// Parameter inputs: 0 "avgtime" (seconds, default 1, clamped to 0.001..5 s), 1 the
// "<meter name>-enable" switch (on when unbound). The running means use the cut-off
// f = 1 / (1.3643161 * avgtime), so a correlation meter averages exactly as fast as a level
// meter with that integration time. A new "avgtime" retunes the coefficient in place;
// switching the meter on restarts it from correlation 0. While off it issues no kernel and
// holds no buffer slot (its state and result slots go back to the pool and are taken again
// when it is switched on).
// Definition attribute "is-inverted": the result info tells the display to show the value
// inverted; the published value itself is not changed.

#include "Audio/AudioProcessDef.h"
#include "Audio/AudioProcessTerminal.h"
#include "Audio/Processes/ModMeterResult.h"

#include <memory>
#include <vector>

namespace zel
{

class CModMeterCorrModule : public CAudioModuleBase
{
public:
    static constexpr std::int32_t kAvgTimeInput = 0;
    static constexpr std::int32_t kEnableInput = 1;

    CErrorPtr start(CAudioProcessTerminalBase& owner, std::int32_t channel) override;
    CErrorPtr update(CAudioProcessTerminalBase& owner) override;
    CErrorPtr process(CAudioModuleBlock& block) override;
    void stop(CAudioProcessTerminalBase& owner) override;
    // Switched off, a meter keeps no state: an unread meter that is off need not run.
    bool isIdleWhenUnread() const override;

    // The pairs this instance measures, by their first channel.
    std::size_t resultCount() const { return m_pairs.size(); }
    std::int32_t channelOf(std::size_t index) const { return m_pairs[index]->channel; }
    std::uint32_t stateRef(std::size_t index) const { return m_pairs[index]->stateRef; }
    CModMeterResult& result(std::size_t index) { return m_pairs[index]->result; }
    bool isDisplayInverted() const { return m_inverted; }

    // The cut-off frequency of the running means for an averaging time.
    static double cutoffFor(double seconds);

private:
    struct CPair
    {
        std::int32_t channel = 0; // the first; the second is channel + 1
        std::uint32_t stateRef = 0;
        bool taken = false;
        double avgTime = 1.0;
        bool enabled = true;
        CModMeterResult result;
    };

    CErrorPtr initialise(CDCDAWContextObject& context, CPair& pair) const;
    CErrorPtr acquire(CDCDAWContextObject& context, CPair& pair) const;
    static void releaseSlots(CDCDAWContextObject& context, CPair& pair);

    std::int32_t m_channel = -1;
    std::vector<std::unique_ptr<CPair>> m_pairs;
    double m_sampleRate = 44100.0;
    std::uint8_t* m_processFlag = nullptr;
    bool m_inverted = false;
    const CDCDAWKernel* m_init = nullptr;
    const CDCDAWKernel* m_publish = nullptr;
};

class CModMeterCorr : public CModMeterProcess<CModMeterCorrModule>
{
};

class CModMeterCorrDef : public CAudioProcessDefBase
{
public:
    static void registerClass(CClassInfo& info);
    CErrorPtr makeProcess(TObjectPtr<CAudioProcessBase>& process) const override;

    bool isInverted() const { return m_inverted; }

private:
    bool m_inverted = false;
};

} // namespace zel
