#include "Audio/AudioProcessStack.h"
#include "Audio/Processes/ModTestSupport.h"

#include <tuple>

namespace kelvtest
{
namespace
{

// modMain: * -> st -> *, the stacked definition being * -> g (x gs) -> *. Channel c is in
// channel group c; gs is 2 in group 0 and 3 in group 1 (set by the tests).
CChild stackMain(const std::string& stackAttrs, const char* size = "1")
{
    return container("modMain", {wideParam("size", size),
                                 param("gs", "2"),
                                 {"audio:process-def",
                                  "st",
                                  attrs("is-stacked=true|" + stackAttrs),
                                  {gain("g", "gs"), link("src=*|dst=g"), link("src=g|dst=*")}},
                                 link("src=*|dst=st"),
                                 link("src=st|dst=*")});
}

class AudioProcessStackTest : public CModTest
{
protected:
    zel::CAudioProcessStack& stack()
    {
        return dynamic_cast<zel::CAudioProcessStack&>(
            *dynamic_cast<zel::CAudioProcess&>(*m_main).findProcess("st"));
    }
    void groupGains()
    {
        zel::CAudioParam& gs = liveParam("plugin.modMain.gs");
        ASSERT_FALSE(gs.setValue(0, 0, 0, 2.0));
        ASSERT_FALSE(gs.setValue(1, 0, 0, 3.0));
        EXPECT_TRUE(m_collector->takeIn(0.0));
    }
};

TEST_F(AudioProcessStackTest, ChannelStackRunsOneInstancePerGroupAndUnservedChannelsPass)
{
    // What, attributes after "is-channel-stack=true", size; then the instance count, the
    // instance of channels 0 and 1 (-1: passes unchanged) and their levels (fed 1 and 2).
    const std::tuple<const char*, const char*, const char*, std::vector<double>> rows[] = {
        {"one instance per group", "|stack-param=size", "2", {2, 0, 1, 2, 6}},
        {"one instance: group 1 passes", "|stack-param=size", "1", {1, 0, -1, 2, 2}},
        {"shifted: instance 0 serves group 1",
         "|stack-param=size|stack-index-shift=1",
         "1",
         {1, -1, 0, 1, 6}},
        {"no size parameter: one instance", "", "5", {1, 0, -1, 2, 2}},
        {"size rounds half away from zero", "|stack-param=size", "1.5", {2, 0, 1, 2, 6}},
        {"size below one: one instance", "|stack-param=size", "-4", {1, 0, -1, 2, 2}},
    };
    for (const auto& [what, attributes, size, want] : rows)
    {
        SCOPED_TRACE(what);
        ASSERT_EQ(
            idAndText(rebuild(stackMain(std::string("is-channel-stack=true") + attributes, size))),
            "no error");
        groupGains();
        const std::vector<double> out = level();
        EXPECT_EQ(
            (std::vector<double>{static_cast<double>(stack().instanceCount()),
                                 static_cast<double>(stack().instanceFor(0)),
                                 static_cast<double>(stack().instanceFor(1)), out[0], out[1]}),
            want);
    }
}

TEST_F(AudioProcessStackTest, SerialStackChainsInstancesAndResizesAtTheEnd)
{
    ASSERT_EQ(idAndText(build(stackMain("stack-param=size|stack-index-shift=4", "3"))), "no error");
    groupGains();
    // Every channel through three instances: x2^3 in group 0, x3^3 in group 1.
    std::vector<double> out = level();
    EXPECT_DOUBLE_EQ(out[0], 8.0);
    EXPECT_DOUBLE_EQ(out[1], 2.0 * 27.0);
    ASSERT_EQ(stack().instanceCount(), 3);
    EXPECT_EQ(stack().instanceFor(0), -1);
    for (std::int32_t i = 0; i < 3; ++i)
        EXPECT_EQ(stack().instance(i).group(), i + 4); // the stack index
    zel::CAudioProcessBase* first = &stack().instance(0);

    change("plugin.modMain.size", 1.0, 0.008);
    out = level();
    EXPECT_DOUBLE_EQ(out[0], 2.0);
    ASSERT_EQ(stack().instanceCount(), 1);
    EXPECT_EQ(&stack().instance(0), first);
    EXPECT_EQ(first->position(), 32); // kept running through the change

    change("plugin.modMain.size", 2.0, 0.016);
    out = level();
    EXPECT_DOUBLE_EQ(out[0], 4.0);
    EXPECT_EQ(stack().instance(1).position(), 16); // new with the last two blocks
    EXPECT_EQ(stack().instance(1).instancePath(), "plugin.modMain.st.1");

    // More than the cap gives the cap.
    change("plugin.modMain.size", 1000.0, 0.024);
    (void)level();
    EXPECT_EQ(stack().instanceCount(), zel::CAudioProcessStack::kMaxInstances);
}

TEST_F(AudioProcessStackTest, MultibandInsideAChannelStackTakesItsBandLayoutFromItsGroup)
{
    // Per channel group a multiband process whose bands are x freq / 100: group 0 counts 2
    // bands (1 + 2), group 1 counts 3 (1 + 2 + 3).
    ASSERT_EQ(idAndText(build(container(
                  "modMain", {wideParam("size", "2"),
                              wideParam("freqs", "100,200,300"),
                              wideParam("count", "2"),
                              {"audio:process-def",
                               "st",
                               attrs("is-stacked=true|is-channel-stack=true|stack-param=size"),
                               {{"audio:process-def",
                                 "mb",
                                 attrs("is-multiband=true|multiband-freq-param=freqs|"
                                       "multiband-count-param=count|multiband-lp=.protLP"),
                                 {split("protLP", "freqs", "is-prototype=true"), gain("g"),
                                  link("src=*|dst=g"), link("src=g|dst=*")}},
                                link("src=*|dst=mb"),
                                link("src=mb|dst=*")}},
                              link("src=*|dst=st"),
                              link("src=st|dst=*")}))),
              "no error");
    zel::CAudioParam& count = liveParam("plugin.modMain.count");
    ASSERT_FALSE(count.setValue(1, 0, 0, 3.0));
    EXPECT_TRUE(m_collector->takeIn(0.0));
    const std::vector<double> out = level();
    EXPECT_DOUBLE_EQ(out[0], 3.0);
    EXPECT_DOUBLE_EQ(out[1], 2.0 * 6.0);
    const auto& mb1 = dynamic_cast<zel::CAudioProcessMB&>(
        *dynamic_cast<zel::CAudioProcess&>(stack().instance(1)).findProcess("mb"));
    EXPECT_EQ(mb1.group(), 1);
    EXPECT_EQ(mb1.bandCount(), 3);
    EXPECT_EQ(mb1.bandChain(0).group(), 1);
}

} // namespace
} // namespace kelvtest
