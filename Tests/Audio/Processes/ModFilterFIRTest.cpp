#include "Audio/Processes/ModFilterFIR.h"
#include "Audio/Processes/FilterModuleTestSupport.h"
#include "Support/AllocationCounter.h"

namespace kelvtest
{
namespace
{

class ModFilterFIRTest : public CFilterModuleTest
{
protected:
    void SetUp() override
    {
        CFilterModuleTest::SetUp();
        // 253 taps at 44100 Hz, as the steep resampler stage uses.
        generators(
            {element("audio:fltgen-firlp", "lp", "length=5.73696145124716553|freq=10788|power=1"),
             element("audio:fltgen-rbj", "rbj", "type=4|freq=1000|bw=1"),
             element("audio:fltgen-array", "arr", "",
                     {element("audio:fltgen-array-item", "i", "index=0|fltgen=lp"),
                      element("audio:fltgen-array-item", "i",
                              "index=1|fltgen=lp|length=0.1|freq=3000")})});
    }
    static CChild fir(const std::string& list) { return element("audio:modFilterFIR", "f", list); }
    std::vector<double> tapsOf(const char* gen, int index)
    {
        zel::CAudioFilterRequest request;
        request.index = index;
        return designOf(gen, request).taps;
    }
    // Runs in through the graph in blocks of the given length (at most 64).
    CSamples runBlocks(const CSamples& in, std::size_t length)
    {
        CSamples out;
        for (std::size_t at = 0; at < in.size(); at += length)
        {
            const std::size_t n = std::min(length, in.size() - at);
            const auto got = run(CSamples(in.begin() + static_cast<std::ptrdiff_t>(at),
                                          in.begin() + static_cast<std::ptrdiff_t>(at + n)));
            out.insert(out.end(), got[0].begin(), got[0].end());
        }
        return out;
    }
};

// The output is the plain convolution of the input with the taps, delayed by the partition
// size, which is also the latency the definition reports.
TEST_F(ModFilterFIRTest, OutputIsTheDirectConvolutionDelayedByThePartition)
{
    struct CCase
    {
        const char* attrs;
        std::size_t blockLength;
        std::int32_t latency; // B
        std::size_t partitions;
    };
    const CCase cases[] = {
        {"fltgen=lp", 64, 256, 1},                // 253 taps fit one partition
        {"fltgen=lp|latency=7", 37, 128, 2},      // a frame spans blocks
        {"fltgen=lp|latency=5", 64, 32, 8},       // two frames per block
        {"fltgen=arr|filter-index=1", 23, 16, 1}, // 4 taps: the smallest partition
        {"fltgen=arr|filter-index=1|length=2", 64, 128, 1},
    };
    const CSamples in = testSignal(1500);
    for (const CCase& c : cases)
    {
        SCOPED_TRACE(c.attrs);
        ASSERT_FALSE(rebuild(chainOf(fir(c.attrs))));
        const auto* def = dynamic_cast<const zel::CModFilterFIRDef*>(m_def->findChild("f"));
        ASSERT_NE(def, nullptr);
        EXPECT_EQ(def->latencySamples(kFs), c.latency);
        auto& process = dynamic_cast<zel::CModFilterFIR&>(*m_main->findChild("f"));
        EXPECT_EQ(process.module(0).partitionSize(), c.latency);
        EXPECT_EQ(process.module(0).partitionCount(), c.partitions);

        zel::CAudioFilterRequest request;
        const std::string list = c.attrs;
        request.index = list.find("filter-index=1") != std::string::npos ? 1 : 0;
        if (list.find("length=2") != std::string::npos)
            request.length = 2.0;
        const std::vector<double> taps =
            designOf(list.find("arr") != std::string::npos ? "arr" : "lp", request).taps;

        const CSamples out = runBlocks(in, c.blockLength);
        ASSERT_EQ(out.size(), in.size());
        const auto delay = static_cast<std::size_t>(c.latency);
        double worst = 0.0;
        for (std::size_t t = 0; t < out.size(); ++t)
        {
            double want = 0.0;
            for (std::size_t k = 0; k < taps.size() && k + delay <= t; ++k)
                want += taps[k] * in[t - delay - k];
            worst = std::max(worst, std::abs(out[t] - want));
        }
        EXPECT_LT(worst, 1e-12);
    }
}

TEST_F(ModFilterFIRTest, ConstantInputSettlesAtTheTapsDCGain)
{
    ASSERT_FALSE(rebuild(chainOf(fir("fltgen=lp"))));
    const CSamples out = runBlocks(CSamples(1024, 1.0), 64);
    // Unity at DC: the low-pass is normalised and the transforms add no gain of their own.
    for (std::size_t t = 256 + 253; t < out.size(); ++t)
        ASSERT_NEAR(out[t], 1.0, 1e-12) << t;
    for (std::size_t t = 0; t < 256; ++t)
        ASSERT_EQ(out[t], 0.0) << t;
}

TEST_F(ModFilterFIRTest, ReportsConfigurationErrors)
{
    struct CCase
    {
        std::string attrs;
        bool atLoad;
        const char* message;
    };
    const CCase cases[] = {
        {"fltgen=lp|latency=0", true,
         "zelstr_CModFilterFIRDef_onLatency_Invalid: Invalid latency '0' specified."},
        {"fltgen=lp|latency=17", true,
         "zelstr_CModFilterFIRDef_onLatency_Invalid: Invalid latency '17' specified."},
        {"fltgen=lp|latency=x", true,
         "zelstr_CModFilterFIRDef_onLatency_Invalid: Invalid latency 'x' specified."},
        {"fltgen=rbj", false,
         "zelstr_CModFilterFIRDef_designTaps_NotFIR: Filter generator 'r.audio.modMain.f' does "
         "not design FIR taps."},
    };
    for (const CCase& c : cases)
    {
        SCOPED_TRACE(c.attrs);
        if (zel::CObject* audio = m_root->findChild("audio"))
            (void)audio->destroy();
        const zel::CErrorPtr loaded = define(chainOf(fir(c.attrs)));
        if (c.atLoad)
        {
            EXPECT_EQ(idAndText(loaded), c.message);
            continue;
        }
        ASSERT_EQ(idAndText(loaded), "no error");
        EXPECT_EQ(idAndText(instantiate()), c.message);
    }
}

TEST_F(ModFilterFIRTest, SteadyStateAllocatesNothing)
{
    ASSERT_FALSE(rebuild(chainOf(fir("fltgen=lp|latency=6"))));
    for (int b = 0; b < 8; ++b)
        runQuiet(64);
    CCountAllocations count;
    for (int b = 0; b < 64; ++b)
        runQuiet(b % 2 == 0 ? 64 : 29);
    EXPECT_EQ(count.count(), 0u);
}

} // namespace
} // namespace kelvtest
