#include "Audio/Processes/ModMeter.h"
#include "Audio/Kernels/DCDAWMeterKernels.h"
#include "Audio/Kernels/MeterReference.h"
#include "Audio/Processes/ModMeterCorr.h"
#include "Audio/Processes/ModTestSupport.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>
#include <tuple>

namespace kelvtest
{
namespace
{

// Parameter values of a meter under test (times in seconds, gains in dB).
struct CMeterSettings
{
    double peakTime = 0.05, rmsTime = 0.004, gain = 0, release = 0.02, peakGain = 0;
    double rmsTime2 = 0.01, useTime2 = 0, enable = 1;
};

class ModMeterTest : public CModTest
{
protected:
    // "*" -> m -> "*"; with "is-diff" also "*" -> half (x 0.5) -> m/1.
    zel::CErrorPtr buildMeter(const CMeterSettings& s, const std::string& extra = "")
    {
        const std::pair<const char*, double> values[] = {
            {"pt", s.peakTime},  {"rt", s.rmsTime},      {"g", s.gain},
            {"rel", s.release},  {"pg", s.peakGain},     {"rt2", s.rmsTime2},
            {"ut2", s.useTime2}, {"m-enable", s.enable}, {"hg", 0.5}};
        std::vector<CChild> params;
        for (const auto& [name, value] : values)
            params.push_back(param(name, std::to_string(value).c_str()));
        CChild main =
            chain(std::move(params), {module("audio:modMeter", "m",
                                             inOrder({"pt", "rt", "g", "rt", "ut2", "rel", "pg",
                                                      "rt2", "rel", "ut2", "m-enable"}),
                                             extra)});
        if (extra.find("is-diff=true") != std::string::npos)
            main.children.insert(main.children.end(), {gain("half", "hg"), link("src=*|dst=half"),
                                                       link("src=half|dst=m/1")});
        return rebuild(main);
    }
    zel::CErrorPtr buildCorr(double avgTime, bool whole = false)
    {
        return rebuild(
            chain({param("avg", std::to_string(avgTime).c_str()), param("c-enable", "1")},
                  {module("audio:modMeterCorr", "c", inOrder({"avg", "c-enable"}),
                          whole ? "is-terminal-whole=true" : "")}));
    }
    zel::CModMeterSource& source(const char* name)
    {
        return dynamic_cast<zel::CModMeterSource&>(*m_main->findChild(name));
    }
    const double* record(const char* name, std::size_t index)
    {
        return m_context->data(source(name).meterResult(index).ref);
    }
    // The reference set up as the module should have it.
    static CMeterReference reference(CMeterReference::EKind mode, const CMeterSettings& s,
                                     std::size_t sub, std::size_t ring)
    {
        CMeterReference ref{mode};
        ref.times(kRate, s.rmsTime, s.release, s.useTime2 > 0.5 ? s.rmsTime2 : s.rmsTime);
        ref.reset(mode == CMeterReference::kMax ? 0.0 : 1.0, sub, ring);
        return ref;
    }
};

TEST_F(ModMeterTest, SubBlockAndRingFollowRateUpdateRateAndPeakTime)
{
    // rate, meter and container attributes, peak time, sub-block and ring length
    const std::tuple<double, const char*, const char*, double, std::uint32_t, std::uint32_t>
        cases[] = {
            {44100, "", "", 1.0, 1470, 30},
            {48000, "", "", 1.0, 1600, 30},
            {44100, "", "", 0.5, 1470, 15},
            {44100, "", "", 0.001, 1470, 1}, // rounds to 0, at least 1
            {48000, "viz-fps=25", "", 2.0, 1920, 50},
            {48000, "", "viz-fps=60", 1.0, 800, 60},  // inherited from the enclosing definition
            {44100, "viz-fps=43", "", 1.0, 1026, 43}, // 1025.58 and 42.98 round up
        };
    for (const auto& [fs, meterAttrs, containerAttrs, peakTime, sub, ring] : cases)
    {
        SCOPED_TRACE(std::to_string(fs) + meterAttrs + containerAttrs);
        m_env->setSampleRate(fs);
        ASSERT_EQ(
            idAndText(rebuild(chain({param("pt", std::to_string(peakTime).c_str())},
                                    {module("audio:modMeter", "m", inOrder({"pt"}), meterAttrs)},
                                    "modMain", containerAttrs))),
            "no error");
        auto& meter = dynamic_cast<zel::CModMeter&>(*m_main->findChild("m"));
        for (std::size_t c = 0; c < 2; ++c)
        {
            const double* state = m_context->data(meter.module(c).stateRef(0));
            EXPECT_EQ(zel::meterSubBlockLength(state), sub);
            EXPECT_EQ(zel::meterRingLength(state), ring);
        }
    }
}

TEST_F(ModMeterTest, PublishedLevelAndPeakFollowTheReference)
{
    struct CCase
    {
        const char* name;
        std::string attrs;
        CMeterReference::EKind mode;
        CMeterSettings s;
        // From block 4 on rt 0.03 s and rel below 0.0001 s (no release), retuned in place;
        // from block 8 on pt 0.1 s: ring length 10, a fresh start.
        bool retuned = false;
    };
    CMeterSettings scaled;
    scaled.gain = 6.0;
    scaled.peakGain = -3.0;
    CMeterSettings follow;
    follow.release = 0.0; // the released level is the mean square itself
    CMeterSettings second;
    second.useTime2 = 1.0;
    const CCase cases[] = {
        {"maxima", "", CMeterReference::kMax, {}},
        {"maxima, gains, whole", "is-terminal-whole=true", CMeterReference::kMax, scaled},
        {"no release", "", CMeterReference::kMax, follow},
        {"minima", "is-compression=true", CMeterReference::kMin, {}},
        {"two inputs", "is-diff=true|is-compression=true", CMeterReference::kRatio, second},
        {"two inputs inverted", "is-diff=true|is-inverted=true", CMeterReference::kRatio, {}},
        {"times changed while running", "", CMeterReference::kMax, {}, true},
    };
    // A burst, silence, then a softer tone; gain-like signals hover around 1 with a dip.
    const auto signal = [](CMeterReference::EKind mode, std::size_t k)
    {
        const double tone = std::sin(0.7 * static_cast<double>(k));
        if (mode == CMeterReference::kMin)
            return k >= 40 && k < 55 ? 0.25 + 0.1 * tone : 1.0 - 0.05 * tone;
        return k < 25 ? 0.9 * tone : k < 150 ? 0.0 : 0.3 * tone;
    };
    for (const CCase& tc : cases)
    {
        SCOPED_TRACE(tc.name);
        ASSERT_EQ(idAndText(buildMeter(tc.s, tc.attrs + "|viz-fps=100")), "no error");
        CMeterReference ref = reference(tc.mode, tc.s, 10, 5);
        const bool inverted = tc.attrs.find("is-inverted") != std::string::npos;
        const double scale = std::pow(10.0, tc.s.gain / 20.0);
        const double peakScale = scale * std::pow(10.0, tc.s.peakGain / 20.0);
        std::size_t k = 0;
        for (int block = 0; block < 20; ++block)
        {
            if (tc.retuned && block == 4)
            {
                setValue("plugin.modMain.rt", 0.03);
                setValue("plugin.modMain.rel", 0.00005);
                ref.times(kRate, 0.03, 0.0, 0.03);
            }
            if (tc.retuned && block == 8)
            {
                setValue("plugin.modMain.pt", 0.1);
                ref.reset(0.0, 10, 10);
            }
            CSamples in(16);
            for (double& v : in)
                v = tc.retuned ? 0.8 * std::sin(0.3 * static_cast<double>(k++))
                               : signal(tc.mode, k++);
            // A side-effect process: the audio passes on by reference.
            const CBlockResult got = runSame(in);
            EXPECT_TRUE(got.passed[0] && got.passed[1]);
            // The record published by this block holds the state before it.
            for (std::size_t c = 0; c < 2; ++c)
            {
                EXPECT_NEAR(record("m", c)[0], std::sqrt(ref.h) * scale, 1e-12) << block;
                EXPECT_NEAR(record("m", c)[1], std::sqrt(ref.peak) * peakScale, 1e-12) << block;
            }
            for (const double v : in)
                inverted ? ref.step(0.5 * v, v) : ref.step(v, 0.5 * v);
        }
        if (tc.retuned)
        {
            auto& meter = dynamic_cast<zel::CModMeter&>(*m_main->findChild("m"));
            EXPECT_EQ(zel::meterRingLength(m_context->data(meter.module(1).stateRef(0))), 10u);
        }
    }
}

TEST_F(ModMeterTest, CorrelationOfChannelPairs)
{
    using FSignal = std::function<double(std::size_t)>;
    const FSignal sine = [](std::size_t k)
    { return std::sin(0.1 * std::numbers::pi * static_cast<double>(k)); };
    const FSignal cosine = [](std::size_t k)
    { return std::cos(0.1 * std::numbers::pi * static_cast<double>(k)); };
    const FSignal opposite = [&](std::size_t k) { return -sine(k); };
    struct CCase
    {
        const char* name;
        std::vector<FSignal> channels;
        bool whole;
        std::vector<double> expected; // per pair; NAN: quadrature, near 0
        double newAvgTime = 0.0;      // set from block 15 on when not 0
    };
    const CCase cases[] = {
        {"opposite", {sine, opposite}, true, {-1.0}},
        {"quadrature", {sine, cosine}, false, {NAN}},
        {"quadrature, slower from block 15", {sine, cosine}, true, {NAN}, 0.2},
        {"two pairs and a single", {sine, sine, sine, opposite, sine}, false, {1.0, -1.0}},
        {"two pairs, whole", {sine, opposite, cosine, cosine}, true, {-1.0, 1.0}},
    };
    for (const CCase& tc : cases)
    {
        SCOPED_TRACE(tc.name);
        useChannels(std::vector<std::int32_t>(tc.channels.size(), 0), 1);
        ASSERT_EQ(idAndText(buildCorr(0.05, tc.whole)), "no error");
        ASSERT_EQ(source("c").meterResultCount(), tc.expected.size());
        // The reference means of the first pair, over all but the last block.
        double c = meterCoef(0.05, kRate);
        double ll = 0, rr = 0, lr = 0;
        std::size_t k = 0;
        for (int block = 0; block < 30; ++block)
        {
            if (block == 15 && tc.newAvgTime > 0.0)
            {
                setValue("plugin.modMain.avg", tc.newAvgTime);
                c = meterCoef(tc.newAvgTime, kRate);
            }
            std::vector<CSamples> in(tc.channels.size(), CSamples(32));
            for (std::size_t i = 0; i < 32; ++i, ++k)
                for (std::size_t ch = 0; ch < in.size(); ++ch)
                    in[ch][i] = tc.channels[ch](k);
            const CBlockResult got = runBlock(in);
            EXPECT_EQ(std::count(got.passed.begin(), got.passed.end(), true), in.size());
            if (block == 29)
                break;
            for (std::size_t i = 0; i < 32; ++i)
            {
                ll += (in[0][i] * in[0][i] - ll) * c;
                rr += (in[1][i] * in[1][i] - rr) * c;
                lr += (in[0][i] * in[1][i] - lr) * c;
            }
        }
        for (std::size_t p = 0; p < tc.expected.size(); ++p)
        {
            EXPECT_EQ(source("c").meterResult(p).channel, static_cast<std::int32_t>(2 * p));
            const double got = record("c", p)[0];
            if (std::isnan(tc.expected[p]))
            {
                EXPECT_NEAR(got, lr / std::sqrt(ll * rr + 1e-30), 1e-9);
                EXPECT_LT(std::fabs(got), 0.2);
            }
            else
            {
                EXPECT_NEAR(got, tc.expected[p], 1e-9) << p;
            }
        }
    }
}

TEST_F(ModMeterTest, FlagsRiseOncePerPublishedRecordAndNotWhileOff)
{
    ASSERT_FALSE(buildMeter({}, "viz-fps=100"));
    zel::CModMeterSource& meter = source("m");
    ASSERT_EQ(meter.meterResultCount(), 2u);
    const auto pending = [&](std::size_t i)
    {
        return (m_context->stateWord(zel::CDCDAWContextObject::slotOf(meter.meterResult(i).ref)) &
                zel::CDCDAWContextObject::kNotifyOnUse) != 0;
    };
    const auto clearFlags = [&]
    {
        meter.processFlag() = 0;
        for (std::size_t i = 0; i < 2; ++i)
            *meter.meterResult(i).flag = 0;
    };
    for (int block = 0; block < 3; ++block)
    {
        clearFlags();
        runSame(constant(16, 0.5));
        EXPECT_EQ(meter.processFlag(), 1);
        for (std::size_t i = 0; i < 2; ++i)
        {
            EXPECT_EQ(*meter.meterResult(i).flag, 1) << i;
            EXPECT_FALSE(pending(i)) << i; // the request was used up by the publishing call
        }
    }
    // Off: no kernel, no record, no flag, and the state and result slots of both channels
    // are back in the pool.
    ASSERT_GT(record("m", 0)[0], 0.0);
    const std::uint32_t freeWhileOn = m_context->freeSlotCount();
    setValue("plugin.modMain.m-enable", 0.0);
    clearFlags();
    for (int block = 0; block < 3; ++block)
        EXPECT_TRUE(runSame(constant(16, 0.5)).passed[0]);
    EXPECT_EQ(meter.processFlag(), 0);
    EXPECT_EQ(*meter.meterResult(0).flag, 0);
    EXPECT_EQ(m_context->freeSlotCount(), freeWhileOn + 4u);
    EXPECT_EQ(m_context->data(meter.meterResult(0).ref), nullptr);
    // On again: the slots are taken again and the meter starts afresh from silence.
    setValue("plugin.modMain.m-enable", 1.0);
    runSame(constant(16, 0.5));
    EXPECT_EQ(m_context->freeSlotCount(), freeWhileOn);
    EXPECT_EQ(meter.processFlag(), 1);
    EXPECT_EQ(record("m", 0)[0], 0.0);
}

TEST_F(ModMeterTest, BadUpdateRatesAreRefused)
{
    for (const std::string rate : {"0", "fast"})
    {
        resetGraph();
        EXPECT_EQ(
            idAndText(define(
                container("modMain", {module("audio:modMeter", "m", {}, "viz-fps=" + rate)}))),
            "zelstr_CModMeterDef_onVizFps_Invalid: Invalid update rate '" + rate + "' specified.");
    }
}

TEST_F(ModMeterTest, SteadyStateAndChangesAllocateNothing)
{
    CChild main =
        chain({param("pt", "1"), param("rt", "0.01"), param("g", "0"), param("ut", "0"),
               param("rel", "0.5"), param("en", "1"), param("avg", "0.2")},
              {module("audio:modMeter", "m",
                      inOrder({"pt", "rt", "g", "rt", "ut", "rel", "g", "rt", "rel", "ut", "en"}),
                      "is-diff=true"),
               module("audio:modMeterCorr", "c", inOrder({"avg", "en"}))});
    main.children.push_back(link("src=*|dst=m/1"));
    ASSERT_EQ(idAndText(build(main)), "no error");
    zel::CAudioParam* params[] = {&liveParam("plugin.modMain.rt"), &liveParam("plugin.modMain.avg"),
                                  &liveParam("plugin.modMain.en")};
    const auto edit = [&](int i)
    {
        const double values[] = {0.01 * (1 + i % 3), 0.1 * (1 + i % 2), double((i / 2) % 2)};
        for (std::size_t p = 0; p < 3; ++p)
            EXPECT_FALSE(params[p]->setValue(0, 0, 0, values[p]));
    };
    EXPECT_EQ(cycleAllocations(edit, {64, 29, 64}), 0u);
}

} // namespace
} // namespace kelvtest
