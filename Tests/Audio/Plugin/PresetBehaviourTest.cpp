// What each factory preset does to generated material, measured at the output of a whole
// instance and compared with the same material through the Default preset (which leaves every
// band at 1:1): dynamics of a broadband signal that alternates loud and quiet passages, level
// and dynamics of four tones (80 Hz, 300 Hz, 1 kHz, 10 kHz) that alternate the same way, and
// the side-to-mid balance of a stereo signal at 100 Hz, 500 Hz and 6 kHz. The three materials
// run one after the other; each is measured only once the previous one has been released.
#include "Audio/AudioParamRegistry.h"
#include "Audio/DCDAWContext.h"
#include "Audio/Plugin/PluginTestSupport.h"

#include <array>
#include <functional>

namespace kelvtest
{
namespace
{

constexpr double kFs = 48000.0;
constexpr double kPi = std::numbers::pi;
using Signal = std::vector<double>;

double db(double x)
{
    return 20.0 * std::log10(x);
}
double phaseAt(double f, std::size_t i)
{
    return 2.0 * kPi * f * static_cast<double>(i) / kFs;
}

// Broadband: uniform white noise from a fixed linear congruential generator, its level swinging
// between -26 dB and -6 dB (amplitude 0.05 to 0.5) along a raised cosine of 400 ms, slowly
// enough for every attack time of the bank to follow it; measured over the second swing.
constexpr std::size_t kSwing = 19200;
double swingPhase(std::size_t i)
{
    return std::cos(2.0 * kPi * static_cast<double>(i) / kSwing);
}
// Tones in passages of 150 ms, loud (even, 0.1 each) and quiet (odd, 0.01), with 5 ms
// raised-cosine joins; passages 2 to 5 are measured over their last 75 ms.
constexpr std::array<double, 4> kToneFreqs = {80.0, 300.0, 1000.0, 10000.0};
constexpr std::size_t kPassage = 7200;
constexpr std::size_t kPassages = 6;
// Mid 0.08 and side 0.04 (a third of a turn later) at each width frequency for 0.3 s; the
// second half is measured.
constexpr std::array<double, 3> kWidthFreqs = {100.0, 500.0, 6000.0};
constexpr std::size_t kWidthLength = 14400;

constexpr std::size_t kToneStart = 2 * kSwing;
constexpr std::size_t kWidthStart = kToneStart + kPassages * kPassage;

double passageLevel(std::size_t i)
{
    const std::size_t ramp = 240;
    const std::size_t k = i / kPassage;
    const double here = k % 2 == 0 ? 0.1 : 0.01;
    if (i % kPassage >= ramp || k == 0)
        return here;
    const double w = 0.5 - 0.5 * std::cos(kPi * static_cast<double>(i % kPassage) / ramp);
    return (k % 2 == 0 ? 0.01 : 0.1) + (here - (k % 2 == 0 ? 0.01 : 0.1)) * w;
}

std::array<Signal, 2> material()
{
    std::array<Signal, 2> lr = {Signal(kWidthStart + kWidthLength, 0.0),
                                Signal(kWidthStart + kWidthLength, 0.0)};
    std::uint32_t state = 12345;
    for (std::size_t i = 0; i < kToneStart; ++i)
    {
        state = state * 1664525u + 1013904223u;
        const double u = static_cast<double>(state) / 4294967296.0 * 2.0 - 1.0;
        lr[0][i] = u * std::pow(10.0, (-16.0 - 10.0 * swingPhase(i)) / 20.0);
    }
    for (std::size_t i = 0; i < kPassages * kPassage; ++i)
        for (std::size_t t = 0; t < kToneFreqs.size(); ++t)
            lr[0][kToneStart + i] +=
                passageLevel(i) * std::sin(phaseAt(kToneFreqs[t], i) + static_cast<double>(t));
    lr[1] = lr[0];
    for (std::size_t i = 0; i < kWidthLength; ++i)
        for (const double f : kWidthFreqs)
        {
            const double m = 0.08 * std::sin(phaseAt(f, i));
            const double s = 0.04 * std::sin(phaseAt(f, i) + kPi / 3.0);
            lr[0][kWidthStart + i] += m + s;
            lr[1][kWidthStart + i] += m - s;
        }
    return lr;
}

struct CMeasures
{
    double crest = 0.0;                  // short-term crest factor of the broadband material, dB
    double dynamics = 0.0;               // its loud windows over its quiet ones, dB
    std::array<double, 4> toneLoud{};    // each tone's level in the loud passages, dB
    std::array<double, 4> toneQuiet{};   // ... in the quiet passages
    std::array<double, 3> sideOverMid{}; // side over mid amplitude, dB
};

// Over 20 ms windows of the second swing: the crest factor is the loudest window's RMS over the
// whole RMS; the dynamics compare the windows near the swing's top with those near its bottom.
CMeasures measure(const std::vector<Signal>& y)
{
    CMeasures m;
    const std::size_t window = 960;
    double peak = 0.0, all = 0.0, loud = 0.0, quiet = 0.0;
    std::size_t windows = 0, louds = 0, quiets = 0;
    for (std::size_t at = kSwing; at + window <= kToneStart; at += window)
    {
        double power = 0.0;
        for (std::size_t i = at; i < at + window; ++i)
            power += y[0][i] * y[0][i] / static_cast<double>(window);
        peak = std::max(peak, power);
        all += power;
        ++windows;
        const double phase = swingPhase(at + window / 2);
        if (phase < -0.8)
            loud += power, ++louds;
        else if (phase > 0.8)
            quiet += power, ++quiets;
    }
    m.crest = 10.0 * std::log10(peak / (all / static_cast<double>(windows)));
    m.dynamics = 10.0 * std::log10((loud / static_cast<double>(louds)) /
                                   (quiet / static_cast<double>(quiets)));

    for (std::size_t t = 0; t < kToneFreqs.size(); ++t)
    {
        double loudSum = 0.0, quietSum = 0.0;
        for (std::size_t k = 2; k < kPassages; ++k)
        {
            const std::size_t end = kToneStart + (k + 1) * kPassage;
            (k % 2 == 0 ? loudSum : quietSum) +=
                std::abs(amplitudeAt(y[0], kToneFreqs[t], end - kPassage / 2, end)) / 2.0;
        }
        m.toneLoud[t] = db(loudSum);
        m.toneQuiet[t] = db(quietSum);
    }

    Signal mid(y[0].size()), side(y[0].size());
    for (std::size_t i = 0; i < mid.size(); ++i)
    {
        mid[i] = 0.5 * (y[0][i] + y[1][i]);
        side[i] = 0.5 * (y[0][i] - y[1][i]);
    }
    const std::size_t from = kWidthStart + kWidthLength / 2;
    for (std::size_t f = 0; f < kWidthFreqs.size(); ++f)
        m.sideOverMid[f] = db(std::abs(amplitudeAt(side, kWidthFreqs[f], from, mid.size())) /
                              std::abs(amplitudeAt(mid, kWidthFreqs[f], from, mid.size())));
    return m;
}

// One running instance takes the presets in turn: every measure starts long after the switch.
class PresetBehaviour : public CPluginTest
{
protected:
    CMeasures run(std::int32_t factoryIndex)
    {
        static const std::array<Signal, 2> in = material();
        CPluginDriver& d = driver ? *driver : make(kFs, 2);
        EXPECT_EQ(idAndText(d.registry()->activateFactoryPreset(factoryIndex)), "no error");
        const CMeasures m = measure(d.processAligned({in[0], in[1]}));
        EXPECT_EQ(idAndText(d.error()), "no error");
        return m;
    }
};

// Tone indices.
constexpr std::size_t k80 = 0, k300 = 1, k1k = 2, k10k = 3;
// Width indices.
constexpr std::size_t w100 = 0, w500 = 1, w6k = 2;

double toneDynamics(const CMeasures& m, std::size_t t)
{
    return m.toneLoud[t] - m.toneQuiet[t];
}
// How much the loud level of tone a rose against tone b, relative to the Default preset.
double tilt(const CMeasures& p, const CMeasures& d, std::size_t a, std::size_t b)
{
    return (p.toneLoud[a] - p.toneLoud[b]) - (d.toneLoud[a] - d.toneLoud[b]);
}
TEST_F(PresetBehaviour, EveryFactoryPresetDoesWhatItsNameSays)
{
    const CMeasures base = run(0);
    // The Default preset is neutral: the material's own measures come through.
    EXPECT_NEAR(base.dynamics, 19.0, 1.0);
    for (std::size_t t = 0; t < kToneFreqs.size(); ++t)
        EXPECT_NEAR(toneDynamics(base, t), 20.0, 0.3) << kToneFreqs[t];
    for (const double r : base.sideOverMid)
        EXPECT_NEAR(r, db(0.5), 0.2);

    using FCheck = std::function<void(const CMeasures& p, const CMeasures& d)>;
    const std::tuple<std::int32_t, const char*, FCheck> rows[] = {
        {1, "Tape Compression: gentle glue, more on the highs",
         [](const CMeasures& p, const CMeasures& d)
         {
             EXPECT_LT(p.dynamics, d.dynamics - 1.5);
             EXPECT_GT(p.dynamics, d.dynamics - 10.0);
             EXPECT_LT(toneDynamics(p, k10k), toneDynamics(p, k80) - 0.5);
         }},
        {2, "Deeper: the low end comes forward",
         [](const CMeasures& p, const CMeasures& d) { EXPECT_GT(tilt(p, d, k80, k10k), 2.0); }},
        {3, "Spectral Expander: the quiet passages drop away",
         [](const CMeasures& p, const CMeasures& d)
         {
             EXPECT_GT(p.dynamics, d.dynamics + 1.0);
             EXPECT_GT(p.crest, d.crest);
             for (const std::size_t t : {k80, k1k, k10k})
                 EXPECT_GT(toneDynamics(p, t), toneDynamics(d, t) + 3.0) << kToneFreqs[t];
         }},
        {4, "Overcompression: dynamics squashed flat, loud",
         [](const CMeasures& p, const CMeasures& d)
         {
             EXPECT_LT(p.dynamics, d.dynamics - 8.0);
             EXPECT_LT(p.crest, d.crest - 1.0);
             EXPECT_GT(p.toneQuiet[k1k], d.toneQuiet[k1k] + 6.0) << "made up";
         }},
        {5, "Mastering Compression: lower crest factor, moderate change",
         [](const CMeasures& p, const CMeasures& d)
         {
             EXPECT_LT(p.crest, d.crest - 0.1);
             EXPECT_LT(p.dynamics, d.dynamics - 1.5);
             EXPECT_GT(p.dynamics, d.dynamics - 8.0);
         }},
        {6, "Open Highs: high detail raised against the lows",
         [](const CMeasures& p, const CMeasures& d)
         {
             EXPECT_GT(tilt(p, d, k10k, k80), 1.5);
             EXPECT_GT(p.toneQuiet[k10k] - d.toneQuiet[k10k], 2.0);
         }},
        {7, "Depth: wider low mids",
         [](const CMeasures& p, const CMeasures& d)
         {
             EXPECT_GT(p.sideOverMid[w500] - d.sideOverMid[w500], 1.0);
             EXPECT_LT(p.sideOverMid[w100] - d.sideOverMid[w100], 0.5);
         }},
        {8, "Smooth Peak Control: peaks held, quiet passages untouched",
         [](const CMeasures& p, const CMeasures& d)
         {
             EXPECT_LT(p.crest, d.crest - 0.8);
             EXPECT_NEAR(p.toneQuiet[k1k], d.toneQuiet[k1k], 0.5);
         }},
        {9, "Lightness: low mids thinned against the highs",
         [](const CMeasures& p, const CMeasures& d) { EXPECT_GT(tilt(p, d, k10k, k300), 2.0); }},
        {10, "More Space: wider highs, the bass stays centred",
         [](const CMeasures& p, const CMeasures& d)
         {
             EXPECT_GT(p.sideOverMid[w6k] - d.sideOverMid[w6k], 2.0);
             EXPECT_LT(p.sideOverMid[w100] - d.sideOverMid[w100], 0.0);
         }},
        {11, "Clubbing: bass louder and punchier than the mids",
         [](const CMeasures& p, const CMeasures& d)
         {
             EXPECT_GT(tilt(p, d, k80, k1k), 2.0);
             EXPECT_GT(toneDynamics(p, k80), toneDynamics(p, k1k));
         }},
        {12, "Flatter Bass: low-band dynamics reduced, the top left alone",
         [](const CMeasures& p, const CMeasures& d)
         {
             EXPECT_LT(toneDynamics(p, k80), toneDynamics(d, k80) - 3.0);
             EXPECT_NEAR(toneDynamics(p, k10k), toneDynamics(d, k10k), 1.0);
         }},
    };
    for (const auto& [index, promise, check] : rows)
    {
        SCOPED_TRACE(promise);
        const CMeasures m = run(index);
        check(m, base);
    }
}

// Eight channels with the description's own group count (four groups, as a host that gives
// every channel gets): each group's processor instance carries only its group's channels, so
// the heaviest factory preset leaves the shared buffer pool room to spare and the output
// audible. (Every instance carrying every channel ran the pool dry and silenced the output.)
TEST_F(PresetBehaviour, EightChannelsInFourGroupsLeaveThePoolRoom)
{
    CPluginDriver& d = make(44100.0, 8);
    ASSERT_EQ(idAndText(d.set("plugin.modMain.modKelvatrone.group-count", 0, 0, 4)), "no error");
    ASSERT_EQ(idAndText(d.registry()->activateFactoryPreset(5)), "no error");
    std::vector<std::vector<double>> in(8, std::vector<double>(4096));
    for (std::size_t c = 0; c < in.size(); ++c)
        for (std::size_t i = 0; i < in[c].size(); ++i)
            in[c][i] = 0.3 * std::sin(phaseAt(440.0 * static_cast<double>(c + 1), i));
    const std::vector<std::vector<double>> out = d.process(in);
    EXPECT_EQ(idAndText(d.error()), "no error");
    EXPECT_GT(d.context().freeSlotCount(), 1000u);
    double peak = 0.0;
    for (double v : out[0])
        peak = std::max(peak, std::fabs(v));
    EXPECT_GT(peak, 0.05);
}

} // namespace
} // namespace kelvtest
