// The half-band and FIR low-pass generators: coefficient list checks, the designs carried in
// the shared description measured in the frequency domain (a mistyped coefficient shows up as
// lost stop-band attenuation), and the windowed-sinc taps.

#include "Audio/Filters/FilterGenTestSupport.h"

#include "Audio/Filters/AudioFilterFIRLPGen.h"
#include "Audio/Filters/AudioFilterGenGroups.h"
#include "Audio/Filters/AudioFilterHBFGen.h"
#include "Core/DescriptionLoader.h"

#include <algorithm>
#include <string>
#include <tuple>

namespace
{

using kelvtest::CFilterGenTest;
using zel::CAudioFilterDesign;
using zel::CAudioFilterFIRLPGen;
using zel::CAudioFilterHBFGen;
using zel::CAudioFilterRequest;
using zel::EFilterDesignKind;

TEST_F(CFilterGenTest, HalfBandListsAreCheckedForPresenceAndEqualLength)
{
    const std::string count = "zelstr_CAudioFilterHBFGen_init_CoeffsCountError: Coefficient "
                              "count should match in 'a' and 'b' coefficient lists.";
    const std::pair<std::string, std::string> kCases[] = {
        {"b=0.5", "zelstr_CAudioFilterHBFGen_init_NoCoeffsA: Not enough 'a' coefficients defined."},
        {"a=0.5", "zelstr_CAudioFilterHBFGen_init_NoCoeffsB: Not enough 'b' coefficients defined."},
        {"a=0.1, 0.2, 0.3|b=0.1, 0.2, 0.3, 0.4", count},
        {"a=1,2,3,4,5,6,7,8,9|b=1,2,3,4,5,6,7,8,9",
         "zelstr_CAudioFilterHBFGen_init_TooManyCoeffs: Too many coefficients (9) per list; at "
         "most 8 are supported."},
        {"a=0.1,,0.2|b=0.1,0.2,0.3",
         "zelstr_CAudioFilterHBFGen_parseList_InvalidList: Invalid coefficient list '0.1,,0.2' "
         "for 'a'."},
        {"a=0.1|b=1e-3", "zelstr_CAudioFilterHBFGen_parseList_InvalidList: Invalid coefficient "
                         "list '1e-3' for 'b'."},
        {"a=0.138|b=0.585", "no error"},
        {"a=0.1; 0.2 0.3|b=0.4,0.5,0.6", "no error"},
    };
    for (const auto& [list, expected] : kCases)
        EXPECT_EQ(loadError("audio:fltgen-hbf", list), expected) << list;

    const auto* g = gen<CAudioFilterHBFGen>("audio:fltgen-hbf", "a=0.25, 0.5|b=0.75,0.875");
    const CAudioFilterDesign d = designOf(*g, CAudioFilterRequest{});
    EXPECT_EQ(d.kind, EFilterDesignKind::kHalfBand);
    ASSERT_EQ(d.halfBandOrder, 4u);
    EXPECT_EQ((std::vector<double>(d.halfBand.begin(), d.halfBand.begin() + 4)),
              (std::vector<double>{0.25, 0.5, 0.75, 0.875}));
}

TEST_F(CFilterGenTest, SharedHalfBandDesignsRejectImagesAsTheirNamesPromise)
{
    ASSERT_FALSE(zel::loadDescription(*m_root, "SharedData.xml", true));
    // {array, index, order, stop-band attenuation (dB), transition width}
    const std::tuple<const char*, int, std::size_t, double, double> kCases[] = {
        {"hbf-steep5", 0, 16, 212, 0.05}, {"hbf-steep5", 1, 14, 186, 0.05},
        {"hbf-steep5", 2, 12, 159, 0.05}, {"hbf-steep5", 3, 10, 133, 0.05},
        {"hbf-steep5", 4, 8, 106, 0.05},  {"hbf-steep5", 5, 6, 80, 0.05},
        {"hbf-steep5", 6, 4, 53, 0.05},   {"hbf-soft", 0, 8, 225, 0.25},
        {"hbf-soft", 1, 6, 171, 0.25},    {"hbf-soft", 2, 4, 116, 0.25},
        {"hbf-soft", 3, 2, 62, 0.25},
    };
    for (const auto& [name, index, order, attenuationDb, transition] : kCases)
    {
        const auto* array = dynamic_cast<const zel::CAudioFilterGenArray*>(
            m_root->findObject(zel::CText("audio.fltarray.") + zel::CText(name)));
        ASSERT_NE(array, nullptr) << name;
        CAudioFilterRequest r;
        r.index = index;
        const CAudioFilterDesign d = designOf(*array, r);
        ASSERT_EQ(d.kind, EFilterDesignKind::kHalfBand) << name << index;
        ASSERT_EQ(d.halfBandOrder, order) << name << index;
        const std::size_t half = order / 2;
        const std::vector<double> a(d.halfBand.begin(), d.halfBand.begin() + half);
        const std::vector<double> b(d.halfBand.begin() + half, d.halfBand.begin() + order);
        // At rate 1 the images of an up-sampled signal lie above 0.25; the transition band is
        // centred there.
        double worstStop = 0.0;
        double worstPassDeviation = 0.0;
        for (int i = 0; i <= 400; ++i)
        {
            const double stop = 0.25 + 0.5 * transition + (0.25 - 0.5 * transition) * i / 400;
            const double pass = (0.25 - 0.5 * transition) * i / 400;
            worstStop = std::max(worstStop, std::abs(kelvtest::halfBandResponse(a, b, stop, 1.0)));
            worstPassDeviation =
                std::max(worstPassDeviation,
                         std::abs(std::abs(kelvtest::halfBandResponse(a, b, pass, 1.0)) - 1.0));
        }
        EXPECT_LT(kelvtest::db(worstStop), -attenuationDb + 1.0) << name << " " << index;
        EXPECT_LT(worstPassDeviation, 1e-5) << name << " " << index;
    }
}

TEST_F(CFilterGenTest, FIRLowPassTapsAreASymmetricWindowedSincOfUnityDCGain)
{
    const auto* g = gen<CAudioFilterFIRLPGen>("audio:fltgen-firlp", "power=1");
    // {length (ms), cut-off, sample rate, taps}
    const std::tuple<double, double, double, std::size_t> kCases[] = {
        {5.73696145124716553, 10788.0, 44100.0, 253},
        {0.68027210884353741, 12000.0, 44100.0, 30},
        {5.73696145124716553, 10788.0, 96000.0, 551},
    };
    zel::CDCDAWFilterWorkspace workspace;
    for (const auto& [lengthMs, cutoff, fs, taps] : kCases)
    {
        CAudioFilterRequest r;
        r.sampleRate = fs;
        r.length = lengthMs;
        r.freq = cutoff;
        CAudioFilterDesign d;
        ASSERT_FALSE(g->design(r, d, &workspace));
        ASSERT_EQ(d.kind, EFilterDesignKind::kFIR);
        ASSERT_EQ(d.taps.size(), taps);
        double sum = 0.0;
        for (std::size_t i = 0; i < d.taps.size(); ++i)
        {
            EXPECT_DOUBLE_EQ(d.taps[i], d.taps[d.taps.size() - 1 - i]) << taps << " tap " << i;
            sum += d.taps[i];
        }
        EXPECT_NEAR(sum, 1.0, 1e-12) << taps;
        EXPECT_NEAR(std::abs(kelvtest::firResponse(d.taps, cutoff, fs)), 0.5, 0.02) << taps;
        // The Blackman window's side lobes stay below -74 dB beyond its main lobe (about
        // 6 / taps wide on each side of the cut-off).
        const double edge = cutoff + 6.0 * fs / static_cast<double>(taps);
        for (double f = edge; f < 0.5 * fs; f += 37.0)
            ASSERT_LT(kelvtest::db(std::abs(kelvtest::firResponse(d.taps, f, fs))), -70.0)
                << taps << " f=" << f;
    }

    // A stronger window power narrows nothing at DC but tapers the ends harder.
    CAudioFilterRequest r;
    r.length = 2.0;
    r.freq = 5000.0;
    const CAudioFilterDesign plain = designOf(*g, r);
    r.power = 2.0;
    const CAudioFilterDesign squared = designOf(*g, r);
    ASSERT_EQ(plain.taps.size(), squared.taps.size());
    const auto endToMiddle = [](const std::vector<double>& taps)
    { return std::abs(taps.front() / taps[taps.size() / 2]); };
    EXPECT_LT(endToMiddle(squared.taps), 0.01 * endToMiddle(plain.taps));
}

TEST_F(CFilterGenTest, FIRLowPassRejectsLengthsAndPowersItCannotUse)
{
    const auto* g = gen<CAudioFilterFIRLPGen>("audio:fltgen-firlp", "");
    const auto errorOf = [&](std::optional<double> length, std::optional<double> power)
    {
        CAudioFilterRequest r;
        r.length = length;
        r.power = power;
        CAudioFilterDesign d;
        return kelvtest::idAndText(g->design(r, d));
    };
    EXPECT_EQ(errorOf(std::nullopt, 1.0), "zelstr_CAudioFilterFIRLPGen_design_InvalidLength: "
                                          "Invalid filter length '' ms at sample rate 44100.");
    EXPECT_EQ(errorOf(-1.0, 1.0), "zelstr_CAudioFilterFIRLPGen_design_InvalidLength: Invalid "
                                  "filter length '-1' ms at sample rate 44100.");
    EXPECT_EQ(errorOf(1.0, 0.0),
              "zelstr_CAudioFilterFIRLPGen_design_InvalidPower: Invalid window power 0.");
    EXPECT_EQ(errorOf(0.001, std::nullopt), "no error"); // rounds to no taps: one tap
}

} // namespace
