// The whole default instance, measured from outside: with the default curves (ratio 1:1, which
// the converter makes 0.999) the tree's impulse response must be the band bank's summed
// response, predicted here from the band generator's own coefficients at the expected band
// frequencies and bandwidth (sum over bands of H_k(e^jw), times the band sum gain), evaluated
// by hand, delayed by the plug-in's constant latency of 502 samples (at 1x the latency
// uniformer supplies all of it).
#include "Audio/Plugin/PluginTestSupport.h"

namespace kelvtest
{
namespace
{

constexpr double kFs = 48000.0;

TEST_F(CPluginTest, DefaultTreeIsTheBandBankSummedResponse)
{
    const struct
    {
        const char* what;
        double left, right; // impulse heights
        double f0, f1;
        int steps;
        double maxDb, maxRel;
        bool quiet; // the anti-denormal noise off: no noise in the null test
    } cases[] = {
        // Unit impulses cross the -18 dB threshold: the 1:1 law must stay transparent, and
        // the gain computer stays within 0.1 % of unity at 0.999 (0.0087 dB).
        {"loud", 1.0, -0.5, 15.0, 20000.0, 120, 0.01, 1.2e-3, false},
        // Below every band's threshold the gain is exactly 1: only rounding remains.
        {"quiet", 0.01, 0.01, 20.0, 20000.0, 60, 0.01, 1e-9, true},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        CPluginDriver& d = make(kFs, 2);
        ASSERT_FALSE(d.set("plugin.modMain.denorm-enable", 0, 0, c.quiet ? 0.0 : 1.0));
        d.processSilence(9600); // layout, filter transitions and band fades settle
        const auto out = d.process({impulse(65536, c.left), impulse(65536, c.right)});
        ASSERT_EQ(idAndText(d.error()), "no error");
        const CResponseError err =
            responseError(out, {c.left, c.right}, kFs, c.f0, c.f1, c.steps,
                          [](double f) { return bandBankResponse(f, kFs, kFs, 502.0); });
        EXPECT_LT(err.db, c.maxDb);
        EXPECT_LT(err.rel, c.maxRel);
    }
}

} // namespace
} // namespace kelvtest
