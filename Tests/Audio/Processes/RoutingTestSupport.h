#pragma once
// Test support for the channel-moving modules: a process-graph fixture whose channel count and
// channel groups a test chooses, fed with distinct samples per channel, and shorthands for
// module definitions with parameter bindings.

#include "Audio/Process/ProcessTestSupport.h"

#include <cmath>
#include <numbers>
#include <utility>

namespace kelvtest
{

// A module definition with its parameter bindings (binding index, parameter name).
inline CChild routingModule(const char* tag, const char* name,
                            std::vector<std::pair<int, std::string>> bindings,
                            const char* extra = "")
{
    CChild child{tag, name, attrs(extra), {}};
    for (const auto& [index, paramName] : bindings)
        child.children.push_back(
            {"audio:param-alloc",
             "alloc" + std::to_string(index),
             attrs("index=" + std::to_string(index) + "|param-name=" + paramName),
             {}});
    return child;
}

// The usual single-module main process: "*" -> name -> "*".
inline CChild chain(std::vector<CChild> params, std::vector<CChild> modules,
                    const char* name = "modMain")
{
    std::vector<CChild> children = std::move(params);
    std::string prev = "*";
    for (CChild& m : modules)
    {
        children.push_back(link("src=" + prev + "|dst=" + m.name.toUtf8()));
        prev = m.name.toUtf8();
        children.push_back(std::move(m));
    }
    children.push_back(link("src=" + prev + "|dst=*"));
    return container(name, std::move(children));
}

// A distinctive test signal: channel c, sample i.
inline double sample(std::size_t c, std::size_t i)
{
    return std::sin(0.37 * static_cast<double>(i + 1) + 1.3 * static_cast<double>(c)) *
           (1.0 + 0.25 * static_cast<double>(c));
}

class CRoutingTest : public CProcessTest
{
protected:
    // Call before building: the process's channels and their groups.
    void configure(std::int32_t channels, std::vector<std::int32_t> groups, std::int32_t groupCount)
    {
        auto setup = std::make_shared<zel::CAudioProcessSetup>(*m_setup);
        setup->channelCount = channels;
        setup->channelGroups = std::move(groups);
        setup->groupCount = groupCount;
        m_setup = setup;
        m_channels = channels;
    }
    // Builds def as "plugin.<its name>" (several per test when the names differ).
    zel::CErrorPtr buildN(const CChild& def)
    {
        ZEL_TRY(define(def), "test");
        return instantiate(def.name);
    }
    // Test signal blocks for every channel, n samples from sample `from`.
    std::vector<CSamples> signal(std::size_t n, std::size_t from = 0) const
    {
        std::vector<CSamples> in(static_cast<std::size_t>(m_channels), CSamples(n));
        for (std::size_t c = 0; c < in.size(); ++c)
            for (std::size_t i = 0; i < n; ++i)
                in[c][i] = sample(c, from + i);
        return in;
    }
    // Feeds one block per channel and returns each channel's output; fedSlots receives the
    // pool slot of each fed buffer.
    std::vector<CSamples> runN(const std::vector<CSamples>& in,
                               std::vector<std::uint32_t>* fedSlots = nullptr)
    {
        const auto n = static_cast<std::int32_t>(in[0].size());
        for (std::size_t c = 0; c < in.size(); ++c)
        {
            std::uint32_t ref = 0;
            EXPECT_FALSE(m_context->takeBuffer(static_cast<std::uint32_t>(64 * 8), ref));
            std::copy(in[c].begin(), in[c].end(), m_context->data(ref));
            EXPECT_FALSE(m_feeds[c]->push(ref, 0, n));
            EXPECT_FALSE(m_context->releaseReference(ref));
            if (fedSlots != nullptr)
                fedSlots->push_back(ref & 0xFFFu);
        }
        EXPECT_EQ(idAndText(m_main->process(n)), "no error");
        std::vector<CSamples> out(in.size());
        m_tapSlots.clear();
        for (std::size_t c = 0; c < in.size(); ++c)
        {
            zel::CAudioConnection& tap = *m_taps[c];
            m_tapSlots.push_back(tap.frontLength() > 0 ? tap.front().ref & 0xFFFu : 0xFFFFu);
            while (tap.frontLength() > 0)
            {
                const double* data = m_context->data(tap.frontRef());
                out[c].insert(out[c].end(), data, data + tap.frontLength());
                tap.consume(tap.frontLength());
            }
        }
        return out;
    }
    // Runs `blocks` blocks of n samples of the signal from sample `from`, outputs joined.
    std::vector<CSamples> runBlocks(std::size_t blocks, std::size_t n, std::size_t from)
    {
        std::vector<CSamples> out(static_cast<std::size_t>(m_channels));
        for (std::size_t b = 0; b < blocks; ++b)
        {
            const std::vector<CSamples> part = runN(signal(n, from + b * n));
            for (std::size_t c = 0; c < out.size(); ++c)
                out[c].insert(out[c].end(), part[c].begin(), part[c].end());
        }
        return out;
    }
    void runQuietN(std::int32_t n)
    {
        for (zel::CAudioConnection* feed : m_feeds)
        {
            std::uint32_t ref = 0;
            (void)m_context->takeBuffer(64 * 8, ref);
            (void)feed->push(ref, 0, n);
            (void)m_context->releaseReference(ref);
        }
        (void)m_main->process(n);
        for (zel::CAudioConnection* tap : m_taps)
            while (tap->frontLength() > 0)
                tap->consume(tap->frontLength());
    }
    std::int32_t m_channels = kChannels;
    std::vector<std::uint32_t> m_tapSlots; // slot of each output's first segment (last run)
};

inline void expectNear(const std::vector<CSamples>& out, const std::vector<CSamples>& expected,
                       const std::string& what, double tolerance = 1e-14)
{
    ASSERT_EQ(out.size(), expected.size()) << what;
    for (std::size_t c = 0; c < out.size(); ++c)
    {
        ASSERT_EQ(out[c].size(), expected[c].size()) << what << " channel " << c;
        for (std::size_t i = 0; i < out[c].size(); ++i)
            EXPECT_NEAR(out[c][i], expected[c][i], tolerance)
                << what << " channel " << c << " sample " << i;
    }
}

// Raised-cosine blend weight of the old signal at sample k of N.
inline double oldWeight(std::size_t k, std::size_t n)
{
    return k < n ? 0.5 + 0.5 * std::cos(std::numbers::pi * static_cast<double>(k) /
                                        static_cast<double>(n))
                 : 0.0;
}

} // namespace kelvtest
