// The whole default instance, measured from outside: with the default curves (ratio 1:1, which
// the converter makes 0.999) the tree's impulse response must be the band bank's summed
// response, predicted here from the band generator's own coefficients at the expected band
// frequencies and bandwidth (sum over bands of H_k(e^jw), times the band sum gain), evaluated
// by hand, delayed by the plug-in's constant latency of 502 samples (at 1x the latency
// uniformer supplies all of it).
#include "Audio/DCDAWContext.h"
#include "Audio/Filters/AudioFilterGen.h"
#include "Audio/Plugin/PluginTestSupport.h"
#include "Core/Application.h"

#include <complex>
#include <cstdio>
#include <numbers>

namespace kelvtest
{
namespace
{

constexpr double kFs = 48000.0;

std::complex<double> predicted(double f)
{
    return bandBankResponse(f, kFs);
}

// The same, delayed by the plug-in's reported latency.
constexpr double kLatency = 502.0;
std::complex<double> predictedDelayed(double f)
{
    return predicted(f) * std::polar(1.0, -2.0 * std::numbers::pi * f / kFs * kLatency);
}

std::complex<double> dft(const std::vector<double>& y, double f)
{
    return dftAt(y, f, kFs);
}

TEST_F(CPluginTest, DefaultTreeIsTheBandBankSummedResponse)
{
    CPluginDriver& d = make(kFs, 2);
    d.processSilence(9600); // layout, filter transitions and band fades settle

    // Unit impulses (so levels cross the -18 dB threshold: the 1:1 law must stay transparent).
    const std::size_t n = 65536;
    std::vector<std::vector<double>> in(2, std::vector<double>(n, 0.0));
    in[0][0] = 1.0;
    in[1][0] = -0.5;
    const auto out = d.process(in);
    ASSERT_EQ(idAndText(d.error()), "no error");

    double worstDb = 0.0;
    double worstRel = 0.0;
    double worstAt = 0.0;
    for (int i = 0; i <= 120; ++i)
    {
        const double f = 15.0 * std::pow(20000.0 / 15.0, i / 120.0);
        const std::complex<double> want = predictedDelayed(f);
        for (std::size_t c = 0; c < 2; ++c)
        {
            const std::complex<double> got = dft(out[c], f) / in[c][0];
            const double db = std::abs(20.0 * std::log10(std::abs(got) / std::abs(want)));
            const double rel = std::abs(got - want) / std::abs(want);
            if (db > worstDb)
            {
                worstDb = db;
                worstAt = f;
            }
            worstRel = std::max(worstRel, rel);
        }
    }
    std::printf("transparency: largest magnitude error %.3g dB (at %.1f Hz), largest complex "
                "error %.3g relative\n",
                worstDb, worstAt, worstRel);
    // The gain computer stays within 0.1 % of unity at 0.999 (0.0087 dB).
    EXPECT_LT(worstDb, 0.01);
    EXPECT_LT(worstRel, 1.2e-3);
}

TEST_F(CPluginTest, QuietSignalsPassTheDefaultTreeExactlyAsPredicted)
{
    // Below every band's threshold the gain is exactly 1: only rounding remains.
    CPluginDriver& d = make(kFs, 2);
    ASSERT_FALSE(d.set("plugin.modMain.denorm-enable", 0, 0, 0.0)); // no noise in the null test
    d.processSilence(9600);
    const std::size_t n = 65536;
    std::vector<std::vector<double>> in(2, std::vector<double>(n, 0.0));
    in[0][0] = 0.01;
    in[1][0] = 0.01;
    const auto out = d.process(in);
    double worstRel = 0.0;
    for (int i = 0; i <= 60; ++i)
    {
        const double f = 20.0 * std::pow(1000.0, i / 60.0);
        const std::complex<double> want = predictedDelayed(f);
        for (std::size_t c = 0; c < 2; ++c)
            worstRel = std::max(worstRel, std::abs(dft(out[c], f) / 0.01 - want) / std::abs(want));
    }
    std::printf("transparency below threshold: largest complex error %.3g relative\n", worstRel);
    EXPECT_LT(worstRel, 1e-9);
}

} // namespace
} // namespace kelvtest
