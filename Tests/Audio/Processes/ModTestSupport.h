#pragma once
// Test support for the processing modules and the processes that replicate them: one
// process-graph fixture whose channel count and channel groups a test chooses, definition
// shorthands (modules with parameter bindings, single chains, a band split stand-in
// "test:split": out = in x (its band's element of input 0) / 100, 100 when unbound), block
// runners that feed each channel its own samples and report whether an output is the very
// buffer fed in, and an allocation count over cycles of parameter edits.

#include "Audio/AudioProcessMB.h"
#include "Audio/Process/ProcessTestSupport.h"
#include "Support/AllocationCounter.h"

#include <cmath>
#include <cstdint>
#include <functional>
#include <numbers>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kelvtest
{

class CTestSplitModule : public zel::CAudioModuleBase
{
public:
    zel::CErrorPtr start(zel::CAudioProcessTerminalBase& owner, std::int32_t channel) override
    {
        m_channel = channel < 0 ? 0 : channel;
        m_mulc = zel::findDCDAWKernel("DCDAW_mulc");
        return update(owner);
    }
    zel::CErrorPtr update(zel::CAudioProcessTerminalBase& owner) override
    {
        m_gain = zel::CAudioProcessMB::bandParamValue(owner, 0, m_channel, 100.0) / 100.0;
        return nullptr;
    }
    zel::CErrorPtr process(zel::CAudioModuleBlock& block) override
    {
        std::uint32_t out = 0;
        ZEL_TRY(block.output(0, out), "test");
        return block.issue(*m_mulc, m_gain, {out, block.input(0)});
    }

private:
    std::int32_t m_channel = 0;
    double m_gain = 1.0;
    const zel::CDCDAWKernel* m_mulc = nullptr;
};

class CTestSplitDef : public zel::CAudioProcessDefBase
{
public:
    zel::CErrorPtr makeProcess(zel::TObjectPtr<zel::CAudioProcessBase>& process) const override
    {
        process = zel::CObject::make<zel::CAudioProcessTerminal<CTestSplitModule>>();
        return nullptr;
    }
};

// Parameter bindings of a module: (input index, parameter name).
using CBindings = std::vector<std::pair<int, std::string>>;

// Inputs 0, 1, 2, ... bound to the names in order.
inline CBindings inOrder(std::initializer_list<const char*> names)
{
    CBindings out;
    for (const char* name : names)
        out.push_back({static_cast<int>(out.size()), name});
    return out;
}

inline CChild element(const char* tag, const std::string& name, const std::string& list,
                      std::vector<CChild> children = {})
{
    return {tag, name, list.empty() ? CAttrs{} : attrs(list), std::move(children)};
}

inline CChild module(const char* tag, const char* name, const CBindings& bindings = {},
                     const std::string& extra = "")
{
    CChild child = element(tag, name, extra);
    for (const auto& [index, paramName] : bindings)
        child.children.push_back(
            element("audio:param-alloc", "alloc" + std::to_string(index),
                    "index=" + std::to_string(index) + "|param-name=" + paramName));
    return child;
}

// A parameter of one value per element with a wide range.
inline CChild wideParam(const char* name, const std::string& defs)
{
    return element("audio:param", name,
                   "element-size=1|converter=/cvt.real|min-values=-100000|max-values=100000|"
                   "def-values=" +
                       defs);
}

inline CChild split(const char* name, const std::string& paramName, const char* extra)
{
    return module("test:split", name, paramName.empty() ? CBindings{} : CBindings{{0, paramName}},
                  extra);
}

// The parameters, then "*" -> modules in order -> "*".
inline CChild chain(std::vector<CChild> params, std::vector<CChild> modules,
                    const char* name = "modMain", const char* extra = "")
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
    return container(name, std::move(children), extra);
}

// A distinctive test signal: channel c, sample i.
inline double sample(std::size_t c, std::size_t i)
{
    return std::sin(0.37 * static_cast<double>(i + 1) + 1.3 * static_cast<double>(c)) *
           (1.0 + 0.25 * static_cast<double>(c));
}

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

struct CBlockResult
{
    std::vector<CSamples> out;
    std::vector<bool> passed; // output c is the buffer fed into channel c
};

class CModTest : public CProcessTest
{
protected:
    void SetUp() override
    {
        CProcessTest::SetUp();
        ASSERT_FALSE(m_registration.add<CTestSplitDef>("test:split"));
    }
    // Call before build: channel count and each channel's group.
    void useChannels(std::vector<std::int32_t> groups, std::int32_t groupCount)
    {
        auto setup = std::make_shared<zel::CAudioProcessSetup>(*m_setup);
        setup->channelCount = static_cast<std::int32_t>(groups.size());
        setup->channelGroups = std::move(groups);
        setup->groupCount = groupCount;
        m_setup = setup;
    }
    std::size_t channels() const { return static_cast<std::size_t>(m_setup->channelCount); }
    // Drops the previous graph and builds def.
    zel::CErrorPtr rebuild(const CChild& def)
    {
        resetGraph();
        return build(def);
    }

    // Test signal blocks for every channel, n samples from sample `from`.
    std::vector<CSamples> signal(std::size_t n, std::size_t from = 0) const
    {
        std::vector<CSamples> in(channels(), CSamples(n));
        for (std::size_t c = 0; c < in.size(); ++c)
            for (std::size_t i = 0; i < n; ++i)
                in[c][i] = sample(c, from + i);
        return in;
    }
    // Feeds in[c] to channel c (all of equal length) and processes one block.
    CBlockResult runBlock(const std::vector<CSamples>& in)
    {
        const auto n = static_cast<std::int32_t>(in.front().size());
        std::vector<std::uint32_t> fed;
        for (std::size_t c = 0; c < channels(); ++c)
        {
            std::uint32_t ref = 0;
            EXPECT_FALSE(m_context->takeBuffer(64 * 8, ref));
            std::copy(in[c].begin(), in[c].end(), m_context->data(ref));
            EXPECT_FALSE(m_feeds[c]->push(ref, 0, n));
            fed.push_back(ref);
        }
        EXPECT_EQ(idAndText(m_main->process(n)), "no error");
        CBlockResult result{std::vector<CSamples>(channels()),
                            std::vector<bool>(channels(), false)};
        for (std::size_t c = 0; c < channels(); ++c)
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
        return runBlock(std::vector<CSamples>(channels(), in));
    }
    // Runs `blocks` blocks of n samples of the signal from sample `from`, outputs joined.
    std::vector<CSamples> runBlocks(std::size_t blocks, std::size_t n, std::size_t from)
    {
        std::vector<CSamples> out(channels());
        for (std::size_t b = 0; b < blocks; ++b)
        {
            const std::vector<CSamples> part = runBlock(signal(n, from + b * n)).out;
            for (std::size_t c = 0; c < out.size(); ++c)
                out[c].insert(out[c].end(), part[c].begin(), part[c].end());
        }
        return out;
    }
    // Channel 0's output of in[from, to), run in blocks of the given length.
    CSamples runChannel0(const CSamples& in, std::size_t from, std::size_t to, std::size_t length)
    {
        CSamples out;
        for (std::size_t at = from; at < to; at += length)
        {
            const auto got =
                run(CSamples(in.begin() + static_cast<std::ptrdiff_t>(at),
                             in.begin() + static_cast<std::ptrdiff_t>(std::min(to, at + length))));
            out.insert(out.end(), got[0].begin(), got[0].end());
        }
        return out;
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
    // Replaces a parameter's element list in every group and hands the change on.
    void setList(const char* path, const std::vector<double>& values, double stamp)
    {
        zel::CAudioParam& p = liveParam(path);
        for (std::int32_t g = 0; g < p.groupCount(); ++g)
            EXPECT_FALSE(p.setElements(g, values));
        EXPECT_TRUE(m_collector->takeIn(stamp));
    }
    // Runs two blocks of a constant 1.0 (the first lets blends settle) and returns the level of
    // each channel in the second, which must be constant.
    std::vector<double> level(std::size_t n = 8)
    {
        (void)run(constant(n, 1.0));
        const auto out = run(constant(n, 1.0));
        std::vector<double> first;
        for (const CSamples& channel : out)
        {
            EXPECT_EQ(channel.size(), n);
            for (double v : channel)
                EXPECT_DOUBLE_EQ(v, channel.front());
            first.push_back(channel.empty() ? -1.0 : channel.front());
        }
        return first;
    }

    // Allocations over `cycles` rounds of: edit(i), the hand-over stamped `offset` seconds into
    // the coming blocks, then the blocks; after as many rounds to warm up. The parameter edits
    // are counted unless countEdits is false (structural edits allocate change entries outside
    // the audio path).
    std::size_t cycleAllocations(const std::function<void(int)>& edit,
                                 const std::vector<std::int32_t>& blocks, int cycles = 8,
                                 double offset = 0.0, bool countEdits = true)
    {
        double stamp = 0.0;
        std::size_t counted = 0;
        for (int round = 0; round < 2; ++round)
            for (int i = 0; i < cycles; ++i)
            {
                std::optional<CCountAllocations> count;
                if (round == 1 && countEdits)
                    count.emplace();
                edit(i);
                if (round == 1 && !countEdits)
                    count.emplace();
                (void)m_collector->takeIn(stamp + offset);
                for (const std::int32_t n : blocks)
                {
                    runQuiet(n);
                    stamp += n / kRate;
                }
                counted += count ? count->count() : 0u;
            }
        return counted;
    }
};

} // namespace kelvtest
