#include "Audio/Processes/ModTestSupport.h"

#include <cmath>
#include <tuple>

namespace kelvtest
{
namespace
{

const char* const kFreqs = "plugin.modMain.freqs";
const char* const kCount = "plugin.modMain.count";

// modMain: * -> mb -> *; every band is protLP (x its frequency / 100) then g (x gb).
CChild mbMain(const std::string& freqs, const std::string& count, const std::string& extra = "",
              std::vector<CChild> more = {})
{
    CChild mb{"audio:process-def",
              "mb",
              attrs("is-multiband=true|multiband-freq-param=freqs|multiband-count-param=count|"
                    "multiband-lp=.protLP" +
                    extra),
              {split("protLP", "freqs", "is-prototype=true"), gain("g", "gb"), link("src=*|dst=g"),
               link("src=g|dst=*")}};
    for (CChild& child : more)
        mb.children.push_back(std::move(child));
    return container("modMain", {wideParam("freqs", freqs), wideParam("count", count),
                                 param("gb", "1"), mb, link("src=*|dst=mb"), link("src=mb|dst=*")});
}

class AudioProcessMBTest : public CModTest
{
protected:
    zel::CAudioProcessMB& mb()
    {
        return dynamic_cast<zel::CAudioProcessMB&>(
            *dynamic_cast<zel::CAudioProcess&>(*m_main).findProcess("mb"));
    }
};

// The sum over the first `bands` bands of each band's split gain: its frequency / 100, or 1 for
// a band past the end of the list (the split's fallback).
double bandSum(const std::vector<double>& freqs, std::int32_t bands)
{
    double sum = 0.0;
    for (std::int32_t b = 0; b < bands; ++b)
        sum += static_cast<std::size_t>(b) < freqs.size() ? freqs[static_cast<std::size_t>(b)] / 100
                                                          : 1.0;
    return sum;
}

TEST_F(AudioProcessMBTest, BandWalkCountsBandsBelowHalfTheSampleRateAndSumsTheirOutputs)
{
    ASSERT_EQ(idAndText(build(mbMain("100", "1"))), "no error");
    std::vector<double> log32;
    for (int k = 0; k < 32; ++k)
        log32.push_back(20.0 * std::pow(1000.0, k / 31.0));
    // what, frequencies, band count setting, bands
    // The sample rate is 1000 Hz: frequencies at or above 500 Hz end the list.
    const std::tuple<const char*, std::vector<double>, double, std::int32_t> rows[] = {
        {"count reached", {100, 200, 300, 400}, 4, 4},
        {"count rounds half away from zero", {100, 200, 300, 400}, 2.5, 3},
        {"at half the sample rate", {100, 200, 500, 50}, 8, 3},
        {"above half the sample rate", {100, 200, 600, 700}, 8, 3},
        {"falling frequency", {100, 300, 200, 400}, 8, 3},
        {"equal frequencies accepted", {100, 100, 100, 100}, 4, 4},
        {"list runs out: one more band", {100, 200}, 8, 4},
        {"count of one", {100, 200, 300}, 1, 1},
        {"count below one", {100, 200, 300}, -3, 1},
        {"32 log-spaced bands at 1000 Hz", log32, 32, 16},
        {"empty list", {}, 32, 1},
    };
    for (const auto& [what, freqs, count, bands] : rows)
    {
        setList(kFreqs, freqs, 0.0);
        change(kCount, count, 0.0);
        const std::vector<double> out = level();
        EXPECT_EQ(mb().bandCount(), bands) << what;
        const double sum = bandSum(freqs, bands);
        EXPECT_NEAR(out[0], sum, 1e-12) << what;
        EXPECT_NEAR(out[1], 2.0 * sum, 1e-12) << what; // channel 1 is fed twice the input
    }
    // The walk on its own, where the process's parameter range does not reach.
    EXPECT_EQ(zel::CAudioProcessMB::walkBands(3.0, std::vector<double>{10.0, 20.0}, 44100.0), 3);
    // One band, 32 accepted frequencies, then the list runs out: one more.
    EXPECT_EQ(zel::CAudioProcessMB::walkBands(64.0, log32, 44100.0), 34);
}

TEST_F(AudioProcessMBTest, BandListChangesFadeAndKeepTheRemainingBandsRunning)
{
    std::string freqs;
    std::vector<double> list;
    for (int k = 1; k <= 32; ++k)
    {
        list.push_back(10.0 * k);
        if (k > 1)
            freqs += ',';
        freqs += std::to_string(10 * k);
    }
    // Blends over 4 samples at 1000 Hz.
    ASSERT_EQ(idAndText(build(mbMain(freqs, "32", "|xfade-length=0.004"))), "no error");
    const std::uint32_t freeBefore = m_context->freeSlotCount();
    const double s32 = bandSum(list, 32);
    const double s16 = bandSum(list, 16);
    const double s20 = bandSum(list, 20);
    EXPECT_NEAR(level()[0], s32, 1e-12); // 16 samples
    ASSERT_EQ(mb().bandCount(), 32);
    std::vector<zel::CAudioProcessBase*> chains;
    for (std::int32_t b = 0; b < 16; ++b)
        chains.push_back(&mb().bandChain(b));
    // The fade's weight of the old signal over 4 samples.
    const auto weight = [](int k) { return oldWeight(static_cast<std::size_t>(k), 4); };

    // 32 -> 16: bands 16..31 fade out, then go; bands 0..15 are the same, never reset.
    change(kCount, 16, 0.016);
    CSamples out = run(constant(8, 1.0))[0];
    EXPECT_EQ(mb().bandCount(), 16);
    EXPECT_EQ(mb().replicaCount(), 32); // still fading out
    for (int k = 0; k < 8; ++k)
        EXPECT_NEAR(out[static_cast<std::size_t>(k)], s16 + (s32 - s16) * weight(k), 1e-12) << k;
    out = run(constant(8, 1.0))[0];
    EXPECT_EQ(mb().replicaCount(), 16);
    EXPECT_NEAR(out[0], s16, 1e-12);
    for (std::int32_t b = 0; b < 16; ++b)
    {
        EXPECT_EQ(&mb().bandChain(b), chains[static_cast<std::size_t>(b)]) << b;
        EXPECT_EQ(mb().bandChain(b).position(), 32) << b;
        EXPECT_EQ(zel::CAudioProcessMB::bandIndexOf(mb().bandChain(b)), b);
    }
    // Nothing the dropped bands held stays taken; the blends' silence buffer is kept.
    EXPECT_EQ(m_context->freeSlotCount(), freeBefore - 1);

    // 16 -> 20: the new bands fade in and start from scratch.
    change(kCount, 20, 0.032);
    out = run(constant(8, 1.0))[0];
    for (int k = 0; k < 8; ++k)
        EXPECT_NEAR(out[static_cast<std::size_t>(k)], s20 - (s20 - s16) * weight(k), 1e-12) << k;
    ASSERT_EQ(mb().bandCount(), 20);
    EXPECT_EQ(mb().bandChain(15).position(), 40);
    for (std::int32_t b = 16; b < 20; ++b)
        EXPECT_EQ(mb().bandChain(b).position(), 8) << b;

    // Growing while bands fade out drops the fading ones first.
    change(kCount, 18, 0.040);
    change(kCount, 19, 0.041);
    out = run(constant(8, 1.0))[0];
    EXPECT_EQ(mb().replicaCount(), 19);
    EXPECT_EQ(mb().bandChain(17).position(), 16);
    EXPECT_EQ(mb().bandChain(18).position(), 7); // rebuilt one sample into the block
    EXPECT_NEAR(level()[0], bandSum(list, 19), 1e-12);
}

TEST_F(AudioProcessMBTest, StagesRunInOrderPerBandWithTheirNames)
{
    // pre (x its band's element of "pre" / 100) -> hp (x5) -> lp (x freq / 100) -> chain.
    ASSERT_EQ(idAndText(build(mbMain("100,200", "2", "|multiband-pre=.protPre|multiband-hp=.protHP",
                                     {split("protPre", "pre", "is-prototype=true"),
                                      gain("protHP", "hp", "is-prototype=true"),
                                      wideParam("pre", "300"), param("hp", "5")}))),
              "no error");
    // Band 0: 3 x 5 x 1; band 1 (a single "pre" value serves every band): 3 x 5 x 2.
    EXPECT_NEAR(level()[0], 15.0 + 30.0, 1e-12);
    ASSERT_NE(mb().stageDef(zel::CAudioProcessMB::kHP), nullptr);
    EXPECT_EQ(mb().stageDef(zel::CAudioProcessMB::kHP)->plainName(), "protHP");
    const auto& stages = mb().replica(1).stages();
    ASSERT_EQ(stages.size(), 4u);
    const std::pair<zel::CAudioProcessMB::EStage, const char*> order[] = {
        {zel::CAudioProcessMB::kPre, "pre"},
        {zel::CAudioProcessMB::kHP, "hp"},
        {zel::CAudioProcessMB::kLP, "lp"},
        {zel::CAudioProcessMB::kMod, "mod"}};
    for (std::size_t i = 0; i < 4; ++i)
    {
        EXPECT_EQ(mb().stageName(order[i].first).toUtf8(), std::string("mb.") + order[i].second);
        EXPECT_EQ(stages[i]->instancePath().toUtf8(),
                  std::string("plugin.modMain.mb.") + order[i].second + ".1");
    }
}

TEST_F(AudioProcessMBTest, DefinitionErrors)
{
    // attributes, error
    const std::tuple<const char*, const char*> rows[] = {
        {"is-multiband=true|multiband-count-param=count",
         "No 'multiband-freq-param' attribute defined."},
        {"is-multiband=true|multiband-freq-param=freqs",
         "No 'multiband-count-param' attribute defined."},
        {"is-multiband=true|multiband-freq-param=freqs|multiband-count-param=count|"
         "multiband-lp=.missing",
         "Invalid multiband filter definition '.missing' specified."},
        {"is-multiband=true|multiband-freq-param=freqs|multiband-count-param=count|"
         "multiband-hp=.freqs",
         "Invalid multiband filter definition '.freqs' specified."},
        {"is-multiband=true|multiband-freq-param=nothing|multiband-count-param=count",
         "Audio parameter 'nothing' not found."},
    };
    int i = 0;
    for (const auto& [attributes, message] : rows)
    {
        std::string name = "m";
        name += std::to_string(i++);
        ASSERT_FALSE(define(container(
            name.c_str(), {wideParam("freqs", "100"),
                           wideParam("count", "2"),
                           {"audio:process-def", "mb", attrs(attributes), {gain("g")}}})));
        zel::CAudioProcessBase* made = nullptr;
        const zel::CErrorPtr err = zel::CAudioProcessBase::instantiate(
            *m_def, *m_instances, zel::CText(name), m_setup, zel::CText("plugin." + name), made);
        ASSERT_TRUE(err) << message;
        EXPECT_EQ(err->text(), message);
    }
}

} // namespace
} // namespace kelvtest
