// The whole instance with oversampling, meters and the latency uniformer in the main chain:
// the reported latency is the same at every oversampling level and filter choice and an
// impulse comes out where it says; at 2x the tree is still the band bank (run at the raised
// rate); the meters cost no buffer slots while off and 64 stereo bands with every meter on
// fit the pool; the running tree does not allocate; a listened meter delivers records.
#include "Audio/AudioParamRegistry.h"
#include "Audio/DCDAWContext.h"
#include "Audio/Plugin/PluginTestSupport.h"
#include "Audio/Processes/ModMeterResult.h"
#include "Audio/Processes/ModResampler.h"
#include "Support/AllocationCounter.h"

#include <functional>
#include <random>
#include <tuple>

namespace kelvtest
{
namespace
{

constexpr std::int32_t kLatency = 502;
const std::string kMain = "plugin.modMain.";
// The meter switches: the band meters' (in the spectral processor) and the output meters'.
const std::vector<std::string> kBandMeters = {"modMeterIn", "modMeterOut", "modMeterGR",
                                              "modMeterBal", "modMeterCorr"};
const std::vector<std::string> kOutputMeters = {"modMeterOut", "modMeterCorr"};

zel::CErrorPtr switchMeters(CPluginDriver& d, double on)
{
    for (const std::string& m : kBandMeters)
        ZEL_TRY(d.set(std::string(CPluginDriver::kKelv) + m + "-enable", 0, 0, on), "test");
    for (const std::string& m : kOutputMeters)
        ZEL_TRY(d.set(kMain + m + "-enable", 0, 0, on), "test");
    return nullptr;
}

// The linear-phase stages are symmetric: the round trip is a whole number of base-rate samples
// and the impulse's peak lands exactly on the latency (at 1x the uniformer's delay alone). The
// IIR half-band pairs are not linear-phase: the round trip is counted from their group delay at
// DC, while their impulse response spreads over a few samples and peaks one base-rate sample
// later (measured: peaks of 0.53 to 0.63 at 503, against 0.97 at 502 for the FIR stages).
TEST_F(CPluginTest, LatencyIsConstantAndAnImpulseLandsOnIt)
{
    for (const double rate : {44100.0, 48000.0})
        for (std::int32_t mode = 1; mode <= 4; ++mode) // "Auto;1x;2x;4x;8x" index
            for (const bool linearPhase : {true, false})
            {
                SCOPED_TRACE(testing::Message()
                             << rate << " Hz, mode " << mode << (linearPhase ? " FIR" : " IIR"));
                CPluginDriver& d = make(rate, 2);
                // Bypassed: the band bank stays out of the measurement, the resamplers stay in.
                ASSERT_FALSE(d.set(kMain + "oversampling", 0, 0, mode));
                ASSERT_FALSE(d.set(kMain + "lp-oversampling-enable", 0, 0, linearPhase));
                ASSERT_FALSE(d.set(kMain + "denorm-enable", 0, 0, 0.0));
                ASSERT_FALSE(d.set(kMain + "modBypass.enable", 0, 0, 1.0));
                d.processSilence(4096); // stage changes, fades and the filter switches settle
                ASSERT_EQ(idAndText(d.error()), "no error");
                EXPECT_EQ(d.latency(), kLatency);
                const auto out = d.process({impulse(2048, 1.0), impulse(2048, -1.0)});
                ASSERT_EQ(idAndText(d.error()), "no error");
                const std::size_t want = kLatency + (mode > 1 && !linearPhase ? 1 : 0);
                for (std::size_t ch = 0; ch < 2; ++ch)
                {
                    EXPECT_EQ(peakIndex(out[ch]), want) << ch;
                    EXPECT_GT(std::abs(out[ch][want]), 0.5); // a main peak, not a ripple
                    EXPECT_GT(out[ch][want] * (ch == 0 ? 1.0 : -1.0), 0.0);
                }
                driver.reset();
            }
}

TEST_F(CPluginTest, BothResamplersFollowTheSettingAndAutoFollowsTheHostMode)
{
    // mode, host mode, stages
    const std::tuple<double, double, std::int32_t> cases[] = {
        {1, 3, 0}, {2, 0, 1}, {3, 0, 2}, {4, 0, 3}, {0, 0, 0}, {0, 1, 1}, {0, 2, 2}, {0, 3, 3}};
    CPluginDriver& d = make(48000.0, 2);
    auto* up = dynamic_cast<zel::CModResampler*>(d.main().findChild("modUpsampler"));
    auto* down = dynamic_cast<zel::CModResampler*>(d.main().findChild("modDownsampler"));
    ASSERT_TRUE(up != nullptr && down != nullptr);
    for (const auto& [mode, hostMode, stages] : cases)
    {
        ASSERT_FALSE(d.set(kMain + "oversampling", 0, 0, mode));
        ASSERT_FALSE(d.set(kMain + "host-oversampling-mode", 0, 0, hostMode));
        d.processSilence(1024);
        EXPECT_EQ(up->stageCount(), stages) << mode << " " << hostMode;
        EXPECT_EQ(down->stageCount(), stages) << mode << " " << hostMode;
        EXPECT_EQ(d.latency(), kLatency);
    }
}

TEST_F(CPluginTest, TwiceOversampledTreeIsStillTheBandBank)
{
    // At 2x the bands run at 96 kHz (every band of every group copy: the raised rate must
    // reach the processes the replicating processes hold); below the base band edge the
    // resampler round trip is flat and a pure delay, so the output is the band bank designed
    // at 96 kHz, delayed by 502 samples. (Bands left at the base rate would sit an octave too
    // high: the lowest band's response would be off by 8 dB.)
    constexpr double kFs = 48000.0;
    CPluginDriver& d = make(kFs, 2);
    ASSERT_FALSE(d.set(kMain + "oversampling", 0, 0, 2.0));
    ASSERT_FALSE(d.set(kMain + "denorm-enable", 0, 0, 0.0));
    d.processSilence(9600);
    const auto out = d.process({impulse(65536, 0.01), impulse(65536, 0.01)});
    ASSERT_EQ(idAndText(d.error()), "no error");
    const CResponseError err =
        responseError(out, {0.01, 0.01}, kFs, 20.0, 16000.0, 80,
                      [](double f) { return bandBankResponse(f, 2.0 * kFs, kFs, kLatency); });
    EXPECT_LT(err.db, 0.01);
    EXPECT_LT(err.rel, 1e-3);

    // Every process of the spectral processor, bands included, runs at the raised rate.
    std::size_t processes = 0;
    std::size_t atBase = 0;
    const std::function<void(const zel::CObject&)> walk = [&](const zel::CObject& o)
    {
        if (const auto* p = dynamic_cast<const zel::CAudioProcessBase*>(&o))
        {
            ++processes;
            atBase += p->sampleRate() == 2.0 * kFs ? 0 : 1;
        }
        for (const zel::CObject* child : o.childList())
            walk(*child);
    };
    const zel::CObject* kelv = d.main().findChild("modKelvatrone");
    ASSERT_NE(kelv, nullptr);
    walk(*kelv);
    EXPECT_GT(processes, 32u * 10u); // the bands' chains are among them
    EXPECT_EQ(atBase, 0u);
}

TEST_F(CPluginTest, EveryBandMeterPublishesAndHoldsSlotsOnlyWhileOn)
{
    // Per stereo band: four level meters with a state and a result slot per channel, and one
    // correlation meter with two for the pair; at the output: the level meter (2 x 2) and the
    // correlation meter (2). 64 bands with every meter on fit the pool, at 8x too.
    constexpr std::uint32_t kPerBand = 4 * 2 * 2 + 2;
    constexpr std::uint32_t kOutput = 2 * 2 + 2;
    for (const double mode : {1.0, 4.0})
    {
        CPluginDriver& d = make(44100.0, 2);
        ASSERT_FALSE(d.set(std::string(CPluginDriver::kKelv) + "bandcount", 0, 0, 64.0));
        ASSERT_FALSE(d.set(kMain + "oversampling", 0, 0, mode));
        d.processSilence(4096);
        ASSERT_EQ(idAndText(d.error()), "no error");
        const std::uint32_t freeOff = d.context().freeSlotCount();
        std::vector<zel::CModMeterSource*> meters;
        const std::function<void(zel::CObject&)> walk = [&](zel::CObject& o)
        {
            if (auto* m = dynamic_cast<zel::CModMeterSource*>(&o))
                meters.push_back(m);
            for (zel::CObject* child : o.childList())
                walk(*child);
        };
        for (const double on : {1.0, 0.0})
        {
            SCOPED_TRACE(testing::Message() << "mode " << mode << " meters " << on);
            ASSERT_FALSE(switchMeters(d, on));
            d.processSilence(2048);
            ASSERT_EQ(idAndText(d.error()), "no error");
            EXPECT_EQ(freeOff - d.context().freeSlotCount(),
                      on > 0.5 ? 64 * kPerBand + kOutput : 0);
            meters.clear();
            walk(*d.main().findChild("modKelvatrone"));
            ASSERT_EQ(meters.size(), 64u * 5u);
            for (zel::CModMeterSource* m : meters)
            {
                m->processFlag() = 0;
                for (std::size_t r = 0; r < m->meterResultCount(); ++r)
                    *m->meterResult(r).flag = 0;
            }
            d.processSilence(512);
            // Each meter publishes a record for each measured channel: two for the level
            // meters, one pair for the correlation meter.
            for (zel::CModMeterSource* m : meters)
            {
                const std::string name = dynamic_cast<zel::CObject&>(*m).name().toUtf8();
                std::size_t raised = 0;
                for (std::size_t r = 0; r < m->meterResultCount(); ++r)
                    raised += *m->meterResult(r).flag;
                EXPECT_EQ(m->processFlag(), on > 0.5 ? 1 : 0) << name;
                EXPECT_EQ(raised, on > 0.5 ? (name == "modMeterCorr" ? 1u : 2u) : 0u) << name;
            }
        }
        driver.reset();
    }
}

TEST_F(CPluginTest, CompressingFourTimesOversampledTreeWithMetersOnAllocatesNothing)
{
    CPluginDriver& d = make(44100.0, 2);
    ASSERT_FALSE(d.registry()->activateFactoryPreset(4)); // "Overcompression"
    ASSERT_FALSE(d.set(kMain + "oversampling", 0, 0, 3.0));
    ASSERT_FALSE(switchMeters(d, 1.0));
    const std::int32_t frames = 4096;
    std::vector<double> left(frames), right(frames), outL(frames), outR(frames);
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> noise(-0.8, 0.8);
    for (std::size_t i = 0; i < left.size(); ++i)
        left[i] = noise(rng), right[i] = noise(rng);
    const std::vector<const double*> in = {left.data(), right.data()};
    const std::vector<double*> out = {outL.data(), outR.data()};
    d.processSilence(44100);
    ASSERT_FALSE(d.processInto(in, frames, out));
    ASSERT_FALSE(d.processInto(in, frames, out));
    CCountAllocations count;
    for (int i = 0; i < 4; ++i)
        ASSERT_FALSE(d.processInto(in, frames, out));
    EXPECT_EQ(count.count(), 0u);
    EXPECT_TRUE(std::isfinite(outL[100]) && std::abs(outL[100]) > 0.0);
}

TEST_F(CPluginTest, ListenedOutputMeterDeliversRecordsThroughTheCollector)
{
    constexpr double kFs = 48000.0;
    CPluginDriver& d = make(kFs, 2);
    auto* viz = dynamic_cast<zel::CAudioVizCollector*>(d.plugin().findChild("viz-collector"));
    ASSERT_NE(viz, nullptr);
    ASSERT_EQ(idAndText(viz->connect()), "no error");
    viz->setActive(true);
    ASSERT_FALSE(viz->listen(1, 7, zel::CText("plugin.modMain.modMeterOut"), 3));
    ASSERT_FALSE(d.set(kMain + "oversampling", 0, 0, 2.0));

    // A 0.25 amplitude 1 kHz tone in both channels; blocks of 480 frames, the collector
    // polled after each like the host boundary does.
    // (Ten whole cycles per block: every block is the same.)
    const CSamples x = tone(0.25, 1000.0, kFs, 480);
    const auto run = [&](int blocks)
    {
        for (int b = 0; b < blocks; ++b)
        {
            (void)d.process({x, x});
            viz->beginBlock();
        }
    };
    const auto take = [&] { return takeVizRecords(*viz, 1).entries; };

    // Off (the default): nothing is published.
    run(20);
    EXPECT_TRUE(take().empty());

    ASSERT_FALSE(d.set(kMain + "modMeterOut-enable", 0, 0, 1.0));
    run(100); // one second
    const std::vector<zel::CAudioVizEntry> entries = take();
    ASSERT_EQ(entries.size(), 1u);
    const zel::CAudioVizEntry& e = entries[0];
    EXPECT_EQ(e.listenerId, 7);
    EXPECT_EQ(e.slot, 3);
    EXPECT_EQ(e.source, zel::CText("plugin.modMain.modMeterOut"));
    // One record per channel and block.
    EXPECT_EQ(e.recordCount, 200);
    ASSERT_EQ(e.records.size(), 200u);
    const auto& last = dynamic_cast<const zel::CAudioVizDataMeter&>(*e.records.back());
    // The band bank passes 1 kHz at about unity: the released level of a sine with 2 ms
    // integration and 750 ms release sits between its RMS and its peak; the peak holds the
    // largest power of the last second, the tone's peak.
    EXPECT_GT(last.level, 0.25 / std::sqrt(2.0) * 0.9);
    EXPECT_LT(last.level, 0.25 * 1.1);
    EXPECT_GT(last.peak, 0.25 * 0.9);
    EXPECT_LT(last.peak, 0.25 * 1.1);
}

} // namespace
} // namespace kelvtest
