#include "Audio/Process/ProcessTestSupport.h"
#include "Audio/Processes/ModNode.h"
#include "Support/AllocationCounter.h"

#include <numeric>
#include <tuple>

namespace kelvtest
{
namespace
{

class ProcessGraphTest : public CProcessTest
{
protected:
    static CSamples ramp(std::size_t n)
    {
        CSamples s(n);
        std::iota(s.begin(), s.end(), 1.0);
        return s;
    }
    static CSamples scaled(const CSamples& in, double factor)
    {
        CSamples out(in);
        for (double& v : out)
            v *= factor;
        return out;
    }
};

TEST_F(ProcessGraphTest, AudioRunsThroughNestedContainersFanOutAndSumming)
{
    // * -> inner(* -> a(x2) -> *) -> b(x3) -> *, and in parallel * -> c(x5) -> node, b -> node:
    // out = in x (6 + 5) per channel.
    ASSERT_EQ(idAndText(build(container(
                  "modMain",
                  {container("inner", {gain("a", "ga"), link("src=*|dst=a"), link("src=a|dst=*")}),
                   gain("b", "gb"),
                   gain("c", "gc"),
                   {"audio:modNode", "node", {}, {}},
                   param("ga", "2"),
                   param("gb", "3"),
                   param("gc", "5"),
                   link("src=*|dst=inner"),
                   link("src=inner|dst=b"),
                   link("src=b|dst=node"),
                   link("src=*|dst=c"),
                   link("src=c|dst=node"),
                   link("src=node|dst=*")}))),
              "no error");
    const std::uint32_t freeBefore = m_context->freeSlotCount();
    const CSamples in = ramp(16);
    for (int block = 0; block < 3; ++block)
    {
        const auto out = run(in);
        EXPECT_EQ(out[0], scaled(in, 11.0));
        EXPECT_EQ(out[1], scaled(in, 22.0)); // channel 1 is fed twice the input
    }
    // Every segment was released by its last reader: the pool is as full as before.
    EXPECT_EQ(m_context->freeSlotCount(), freeBefore);
    EXPECT_EQ(m_main->position(), 48);
    EXPECT_DOUBLE_EQ(m_main->processTime(), 0.048);
}

TEST_F(ProcessGraphTest, SequenceFollowsLinksThenDeclarationOrder)
{
    // Declared b, c, a with a -> b: each step takes the first child in declaration order whose
    // feeders have run, so c (free) goes first, then a, then b.
    ASSERT_EQ(
        idAndText(build(container("modMain", {gain("b"), gain("c"), gain("a"), link("src=a|dst=b"),
                                              link("src=*|dst=a"), link("src=b|dst=*")}))),
        "no error");
    auto& main = dynamic_cast<zel::CAudioProcess&>(*m_main);
    EXPECT_EQ(main.sequence(), (std::vector<std::int32_t>{1, 2, 0}));

    // A cycle cannot be ordered; an out-of-order member breaks it.
    ASSERT_FALSE(define(
        container("loop", {gain("x"), gain("y"), link("src=x|dst=y"), link("src=y|dst=x")})));
    EXPECT_EQ(idAndText(instantiate("loop")),
              "zelstr_CAudioProcess_process_SeqErr: process seq err");
    ASSERT_FALSE(define(container("loose", {gain("x", "", "is-outoforder=true"), gain("y"),
                                            link("src=x|dst=y"), link("src=y|dst=x")})));
    EXPECT_EQ(idAndText(instantiate("loose")), "no error");
}

TEST_F(ProcessGraphTest, AutoLinksChainTheUnlinkedChildrenInDeclarationOrder)
{
    // b and c are unlinked: * -> b -> c -> *; a has its own link to * and adds in parallel.
    ASSERT_FALSE(build(
        container("modMain",
                  {param("g2", "2"), param("g3", "3"), param("g5", "5"), gain("b", "g2"),
                   gain("a", "g5"), gain("c", "g3"), link("src=*|dst=a"), link("src=a|dst=*")},
                  "is-auto-links=true")));
    EXPECT_EQ(run(constant(4, 1.0))[0], constant(4, 2.0 * 3.0 + 5.0));
}

TEST_F(ProcessGraphTest, BuildErrorsOfTheRunTimeTree)
{
    // Duplicate child names.
    ASSERT_FALSE(define(container("modMain", {gain("a"), gain("a")})));
    EXPECT_EQ(idAndText(instantiate()),
              "zelstr_CAudioProcess_addProcess_Duplicate: Duplicate audio process name 'a'.");

    // A container made from a module definition.
    ASSERT_FALSE(define(gain("lonely")));
    auto process = zel::CObject::make<zel::CAudioProcess>();
    EXPECT_EQ(idAndText(process->initFromDef(*m_def, m_setup, "plugin.x")),
              "zelstr_CAudioProcess_init_InvalidDef: Audio process def of invalid class supplied.");

    // A link to a prototype, which is never instantiated.
    ASSERT_FALSE(
        define(container("proto", {gain("p", "", "is-prototype=true"), link("src=*|dst=p")})));
    EXPECT_EQ(idAndText(instantiate("proto")),
              "zelstr_CAudioProcessLinkDef_init_DstProc: "
              "Invalid process in the 'dst' attribute value 'p' specified.");

    // A binding to a parameter that exists nowhere.
    ASSERT_FALSE(define(container("unbound", {gain("g", "nothing")})));
    EXPECT_EQ(instantiate("unbound")->text(), "Audio parameter 'nothing' not found.");
}

TEST_F(ProcessGraphTest, ChangesLandOnTheFirstSubBlockAtOrAfterTheirStamp)
{
    ASSERT_FALSE(build(container("modMain", {param("level", "2"), gain("g", "level"),
                                             link("src=*|dst=g"), link("src=g|dst=*")})));
    const CSamples in = constant(64, 1.0);
    EXPECT_EQ(run(in)[0], constant(64, 2.0));

    // Stamped at 0.104 s = sample 104 of the next block (which starts at 64): 40 samples at
    // the old gain, then the new one.
    change("plugin.modMain.level", 5.0, 0.104);
    CSamples expected = constant(40, 2.0);
    expected.resize(64, 5.0);
    const auto out = run(in);
    EXPECT_EQ(out[0], expected);
    EXPECT_EQ(out[1], scaled(expected, 2.0));

    // A stamp between samples rounds up to the next sample; a stale stamp applies at once.
    change("plugin.modMain.level", 3.0, 0.1505);
    expected = constant(23, 5.0);
    expected.resize(64, 3.0);
    EXPECT_EQ(run(in)[0], expected);
    change("plugin.modMain.level", 4.0, 0.0);
    EXPECT_EQ(run(in)[0], constant(64, 4.0));
}

TEST_F(ProcessGraphTest, GroupsAndWildcardEntries)
{
    ASSERT_FALSE(build(container(
        "modMain", {param("level", "2;7"), gain("g", "level"), gain("h", "level", "is-group0=true"),
                    link("src=*|dst=g"), link("src=g|dst=h"), link("src=h|dst=*")})));
    const CSamples in = constant(8, 1.0);
    // Channel 1 is in group 1: g reads 7 there, h (group 0 only) reads 2 everywhere.
    auto out = run(in);
    EXPECT_EQ(out[0], constant(8, 4.0));
    EXPECT_EQ(out[1], constant(8, 28.0));

    // A value changed without an entry of its own reaches the processes through a change of
    // all parameters (id 9999), which makes them copy the parameter again.
    zel::CAudioParam& level = liveParam("plugin.modMain.level");
    level.removeListener(m_collector);
    ASSERT_FALSE(level.setValue(1, 0, 0, 1.0));
    EXPECT_EQ(run(in)[1], constant(8, 28.0));
    m_collector->postAll();
    ASSERT_TRUE(m_collector->takeIn(0.0));
    out = run(in);
    EXPECT_EQ(out[0], constant(8, 4.0));
    EXPECT_EQ(out[1], constant(8, 4.0));
    level.addListener(m_collector);
}

TEST_F(ProcessGraphTest, BindingsFollowRemapsScopesAndTheNearestEnclosingParameter)
{
    // a finds inner's own "level" (3) before modMain's; b's "x" is remapped to modMain's
    // "level" (2 in group 0, 7 in group 1); c sees group 0 of "other" only (5, not 9).
    ASSERT_FALSE(build(container(
        "modMain",
        {param("level", "2;7"), param("other", "5;9"),
         container("inner",
                   {param("level", "3"),
                    gain("a", "level"),
                    gain("b", "x"),
                    gain("c", "other"),
                    {"audio:param-remap", "remap", attrs("orig=x|new=/plugin.modMain.level"), {}},
                    {"audio:param-scope", "scope", attrs("param-name=other|is-group0=true"), {}},
                    link("src=*|dst=a"),
                    link("src=a|dst=b"),
                    link("src=b|dst=c"),
                    link("src=c|dst=*")}),
         link("src=*|dst=inner"), link("src=inner|dst=*")})));
    const auto out = run(constant(4, 1.0));
    EXPECT_EQ(out[0], constant(4, 3.0 * 2.0 * 5.0));
    EXPECT_EQ(out[1], constant(4, 2.0 * 3.0 * 7.0 * 5.0));
    EXPECT_NE(m_collector->findParam("plugin.modMain.inner.level"), nullptr);
}

TEST_F(ProcessGraphTest, StructuralInputsMarkDirtyOnlyWhenTheirIntegerChanges)
{
    ASSERT_FALSE(build(container(
        "modMain", {param("mode", "1.2"),
                    gain("g"),
                    link("src=*|dst=g"),
                    link("src=g|dst=*"),
                    {"audio:param-alloc", "alloc", attrs("index=0|param-name=mode"), {}}})));
    auto& main = dynamic_cast<zel::CAudioProcess&>(*m_main);
    ASSERT_FALSE(main.isDirty()); // connect built the sequence
    const std::pair<double, bool> steps[] = {{1.4, false}, {1.5, true},  {2.49, false},
                                             {-0.4, true}, {0.4, false}, {-0.5, true},
                                             {-1.0, false}};
    for (const auto& [value, dirty] : steps)
    {
        change("plugin.modMain.mode", value, 0.0);
        ASSERT_FALSE(main.applyParamChanges(main.position()));
        EXPECT_EQ(main.isDirty(), dirty) << value;
        EXPECT_EQ(main.queuedChangeCount(), 0u);
        run(constant(4, 1.0)); // rebuilds
        EXPECT_FALSE(main.isDirty());
    }
}

TEST_F(ProcessGraphTest, BypassStatesSwitchProcessesAndLinks)
{
    // g (x2) is bypassed while "en" is not 1; the link into k (x3) carries a bypass state that
    // is active while "lvl" lies in [0;0.5) and "en" is 1.
    ASSERT_FALSE(build(container(
        "modMain",
        {param("en", "1"),
         param("lvl", "0.7"),
         param("gg", "2"),
         param("gk", "3"),
         {"audio:process-bypass-state", "s1", attrs("id=1|param=en|value=1|is-inverted=true"), {}},
         {"audio:process-bypass-state",
          "s2",
          attrs("id=2|param=lvl|range=[0;0.5)|and-param=en|and-value=1"),
          {}},
         gain("g", "gg", "bypass-state-id=1"),
         gain("k", "gk"),
         link("src=*|dst=g"),
         link("src=g|dst=k|bypass-state-id=2"),
         link("src=k|dst=*")})));
    // {parameter, value, resulting factor}
    const std::tuple<const char*, double, double> steps[] = {
        {"lvl", 0.7, 6.0}, // nothing bypassed
        {"en", 0.0, 3.0},  // g bypassed
        {"lvl", 0.2, 3.0}, // s2 needs en = 1 too
        {"en", 1.0, 2.0},  // k bypassed: g's signal passes on unchanged
        {"lvl", 0.5, 6.0}, // 0.5 is outside [0;0.5)
    };
    const CSamples in = constant(8, 1.0);
    for (const auto& [param, value, factor] : steps)
    {
        change((std::string("plugin.modMain.") + param).c_str(), value, 0.0);
        const auto out = run(in);
        EXPECT_EQ(out[0], constant(8, factor)) << param << "=" << value;
        EXPECT_EQ(out[1], constant(8, 2.0 * factor));
    }
}

TEST_F(ProcessGraphTest, FlushDropsQueuedAudioAndTeardownReturnsEveryBuffer)
{
    const std::uint32_t freeAtStart = m_context->freeSlotCount();
    ASSERT_FALSE(build(container("modMain", {param("level", "2"), gain("g", "level"),
                                             link("src=*|dst=g"), link("src=g|dst=*")})));
    run(constant(8, 1.0));
    // Queue input without processing it, and leave output in the taps.
    std::uint32_t ref = 0;
    ASSERT_FALSE(m_context->takeBuffer(64, ref));
    ASSERT_FALSE(m_feeds[0]->push(ref, 0, 8));
    ASSERT_FALSE(m_context->releaseReference(ref));
    EXPECT_EQ(m_feeds[0]->queuedSamples(), 8);
    m_main->flush();
    EXPECT_EQ(m_feeds[0]->queuedSamples(), 0);
    run(constant(8, 1.0));
    ASSERT_FALSE(m_context->takeBuffer(64, ref));
    ASSERT_FALSE(m_feeds[1]->push(ref, 0, 8));
    ASSERT_FALSE(m_context->releaseReference(ref));
    m_taps.clear();
    m_feeds.clear();
    m_instances.reset();
    EXPECT_EQ(m_context->freeSlotCount(), freeAtStart);
    EXPECT_EQ(m_collector->findParam("plugin.modMain.level"), nullptr);
}

// Joining the front segment with the one behind it (what a pair-wise reader does when a
// segment ends inside a pair) keeps every sample in order and returns both old buffers.
TEST_F(ProcessGraphTest, JoinedSegmentsKeepTheirSamplesAndReturnTheirBuffers)
{
    const std::uint32_t freeAtStart = m_context->freeSlotCount();
    {
        zel::CAudioConnection queue(*m_context);
        bool joined = true;
        ASSERT_FALSE(queue.joinFront(joined));
        EXPECT_FALSE(joined);
        // Samples 0 (the last of a first buffer, at index 4) and 1..511 (a second buffer).
        for (const auto& [first, count, at] : {std::tuple{0, 1, 4}, std::tuple{1, 511, 0}})
        {
            std::uint32_t ref = 0;
            ASSERT_FALSE(m_context->takeBuffer(512 * 8, ref));
            for (int i = 0; i < count; ++i)
                m_context->data(ref)[at + i] = first + i;
            ASSERT_FALSE(queue.push(ref, at, count));
            ASSERT_FALSE(m_context->releaseReference(ref));
        }
        ASSERT_FALSE(queue.joinFront(joined));
        EXPECT_TRUE(joined);
        ASSERT_EQ(queue.segmentCount(), 1u);
        ASSERT_EQ(queue.frontLength(), 512);
        const double* data = m_context->data(queue.frontRef());
        for (int i = 0; i < 512; ++i)
            ASSERT_EQ(data[i], i);
        EXPECT_EQ(m_context->freeSlotCount(), freeAtStart - 1);
    }
    EXPECT_EQ(m_context->freeSlotCount(), freeAtStart);
}

TEST_F(ProcessGraphTest, SteadyStateProcessingAllocatesNothing)
{
    ASSERT_FALSE(build(container(
        "modMain",
        {param("level", "2"),
         param("en", "1"),
         {"audio:process-bypass-state", "s1", attrs("id=1|param=en|value=1|is-inverted=true"), {}},
         container("inner", {gain("a", "level"), link("src=*|dst=a"), link("src=a|dst=*")}),
         gain("b", "level", "bypass-state-id=1"),
         {"audio:modNode", "node", {}, {}},
         link("src=*|dst=inner"),
         link("src=inner|dst=b"),
         link("src=b|dst=node"),
         link("src=*|dst=node"),
         link("src=node|dst=*")})));
    zel::CAudioParam& level = liveParam("plugin.modMain.level");
    zel::CAudioParam& en = liveParam("plugin.modMain.en");
    double stamp = 0.0;
    const auto cycle = [&](int blocks)
    {
        for (int i = 0; i < blocks; ++i)
        {
            // Stamped mid-block so that sub-blocks split.
            stamp += 0.064;
            (void)m_collector->takeIn(stamp - 0.032);
            runQuiet(64);
        }
    };
    // The first rounds warm up; the later ones must not allocate.
    for (int i = 0; i < 8; ++i)
    {
        ASSERT_FALSE(level.setValue(0, 0, 0, 1.0 + i));
        ASSERT_FALSE(en.setValue(0, 0, 0, i % 2));
        CCountAllocations count;
        cycle(2);
        EXPECT_TRUE(i < 4 || count.count() == 0u) << i;
    }
}

} // namespace
} // namespace kelvtest
