#include "Audio/Processes/ModFilterIIR.h"
#include "Audio/Processes/FilterModuleTestSupport.h"
#include "Support/AllocationCounter.h"

namespace kelvtest
{
namespace
{

class ModFilterIIRTest : public CFilterModuleTest
{
protected:
    static CChild iir(const std::string& list, CChildren allocs = {})
    {
        return element("audio:modFilterIIR", "f", list, std::move(allocs));
    }
    // An array "arr": 0 bypass, 1 low-pass 1 kHz, 2 peaking 3 kHz +6 dB, 3 high-pass 200 Hz
    // then low-pass 5 kHz in cascade, 4 a half-band pair of order 4.
    void loadArray()
    {
        generators({
            element("audio:fltgen-bypass", "byp", ""),
            element("audio:fltgen-rbj", "lp", "type=4|freq=1000|bw=1"),
            element("audio:fltgen-rbj", "peak", "type=1|freq=3000|gain=2|bw=1"),
            element("audio:fltgen-rbj", "hp", "type=5|freq=200|bw=1"),
            element("audio:fltgen-serial", "band", "",
                    {element("audio:fltgen-serial-item", "s1", "fltgen=hp"),
                     element("audio:fltgen-serial-item", "s2", "fltgen=lp|adjust=5")}),
            element("audio:fltgen-hbf", "hbf",
                    "a=0.120732117516754470, 0.663202022419399520|"
                    "b=0.390362187234500670, 0.890786832653498230"),
            element("audio:fltgen-array", "arr", "",
                    {element("audio:fltgen-array-item", "i", "index=0|fltgen=byp"),
                     element("audio:fltgen-array-item", "i", "index=1|fltgen=lp"),
                     element("audio:fltgen-array-item", "i", "index=2|fltgen=peak"),
                     element("audio:fltgen-array-item", "i", "index=3|fltgen=band"),
                     element("audio:fltgen-array-item", "i", "index=4|fltgen=hbf")}),
        });
    }
    void buildDriven(int index, const char* extra = "")
    {
        ASSERT_FALSE(rebuild(
            chainOf(iir(std::string("fltgen=arr|") + extra, {alloc(0, "type"), alloc(1, "freq")}),
                    {realParam("type", index), realParam("freq", 1000.0)})));
    }
    zel::CAudioFilterDesign arrayDesign(int index, double freq)
    {
        zel::CAudioFilterRequest request;
        request.index = index;
        request.freq = freq;
        return designOf("arr", request);
    }
    zel::CModFilterIIRModule& module(std::size_t channel)
    {
        return dynamic_cast<zel::CModFilterIIR&>(*m_main->findChild("f")).module(channel);
    }
};

// The impulse response of the module has the frequency response of the generator's design.
TEST_F(ModFilterIIRTest, ImpulseResponseFollowsTheGeneratorsTransferFunction)
{
    loadArray();
    generators({element("audio:fltgen-rbj", "bp", "type=2|is-type2=true|freq=2000|bw=0.5"),
                element("audio:fltgen-rbj", "notch", "type=0|is-type2=true|freq=2000|bw=0.5"),
                element("audio:fltgen-magnus", "mb", "type=4|freq=1000|bw=1")});
    struct CCase
    {
        const char* gen;
        int index; // -1: the generator itself, else the item of "arr"
        std::size_t sections;
    };
    const CCase cases[] = {{"lp", -1, 1},    {"peak", -1, 1}, {"band", -1, 2}, {"bp", -1, 1},
                           {"notch", -1, 1}, {"mb", -1, 1},   {"arr", 3, 2},   {"arr", 4, 0}};
    for (const CCase& c : cases)
    {
        SCOPED_TRACE(std::string(c.gen) + " " + std::to_string(c.index));
        std::string list = std::string("fltgen=") + c.gen;
        if (c.index >= 0)
            list += "|filter-index=" + std::to_string(c.index);
        ASSERT_FALSE(rebuild(chainOf(iir(list))));
        EXPECT_EQ(module(0).sectionCount(), c.sections);

        const CSamples h = runAll(impulse(8192));
        zel::CAudioFilterRequest request;
        request.index = c.index < 0 ? 0 : c.index;
        const zel::CAudioFilterDesign d = designOf(c.gen, request);
        for (const double f : {100.0, 700.0, 1000.0, 1414.0, 2000.0, 5000.0, 15000.0})
        {
            const std::complex<double> want = designResponse(d, f, kFs);
            const std::complex<double> got = responseAt(h, f, kFs);
            EXPECT_NEAR(std::abs(got - want), 0.0, 1e-9 * std::max(1.0, std::abs(want))) << f;
        }
    }
}

TEST_F(ModFilterIIRTest, ChannelsRunTheirOwnFilter)
{
    loadArray();
    ASSERT_FALSE(build(chainOf(iir("fltgen=lp"))));
    const CSamples in = testSignal(640);
    CSamples out0, out1;
    for (std::size_t at = 0; at < in.size(); at += kBlock)
    {
        const auto got = run(CSamples(in.begin() + static_cast<std::ptrdiff_t>(at),
                                      in.begin() + static_cast<std::ptrdiff_t>(at + kBlock)));
        out0.insert(out0.end(), got[0].begin(), got[0].end());
        out1.insert(out1.end(), got[1].begin(), got[1].end());
    }
    for (std::size_t i = 0; i < in.size(); ++i)
        ASSERT_NEAR(out1[i], 2.0 * out0[i], 1e-12) << i;
}

TEST_F(ModFilterIIRTest, IdentityPassesTheInputBufferOn)
{
    loadArray();
    ASSERT_FALSE(build(chainOf(iir("fltgen=arr|filter-index=0"))));
    std::uint32_t ref = 0;
    ASSERT_FALSE(m_context->takeBuffer(64 * 8, ref));
    m_context->data(ref)[0] = 0.25;
    for (zel::CAudioConnection* feed : m_feeds)
        ASSERT_FALSE(feed->push(ref, 0, 64));
    ASSERT_EQ(idAndText(m_main->process(64)), "no error");
    // No kernel ran: the output is the very input slot.
    EXPECT_EQ(m_taps[0]->frontRef(), ref);
    EXPECT_EQ(m_taps[1]->frontRef(), ref);
    for (zel::CAudioConnection* tap : m_taps)
        tap->consume(64);
    ASSERT_FALSE(m_context->releaseReference(ref));
}

// Coefficient changes move along the biquads' 25 ms raised-cosine transition: the output equals
// a reference cascade that fades each stage from its old coefficients to its new ones.
TEST_F(ModFilterIIRTest, CoefficientChangesFadeWithoutClicks)
{
    loadArray();
    struct CCase
    {
        const char* what;
        int fromIndex;
        int toIndex;
        double toFreq;
    };
    const CCase cases[] = {
        {"frequency of one low-pass section", 1, 1, 3000.0},
        {"peaking to low-pass (another numerator shape)", 2, 1, 1000.0},
        {"bypass to a cascade of two", 0, 3, 1000.0},
        {"cascade of two to bypass", 3, 0, 1000.0},
    };
    const int n = static_cast<int>(std::lround(0.025 * kFs)); // 1103
    const CSamples in = testSignal(640 + 2048);
    for (const CCase& c : cases)
    {
        SCOPED_TRACE(c.what);
        buildDriven(c.fromIndex);

        CBiquadCascadeSim sim(n);
        sim.load(arrayDesign(c.fromIndex, 1000.0));
        CSamples out = runAll(CSamples(in.begin(), in.begin() + 640));
        change("plugin.modMain.type", c.toIndex, 0.0);
        change("plugin.modMain.freq", c.toFreq, 0.0);
        const CSamples after = runAll(CSamples(in.begin() + 640, in.end()));
        out.insert(out.end(), after.begin(), after.end());

        double worst = 0.0;
        for (std::size_t i = 0; i < in.size(); ++i)
        {
            if (i == 640)
                sim.retune(arrayDesign(c.toIndex, c.toFreq));
            const double want = sim.step(in[i]);
            worst = std::max(worst, std::abs(out[i] - want));
        }
        EXPECT_LT(worst, 1e-9);
    }
    // After the last case the cascade rests on the identity and the input passes unchanged.
    const CSamples tail = testSignal(64);
    EXPECT_EQ(run(tail)[0], tail);
}

// A change of the design's kind has no coefficient transition: a fresh filter fades in over
// "xfade-length" while the old one fades out.
TEST_F(ModFilterIIRTest, KindChangeCrossfadesToAFreshFilter)
{
    loadArray();
    buildDriven(1, "xfade-length=0.001"); // 44.1 -> 44 samples
    const int n = 44;
    const CSamples in = testSignal(640 + 256);
    CBiquadCascadeSim old(1103);
    old.load(arrayDesign(1, 1000.0));
    CHalfBandSim fresh(arrayDesign(4, 1000.0));

    CSamples out = runAll(CSamples(in.begin(), in.begin() + 640));
    change("plugin.modMain.type", 4, 0.0);
    const CSamples after = runAll(CSamples(in.begin() + 640, in.end()));
    out.insert(out.end(), after.begin(), after.end());
    EXPECT_TRUE(module(0).kind() == zel::EFilterDesignKind::kHalfBand);
    EXPECT_FALSE(module(0).isCrossfading());

    for (std::size_t i = 0; i < in.size(); ++i)
    {
        const double yOld = old.step(in[i]);
        double want = yOld;
        if (i >= 640)
        {
            const double yNew = fresh.step(in[i]);
            const auto k = static_cast<double>(i - 640);
            const double s = k < n ? 0.5 * std::cos(std::numbers::pi * k / n) : -0.5;
            want = (0.5 - s) * yNew + (0.5 + s) * yOld;
        }
        ASSERT_NEAR(out[i], want, 1e-9) << i;
    }
}

TEST_F(ModFilterIIRTest, ReportsConfigurationErrors)
{
    loadArray();
    generators({element("audio:fltgen-firlp", "fir", "length=1|freq=5000")});
    struct CCase
    {
        std::string attrs;
        bool atLoad;
        const char* message;
    };
    const CCase cases[] = {
        {"fltgen=nowhere", true,
         "zelstr_CModFilterDefBase_initChilds_NoGenerator: Filter generator 'nowhere' not found."},
        {"fltgen=lp|filter-index=x", true,
         "zelstr_CModFilterDefBase_onFilterIndex_Invalid: Invalid filter index 'x' specified."},
        {"fltgen=lp|freq=1k", true,
         "zelstr_CModFilterDefBase_parseInput_Invalid: Invalid number '1k' for 'freq'."},
        {"fltgen=fir", false,
         "zelstr_CModFilterIIRModule_loadDesign_NotRecursive: Filter generator "
         "'r.audio.modMain.f' does not design a recursive filter."},
        {"fltgen=arr|filter-index=9", false,
         "zelstr_CAudioFilterGenArray_design_NoItem: No filter generator at index 9."},
    };
    for (const CCase& c : cases)
    {
        SCOPED_TRACE(c.attrs);
        if (zel::CObject* audio = m_root->findChild("audio"))
            (void)audio->destroy();
        const zel::CErrorPtr loaded = define(chainOf(iir(c.attrs)));
        if (c.atLoad)
        {
            EXPECT_EQ(idAndText(loaded), c.message);
            continue;
        }
        ASSERT_EQ(idAndText(loaded), "no error");
        EXPECT_EQ(idAndText(instantiate()), c.message);
    }
}

// Structural changes may grow pool buffers once; running and retuning never allocate.
TEST_F(ModFilterIIRTest, SteadyStateAndRetuningAllocateNothing)
{
    loadArray();
    buildDriven(3);
    // Warm up every path once: retuning, a transition, a kind change and back.
    for (const int index : {1, 4, 3})
    {
        change("plugin.modMain.type", index, 0.0);
        for (int b = 0; b < 30; ++b)
            runQuiet(64);
    }
    for (const double freq : {500.0, 2000.0, 4000.0})
    {
        change("plugin.modMain.freq", freq, 0.0);
        CCountAllocations count;
        for (int b = 0; b < 30; ++b)
            runQuiet(64);
        EXPECT_EQ(count.count(), 0u) << freq;
    }
}

} // namespace
} // namespace kelvtest
