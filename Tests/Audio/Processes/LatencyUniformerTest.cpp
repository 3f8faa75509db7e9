#include "Audio/Processes/ModLatencyUniformer.h"
#include "Audio/Processes/OversamplingTestSupport.h"
#include "Core/Log.h"

#include <string>
#include <tuple>
#include <vector>

namespace kelvtest
{
namespace
{

using zel::CModLatencyUniformer;

// Collects the diagnostic log for the fixture's lifetime.
class LatencyUniformerTest : public COversamplingTest
{
protected:
    void SetUp() override
    {
        COversamplingTest::SetUp();
        m_previous =
            zel::setDiagLogSink([this](std::string_view line) { m_log.emplace_back(line); });
    }
    void TearDown() override
    {
        zel::setDiagLogSink(m_previous);
        COversamplingTest::TearDown();
    }
    CModLatencyUniformer& uniformer() { return child<CModLatencyUniformer>("modLatencyUniformer"); }

    std::vector<std::string> m_log;
    zel::CLogSink m_previous;
};

// Rates pick the first entry not below the rounded rate; the delay line holds delay + 256 in
// whole blocks (256 here). An 8x FIR round trip ahead of it takes 360 samples.
TEST_F(LatencyUniformerTest, EntryChoiceDelayAndRingSize)
{
    // rate, mode (1 = 1x, 4 = 8x), reported latency, delay, ring length
    const char* list = "44100=502;48000=510;88200=640;96000=undefined;192000=1000";
    const std::tuple<double, double, std::int32_t, std::int32_t, std::int32_t> cases[] = {
        {44100.0, 1.0, 502, 502, 768},          // 758 -> 3 blocks
        {44100.4, 1.0, 502, 502, 768},          // rounds to 44100
        {44100.5, 1.0, 510, 510, 768},          // rounds up: the 48000 entry
        {50000.0, 1.0, 640, 640, 1024},         // the 88200 entry
        {50000.0, 4.0, 640, 640 - 360, 768},    // 280 + 256 -> 3 blocks
        {176400.0, 4.0, 1000, 1000 - 360, 1024} // 896 -> 4 blocks
    };
    for (const auto& [rate, mode, reported, delay, ring] : cases)
    {
        SCOPED_TRACE(std::to_string(rate) + " mode " + std::to_string(mode));
        reset();
        setRate(rate);
        ASSERT_EQ(idAndText(buildChain(roundTrip(mode, 1.0, list))), "no error");
        EXPECT_EQ(m_env->latency(), reported); // known before the first block
        const CSamples y = feed(impulse(1536));
        EXPECT_EQ(uniformer().reportedLatency(), reported);
        EXPECT_EQ(m_env->latency(), reported);
        EXPECT_EQ(uniformer().delay(), delay);
        EXPECT_EQ(uniformer().module(0).ringLength(), ring);
        EXPECT_EQ(peakIndex(y), static_cast<std::size_t>(reported));
    }
    EXPECT_TRUE(m_log.empty());
}

// An unsupported rate (above the last entry, or "undefined") and a graph slower than the entry
// write their diagnostics once; processing goes on without delay and the graph's own latency
// is reported.
TEST_F(LatencyUniformerTest, DiagnosticsAndProcessingWithoutDelay)
{
    // rate, mode, list, message, reported
    const std::tuple<double, double, const char*, const char*, std::int32_t> cases[] = {
        {400000.0, 1.0, kLatencies, "Unsupported sample rate 400000.000000 in LatencyUniformer", 0},
        {96000.0, 2.0, "44100=502;96000=undefined",
         "Unsupported sample rate 96000.000000 in LatencyUniformer", 254},
        {44100.0, 4.0, "44100=300",
         "Too high latency 360 at sample rate 44100.000000 in LatencyUniformer", 360},
    };
    for (const auto& [rate, mode, list, message, reported] : cases)
    {
        SCOPED_TRACE(message);
        reset();
        m_log.clear();
        setRate(rate);
        ASSERT_EQ(idAndText(buildChain(roundTrip(mode, 1.0, list))), "no error");
        const CSamples y = feed(impulse(2048));
        ASSERT_EQ(m_log.size(), 1u);
        EXPECT_EQ(m_log[0], message);
        EXPECT_EQ(uniformer().delay(), 0);
        EXPECT_EQ(uniformer().reportedLatency(), reported);
        EXPECT_EQ(peakIndex(y), static_cast<std::size_t>(reported));
    }
}

TEST_F(LatencyUniformerTest, RejectsMalformedEntries)
{
    for (const char* bad : {"44100", "44100=x", "=502", "44100=-1", "rate=1"})
    {
        SCOPED_TRACE(bad);
        reset();
        EXPECT_EQ(
            idAndText(define(
                {"audio:modLatencyUniformer", "u", attrs(std::string("latencies=") + bad), {}})),
            std::string("zelstr_CModLatencyUniformerDef_onLatencies_Invalid: Invalid "
                        "latency entry '") +
                bad + "' specified.");
    }
}

} // namespace
} // namespace kelvtest
