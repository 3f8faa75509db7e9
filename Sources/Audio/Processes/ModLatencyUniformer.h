#pragma once
// CModLatencyUniformer ("audio:modLatencyUniformer", definition CModLatencyUniformerDef,
// per-channel instance CModLatencyUniformerModule): delays its input so that the latency of
// the graph ahead of it plus its own delay equals a fixed value per sample rate, and reports
// that value as the plug-in's latency (the environment's latency).
//
// "latencies": entries "rate=latency" separated by ';' (for example "44100=502;48000=502"),
// rates and latencies whole numbers of samples; a latency written "undefined" marks a rate as
// unsupported. An entry without '=' or with a bad number fails with
// "Invalid latency entry '%1' specified.".
//
// At connect time and whenever the sample rate or the graph's latency changes (checked before
// every sub-block):
// the rate is rounded half away from zero; the first entry whose rate is not below it applies.
//   - none, or "undefined": the diagnostic "Unsupported sample rate %f in LatencyUniformer"
//     is written; the module then adds no delay and reports the graph's own latency;
//   - the graph's latency above the entry's: "Too high latency %i at sample rate %f in
//     LatencyUniformer" (the graph's latency, the rate); no delay, the graph's latency is
//     reported;
//   - otherwise the delay is the entry's latency minus the graph's, and the entry's latency is
//     reported.
// The graph's latency is the longest path from the enclosing container's input to this module
// (CLatencyPlan): run-time latencies of CLatencySource processes (the down-sampler's round
// trip), the declared latencies of CLatencyDef modules, nested containers followed inside.
//
// Delay line: a ring per channel holding delay + 256 samples or more, in whole blocks of the
// maximum block length, run by "DCDAW_copy" in pieces that never outrun the ring. A change of
// delay keeps the ring when it is still large enough (the read position jumps), otherwise a
// fresh silent ring is taken. A zero delay passes the input on without a kernel.

#include "Audio/AudioLatency.h"
#include "Audio/AudioProcessDef.h"
#include "Audio/AudioProcessTerminal.h"

#include <vector>

namespace zel
{

class CModLatencyUniformerModule : public CAudioModuleBase
{
public:
    CErrorPtr start(CAudioProcessTerminalBase& owner, std::int32_t channel) override;
    CErrorPtr process(CAudioModuleBlock& block) override;
    void stop(CAudioProcessTerminalBase& owner) override;

    // Sets the delay; the ring is sized for it in whole blocks of blockLength.
    CErrorPtr setDelay(CDCDAWContextObject& ctx, std::int32_t delay, std::int32_t blockLength);
    std::int32_t delay() const { return m_delay; }
    std::int32_t ringLength() const { return m_size; }

private:
    std::uint32_t m_ring = 0;
    bool m_hasRing = false;
    std::int32_t m_size = 0;
    std::int32_t m_write = 0;
    std::int32_t m_delay = 0;
    const CDCDAWKernel* m_copy = nullptr;
    const CDCDAWKernel* m_fill0 = nullptr;
};

class CModLatencyUniformer : public CAudioProcessTerminal<CModLatencyUniformerModule>
{
public:
    static constexpr std::int32_t kHeadroom = 256;

    static void registerClass(CClassInfo& info);
    // Plans the graph ahead.
    CErrorPtr connect() override;
    // Re-evaluates the delay when the rate or the graph's latency changed.
    CErrorPtr updateBlock() override;

    std::int32_t delay() const { return m_delay; }
    std::int32_t graphLatency() const { return m_graphLatency; }
    std::int32_t reportedLatency() const { return m_reported; }

private:
    CErrorPtr apply(double rate, std::int32_t graph);

    CLatencyPlan m_plan;
    double m_rate = 0.0;
    std::int32_t m_graphLatency = -1;
    std::int32_t m_delay = 0;
    std::int32_t m_reported = 0;
};

class CModLatencyUniformerDef : public CAudioProcessDefBase
{
public:
    static constexpr std::int32_t kUndefined = -1;
    struct CEntry
    {
        std::int64_t rate = 0;
        std::int32_t latency = kUndefined;
    };

    static void registerClass(CClassInfo& info);
    CErrorPtr makeProcess(TObjectPtr<CAudioProcessBase>& process) const override;
    CErrorPtr onLatencies(const CText& value);

    const std::vector<CEntry>& entries() const { return m_entries; }
    // The first entry whose rate is not below the rounded rate; null when there is none.
    const CEntry* entryFor(double sampleRate) const;

private:
    std::vector<CEntry> m_entries;
};

} // namespace zel
