#include "Audio/ParamFilters/AudioParamFilters.h"

#include "Audio/AudioParamCollector.h"
#include "Audio/AudioTestSupport.h"
#include "Support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <cmath>

namespace zel
{
namespace
{

using kelvtest::attrs;
using kelvtest::idAndText;

// dB to the gain converter's linear factor, written out independently.
double fromDb(double db)
{
    return std::pow(10.0, db / 20.0);
}

class AudioParamFilterTest : public kelvtest::CAudioTest
{
protected:
    std::vector<ktest::CFakeChild> converters() const override
    {
        return {{"audio:cvt-real", "real", {}, {}},
                {"audio:cvt-freq", "freq", {}, {}},
                {"audio:cvt-gain", "gain", {}, {}},
                {"audio:cvt-bw", "bw", {}, {}}};
    }
    std::unique_ptr<CAudioParam> param(const std::string& list, std::int32_t groups = 1)
    {
        auto info = define(list);
        return info ? std::make_unique<CAudioParam>(info, groups) : nullptr;
    }
    template <class T>
    T* filter(const char* tag, const std::string& list)
    {
        return dynamic_cast<T*>(load(tag, attrs(list)));
    }
    // The parameters of the spectral processor that the filters join, two channel groups for
    // the curve and its per-band value.
    void makeBandParams()
    {
        m_count = param("element-size=1|converter=/cvt.real|min-values=1|max-values=64|"
                        "def-values=32");
        m_freqs = param("element-size=1|converter=/cvt.freq|min-values=20|max-values=20000|"
                        "def-values=1000");
        m_bw = param("element-size=1|converter=/cvt.real|min-values=0,01|max-values=7|"
                     "def-values=2");
        m_postgain = param("element-size=1|converter=/cvt.gain|min-values=-18|max-values=18|"
                           "def-values=0");
        m_curve = param("element-size=2|converter=/cvt.freq|converter2=/cvt.gain|"
                        "min-values=20 -66|max-values=20000 6|def-values=20 -12,20000 -12",
                        2);
        m_threshold = param("element-size=1|converter=/cvt.gain|min-values=-54|max-values=-6|"
                            "def-values=-24",
                            2);
        ASSERT_TRUE(m_count && m_freqs && m_bw && m_postgain && m_curve && m_threshold);
    }
    static void expectDb(const CAudioParam& p, std::int32_t group, const std::vector<double>& db)
    {
        const std::vector<double> values = p.elements(group);
        ASSERT_EQ(values.size(), db.size()) << "group " << group;
        for (std::size_t k = 0; k < db.size(); ++k)
            EXPECT_NEAR(20.0 * std::log10(values[k]), db[k], 1e-9) << "group " << group << " " << k;
    }

    std::unique_ptr<CAudioParam> m_count, m_freqs, m_bw, m_postgain, m_curve, m_threshold;
};

TEST_F(AudioParamFilterTest, ListsAreValidatedWhenCreated)
{
    struct CCase
    {
        const char* tag;
        std::string list;
        std::string expected;
    };
    const std::string def = "zelstr_CAudioParamFilterDef_init_";
    const CCase cases[] = {
        {"audio:param-filter-mb", "destinations=freqs",
         def + "NoSources: No source parameters specified."},
        {"audio:param-filter-mb", "sources= , |destinations=freqs", def + "NoSources"},
        {"audio:param-filter-env", "sources=env-threshold|destinations=threshold",
         def + "TooFewSources: Too few source parameters 1 (should be at least 2)."},
        {"audio:param-filter-mb", "sources=a,b,c,d|destinations=freqs",
         def + "TooManySources: Too many source parameters 4 (should be at most 3)."},
        {"audio:param-filter-env", "sources=,freqs|destinations=threshold",
         def + "SourceMissing: Source parameter 1 is required but not named."},
        {"audio:param-filter-mbslope", "sources=slope,|destinations=g", def + "SourceMissing"},
        {"audio:param-filter-mb", "sources=bandcount",
         def + "NoDestinations: No destination parameters specified."},
        {"audio:param-filter-mb", "sources=bandcount|destinations=a,b,c,d,e",
         def + "TooManyDestinations: Too many destination parameters 5 (should be at most 4)."},
        {"audio:param-filter-env", "sources=env-ratio,freqs|destinations=a,b",
         def + "TooManyDestinations"},
        {"audio:param-filter-mb", "sources=bandcount|destinations=freqs|is-iso=maybe",
         "zelstr_CAudioParamFilter_parseFlag: Invalid boolean value 'maybe'."},
        {"audio:param-filter-mbslope", "sources=,freqs|destinations=slopegain", "no error"},
        {"audio:param-filter-mb", "sources=bandcount|destinations=freqs,,postgain", "no error"},
        {"audio:param-filter-env",
         "sources= env-threshold , freqs |destinations=threshold|"
         "is-spline=true",
         "no error"},
    };
    for (const CCase& c : cases)
    {
        CErrorPtr err;
        load(c.tag, attrs(c.list), &err);
        const std::string got = idAndText(err);
        EXPECT_EQ(got.substr(0, c.expected.size()), c.expected) << c.list;
    }
}

TEST_F(AudioParamFilterTest, CurveEditsReachEveryBandThroughTheLayout)
{
    makeBandParams();
    auto* collector = dynamic_cast<CAudioParamCollector*>(load("audio:param-collector", {}));
    ASSERT_NE(collector, nullptr);
    const std::pair<const char*, CAudioParam*> named[] = {
        {"plugin.k.bandcount", m_count.get()},
        {"plugin.k.freqs", m_freqs.get()},
        {"plugin.k.bw", m_bw.get()},
        {"plugin.k.postgain", m_postgain.get()},
        {"plugin.k.env-threshold", m_curve.get()},
        {"plugin.k.threshold", m_threshold.get()}};
    for (const auto& [path, p] : named)
        ASSERT_EQ(idAndText(collector->addParam(path, *p)), "no error");

    auto* env = filter<CAudioParamFilterEnv>("audio:param-filter-env",
                                             "sources=env-threshold,freqs|destinations=threshold");
    auto* layout = filter<CAudioParamFilterMB>(
        "audio:param-filter-mb", "sources=/plugin.k.bandcount|destinations=freqs,bw,postgain");
    ASSERT_TRUE(env && layout);
    EXPECT_EQ(idAndText(layout->connect(*collector, "plugin.k.nope")),
              "zelstr_CAudioParamFilter_connect_NotFound: Audio parameter 'plugin.k.nope.freqs' "
              "not found.");
    // The curve filter first: the layout's output then travels on to it.
    ASSERT_EQ(idAndText(env->connect(*collector, "plugin.k")), "no error");
    ASSERT_EQ(idAndText(layout->connect(*collector, "plugin.k")), "no error");

    EXPECT_EQ(m_freqs->elementCount(0), 32);
    EXPECT_NEAR(m_freqs->value(0, 31, 0), 20000.0, 1e-6);
    EXPECT_NEAR(m_bw->value(0, 0, 0), 0.50238, 5e-6);
    EXPECT_NEAR(m_postgain->value(0, 0, 0), 0.43557, 5e-6);
    // -12 dB is 3/4 of the curve's -66..+6 dB scale, which is -18 dB in the band's -54..-6.
    const std::vector<double> flat(32, -18.0);
    expectDb(*m_threshold, 0, flat);
    expectDb(*m_threshold, 1, flat);

    // A curve rising across the whole scale in group 1: inner bands take the value at their
    // centre (k/31 of the scale), the end bands average with the point a third of the way in.
    ASSERT_EQ(idAndText(m_curve->setElements(1, {20, fromDb(-66), 20000, fromDb(6)})), "no error");
    std::vector<double> rising(32);
    for (std::size_t k = 0; k < 32; ++k)
        rising[k] = -54.0 + 48.0 * static_cast<double>(k) / 31.0;
    rising[0] = -54.0 + 48.0 / 186.0;
    rising[31] = -6.0 - 48.0 / 186.0;
    expectDb(*m_threshold, 1, rising);
    expectDb(*m_threshold, 0, flat);

    // A new band count relays the bands and re-evaluates the curve at the new frequencies.
    ASSERT_EQ(idAndText(m_count->setValue(0, 0, 0, 3.0)), "no error");
    EXPECT_NEAR(m_freqs->value(0, 1, 0), std::sqrt(20.0 * 20000.0), 1e-9);
    expectDb(*m_threshold, 1, {-54.0 + 48.0 / 12.0, -30.0, -6.0 - 48.0 / 12.0});
    ASSERT_EQ(idAndText(m_count->setValue(0, 0, 0, 2.0)), "no error");
    EXPECT_EQ(m_freqs->elements(0), std::vector<double>{20.0});
    EXPECT_DOUBLE_EQ(m_bw->value(0, 0, 0), 1.0);
    EXPECT_DOUBLE_EQ(m_postgain->value(0, 0, 0), 1.0);
    expectDb(*m_threshold, 1, {-54.0});
    EXPECT_EQ(env->takeLastError(), nullptr);
}

TEST_F(AudioParamFilterTest, CurveBeyondItsPointsStopsAtTheDestinationRange)
{
    // A line from 0 at 632.46 Hz to 1 at 20000 Hz (y = 2x - 1 on the log axis) continues below
    // 0 toward 20 Hz. The bandwidth converter squares its normalised value, so only clamping
    // the normalised mean keeps the low band at the bottom of the range.
    auto curve = param("element-size=2|converter=/cvt.freq|converter2=/cvt.real|"
                       "min-values=20 0|max-values=20000 1|def-values=632.46 0,20000 1");
    auto freqs = param("element-size=1|converter=/cvt.freq|min-values=20|max-values=20000|"
                       "def-values=20,632.46,20000");
    auto widths = param("element-size=1|converter=/cvt.bw|min-values=0,01|max-values=7|"
                        "def-values=2");
    auto* env =
        filter<CAudioParamFilterEnv>("audio:param-filter-env", "sources=c,f|destinations=w");
    ASSERT_TRUE(curve && freqs && widths && env);
    CAudioParam* sources[] = {curve.get(), freqs.get()};
    CAudioParam* destinations[] = {widths.get()};
    ASSERT_EQ(idAndText(env->connect(sources, destinations)), "no error");
    // The curve's point sits at 632.46 Hz, a hair off the axis' middle.
    const double mid = std::log(632.46 / 20.0) / std::log(1000.0);
    const double slope = 1.0 / (1.0 - mid);
    // The last band averages 20000 Hz and 20000/h, h a third of the first spacing.
    const double top = ((1.0 - slope * (mid / 3.0)) + 1.0) / 2.0;
    EXPECT_NEAR(widths->value(0, 0, 0), 0.01, 1e-12);
    EXPECT_NEAR(widths->value(0, 2, 0), 0.01 + top * top * 6.99, 1e-9);
}

TEST_F(AudioParamFilterTest, IsoLayoutReportsItsBandCount)
{
    auto spacing = param("element-size=1|converter=/cvt.real|min-values=0|max-values=7|"
                         "def-values=4");
    auto lowest = param("element-size=1|converter=/cvt.real|min-values=1|max-values=30000|"
                        "def-values=20");
    auto freqs = param("element-size=1|converter=/cvt.real|min-values=1|max-values=30000|"
                       "def-values=1");
    auto count = param("element-size=1|converter=/cvt.real|min-values=0|max-values=1024|"
                       "def-values=0");
    auto* layout = filter<CAudioParamFilterMB>(
        "audio:param-filter-mb", "sources=s,lo|destinations=freqs,,,count|is-iso=true");
    ASSERT_TRUE(spacing && lowest && freqs && count && layout);
    CAudioParam* sources[] = {spacing.get(), lowest.get()};
    CAudioParam* destinations[] = {freqs.get(), nullptr, nullptr, count.get()};
    ASSERT_EQ(idAndText(layout->connect(sources, destinations)), "no error");
    EXPECT_EQ(count->value(0, 0, 0), 10.0);
    EXPECT_EQ(freqs->value(0, 0, 0), 31.25);
    EXPECT_EQ(freqs->value(0, 9, 0), 16000.0);
    // Equal limits (20000 Hz, the highest by default) widen to 22000 Hz; the bands start at the
    // anchor, below the lowest frequency.
    ASSERT_EQ(idAndText(lowest->setValue(0, 0, 0, 20000.0)), "no error");
    EXPECT_EQ(freqs->elements(0), (std::vector<double>{1000.0, 2000.0, 4000.0, 8000.0, 16000.0}));
}

TEST_F(AudioParamFilterTest, SlopeTiltsEveryBand)
{
    auto freqs = param("element-size=1|converter=/cvt.freq|min-values=20|max-values=20000|"
                       "def-values=20,632.46,5000,20000");
    auto slope = param("element-size=1|converter=/cvt.real|min-values=-3|max-values=9|"
                       "def-values=3");
    auto gains = param("element-size=1|converter=/cvt.gain|min-values=-36|max-values=36|"
                       "def-values=0");
    auto* unconnected = filter<CAudioParamFilterMBSlope>("audio:param-filter-mbslope",
                                                         "sources=,freqs|destinations=slopegain");
    auto* connected = filter<CAudioParamFilterMBSlope>(
        "audio:param-filter-mbslope", "sources=slope,freqs|destinations=slopegain");
    ASSERT_TRUE(freqs && slope && gains && unconnected && connected);

    CAudioParam* destinations[] = {gains.get()};
    CAudioParam* withoutSlope[] = {nullptr, freqs.get()};
    ASSERT_EQ(idAndText(unconnected->connect(withoutSlope, destinations)), "no error");
    const double octaves[] = {std::log2(20 / 632.46), 0.0, std::log2(5000 / 632.46),
                              std::log2(20000 / 632.46)};
    for (std::size_t k = 0; k < 4; ++k)
        EXPECT_NEAR(20.0 * std::log10(gains->value(0, static_cast<std::int32_t>(k), 0)),
                    1.5 * octaves[k], 1e-9);
    unconnected->disconnect();

    CAudioParam* withSlope[] = {slope.get(), freqs.get()};
    ASSERT_EQ(idAndText(connected->connect(withSlope, destinations)), "no error");
    EXPECT_EQ(gains->elements(0), std::vector<double>(4, 1.0));
    // A required source may not be left unconnected.
    CAudioParam* noFreqs[] = {slope.get(), nullptr};
    EXPECT_EQ(idAndText(connected->connect(noFreqs, destinations)),
              "zelstr_CAudioParamFilter_connect_Missing: Source parameter 2 of filter "
              "'r.e4' is not connected.");
}

TEST_F(AudioParamFilterTest, CurveEditsAllocateNothingWhileTheBandCountHolds)
{
    makeBandParams();
    auto* env = filter<CAudioParamFilterEnv>("audio:param-filter-env",
                                             "sources=c,f|destinations=t|is-spline=true");
    auto* layout =
        filter<CAudioParamFilterMB>("audio:param-filter-mb", "sources=n|destinations=f,bw,pg");
    ASSERT_TRUE(env && layout);
    CAudioParam* envSources[] = {m_curve.get(), m_freqs.get()};
    CAudioParam* envDestinations[] = {m_threshold.get()};
    CAudioParam* layoutSources[] = {m_count.get()};
    CAudioParam* layoutDestinations[] = {m_freqs.get(), m_bw.get(), m_postgain.get()};
    ASSERT_EQ(idAndText(env->connect(envSources, envDestinations)), "no error");
    ASSERT_EQ(idAndText(layout->connect(layoutSources, layoutDestinations)), "no error");
    const std::vector<double> before = m_threshold->elements(0);
    {
        kelvtest::CCountAllocations counter;
        ASSERT_EQ(m_curve->setValue(0, 1, 1, fromDb(0.0)), nullptr);
        ASSERT_EQ(m_count->setValue(0, 0, 0, 31.6), nullptr); // still 32 bands
        EXPECT_EQ(counter.count(), 0u);
    }
    EXPECT_GT(m_threshold->value(0, 31, 0), before[31]);
    EXPECT_LT(m_threshold->value(0, 0, 0), m_threshold->value(0, 31, 0));
}

TEST_F(AudioParamFilterTest, BadShapesAndVanishingParametersAreSurvived)
{
    makeBandParams();
    auto pairs = param("element-size=2|converter=/cvt.real|converter2=/cvt.real|"
                       "min-values=0 0|max-values=1 1|def-values=0 0");
    auto* env =
        filter<CAudioParamFilterEnv>("audio:param-filter-env", "sources=c,f|destinations=t");
    ASSERT_TRUE(pairs && env);

    CAudioParam* sources[] = {m_curve.get(), m_freqs.get()};
    CAudioParam* wrongDestination[] = {pairs.get()};
    EXPECT_TRUE(idAndText(env->connect(sources, wrongDestination))
                    .starts_with("zelstr_CAudioParamFilter_writeDestination_Shape: Destination"));
    CAudioParam* flatCurve[] = {m_threshold.get(), m_freqs.get()};
    CAudioParam* destinations[] = {m_threshold.get()};
    EXPECT_TRUE(idAndText(env->connect(flatCurve, destinations))
                    .starts_with("zelstr_CAudioParamFilterEnv_computeGroup_Curve: Curve"));

    // A filter that feeds itself stops after one pass instead of recursing.
    auto* self =
        filter<CAudioParamFilterMBSlope>("audio:param-filter-mbslope", "sources=,f|destinations=f");
    CAudioParam* own[] = {nullptr, m_freqs.get()};
    CAudioParam* ownDestination[] = {m_freqs.get()};
    ASSERT_EQ(idAndText(self->connect(own, ownDestination)), "no error");
    ASSERT_EQ(m_freqs->setValue(0, 0, 0, 632.46), nullptr);
    self->disconnect();

    // Parameters destroyed before the filter are forgotten, not written.
    ASSERT_EQ(idAndText(env->connect(sources, destinations)), "no error");
    m_threshold.reset();
    ASSERT_EQ(m_curve->setValue(0, 0, 1, fromDb(-30.0)), nullptr);
    m_freqs.reset();
    ASSERT_EQ(m_curve->setValue(0, 0, 1, fromDb(-20.0)), nullptr);
    EXPECT_EQ(env->takeLastError(), nullptr);
    EXPECT_TRUE(env->isConnected());
}

} // namespace
} // namespace zel
