#include "Audio/Processes/OversamplingTestSupport.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace kelvtest
{
namespace
{

// Quality of the 2x / 4x / 8x chains, measured on bin-centred sines (rectangular window over
// the last 4096 base-rate samples, after the transients): passband ripple of the round trip,
// image rejection of the up-sampler (every image m fs +- f below its output's Nyquist), alias
// rejection of the down-sampler (sines at m fs +- f folding onto f). Loose bounds here; the
// figures print as "[quality] ...".
class OversamplingQualityTest : public COversamplingTest
{
protected:
    static constexpr std::size_t kN = 4096;

    void prepare(std::int32_t stages, double linearPhase, bool up, bool down)
    {
        reset();
        COversamplingChain c = roundTrip(stages + 1.0, linearPhase);
        c.up = up;
        c.down = down;
        ASSERT_EQ(idAndText(buildChain(c)), "no error");
    }
    static double cycles(std::size_t bin, std::size_t n)
    {
        return static_cast<double>(bin) / static_cast<double>(n);
    }
};

TEST_F(OversamplingQualityTest, RoundTripPassbandRipple)
{
    const double freqs[] = {100.0, 1000.0, 5000.0, 10000.0, 15000.0, 18000.0, 20000.0};
    for (const double lp : {0.0, 1.0})
        for (std::int32_t s = 1; s <= 3; ++s)
        {
            double worst18 = 0.0;
            double at20 = 0.0;
            for (const double f : freqs)
            {
                prepare(s, lp, true, true);
                const auto bin = static_cast<std::size_t>(std::lround(f * kN / 44100.0));
                const CSamples y = feed(sine(3 * kN, cycles(bin, kN)));
                const double gain = dB(binAmplitude(y, kN, bin));
                if (f <= 18000.0)
                    worst18 = std::max(worst18, std::abs(gain));
                else
                    at20 = gain;
            }
            std::printf("[quality] %s %dx ripple to 18 kHz %.5f dB, at 20 kHz %.3f dB\n",
                        kindName(lp), 1 << s, worst18, at20);
            EXPECT_LT(worst18, 0.05) << kindName(lp) << " " << s;
            EXPECT_GT(at20, -3.0) << kindName(lp) << " " << s;
        }
}

TEST_F(OversamplingQualityTest, ImageAndAliasRejection)
{
    const double freqs[] = {1000.0, 10000.0, 16000.0};
    for (const double lp : {0.0, 1.0})
        for (std::int32_t s = 1; s <= 3; ++s)
        {
            const std::size_t factor = std::size_t{1} << s;
            const std::size_t nr = kN * factor;
            double image = -1000.0;
            double alias = -1000.0;
            for (const double f : freqs)
            {
                const auto bin = static_cast<std::size_t>(std::lround(f * kN / 44100.0));
                // Up-sampler alone: the sine stays at its bin, the images sit at m N +- bin.
                prepare(s, lp, true, false);
                const CSamples up = feed(sine(3 * kN, cycles(bin, kN)));
                EXPECT_EQ(up.size(), 3 * nr);
                const double wanted = binAmplitude(up, nr, bin);
                EXPECT_NEAR(wanted, 1.0, 0.01);
                for (std::size_t m = 1; m < factor; ++m)
                    for (const std::size_t b : {m * kN - bin, m * kN + bin})
                        if (b < nr / 2)
                            image = std::max(image, dB(binAmplitude(up, nr, b) / wanted));
                // Down-sampler alone, fed at the raised rate: m N +- bin folds onto bin.
                for (std::size_t m = 1; m < factor; ++m)
                    for (const std::size_t b : {m * kN - bin, m * kN + bin})
                    {
                        if (b >= nr / 2)
                            continue;
                        prepare(s, lp, false, true);
                        const CSamples down = feed(sine(3 * nr, cycles(b, nr)),
                                                   kBlock * static_cast<std::int32_t>(factor));
                        EXPECT_EQ(down.size(), 3 * kN);
                        alias = std::max(alias, dB(binAmplitude(down, kN, bin)));
                    }
            }
            std::printf("[quality] %s %dx worst image %.1f dB, worst alias %.1f dB "
                        "(sines at 1, 10, 16 kHz)\n",
                        kindName(lp), 1 << s, image, alias);
            EXPECT_LT(image, -60.0) << kindName(lp) << " " << s;
            EXPECT_LT(alias, -60.0) << kindName(lp) << " " << s;
        }
}

} // namespace
} // namespace kelvtest
