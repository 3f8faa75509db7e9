// Shortcuts of the process graph that must not show in the results: summing many sources
// several at a time, and skipping modules whose output nobody reads.
#include "Audio/Process/ProcessTestSupport.h"

#include <array>
#include <cmath>
#include <string>

namespace kelvtest
{
namespace
{

// Counts its runs per kind; kIdle says whether it may be skipped when unread.
std::array<int, 3> g_runs{};

template <bool kIdle, int kKind>
class CCountingModule : public zel::CAudioModuleBase
{
public:
    zel::CErrorPtr process(zel::CAudioModuleBlock& block) override
    {
        ++g_runs[kKind];
        return block.passInput(0, 0);
    }
    bool isIdleWhenUnread() const override { return kIdle; }
};

template <bool kIdle, int kKind>
class CCountingDef : public zel::CAudioProcessDefBase
{
public:
    zel::CErrorPtr makeProcess(zel::TObjectPtr<zel::CAudioProcessBase>& process) const override
    {
        process = zel::CObject::make<zel::CAudioProcessTerminal<CCountingModule<kIdle, kKind>>>();
        return nullptr;
    }
};

class GraphFastPathTest : public CProcessTest
{
};

TEST_F(GraphFastPathTest, ManySourcesSumInLinkOrderExactly)
{
    // Factors whose partial sums round differently in another order.
    const double factors[] = {0.1, 97.3, 0.7, -97.3, 0.0033, 0.37, 0.011};
    CSamples in(48);
    for (std::size_t i = 0; i < in.size(); ++i)
        in[i] = std::sin(1.3 * static_cast<double>(i)) * static_cast<double>(i + 1) * 0.37;
    for (std::size_t sources = 1; sources <= std::size(factors); ++sources)
    {
        SCOPED_TRACE(std::to_string(sources) + " sources");
        std::vector<CChild> children;
        for (std::size_t k = 0; k < sources; ++k)
        {
            const std::string g(1, static_cast<char>('a' + k)), f = g + g;
            children.push_back(param(f.c_str(), std::to_string(factors[k]).c_str()));
            children.push_back(gain(g.c_str(), f));
            children.push_back(link(std::string("src=*|dst=").append(g)));
            children.push_back(link(std::string("src=").append(g).append("|dst=*")));
        }
        resetGraph();
        ASSERT_EQ(idAndText(build(container("modMain", children))), "no error");
        const auto out = run(in);
        for (std::size_t c = 0; c < out.size(); ++c)
        {
            CSamples expected(in.size());
            for (std::size_t i = 0; i < in.size(); ++i)
            {
                // The parameters hold the factors as their text gave them.
                const double x = in[i] * static_cast<double>(c + 1);
                for (std::size_t k = 0; k < sources; ++k)
                    expected[i] += x * std::stod(std::to_string(factors[k]));
            }
            EXPECT_EQ(out[c], expected) << "channel " << c;
        }
    }
}

TEST_F(GraphFastPathTest, OnlyStatelessModulesNobodyReadsAreSkipped)
{
    ASSERT_FALSE((m_registration.add<CCountingDef<true, 0>>("test:idle-unread")));
    ASSERT_FALSE((m_registration.add<CCountingDef<false, 1>>("test:busy-unread")));
    ASSERT_FALSE((m_registration.add<CCountingDef<true, 2>>("test:idle-read")));
    g_runs = {};
    ASSERT_EQ(idAndText(build(container("modMain", {{"test:idle-unread", "a", {}, {}},
                                                    {"test:busy-unread", "b", {}, {}},
                                                    {"test:idle-read", "c", {}, {}},
                                                    link("src=*|dst=a"),
                                                    link("src=*|dst=b"),
                                                    link("src=*|dst=c"),
                                                    link("src=c|dst=*")}))),
              "no error");
    const CSamples in{1.0, 2.0, 3.0};
    for (int block = 0; block < 3; ++block)
        EXPECT_EQ(run(in)[1], (CSamples{2.0, 4.0, 6.0}));
    // One run per channel and block where runs happen.
    EXPECT_EQ(g_runs, (std::array<int, 3>{0, 6, 6}));
    EXPECT_EQ(m_main->position(), 9);
}

} // namespace
} // namespace kelvtest
