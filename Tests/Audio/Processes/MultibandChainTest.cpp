// A multiband process driven by a band layout filter, end to end: the filter declared in the
// enclosing process lays out "freqs", "bw" and the band count from a count and a frequency
// range; every band runs a band-pass IIR module (tuned to its band's entry of "freqs", with the
// common "bw") followed by a gain module (its band's entry of "outgain"). The measured response
// is compared with the sum of the generator's own designs at the expected band frequencies,
// which are computed here from the log spacing, not read back from the filter.
#include "Audio/AudioProcess.h"
#include "Audio/Filters/AudioFilterGen.h"
#include "Audio/Filters/FilterGenTestSupport.h"
#include "Audio/ParamFilters/AudioParamFilter.h"
#include "Audio/Processes/ModTestSupport.h"

#include <cmath>
#include <complex>
#include <numbers>

namespace kelvtest
{
namespace
{

constexpr double kFs = 48000.0;
constexpr std::size_t kBlock = 64;
// The complex amplitude of 0.25 sin(wt) as amplitude() measures it.
const std::complex<double> kSine(0.0, -0.25);
const char* const kLayout = "plugin.modMain.layout";
const char* const kFreqs = "plugin.modMain.freqs";

// modMain: the layout filter and its parameters, then * -> mb -> *; each band: * -> bp -> g -> *.
CChild chainMain(const std::string& filterSources = "layout,lo,hi")
{
    CChild mb =
        container("mb",
                  {module("audio:modFilterIIR", "bp", {{1, "freqs"}, {3, "bw"}}, "fltgen=bpgen"),
                   module("audio:modGain", "g", {{0, "outgain"}}), link("src=*|dst=bp"),
                   link("src=bp|dst=g"), link("src=g|dst=*")},
                  "is-multiband=true|multiband-freq-param=freqs|multiband-count-param=bands|"
                  "xfade-length=0.001");
    return container("modMain",
                     {wideParam("layout", "4"), wideParam("lo", "100"), wideParam("hi", "10000"),
                      wideParam("freqs", "1000"), wideParam("bw", "1"), wideParam("postgain", "1"),
                      wideParam("bands", "1"), wideParam("outgain", "1,0.5,2,0.25"),
                      element("audio:param-filter-mb", "layoutFilter",
                              "sources=" + filterSources + "|destinations=freqs,bw,postgain,bands"),
                      mb, link("src=*|dst=mb"), link("src=mb|dst=*")});
}

// Band b of n log-spaced bands from 100 to 10000 Hz.
double bandFreq(int b, int n)
{
    return 100.0 * std::pow(100.0, static_cast<double>(b) / (n - 1));
}

// The Hann-windowed complex amplitude of frequency f in y[from, from + length).
std::complex<double> amplitude(const CSamples& y, std::size_t from, std::size_t length, double f)
{
    std::complex<double> sum = 0.0;
    double weight = 0.0;
    for (std::size_t i = 0; i < length; ++i)
    {
        const double w = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i) /
                                              static_cast<double>(length));
        const double phase = 2.0 * std::numbers::pi * f * static_cast<double>(from + i) / kFs;
        sum += w * y[from + i] * std::polar(1.0, -phase);
        weight += w;
    }
    return 2.0 * sum / weight;
}

CSamples sines(std::size_t n, std::initializer_list<double> freqs)
{
    CSamples out(n, 0.0);
    for (std::size_t i = 0; i < n; ++i)
        for (const double f : freqs)
            out[i] += 0.25 * std::sin(2.0 * std::numbers::pi * f * static_cast<double>(i) / kFs);
    return out;
}

class MultibandChainTest : public CModTest
{
protected:
    void SetUp() override
    {
        CModTest::SetUp();
        m_env->setSampleRate(kFs);
        ASSERT_EQ(
            idAndText(ktest::loadElement(*m_root, element("audio:fltgen-rbj", "bpgen",
                                                          "type=2|is-type2=true|freq=1000|bw=1"))),
            "no error");
    }
    zel::CAudioProcessMB& mb()
    {
        return dynamic_cast<zel::CAudioProcessMB&>(
            *dynamic_cast<zel::CAudioProcess&>(*m_main).findProcess("mb"));
    }
    void rebuild()
    {
        resetGraph();
        ASSERT_EQ(idAndText(build(chainMain())), "no error");
    }
    CSamples runFrom(const CSamples& in, std::size_t from, std::size_t to)
    {
        return runChannel0(in, from, to, kBlock);
    }
    // The response the bands should sum to at f: sum over bands of gain x the generator's own
    // band-pass at the band's frequency and the common bandwidth.
    std::complex<double> expected(const std::vector<double>& freqs, double bw, double f)
    {
        const double gains[] = {1.0, 0.5, 2.0, 0.25};
        const auto& gen = dynamic_cast<const zel::CAudioFilterGen&>(*m_root->findChild("bpgen"));
        std::complex<double> total = 0.0;
        for (std::size_t b = 0; b < freqs.size(); ++b)
        {
            zel::CAudioFilterRequest request;
            request.sampleRate = kFs;
            request.freq = freqs[b];
            request.bw = bw;
            zel::CAudioFilterDesign d;
            EXPECT_EQ(idAndText(gen.design(request, d)), "no error");
            std::complex<double> h = 1.0;
            for (std::size_t i = 0; i < d.sectionCount; ++i)
                h *= biquadResponse(d.sections[i], f, kFs);
            total += gains[b] * h;
        }
        return total;
    }
    double liveBw() { return liveParam("plugin.modMain.bw").value(0, 0, 0); }
};

TEST_F(MultibandChainTest, EveryBandRunsAtItsOwnFrequencyAndFollowsATimedLayoutChange)
{
    const double f1 = bandFreq(1, 4);
    const double f2 = bandFreq(2, 4);
    const CSamples in = sines(48000, {f1, f2});

    // Unchanged run: the reference for the samples before the change.
    rebuild();
    ASSERT_EQ(mb().bandCount(), 4);
    const CSamples before = runFrom(in, 0, 24000);
    const std::vector<double> freqs4 = {bandFreq(0, 4), f1, f2, bandFreq(3, 4)};
    const double bw4 = liveBw();
    EXPECT_GT(bw4, 1.0); // the filter's bandwidth, not the parameter's default
    for (const double f : {f1, f2})
    {
        const std::complex<double> want = expected(freqs4, bw4, f) * kSine;
        const std::complex<double> got = amplitude(before, 4800, 19200, f);
        EXPECT_LT(std::abs(got - want), 1e-3 * std::abs(want)) << f;
    }

    // Same input, with the layout going to 3 bands stamped mid-block: 100, 1000, 10000 Hz.
    rebuild();
    const std::size_t landing = 100 * kBlock + 20;
    CSamples after = runFrom(in, 0, 100 * kBlock);
    change(kLayout, 3, static_cast<double>(landing) / kFs);
    EXPECT_EQ(mb().bandCount(), 4); // nothing applied before the stamp's sub-block
    const CSamples rest = runFrom(in, 100 * kBlock, 48000);
    after.insert(after.end(), rest.begin(), rest.end());
    EXPECT_EQ(mb().bandCount(), 3);

    for (std::size_t i = 0; i < landing; ++i)
        ASSERT_EQ(after[i], before[i]) << "changed early at " << i;
    double moved = 0.0;
    for (std::size_t i = landing; i < landing + 8; ++i)
        moved = std::max(moved, std::abs(after[i] - before[i]));
    EXPECT_GT(moved, 1e-9) << "the change did not land at its sub-block";

    const std::vector<double> freqs3 = {bandFreq(0, 3), bandFreq(1, 3), bandFreq(2, 3)};
    const zel::CAudioParam& live = liveParam(kFreqs);
    ASSERT_EQ(live.elementCount(0), 3);
    for (std::int32_t b = 0; b < 3; ++b)
        EXPECT_NEAR(live.value(0, b, 0), freqs3[static_cast<std::size_t>(b)], 1e-9) << b;
    const double bw3 = liveBw();
    EXPECT_GT(bw3, bw4); // wider spacing, wider bands
    // Well after the retuning transitions: band 1 now sits at 1000 Hz.
    for (const double f : {f1, f2, 1000.0})
    {
        const CSamples tone = sines(9600, {f});
        const CSamples out = runFrom(tone, 0, tone.size());
        const std::complex<double> want = expected(freqs3, bw3, f) * kSine;
        const std::complex<double> got = amplitude(out, 4800, 4800, f);
        EXPECT_LT(std::abs(got - want), 1e-3 * std::abs(want)) << f;
    }
}

TEST_F(MultibandChainTest, FiltersAreConnectedPerInstanceAndReportUnknownParameters)
{
    rebuild();
    // The definition's own filter stays unconnected; the instance's copy wrote the layout.
    const auto* model =
        dynamic_cast<const zel::CAudioParamFilter*>(m_def->findChild("layoutFilter"));
    ASSERT_NE(model, nullptr);
    EXPECT_FALSE(model->isConnected());
    EXPECT_EQ(liveParam("plugin.modMain.bands").value(0, 0, 0), 4.0);
    EXPECT_EQ(liveParam(kFreqs).elementCount(1), 4);

    resetGraph();
    const zel::CErrorPtr err = build(chainMain("layout,nosuch,hi"));
    ASSERT_TRUE(err);
    EXPECT_EQ(err->text(), "Audio parameter 'plugin.modMain.nosuch' not found.");
}

} // namespace
} // namespace kelvtest
