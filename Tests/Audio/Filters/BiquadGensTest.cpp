// The biquad generators: the cookbook filters against their analogue prototypes (each cookbook
// filter is the bilinear transform of a prototype, warped so that the design frequency lands
// where it belongs, so |H(e^jw)| = |H_a(j tan(w/2) / tan(w0/2))| exactly), the two band-pass
// designs against their published examples, and the type checks.

#include "Audio/Filters/FilterGenTestSupport.h"

#include "Audio/Filters/AudioFilterBiquadGens.h"

#include <functional>
#include <string>
#include <tuple>

namespace
{

using kelvtest::CFilterGenTest;
using kelvtest::Complex;
using zel::CAudioFilterMagnusGen;
using zel::CAudioFilterRBJGen;
using zel::CAudioFilterRequest;
using zel::EBiquadForm;

constexpr double kFs = 48000.0;

CAudioFilterRequest request(double freq, double gain, double bw, double fs = kFs)
{
    CAudioFilterRequest r;
    r.sampleRate = fs;
    r.freq = freq;
    r.gain = gain;
    r.bw = bw;
    return r;
}

// Analogue prototypes at s for Q and amplitude A = sqrt(linear gain).
using CPrototype = std::function<Complex(Complex s, double q, double a)>;

const CPrototype kLowPass = [](Complex s, double q, double) { return 1.0 / (s * s + s / q + 1.0); };
const CPrototype kHighPass = [](Complex s, double q, double)
{ return s * s / (s * s + s / q + 1.0); };

struct CRBJCase
{
    const char* name;
    int type;
    bool type2;
    EBiquadForm form;
    CPrototype prototype;
};

const CRBJCase kRBJCases[] = {
    {"identity", 0, false, EBiquadForm::kCommon,
     [](Complex, double, double) { return Complex(1); }},
    {"peaking", 1, false, EBiquadForm::kCommon,
     [](Complex s, double q, double a)
     { return (s * s + s * (a / q) + 1.0) / (s * s + s / (a * q) + 1.0); }},
    {"low shelf", 2, false, EBiquadForm::kCommon,
     [](Complex s, double q, double a)
     { return a * (s * s + std::sqrt(a) / q * s + a) / (a * s * s + std::sqrt(a) / q * s + 1.0); }},
    {"high shelf", 3, false, EBiquadForm::kCommon,
     [](Complex s, double q, double a)
     { return a * (a * s * s + std::sqrt(a) / q * s + 1.0) / (s * s + std::sqrt(a) / q * s + a); }},
    {"low pass", 4, false, EBiquadForm::kLowPass, kLowPass},
    {"high pass", 5, false, EBiquadForm::kHighPass, kHighPass},
    {"notch", 0, true, EBiquadForm::kNotch,
     [](Complex s, double q, double) { return (s * s + 1.0) / (s * s + s / q + 1.0); }},
    {"all-pass", 1, true, EBiquadForm::kCommon,
     [](Complex s, double q, double) { return (s * s - s / q + 1.0) / (s * s + s / q + 1.0); }},
    {"band-pass 0 dB peak", 2, true, EBiquadForm::kBandPass,
     [](Complex s, double q, double) { return (s / q) / (s * s + s / q + 1.0); }},
    {"band-pass constant skirt", 3, true, EBiquadForm::kBandPass,
     [](Complex s, double q, double) { return s / (s * s + s / q + 1.0); }},
};

TEST_F(CFilterGenTest, RBJTypesMatchTheirAnaloguePrototypes)
{
    const double kF0s[] = {90.0, 1000.0, 15000.0};
    const double kQs[] = {0.5, 0.707, 4.0};
    const double kGains[] = {0.25, 3.0}; // -12 dB and +9.5 dB
    for (const CRBJCase& c : kRBJCases)
    {
        for (const bool inverted : {false, true})
        {
            const auto* g = gen<CAudioFilterRBJGen>(
                "audio:fltgen-rbj", "type=" + std::to_string(c.type) +
                                        "|is-type2=" + (c.type2 ? "true" : "false") +
                                        "|is-q=true|is-inverted=" + (inverted ? "true" : "false"));
            ASSERT_NE(g, nullptr);
            for (double f0 : kF0s)
                for (double q : kQs)
                    for (double gain : kGains)
                    {
                        const auto d = designOf(*g, request(f0, gain, q));
                        ASSERT_EQ(d.sectionCount, 1u);
                        EXPECT_EQ(d.sections[0].form, inverted ? EBiquadForm::kCommon : c.form)
                            << c.name;
                        const double warp = std::tan(std::numbers::pi * f0 / kFs);
                        for (double ratio : {0.13, 0.5, 0.9, 1.0, 1.1, 1.9, 2.7})
                        {
                            const double f = f0 * ratio;
                            if (f >= 0.49 * kFs)
                                continue;
                            const Complex s(0.0, std::tan(std::numbers::pi * f / kFs) / warp);
                            Complex expected = c.prototype(s, q, std::sqrt(gain));
                            if (inverted)
                                expected = 1.0 - expected;
                            const Complex got = kelvtest::biquadResponse(d.sections[0], f, kFs);
                            EXPECT_NEAR(std::abs(got), std::abs(expected),
                                        1e-9 * (1.0 + std::abs(expected)))
                                << c.name << (inverted ? " inverted" : "") << " f0=" << f0
                                << " q=" << q << " gain=" << gain << " f=" << f;
                        }
                    }
        }
    }
}

TEST_F(CFilterGenTest, RBJBandwidthInOctavesSpansTheHalfPowerPoints)
{
    // Far below Nyquist the warping is negligible: the -3 dB points of a 0 dB band-pass lie
    // half the bandwidth either side of the centre, on a log scale.
    const auto* g = gen<CAudioFilterRBJGen>("audio:fltgen-rbj", "type=2|is-type2=true");
    for (double bw : {0.5, 1.0, 2.0})
    {
        const auto d = designOf(*g, request(100.0, 1.0, bw));
        for (double edge : {std::pow(2.0, -0.5 * bw), std::pow(2.0, 0.5 * bw)})
            EXPECT_NEAR(
                kelvtest::db(std::abs(kelvtest::biquadResponse(d.sections[0], 100.0 * edge, kFs))),
                -3.0103, 0.02)
                << "bw " << bw;
        EXPECT_NEAR(std::abs(kelvtest::biquadResponse(d.sections[0], 100.0, kFs)), 1.0, 1e-9);
    }
}

TEST_F(CFilterGenTest, MagnusDesignsReproduceTheirExamples)
{
    // {type, b0 b1 b2 a1 a2, level at the centre and at the half-octave edges (dB)}
    const std::tuple<const char*, std::array<double, 5>, double, double> kCases[] = {
        {"4", {0.082791, -0.060551, -0.022240, -1.875690, 0.894880}, 0.0, -2.61},
        {"3", {0.078200, -0.060788, -0.017412, -1.884909, 0.904193}, -0.01, -3.02},
    };
    for (const auto& [type, coeffs, dbCentre, dbEdges] : kCases)
    {
        const auto* g =
            gen<CAudioFilterMagnusGen>("audio:fltgen-magnus", std::string("type=") + type);
        ASSERT_NE(g, nullptr);
        const auto d = designOf(*g, request(1000.0, 1.0, 1.0, 44100.0));
        ASSERT_EQ(d.sectionCount, 1u);
        for (std::size_t i = 0; i < 5; ++i)
            EXPECT_NEAR(d.sections[0].coeffs[i], coeffs[i], 5e-7) << "type " << type << " " << i;
        const auto level = [&](double f)
        { return kelvtest::db(std::abs(kelvtest::biquadResponse(d.sections[0], f, 44100.0))); };
        EXPECT_NEAR(level(1000.0), dbCentre, 0.005) << "type " << type;
        EXPECT_NEAR(level(707.0), dbEdges, 0.01) << "type " << type;
        EXPECT_NEAR(level(1414.0), dbEdges, 0.01) << "type " << type;
    }
}

TEST_F(CFilterGenTest, UnknownTypesAreRejected)
{
    const std::string rbj = "zelstr_CAudioFilterRBJGen_init_InvalidType: Invalid filter type '";
    const std::string magnus =
        "zelstr_CAudioFilterMagnusGen_init_InvalidType: Invalid filter type '";
    const std::pair<std::string, std::string> kCases[] = {
        {"type=6", rbj + "6' specified."},   {"type=4|is-type2=true", rbj + "4' specified."},
        {"type=-1", rbj + "-1' specified."}, {"type=low", rbj + "low' specified."},
        {"is-q=true", rbj + "' specified."},
    };
    for (const auto& [list, expected] : kCases)
        EXPECT_EQ(loadError("audio:fltgen-rbj", list), expected) << list;
    for (const char* type : {"2", "5"})
        EXPECT_EQ(loadError("audio:fltgen-magnus", std::string("type=") + type),
                  magnus + type + "' specified.");

    // A change after loading is checked too, against the table in force.
    auto* g =
        const_cast<CAudioFilterRBJGen*>(gen<CAudioFilterRBJGen>("audio:fltgen-rbj", "type=5"));
    EXPECT_EQ(kelvtest::idAndText(g->setAttribute("is-type2", "true")), rbj + "5' specified.");
    EXPECT_EQ(kelvtest::idAndText(g->setAttribute("type", "3")), "no error");
    EXPECT_EQ(g->shape(), CAudioFilterRBJGen::EShape::kBandPassSkirt);
    EXPECT_EQ(loadError("audio:fltgen-rbj", "type=1|is-q=maybe"),
              "zelstr_CClassInfo_flag_InvalidBoolean: Invalid boolean value 'maybe'.");
    EXPECT_EQ(loadError("audio:fltgen-rbj", "type=1|freq=1k"),
              "zelstr_CAudioFilterGen_parseInput_InvalidNumber: Invalid number '1k' for 'freq'.");
}

TEST_F(CFilterGenTest, InvalidSampleRatesGiveNoDesign)
{
    const auto* g = gen<CAudioFilterRBJGen>("audio:fltgen-rbj", "type=1");
    for (double fs : {0.0, -44100.0, std::nan("")})
    {
        zel::CAudioFilterDesign out;
        const zel::CErrorPtr err = g->design(request(1000.0, 1.0, 1.0, fs), out);
        ASSERT_TRUE(err);
        EXPECT_EQ(err->id(), "zelstr_CAudioFilterGen_design_InvalidSampleRate");
        EXPECT_EQ(out.kind, zel::EFilterDesignKind::kNone);
    }
}

} // namespace
