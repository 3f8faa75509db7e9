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

using kelvtest::idAndText;
using CParams = std::vector<CAudioParam*>;

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
    // A parameter of one value per element with the converter, range and defaults given.
    std::unique_ptr<CAudioParam> param(const std::string& cvt, const std::string& min,
                                       const std::string& max, const std::string& defs,
                                       std::int32_t groups = 1)
    {
        auto info = define("element-size=1|converter=/cvt." + cvt + "|min-values=" + min +
                           "|max-values=" + max + "|def-values=" + defs);
        return info ? std::make_unique<CAudioParam>(info, groups) : nullptr;
    }
    // A curve of (frequency, value) points, two groups.
    std::unique_ptr<CAudioParam> curve(const std::string& cvt, const std::string& range,
                                       const std::string& defs)
    {
        auto info = define("element-size=2|converter=/cvt.freq|converter2=/cvt." + cvt + "|" +
                           range + "|def-values=" + defs);
        return info ? std::make_unique<CAudioParam>(info, 2) : nullptr;
    }
    template <class T>
    T* filter(const char* tag, const std::string& list)
    {
        return dynamic_cast<T*>(load(tag, kelvtest::attrs(list)));
    }
    // The spectral processor's band parameters; curve and per-band value have two groups.
    void makeBandParams()
    {
        m_count = param("real", "1", "64", "32");
        m_freqs = param("freq", "20", "20000", "1000");
        m_bw = param("real", "0,01", "7", "2");
        m_postgain = param("gain", "-18", "18", "0");
        m_curve = curve("gain", "min-values=20 -66|max-values=20000 6", "20 -12,20000 -12");
        m_threshold = param("gain", "-54", "-6", "-24", 2);
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
    const std::string def = "zelstr_CAudioParamFilterDef_init_";
    const std::tuple<const char*, std::string, std::string> cases[] = {
        {"mb", "destinations=freqs", def + "NoSources: No source parameters specified."},
        {"mb", "sources= , |destinations=freqs", def + "NoSources"},
        {"env", "sources=env-threshold|destinations=threshold",
         def + "TooFewSources: Too few source parameters 1 (should be at least 2)."},
        {"mb", "sources=a,b,c,d|destinations=freqs",
         def + "TooManySources: Too many source parameters 4 (should be at most 3)."},
        {"env", "sources=,freqs|destinations=t",
         def + "SourceMissing: Source parameter 1 is required but not named."},
        {"mbslope", "sources=slope,|destinations=g", def + "SourceMissing"},
        {"mb", "sources=bandcount", def + "NoDestinations: No destination parameters specified."},
        {"mb", "sources=n|destinations=a,b,c,d,e",
         def + "TooManyDestinations: Too many destination parameters 5 (should be at most 4)."},
        {"mb", "sources=n|destinations=freqs|is-iso=maybe",
         "zelstr_CClassInfo_flag_InvalidBoolean: Invalid boolean value 'maybe'."},
        {"mbslope", "sources=,freqs|destinations=slopegain", "no error"},
        {"env", "sources= env-threshold , freqs |destinations=t|is-spline=true", "no error"},
    };
    for (const auto& [kind, list, expected] : cases)
    {
        CErrorPtr err;
        load(("audio:param-filter-" + std::string(kind)).c_str(), kelvtest::attrs(list), &err);
        EXPECT_EQ(idAndText(err).substr(0, expected.size()), expected) << list;
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
    // A line from 0 at 632.46 Hz to 1 at 20000 Hz continues below 0 toward 20 Hz. The bandwidth
    // converter squares its normalised value, so only clamping the normalised mean keeps the
    // low band at the bottom of the range.
    auto line = curve("real", "min-values=20 0|max-values=20000 1", "632.46 0,20000 1");
    auto freqs = param("freq", "20", "20000", "20,632.46,20000");
    auto widths = param("bw", "0,01", "7", "2");
    auto* env =
        filter<CAudioParamFilterEnv>("audio:param-filter-env", "sources=c,f|destinations=w");
    ASSERT_TRUE(line && freqs && widths && env);
    ASSERT_EQ(idAndText(env->connect(CParams{line.get(), freqs.get()}, CParams{widths.get()})),
              "no error");
    const double mid = std::log(632.46 / 20.0) / std::log(1000.0);
    // The last band averages 20000 Hz and 20000/h, h a third of the first spacing.
    const double top = ((1.0 - (mid / 3.0) / (1.0 - mid)) + 1.0) / 2.0;
    EXPECT_NEAR(widths->value(0, 0, 0), 0.01, 1e-12);
    EXPECT_NEAR(widths->value(0, 2, 0), 0.01 + top * top * 6.99, 1e-9);
}

TEST_F(AudioParamFilterTest, IsoOctavesTiltedAroundThePivot)
{
    auto spacing = param("real", "0", "7", "4");
    auto freqs = param("freq", "20", "20000", "1000");
    auto count = param("real", "0", "1024", "0");
    auto slope = param("real", "-3", "9", "3");
    auto gains = param("gain", "-36", "36", "0");
    auto* layout = filter<CAudioParamFilterMB>("audio:param-filter-mb",
                                               "sources=s|destinations=freqs,,,count|is-iso=true");
    auto* tilt4_5 = filter<CAudioParamFilterMBSlope>("audio:param-filter-mbslope",
                                                     "sources=,freqs|destinations=gains");
    auto* tilt = filter<CAudioParamFilterMBSlope>("audio:param-filter-mbslope",
                                                  "sources=slope,freqs|destinations=gains");
    ASSERT_TRUE(spacing && freqs && count && slope && gains && layout && tilt4_5 && tilt);
    ASSERT_EQ(idAndText(tilt4_5->connect(CParams{nullptr, freqs.get()}, CParams{gains.get()})),
              "no error");
    ASSERT_EQ(idAndText(layout->connect(CParams{spacing.get()},
                                        CParams{freqs.get(), nullptr, nullptr, count.get()})),
              "no error");
    // Octaves from 31.25 Hz to 16000 Hz, each 1.5 dB above the one below it.
    EXPECT_EQ(count->value(0, 0, 0), 10.0);
    std::vector<double> db(10);
    for (std::size_t k = 0; k < 10; ++k)
        db[k] = 1.5 * std::log2(31.25 * std::pow(2.0, static_cast<double>(k)) / 632.46);
    expectDb(*gains, 0, db);

    tilt4_5->disconnect();
    ASSERT_EQ(idAndText(tilt->connect(CParams{slope.get(), freqs.get()}, CParams{gains.get()})),
              "no error");
    EXPECT_EQ(gains->elements(0), std::vector<double>(10, 1.0));
    EXPECT_EQ(idAndText(tilt->connect(CParams{slope.get(), nullptr}, CParams{gains.get()})),
              "zelstr_CAudioParamFilter_connect_Missing: Source parameter 2 of filter '" +
                  tilt->fullName().toUtf8() + "' is not connected.");
}

TEST_F(AudioParamFilterTest, CurveEditsAllocateNothingWhileTheBandCountHolds)
{
    makeBandParams();
    auto* env = filter<CAudioParamFilterEnv>("audio:param-filter-env",
                                             "sources=c,f|destinations=t|is-spline=true");
    auto* layout =
        filter<CAudioParamFilterMB>("audio:param-filter-mb", "sources=n|destinations=f,bw,pg");
    ASSERT_TRUE(env && layout);
    ASSERT_EQ(
        idAndText(env->connect(CParams{m_curve.get(), m_freqs.get()}, CParams{m_threshold.get()})),
        "no error");
    ASSERT_EQ(idAndText(layout->connect(CParams{m_count.get()},
                                        CParams{m_freqs.get(), m_bw.get(), m_postgain.get()})),
              "no error");
    const std::vector<double> before = m_threshold->elements(0);
    {
        kelvtest::CCountAllocations counter;
        ASSERT_EQ(m_curve->setValue(0, 1, 1, fromDb(0.0)), nullptr);
        ASSERT_EQ(m_count->setValue(0, 0, 0, 31.6), nullptr); // still 32 bands
        EXPECT_EQ(counter.count(), 0u);
    }
    EXPECT_GT(m_threshold->value(0, 31, 0), before[31]);
}

TEST_F(AudioParamFilterTest, BadShapesAndVanishingParametersAreSurvived)
{
    makeBandParams();
    auto pairs = curve("real", "min-values=20 0|max-values=20000 1", "20 0");
    auto* env =
        filter<CAudioParamFilterEnv>("audio:param-filter-env", "sources=c,f|destinations=t");
    ASSERT_TRUE(pairs && env);
    const CParams sources = {m_curve.get(), m_freqs.get()};
    EXPECT_TRUE(idAndText(env->connect(sources, CParams{pairs.get()}))
                    .starts_with("zelstr_CAudioParamFilter_writeDestination_Shape: Destination"));
    EXPECT_TRUE(idAndText(env->connect(CParams{m_threshold.get(), m_freqs.get()},
                                       CParams{m_threshold.get()}))
                    .starts_with("zelstr_CAudioParamFilterEnv_computeGroup_Curve: Curve"));

    // A filter that feeds itself stops after one pass instead of recursing.
    auto* self =
        filter<CAudioParamFilterMBSlope>("audio:param-filter-mbslope", "sources=,f|destinations=f");
    ASSERT_EQ(idAndText(self->connect(CParams{nullptr, m_freqs.get()}, CParams{m_freqs.get()})),
              "no error");
    ASSERT_EQ(m_freqs->setValue(0, 0, 0, 632.46), nullptr);
    self->disconnect();

    // Parameters destroyed before the filter are forgotten, not written.
    ASSERT_EQ(idAndText(env->connect(sources, CParams{m_threshold.get()})), "no error");
    m_threshold.reset();
    ASSERT_EQ(m_curve->setValue(0, 0, 1, fromDb(-30.0)), nullptr);
    m_freqs.reset();
    ASSERT_EQ(m_curve->setValue(0, 0, 1, fromDb(-20.0)), nullptr);
    EXPECT_EQ(env->takeLastError(), nullptr);
    EXPECT_TRUE(env->isConnected());
}

} // namespace
} // namespace zel
