// The spectral dynamics measured through the whole instance: tones at band centres go through
// the default 32-band tree and the settled output is compared with a prediction made here from
// the gain law's formulas (one-pole coefficients, the linear-amplitude curve, the detector) and
// the band bank's response, evaluated by hand from the carried band design. The per-band values
// are computed from the curve points through the curve mapping (logarithmic frequency axis,
// each value in its converter's normalised scale, carried to the band parameter's range).
#include "Audio/DCDAWContext.h"
#include "Audio/Plugin/PluginTestSupport.h"
#include "Core/Application.h"

#include <algorithm>
#include <complex>
#include <functional>
#include <numbers>
#include <string>
#include <tuple>
#include <vector>

namespace kelvtest
{
namespace
{

using Complex = std::complex<double>;
using Signal = std::vector<double>;

constexpr double kFs = 48000.0;
constexpr double kPi = std::numbers::pi;
const std::string kK = CPluginDriver::kKelv;

// ---- Oracles -------------------------------------------------------------------------------

// The one-pole coefficient for a frequency f at rate fs.
double onePole(double f, double fs)
{
    const double b = 2.0 - std::cos(2.0 * kPi * f / fs);
    return 1.0 - b + std::sqrt(b * b - 1.0);
}

// A band's static law: T and 1/L as linear amplitudes, R the slope above T.
struct CLaw
{
    std::vector<double> thresholds; // one per band
    double ratio = 1.0;
    double range = dbToFactor(30.0);
    bool inverse = false;
    bool rms = false;
};

double lawTarget(double e, double t, const CLaw& law)
{
    double level = e;
    if (law.inverse)
    {
        level = e <= 1e-7 ? 1e7 : 1.0 / e;
        t = 1.0 / t;
    }
    if (level <= t)
        return 1.0;
    const double r = (t + (level - t) * law.ratio) / level;
    return law.ratio > 1.0 ? std::min(law.range, r) : std::max(1.0 / law.range, r);
}

// The gain a band settles at for a steady tone of peak a at f when attack and release are
// equal: the smoothing is then linear, so the gain is the mean of the law's target over the
// tone's cycles (with the mean-square detector at 500 Hz run first when RMS is on).
double settledGain(double a, double f, double t, const CLaw& law)
{
    const double c = onePole(500.0, kFs);
    const int warm = 9600;
    const int span = 19200;
    double m = 0.0;
    double sum = 0.0;
    for (int n = 0; n < warm + span; ++n)
    {
        const double x = a * std::abs(std::sin(2.0 * kPi * f * n / kFs));
        double e = x;
        if (law.rms)
        {
            m += (x * x - m) * c;
            e = std::sqrt(m);
        }
        if (n >= warm)
            sum += lawTarget(e, t, law);
    }
    return sum / span;
}

// The tree's complex gain at f for a tone of peak amplitude in each band's detector (null law:
// every band at unity).
Complex treeGain(double f, double amplitude, const CLaw* law)
{
    const std::vector<Complex> h = bandResponses(f, kFs);
    Complex sum = 0.0;
    for (std::size_t k = 0; k < h.size(); ++k)
        sum += h[k] * (law == nullptr
                           ? 1.0
                           : settledGain(amplitude * std::abs(h[k]), f, law->thresholds[k], *law));
    return sum * layoutPostGain(layoutRatio());
}

// The band threshold in dB for a threshold curve value in dB: curve range -66..+6 dB carried
// linearly (in decibels) to the band range -54..-6 dB.
double bandThresholdDb(double curveDb)
{
    return -54.0 + (curveDb + 66.0) * 48.0 / 72.0;
}
double curveForBandDb(double bandDb)
{
    return (bandDb + 54.0) * 72.0 / 48.0 - 66.0;
}

// ---- Signals -------------------------------------------------------------------------------

Signal tone(double amplitude, double f, std::size_t n, double phase = 0.0)
{
    return kelvtest::tone(amplitude, f, kFs, n, phase);
}

Complex gainAt(const Signal& out, const Signal& in, double f, std::size_t from, std::size_t to)
{
    return amplitudeAt(out, f, from, to) / amplitudeAt(in, f, from, to);
}

double relError(Complex got, Complex want)
{
    return std::abs(got - want) / std::abs(want);
}

// ---- Settings ------------------------------------------------------------------------------

void setFlat(CPluginDriver& d, const std::string& curve, std::int32_t group, double value)
{
    ASSERT_FALSE(d.setElements(kK + curve, group, {20.0, value, 20000.0, value})) << curve;
}

// Flat curves giving every band of a group the law: threshold (band dB), slope R, range (dB),
// equal attack and release (seconds); no input tilt (3 dB per octave is unity), no noise.
CLaw applyLaw(CPluginDriver& d, std::int32_t group, double bandDb, double ratio, double rangeDb,
              double time, bool inverse = false, bool rms = false)
{
    setFlat(d, "env-threshold", group, dbToFactor(curveForBandDb(bandDb)));
    setFlat(d, "env-ratio", group, ratio);
    setFlat(d, "env-range", group, dbToFactor(rangeDb));
    setFlat(d, "env-attack", group, time);
    setFlat(d, "env-release", group, time);
    EXPECT_FALSE(d.set(kK + "inverse", group, 0, inverse ? 1.0 : 0.0));
    EXPECT_FALSE(d.set(kK + "rms", group, 0, rms ? 1.0 : 0.0));
    EXPECT_FALSE(d.set(kK + "slope", group, 0, 3.0));
    EXPECT_FALSE(d.set("plugin.modMain.denorm-enable", 0, 0, 0.0));
    CLaw law;
    law.thresholds.assign(kDefaultBands, dbToFactor(bandDb));
    law.ratio = ratio;
    law.range = dbToFactor(rangeDb);
    law.inverse = inverse;
    law.rms = rms;
    return law;
}

constexpr int kBand = 20; // about 1.73 kHz
const double kTone = defaultBandFreq(kBand);
constexpr std::size_t kSettle = 19200; // 0.4 s: many times the 100 ms law's time constant
constexpr std::size_t kLength = 28800;

// ---- The gain law --------------------------------------------------------------------------

TEST_F(CPluginTest, SteadyToneSettlesAtTheLevelTheLawGives)
{
    // what, tone amplitude, ratio, range (dB), inverse, RMS detector
    // Band threshold -34 dB (0.02) everywhere; attack = release = 100 ms.
    const std::tuple<const char*, double, double, double, bool, bool> rows[] = {
        {"4:1 above the threshold", 0.5, 0.25, 30.0, false, false},
        {"12:1 held by a 3 dB range", 0.5, 1.0 / 12.0, 3.0, false, false},
        // The mean-square detector settles near A / sqrt(2), not at the peak.
        {"4:1 on the RMS level", 0.5, 0.25, 30.0, false, true},
        {"1:2 raises, at most by 6 dB", 0.2, 2.0, 6.0, false, false},
        {"inverse 4:1 on a quiet tone", 0.005, 0.25, 12.0, true, false},
        {"inverse 2:1, RMS", 0.004, 0.5, 30.0, true, true},
    };
    for (const auto& [what, amplitude, ratio, rangeDb, inverse, rms] : rows)
    {
        CPluginDriver& d = make(kFs, 2);
        const Complex open = treeGain(kTone, 0.0, nullptr);
        const CLaw law = applyLaw(d, 0, -34.0, ratio, rangeDb, 0.1, inverse, rms);
        const Signal in = tone(amplitude, kTone, kLength);
        const auto out = d.processAligned({in, in});
        ASSERT_EQ(idAndText(d.error()), "no error");
        const Complex want = treeGain(kTone, amplitude, &law);
        // The law really acts (else the comparison proves little).
        EXPECT_GT(std::abs(20.0 * std::log10(std::abs(want / open))), 1.0) << what;
        for (std::size_t c = 0; c < 2; ++c)
        {
            const Complex got = gainAt(out[c], in, kTone, kSettle, kLength);
            EXPECT_LT(relError(got, want), 0.01) << what << ": got " << std::abs(got) << ", want "
                                                 << std::abs(want) << ", open " << std::abs(open);
        }
    }
}

TEST_F(CPluginTest, BelowTheThresholdTheGainReturnsWithTheReleaseTimeConstant)
{
    // Compressed by a loud tone, then a quiet one (below every threshold): every band's gain
    // covers the way back to 1 by (1 - c) per sample, c the release coefficient, so the tree's
    // complex gain covers 63 % of its way after -1 / ln(1 - c) samples.
    CPluginDriver& d = make(kFs, 2);
    const double releaseTime = 1.0; // seconds
    applyLaw(d, 0, -34.0, 0.25, 30.0, 0.1);
    setFlat(d, "env-release", 0, releaseTime);
    const std::size_t loud = 24000;
    const std::size_t n = loud + 57600;
    Signal in = tone(0.5, kTone, n);
    for (std::size_t i = loud; i < n; ++i)
        in[i] *= 0.01;
    const auto out = d.processAligned({in, in});
    const std::size_t window = 560; // about 20 cycles
    const Complex before = gainAt(out[0], in, kTone, loud - 4800, loud);
    const Complex after = treeGain(kTone, 0.0, nullptr);
    EXPECT_LT(std::abs(before) / std::abs(after), 0.5); // well compressed
    const double release = onePole(1.0 / releaseTime, kFs);
    const double want = -1.0 / std::log(1.0 - release);
    double got = -1.0;
    for (std::size_t at = loud + window; at + window / 2 < n; at += 4)
    {
        const Complex g = gainAt(out[0], in, kTone, at - window / 2, at + window / 2);
        if (std::abs(after - g) <= std::abs(after - before) * std::exp(-1.0))
        {
            got = static_cast<double>(at - loud);
            break;
        }
    }
    EXPECT_NEAR(got, want, 0.03 * want);
    // At the end the tree is transparent again.
    EXPECT_LT(relError(gainAt(out[0], in, kTone, n - 4800, n), after), 2e-3);
}

// ---- Curves --------------------------------------------------------------------------------

// Normalised x of a frequency on the curve's axis (logarithmic, 20 Hz to 20 kHz).
double axis(double f)
{
    return std::log(f / 20.0) / std::log(1000.0);
}

// The band values in dB a threshold curve (points in Hz and dB) gives: the curve joined
// linearly in (log frequency, dB), evaluated at the band centre and a third of the way to each
// neighbour, averaged, and carried to the band range.
std::vector<double> expectedBandThresholdsDb(const std::vector<std::pair<double, double>>& points)
{
    const auto evaluate = [&](double f)
    {
        const double x = axis(f);
        std::size_t i = 0;
        while (i + 2 < points.size() && axis(points[i + 1].first) <= x)
            ++i;
        const double x0 = axis(points[i].first);
        const double x1 = axis(points[i + 1].first);
        return points[i].second + (x - x0) / (x1 - x0) * (points[i + 1].second - points[i].second);
    };
    const double h = std::pow(1000.0, 1.0 / 93.0);
    std::vector<double> out;
    for (int k = 0; k < kDefaultBands; ++k)
    {
        const double f = defaultBandFreq(k);
        double sum = evaluate(f);
        int count = 1;
        if (k > 0)
            sum += evaluate(f / h), ++count;
        if (k < kDefaultBands - 1)
            sum += evaluate(f * h), ++count;
        out.push_back(bandThresholdDb(sum / count));
    }
    return out;
}

void setThresholdCurve(CPluginDriver& d, const std::vector<std::pair<double, double>>& points)
{
    std::vector<double> values;
    for (const auto& [f, db] : points)
    {
        values.push_back(f);
        values.push_back(dbToFactor(db));
    }
    ASSERT_FALSE(d.setElements(kK + "env-threshold", 0, values));
}

TEST_F(CPluginTest, RisingThresholdCurveCompressesALowToneAndLeavesAHighOne)
{
    const std::vector<std::pair<double, double>> curve = {{20.0, -66.0}, {20000.0, 6.0}};
    const std::vector<double> bandDb = expectedBandThresholdsDb(curve);
    for (const int band : {6, 27})
    {
        CPluginDriver& d = make(kFs, 2);
        // 400 ms: the gain's ripple at twice the low tone's frequency stays small.
        CLaw law = applyLaw(d, 0, -34.0, 0.25, 30.0, 0.4);
        setThresholdCurve(d, curve);
        for (int k = 0; k < kDefaultBands; ++k)
        {
            law.thresholds[static_cast<std::size_t>(k)] = dbToFactor(bandDb[k]);
            EXPECT_NEAR(d.kelv("threshold", k), dbToFactor(bandDb[k]), 1e-9 * dbToFactor(bandDb[k]))
                << k;
        }
        // The first and last bands are pulled toward their inner side.
        EXPECT_GT(bandDb[0], -54.0);
        EXPECT_LT(bandDb[31], -6.0);
        const double f = defaultBandFreq(band);
        const std::size_t settle = 38400;
        const std::size_t length = 57600;
        const Signal in = tone(0.1, f, length);
        const auto out = d.processAligned({in, in});
        const Complex got = gainAt(out[1], in, f, settle, length);
        const Complex open = treeGain(f, 0.0, nullptr);
        if (band == 6)
        {
            EXPECT_LT(std::abs(got / open), dbToFactor(-4.0));
            EXPECT_LT(relError(got, treeGain(f, 0.1, &law)), 0.01);
        }
        else
        {
            EXPECT_LT(relError(got, open), 1e-6) << "a band's threshold is above the tone";
        }
    }
}

TEST_F(CPluginTest, MovingOneCurvePointChangesOnlyTheBandsNearIt)
{
    CPluginDriver& d = make(kFs, 2);
    // A flat -12 dB curve with its middle point (1 kHz) pulled down to -40 dB: a band moves when
    // one of its evaluation points lies between the moved point's neighbours.
    const std::vector<std::pair<double, double>> curve = {
        {20.0, -12.0}, {300.0, -12.0}, {1000.0, -40.0}, {3000.0, -12.0}, {20000.0, -12.0}};
    setThresholdCurve(d, curve);
    const std::vector<double> want = expectedBandThresholdsDb(curve);
    int changed = 0;
    for (int k = 0; k < kDefaultBands; ++k)
    {
        const double got = 20.0 * std::log10(d.kelv("threshold", k));
        EXPECT_NEAR(got, want[static_cast<std::size_t>(k)], 1e-9) << k;
        changed += got < bandThresholdDb(-12.0) - 1e-9 ? 1 : 0;
    }
    EXPECT_EQ(changed, 11);
}

// ---- Stereo: linking, side mix, pan, channel groups ----------------------------------------

TEST_F(CPluginTest, LinkingCarriesOneChannelsCompressionToTheOther)
{
    // A loud tone on the left, the same tone 40 dB lower on the right (below every threshold).
    const Signal left = tone(0.5, kTone, kLength);
    const Signal right = tone(0.005, kTone, kLength);
    for (const double link : {0.0, 1.0})
    {
        CPluginDriver& d = make(kFs, 2);
        const Complex open = treeGain(kTone, 0.0, nullptr);
        const CLaw law = applyLaw(d, 0, -34.0, 0.25, 30.0, 0.1);
        setFlat(d, "env-chlink", 0, link);
        const auto out = d.processAligned({left, right});
        const Complex gotLeft = gainAt(out[0], left, kTone, kSettle, kLength);
        const Complex gotRight = gainAt(out[1], right, kTone, kSettle, kLength);
        EXPECT_LT(relError(gotLeft, treeGain(kTone, 0.5, &law)), 0.01) << link;
        if (link == 0.0)
            EXPECT_LT(relError(gotRight, open), 1e-6);
        else
            // The linked level is the left's everywhere: the right gets the same gains.
            EXPECT_LT(relError(gotRight, gotLeft), 1e-6);
    }
}

TEST_F(CPluginTest, SideMixAndPanWeightEveryBand)
{
    // Quiet material (unity gains): mid a sine, side a cosine of the same frequency. The tree
    // is then linear with the band bank's gain P, and mid and side come out as c0 * P * mid and
    // c1 * P * side, with c0 = (1 + cos(pi x)) (x + 0.5), c1 = 1 - cos(pi x) for the mix x.
    const Signal mid = tone(0.01, kTone, kLength);
    const Signal side = tone(0.006, kTone, kLength, kPi / 2.0);
    Signal left(kLength), right(kLength);
    for (std::size_t i = 0; i < kLength; ++i)
    {
        left[i] = mid[i] + side[i];
        right[i] = mid[i] - side[i];
    }
    // The band bank's gain (the application object lives while an instance does).
    make(kFs, 2);
    const Complex open = treeGain(kTone, 0.0, nullptr);
    const auto run = [&](const std::string& curve, double value, const Signal& l, const Signal& r)
    {
        CPluginDriver& d = make(kFs, 2);
        EXPECT_FALSE(d.set("plugin.modMain.denorm-enable", 0, 0, 0.0));
        setFlat(d, curve, 0, value);
        return d.processAligned({l, r});
    };
    for (const double x : {0.0, 0.25, 1.0})
    {
        const auto out = run("env-sidemix", x, left, right);
        Signal outMid(kLength), outSide(kLength);
        for (std::size_t i = 0; i < kLength; ++i)
        {
            outMid[i] = 0.5 * (out[0][i] + out[1][i]);
            outSide[i] = 0.5 * (out[0][i] - out[1][i]);
        }
        const double c = std::cos(kPi * x);
        const Complex m = gainAt(outMid, mid, kTone, 4800, kLength);
        const Complex s = gainAt(outSide, side, kTone, 4800, kLength);
        EXPECT_LT(std::abs(m - (1.0 + c) * (x + 0.5) * open), 1e-6 * std::abs(open)) << x;
        EXPECT_LT(std::abs(s - (1.0 - c) * open), 1e-6 * std::abs(open)) << x;
    }
    // Pan p scales the channel away from its direction by (1 + cos(pi |p|)) / 2; the other
    // channel is untouched, and the opposite sign swaps the roles.
    for (const double p : {0.5, 1.0})
    {
        const double w = (1.0 + std::cos(kPi * p)) / 2.0;
        const auto pos = run("env-pan", p, mid, mid);
        const auto neg = run("env-pan", -p, mid, mid);
        const auto gain = [&](const auto& out, std::size_t c)
        { return std::abs(gainAt(out[c], mid, kTone, 4800, kLength) / open); };
        EXPECT_NEAR(std::max(gain(pos, 0), gain(pos, 1)), 1.0, 1e-6) << p;
        EXPECT_NEAR(std::min(gain(pos, 0), gain(pos, 1)), w, 1e-6) << p;
        EXPECT_NEAR(gain(neg, 0), gain(pos, 1), 1e-6) << p;
        EXPECT_NEAR(gain(neg, 1), gain(pos, 0), 1e-6) << p;
    }
}

TEST_F(CPluginTest, ChannelGroupsCompressWithTheirOwnLaws)
{
    // Four channels: pairs 1-2 (group 0, default curves, ratio 0.999) and 3-4 (group 1, 4:1
    // from -34 dB). The same loud tone in all four.
    CPluginDriver& d = make(kFs, 4);
    ASSERT_FALSE(d.routeAllChannels());
    const CLaw law = applyLaw(d, 1, -34.0, 0.25, 30.0, 0.1);
    const Signal in = tone(0.5, kTone, kLength);
    const auto out = d.processAligned({in, in, in, in});
    const Complex open = treeGain(kTone, 0.0, nullptr);
    const Complex squeezed = treeGain(kTone, 0.5, &law);
    for (std::size_t c = 0; c < 4; ++c)
    {
        const Complex got = gainAt(out[c], in, kTone, kSettle, kLength);
        if (c < 2)
            EXPECT_LT(relError(got, open), 2e-3) << c; // 0.999 stays within 0.1 %
        else
            EXPECT_LT(relError(got, squeezed), 0.01) << c;
    }
}

// ---- Automation and cost ----------------------------------------------------------

TEST_F(CPluginTest, ThresholdChangeInsideABlockLandsAtTheSubBlockBoundaryWithoutAClick)
{
    // Two identical instances compress the same tone (RMS detector, 5 ms attack); in one of
    // them the threshold drops by 10 dB with a change stamped half a sample before frame 300 of
    // a block.
    const auto prepare = [](CPluginDriver& d)
    {
        applyLaw(d, 0, -34.0, 0.25, 30.0, 0.1, false, true);
        setFlat(d, "env-attack", 0, 0.005);
    };
    CPluginDriver& changed = make(kFs, 2);
    prepare(changed);
    auto reference = std::make_unique<CPluginDriver>(kFs, 2);
    ASSERT_EQ(idAndText(reference->error()), "no error");
    prepare(*reference);
    const std::size_t warm = 24064; // 47 blocks of 512
    const std::size_t n = 1536;
    const Signal all = tone(0.5, kTone, warm + n);
    const Signal head(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(warm));
    const Signal tail(all.begin() + static_cast<std::ptrdiff_t>(warm), all.end());
    (void)changed.process({head, head});
    (void)reference->process({head, head});

    const std::size_t at = 300;
    setFlat(changed, "env-threshold", 0, dbToFactor(curveForBandDb(-44.0)));
    changed.stampNextChangesAt((static_cast<double>(at) - 0.5) / kFs);
    const auto got = changed.process({tail, tail});
    const auto ref = reference->process({tail, tail});
    ASSERT_EQ(idAndText(changed.error()), "no error");

    // Before the change the two instances agree to rounding: the change splits the block, and
    // with the graph primed one frame per activation, the odd-aligned shorter sub-blocks round
    // differently in the last bits (about 1e-16 here).
    const auto differs = [](double a, double b) { return std::abs(a - b) > 1e-12; };
    std::size_t first = n;
    for (std::size_t i = 0; i < n && first == n; ++i)
        if (differs(got[0][i], ref[0][i]) || differs(got[1][i], ref[1][i]))
            first = i;
    EXPECT_EQ(first, at + static_cast<std::size_t>(changed.latency())); // heard after the latency
    const auto largestStep = [](const Signal& y)
    {
        double step = 0.0;
        for (std::size_t i = 1; i < y.size(); ++i)
            step = std::max(step, std::abs(y[i] - y[i - 1]));
        return step;
    };
    EXPECT_LE(largestStep(got[0]), largestStep(ref[0]) * 1.001);
    // It took effect: the 5 ms attack has lowered the level by the end.
    EXPECT_LT(std::abs(amplitudeAt(got[0], kTone, n - 512, n)),
              0.9 * std::abs(amplitudeAt(ref[0], kTone, n - 512, n)));
}

// Kernel calls per block of the stereo tree at default settings, counted by the context: per
// band 11 (per channel the band-pass biquad, the input tilt, the rectifier, the gain computer
// and the gain multiplication, plus one maximum of the two levels that both channels share;
// the mid/side weights and the makeup gain are identities, and the output tilt has no reader
// while no meter listens), the band sum (per channel one addition of the first two bands, then
// one in-place addition per further three), 6 around the bands (anti-denormal noise, the
// band sum gain, the output stage's copy, per channel) and 8 for the latency uniformer's delay
// line (per channel a write and a read copy in two pieces: the read position wraps inside
// every block). The meters are off and the resamplers at 1x issue nothing. Compression does
// not change the count; a flat input tilt (3 dB per octave) is an identity and saves the
// tilt's two calls per band.
std::uint64_t expectedCalls(std::uint64_t bands, std::uint64_t perBand = 11)
{
    // One addition of the first two bands, then ceil((bands - 2) / 3) in-place additions.
    const std::uint64_t sumPerChannel = 1 + bands / 3;
    return perBand * bands + 2 * sumPerChannel + 4 + 8;
}

TEST_F(CPluginTest, KernelCallsPerBlockOfTheDefaultStereoTree)
{
    CPluginDriver& d = make(44100.0, 2);
    const Signal in = tone(0.3, 1000.0, 512);
    d.processSilence(44100);
    const auto callsPerBlock = [&]
    {
        const std::uint64_t start = d.context().issuedCallCount();
        (void)d.process({in, in});
        return d.context().issuedCallCount() - start;
    };
    EXPECT_EQ(callsPerBlock(), expectedCalls(32));
    applyLaw(d, 0, -40.0, 0.25, 30.0, 0.05);
    ASSERT_FALSE(d.set("plugin.modMain.denorm-enable", 0, 0, 1.0));
    d.processSilence(44100);
    EXPECT_EQ(callsPerBlock(), expectedCalls(32, 9));
    ASSERT_FALSE(d.set(kK + "slope", 0, 0, 4.5));
    d.processSilence(44100);
    EXPECT_EQ(callsPerBlock(), expectedCalls(32));
    ASSERT_FALSE(d.set(kK + "bandcount", 0, 0, 16.0));
    d.processSilence(44100);
    EXPECT_EQ(callsPerBlock(), expectedCalls(16));
}

} // namespace
} // namespace kelvtest
