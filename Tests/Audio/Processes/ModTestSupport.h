#pragma once
// Test support for the processing modules: the process-graph fixture with a chosen number of
// channels and channel groups, a module shorthand that binds parameters by input index, and a
// block runner that feeds each channel its own samples and reports, besides the output,
// whether an output is the very buffer that was fed in (pass-through without a kernel).

#include "Audio/Process/ProcessTestSupport.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kelvtest
{

// A module definition of tag whose parameter input i is bound to params[i].
inline CChild module(const char* tag, const char* name, const std::vector<std::string>& params,
                     const char* extra = "")
{
    CChild child{tag, name, attrs(extra), {}};
    for (std::size_t i = 0; i < params.size(); ++i)
        child.children.push_back({"audio:param-alloc",
                                  zel::CText("alloc") + zel::CText(std::to_string(i)),
                                  attrs("index=" + std::to_string(i) + "|param-name=" + params[i]),
                                  {}});
    return child;
}

// "*" -> name -> "*".
inline std::vector<CChild> through(const char* name)
{
    return {link(std::string("src=*|dst=") + name), link(std::string("src=") + name + "|dst=*")};
}

struct CBlockResult
{
    std::vector<CSamples> out;
    std::vector<bool> passed; // output c is the buffer fed into channel c
};

class CModTest : public CProcessTest
{
protected:
    // Call before build: channel count and each channel's group.
    void useChannels(std::vector<std::int32_t> groups, std::int32_t groupCount)
    {
        auto setup = std::make_shared<zel::CAudioProcessSetup>(*m_setup);
        setup->channelCount = static_cast<std::int32_t>(groups.size());
        setup->channelGroups = std::move(groups);
        setup->groupCount = groupCount;
        m_setup = setup;
    }
    std::int32_t channels() const { return m_setup->channelCount; }

    // Feeds in[c] to channel c (all of equal length) and processes one block.
    CBlockResult runBlock(const std::vector<CSamples>& in)
    {
        const auto n = static_cast<std::int32_t>(in.front().size());
        std::vector<std::uint32_t> fed;
        for (std::int32_t c = 0; c < channels(); ++c)
        {
            std::uint32_t ref = 0;
            EXPECT_FALSE(m_context->takeBuffer(64 * 8, ref));
            for (std::int32_t i = 0; i < n; ++i)
                m_context->data(ref)[i] =
                    in[static_cast<std::size_t>(c)][static_cast<std::size_t>(i)];
            EXPECT_FALSE(m_feeds[static_cast<std::size_t>(c)]->push(ref, 0, n));
            fed.push_back(ref);
        }
        EXPECT_EQ(idAndText(m_main->process(n)), "no error");
        CBlockResult result{std::vector<CSamples>(static_cast<std::size_t>(channels())),
                            std::vector<bool>(static_cast<std::size_t>(channels()), false)};
        for (std::size_t c = 0; c < static_cast<std::size_t>(channels()); ++c)
        {
            zel::CAudioConnection& tap = *m_taps[c];
            result.passed[c] = tap.frontLength() > 0 && tap.frontRef() == fed[c];
            while (tap.frontLength() > 0)
            {
                const double* data = m_context->data(tap.frontRef());
                result.out[c].insert(result.out[c].end(), data, data + tap.frontLength());
                tap.consume(tap.frontLength());
            }
            EXPECT_FALSE(m_context->releaseReference(fed[c]));
        }
        return result;
    }
    // The same block on every channel.
    CBlockResult runSame(const CSamples& in)
    {
        return runBlock(std::vector<CSamples>(static_cast<std::size_t>(channels()), in));
    }

    // Sets a parameter's value in one group (all groups for -1) and hands the change over,
    // stamped at the start of the coming block.
    void setValue(const char* path, double value, std::int32_t group = -1)
    {
        zel::CAudioParam& p = liveParam(path);
        for (std::int32_t g = 0; g < p.groupCount(); ++g)
            if (group < 0 || g == group)
            {
                EXPECT_FALSE(p.setValue(g, 0, 0, value));
            }
        EXPECT_TRUE(m_collector->takeIn((static_cast<double>(m_main->position()) - 0.5) / kRate));
    }
};

// The anti-denormal noise from a seed, computed from the generator's definition.
inline CSamples referenceNoise(std::uint32_t seed, std::size_t n)
{
    CSamples out(n);
    for (double& v : out)
    {
        seed = seed * 30013u + 30011u;
        v = (seed & 0x800000u) != 0 ? 1e-11 : -1e-11;
    }
    return out;
}

} // namespace kelvtest
