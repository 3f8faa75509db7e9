// The filter modules on small descriptions at 44100 Hz, against references written out sample
// by sample from their textbook definitions (direct form II biquads with the raised-cosine
// coefficient transition, half-band allpass pairs, direct convolution), independent of the
// kernels and modules under test.
#include "Audio/Filters/AudioFilterGen.h"
#include "Audio/Filters/FilterGenTestSupport.h"
#include "Audio/Processes/ModFilterFIR.h"
#include "Audio/Processes/ModFilterIIR.h"
#include "Audio/Processes/ModTestSupport.h"

#include <cmath>
#include <complex>
#include <numbers>
#include <tuple>

namespace kelvtest
{
namespace
{

constexpr CCoeffs kIdentity{1.0, 0.0, 0.0, 0.0, 0.0};

// "modMain" running module "f" from its input to its output.
CChild chainOf(CChild module, std::vector<CChild> params = {})
{
    return chain(std::move(params), {std::move(module)});
}

// Three sines and a slow ramp, so that every band carries energy.
CSamples testSignal(std::size_t n)
{
    CSamples out(n);
    for (std::size_t i = 0; i < n; ++i)
    {
        const auto t = static_cast<double>(i);
        out[i] = 0.4 * std::sin(0.031 * t) + 0.3 * std::sin(0.29 * t + 1.0) +
                 0.2 * std::sin(2.1 * t) + 0.0001 * t;
    }
    return out;
}

// Biquads in cascade, each with the 25 ms transition at 44100 Hz; a stage resting on the
// identity starts its new filter from silence.
class CBiquadCascadeSim
{
public:
    explicit CBiquadCascadeSim(const zel::CAudioFilterDesign& d)
    {
        for (std::size_t i = 0; i < d.sectionCount; ++i)
            m_stages.push_back({d.sections[i].coeffs, 1103});
    }
    void retune(const zel::CAudioFilterDesign& d)
    {
        m_stages.resize(std::max(d.sectionCount, m_stages.size()), {kIdentity, 1103});
        for (std::size_t i = 0; i < m_stages.size(); ++i)
        {
            CBiquadReference& s = m_stages[i];
            const CCoeffs target = i < d.sectionCount ? d.sections[i].coeffs : kIdentity;
            if (target == s.cur)
                continue;
            if (s.cur == kIdentity)
                s.w = {};
            s.update(target);
        }
    }
    double step(double x)
    {
        for (CBiquadReference& s : m_stages)
            x = s.step(x);
        return x;
    }

private:
    std::vector<CBiquadReference> m_stages;
};

class ModFilterTest : public CModTest
{
protected:
    static constexpr double kFs = 44100.0;

    // Generators below the root; "arr" holds 0 bypass, 1 low-pass 1 kHz, 2 peaking 3 kHz +6 dB,
    // 3 high-pass then low-pass in cascade, 4 a half-band pair of order 4, 5 a 4-tap FIR.
    void SetUp() override
    {
        CModTest::SetUp();
        m_env->setSampleRate(kFs);
        const CChild gens[] = {
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
            element("audio:fltgen-firlp", "fir", "length=5.73696145124716553|freq=10788"),
            element("audio:fltgen-array", "arr", "",
                    {element("audio:fltgen-array-item", "i", "index=0|fltgen=byp"),
                     element("audio:fltgen-array-item", "i", "index=1|fltgen=lp"),
                     element("audio:fltgen-array-item", "i", "index=2|fltgen=peak"),
                     element("audio:fltgen-array-item", "i", "index=3|fltgen=band"),
                     element("audio:fltgen-array-item", "i", "index=4|fltgen=hbf"),
                     element("audio:fltgen-array-item", "i", "index=5|fltgen=fir|length=0.1")})};
        for (const CChild& g : gens)
            ASSERT_EQ(idAndText(ktest::loadElement(*m_root, g)), "no error");
    }
    // An IIR module on "arr" driven by the parameters "type" (input 0) and "freq" (input 1).
    void buildDriven(int index, const std::string& extra = "")
    {
        ASSERT_FALSE(rebuild(chainOf(
            module("audio:modFilterIIR", "f", inOrder({"type", "freq"}), "fltgen=arr" + extra),
            {wideParam("type", std::to_string(index)), wideParam("freq", "1000")})));
    }
    zel::CAudioFilterDesign design(const char* gen, int index, std::optional<double> freq = {})
    {
        zel::CAudioFilterRequest request;
        request.sampleRate = kFs;
        request.index = index;
        request.freq = freq;
        zel::CAudioFilterDesign d;
        const auto* g = dynamic_cast<const zel::CAudioFilterGen*>(m_root->findChild(gen));
        EXPECT_EQ(idAndText(g->design(request, d)), "no error");
        return d;
    }
};

// The output is the generator's biquad cascade, and coefficient changes follow the biquads'
// 25 ms raised-cosine transition, whatever the numerator shapes and section counts on either
// side; a resting identity passes its input on.
TEST_F(ModFilterTest, IIRCoefficientChangesFadeWithoutClicks)
{
    // what, filter index before and after, frequency after
    const std::tuple<const char*, int, int, double> cases[] = {
        {"frequency of a low-pass", 1, 1, 3000.0},
        {"peaking to low-pass (another numerator shape)", 2, 1, 1000.0},
        {"bypass to a cascade of two", 0, 3, 1000.0},
        {"cascade of two to bypass", 3, 0, 1000.0}};
    const CSamples in = testSignal(640 + 2048);
    for (const auto& [what, from, to, toFreq] : cases)
    {
        SCOPED_TRACE(what);
        buildDriven(from);
        CBiquadCascadeSim sim(design("arr", from, 1000.0));
        CSamples out = runChannel0(in, 0, 640, 64);
        change("plugin.modMain.type", to, 0.0);
        change("plugin.modMain.freq", toFreq, 0.0);
        const CSamples after = runChannel0(in, 640, in.size(), 64);
        out.insert(out.end(), after.begin(), after.end());
        double worst = 0.0;
        for (std::size_t i = 0; i < in.size(); ++i)
        {
            if (i == 640)
                sim.retune(design("arr", to, toFreq));
            worst = std::max(worst, std::abs(out[i] - sim.step(in[i])));
        }
        EXPECT_LT(worst, 1e-9);
    }
    // The cascade came to rest on the identity: no kernel runs, the output is the input slot.
    std::uint32_t ref = 0;
    ASSERT_FALSE(m_context->takeBuffer(64 * 8, ref));
    for (zel::CAudioConnection* feed : m_feeds)
        ASSERT_FALSE(feed->push(ref, 0, 64));
    ASSERT_EQ(idAndText(m_main->process(64)), "no error");
    for (zel::CAudioConnection* tap : m_taps)
        EXPECT_EQ(tap->frontRef(), ref);
    ASSERT_FALSE(m_context->releaseReference(ref));
}

// A change of kind has no coefficient transition: a fresh filter fades in over "xfade-length"
// (44 samples here), starting on the old filter's output and ending on the new one's.
TEST_F(ModFilterTest, IIRKindChangeCrossfadesToAFreshFilter)
{
    buildDriven(1, "|xfade-length=0.001");
    const CSamples in = testSignal(640 + 256);
    CBiquadCascadeSim old(design("arr", 1, 1000.0));
    // The fresh filter starts from silence on the first sample after the change.
    const zel::CAudioFilterDesign hb = design("arr", 4);
    const auto half = static_cast<std::ptrdiff_t>(hb.halfBandOrder / 2);
    const CSamples fresh =
        halfBandReference({hb.halfBand.begin(), hb.halfBand.begin() + half},
                          {hb.halfBand.begin() + half,
                           hb.halfBand.begin() + static_cast<std::ptrdiff_t>(hb.halfBandOrder)},
                          {in.begin() + 640, in.end()});
    CSamples out = runChannel0(in, 0, 640, 64);
    change("plugin.modMain.type", 4, 0.0);
    const CSamples after = runChannel0(in, 640, in.size(), 64);
    out.insert(out.end(), after.begin(), after.end());
    for (std::size_t i = 0; i < in.size(); ++i)
    {
        const double yOld = old.step(in[i]);
        const double k = static_cast<double>(i) - 640.0;
        const double s = k < 0.0    ? 0.5
                         : k < 44.0 ? 0.5 * std::cos(std::numbers::pi * k / 44.0)
                                    : -0.5;
        const double want = (0.5 - s) * (k < 0.0 ? 0.0 : fresh[i - 640]) + (0.5 + s) * yOld;
        ASSERT_NEAR(out[i], want, 1e-9) << i;
    }
    auto& process = dynamic_cast<zel::CModFilterIIR&>(*m_main->findChild("f"));
    EXPECT_FALSE(process.module(0).isCrossfading());
}

// The FIR output is the plain convolution with the taps, delayed by the partition size B,
// which is the latency the definition reports, for any block length.
TEST_F(ModFilterTest, FIROutputIsTheDirectConvolutionDelayedByOnePartition)
{
    // generator, attributes, block length, latency, partitions
    const std::tuple<const char*, const char*, std::size_t, std::int32_t, std::size_t> cases[] = {
        {"fir", "fltgen=fir", 64, 256, 1}, // 253 taps fit one partition
        {"fir", "fltgen=fir|latency=7", 37, 128, 2},
        {"fir", "fltgen=fir|latency=5", 64, 32, 8},       // two frames per block
        {"arr", "fltgen=arr|filter-index=5", 23, 16, 1}}; // 4 taps
    const CSamples in = testSignal(1500);
    for (const auto& [gen, attrs, block, latency, partitions] : cases)
    {
        SCOPED_TRACE(attrs);
        ASSERT_FALSE(rebuild(chainOf(element("audio:modFilterFIR", "f", attrs))));
        const auto& def = dynamic_cast<const zel::CModFilterFIRDef&>(*m_def->findChild("f"));
        EXPECT_EQ(def.latencySamples(kFs), latency);
        auto& process = dynamic_cast<zel::CModFilterFIR&>(*m_main->findChild("f"));
        EXPECT_EQ(process.module(0).partitionCount(), partitions);

        const std::vector<double> taps = design(gen, 5).taps;
        const CSamples out = runChannel0(in, 0, in.size(), block);
        ASSERT_EQ(out.size(), in.size());
        const auto delay = static_cast<std::size_t>(latency);
        double worst = 0.0;
        for (std::size_t t = 0; t < out.size(); ++t)
        {
            double want = 0.0;
            for (std::size_t k = 0; k < taps.size() && k + delay <= t; ++k)
                want += taps[k] * in[t - delay - k];
            worst = std::max(worst, std::abs(out[t] - want));
        }
        EXPECT_LT(worst, 1e-12);
    }
}

TEST_F(ModFilterTest, ConfigurationErrors)
{
    // tag, attributes, the error at load, or (after '!') when the module starts
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"audio:modFilterIIR", "fltgen=nowhere",
         "zelstr_CModFilterDefBase_initChilds_NoGenerator: Filter generator 'nowhere' not found."},
        {"audio:modFilterIIR", "fltgen=lp|filter-index=x",
         "zelstr_CModFilterDefBase_onFilterIndex_Invalid: Invalid filter index 'x' specified."},
        {"audio:modFilterFIR", "fltgen=fir|latency=17",
         "zelstr_CModFilterFIRDef_onLatency_Invalid: Invalid latency '17' specified."},
        {"audio:modFilterIIR", "fltgen=fir",
         "!zelstr_CModFilterIIRModule_loadDesign_NotRecursive: Filter generator "
         "'fir' does not design a recursive filter."},
        {"audio:modFilterFIR", "fltgen=lp",
         "!zelstr_CModFilterFIRDef_designTaps_NotFIR: Filter generator 'lp' does not design "
         "FIR taps."},
    };
    for (const auto& [tag, attrs, message] : cases)
    {
        SCOPED_TRACE(attrs);
        resetGraph();
        const zel::CErrorPtr loaded = define(chainOf(element(tag, "f", attrs)));
        if (message[0] != '!')
        {
            EXPECT_EQ(idAndText(loaded), message);
            continue;
        }
        ASSERT_EQ(idAndText(loaded), "no error");
        EXPECT_EQ(idAndText(instantiate()), message + 1);
    }
}

// Running and retuning allocate nothing (a change of kind may grow pool buffers once).
TEST_F(ModFilterTest, SteadyStateAndRetuningAllocateNothing)
{
    ASSERT_FALSE(rebuild(
        container("modMain", {wideParam("freq", "1000"),
                              module("audio:modFilterIIR", "f", {{1, "freq"}}, "fltgen=band"),
                              element("audio:modFilterFIR", "g", "fltgen=fir|latency=6"),
                              link("src=*|dst=f"), link("src=f|dst=g"), link("src=g|dst=*")})));
    for (int b = 0; b < 30; ++b)
        runQuiet(64);
    for (const double freq : {500.0, 2000.0, 4000.0})
    {
        change("plugin.modMain.freq", freq, 0.0);
        CCountAllocations count;
        for (int b = 0; b < 30; ++b)
            runQuiet(b % 2 == 0 ? 64 : 29);
        EXPECT_EQ(count.count(), 0u) << freq;
    }
}

} // namespace
} // namespace kelvtest
