#include "Audio/Processes/ModOutput.h"
#include "Audio/Processes/ModTestSupport.h"

namespace kelvtest
{
namespace
{

class OutputStageTest : public CModTest
{
protected:
    void SetUp() override
    {
        CModTest::SetUp();
        ASSERT_FALSE(build(chain({param("g", "2")}, {gain("x2", "g")})));
        zel::CAudioProcessBase* main = m_main;
        ASSERT_FALSE(define({"audio:modOutput", "modOutput", {}, {}}));
        zel::CAudioProcessBase* made = nullptr;
        ASSERT_FALSE(zel::CAudioProcessBase::instantiate(*m_def, *m_instances, "modOutput", m_setup,
                                                         "plugin.modOutput", made));
        m_output = dynamic_cast<zel::CModOutput*>(made);
        ASSERT_NE(m_output, nullptr);
        ASSERT_FALSE(m_output->attachSource(*main));
        m_main = main;
    }
    // Feeds signal(n, from) and lets the output stage run the graph into outputs.
    void render(std::int32_t n, std::size_t from, void* const* outputs, std::int32_t offset)
    {
        const std::vector<CSamples> in = signal(static_cast<std::size_t>(n), from);
        for (std::size_t c = 0; c < in.size(); ++c)
        {
            std::uint32_t ref = 0;
            ASSERT_FALSE(m_context->takeBuffer(64 * 8, ref));
            std::copy(in[c].begin(), in[c].end(), m_context->data(ref));
            ASSERT_FALSE(m_feeds[c]->push(ref, 0, n));
            ASSERT_FALSE(m_context->releaseReference(ref));
        }
        ASSERT_EQ(idAndText(m_output->render(m_main, n, outputs, offset)), "no error");
        for (zel::CAudioConnection* tap : m_taps)
            while (tap->frontLength() > 0)
                tap->consume(tap->frontLength());
    }

    zel::CModOutput* m_output = nullptr;
};

TEST_F(OutputStageTest, WritesTheHostFormats)
{
    constexpr double kSentinel = -7.0;
    // 64-bit, one buffer per channel, at a frame offset; a null channel pointer is skipped.
    {
        std::vector<double> left(12, kSentinel), right(12, kSentinel);
        void* const outputs[] = {left.data(), right.data()};
        m_output->setOutputFormat(true, false, 2);
        render(8, 0, outputs, 3);
        for (std::size_t i = 0; i < 12; ++i)
        {
            const bool inside = i >= 3 && i < 11;
            EXPECT_EQ(left[i], inside ? 2 * sample(0, i - 3) : kSentinel) << i;
            EXPECT_EQ(right[i], inside ? 2 * sample(1, i - 3) : kSentinel) << i;
        }
        void* const onlyRight[] = {nullptr, right.data()};
        render(4, 8, onlyRight, 0);
        EXPECT_EQ(right[0], 2 * sample(1, 8));
    }
    // 32-bit interleaved over three host channels: the third has no signal and gets silence.
    {
        std::vector<float> frames(3 * 4, -7.0f);
        void* const outputs[] = {frames.data()};
        m_output->setOutputFormat(false, true, 3);
        render(4, 20, outputs, 0);
        for (std::size_t i = 0; i < 4; ++i)
        {
            EXPECT_EQ(frames[3 * i], static_cast<float>(2 * sample(0, 20 + i))) << i;
            EXPECT_EQ(frames[3 * i + 1], static_cast<float>(2 * sample(1, 20 + i))) << i;
            EXPECT_EQ(frames[3 * i + 2], 0.0f) << i;
        }
    }
}

} // namespace
} // namespace kelvtest
