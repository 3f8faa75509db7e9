#include "Audio/Processes/ModProcessSwitch.h"
#include "Audio/Processes/ModTestSupport.h"

#include <string>
#include <tuple>

namespace kelvtest
{
namespace
{

class ProcessSwitchTest : public CModTest
{
protected:
    // A switch over two gains: "a" (x2) and "b" (x3); the index bound to "sel" when given.
    static CChild switchOf(const std::string& extra, bool bound)
    {
        CChild sw = module("audio:modProcessSwitch", "sw",
                           bound ? CBindings{{0, "sel"}} : CBindings{}, extra);
        sw.children.insert(sw.children.begin(), {gain("a", "ga"), gain("b", "gb")});
        return sw;
    }
    zel::CErrorPtr buildSwitch(const std::string& extra, const char* selDefault)
    {
        std::vector<CChild> params = {param("ga", "2"), param("gb", "3")};
        if (selDefault != nullptr)
            params.push_back(param("sel", selDefault));
        return rebuild(chain(std::move(params), {switchOf(extra, selDefault != nullptr)}));
    }
    static std::vector<CSamples> scaled(std::vector<CSamples> in, double factor)
    {
        for (CSamples& channel : in)
            for (double& v : channel)
                v *= factor;
        return in;
    }
};

TEST_F(ProcessSwitchTest, MalformedProcessListsAreRejected)
{
    struct CCase
    {
        const char* list;
        const char* error;
    };
    const CCase cases[] = {
        {"0:.a;.b", "zelstr_CModProcessSwitchDef_init_NoIndex: No index delimiter ':' found in "
                    "item #2."},
        {"x:.a", "zelstr_CModProcessSwitchDef_init_IndexError: Invalid index value 'x' in item "
                 "#1."},
        {"0:.a;-1:.b", "zelstr_CModProcessSwitchDef_init_IndexError: Invalid index value '-1' in "
                       "item #2."},
        {"0:.a;1:.b;0:.b", "zelstr_CModProcessSwitchDef_init_IndexDupeError: Duplicate index "
                           "value '0' used in item #3."},
        {"0:.a;1:.c", "zelstr_CModProcessSwitchDef_init_ProcessError: Invalid process '.c' in "
                      "item #2."},
        {"0:.a; ;1:b;", "no error"}, // empty items are skipped, the dot is optional
    };
    for (const CCase& c : cases)
    {
        resetGraph();
        const zel::CErrorPtr err =
            define(container("modMain", {param("ga", "2"), param("gb", "3"),
                                         switchOf(std::string("process-list=") + c.list, false)}));
        EXPECT_EQ(idAndText(err), c.error) << c.list;
    }
}

TEST_F(ProcessSwitchTest, IndexSelectsTheProcessOrTheFallback)
{
    // extra, sel (nullptr: the index is unbound), gain
    const std::tuple<const char*, const char*, double> cases[] = {
        {"", "0", 2.0},
        {"", "1", 3.0},
        {"", "0.6", 3.0},                   // rounds to 1
        {"def-child-name=b", "5", 3.0},     // no item 5: the default child
        {"", "5", 1.0},                     // no item, no default child: pass-through
        {"def-index=1", nullptr, 3.0},      // unbound: the default index
        {"def-child-name=a", nullptr, 2.0}, // unbound, default index 0
        {"def-index=7|def-child-name=b", nullptr, 3.0},
    };
    for (const auto& [extra, sel, gain] : cases)
    {
        const std::string name = std::string(extra) + " " + (sel ? sel : "unbound");
        ASSERT_EQ(idAndText(buildSwitch(std::string("process-list=0:.a;1:.b|") + extra, sel)),
                  "no error")
            << name;
        EXPECT_EQ(runBlock(signal(8)).out, scaled(signal(8), gain)) << name;
    }
}

TEST_F(ProcessSwitchTest, IdleProcessesStillTakeTheirParameterChanges)
{
    ASSERT_FALSE(buildSwitch("process-list=0:.a;1:.b|xfade-length=0.0001", "0"));
    change("plugin.modMain.gb", 5.0, 0.0);
    runBlock(signal(8));
    auto* sw = dynamic_cast<zel::CModProcessSwitch*>(m_main->findChild("sw"));
    ASSERT_NE(sw, nullptr);
    EXPECT_EQ(sw->processes()[1]->queuedChangeCount(), 0u);
    change("plugin.modMain.sel", 1.0, 0.008);
    runBlock(signal(8, 8));
    EXPECT_EQ(runBlock(signal(8, 16)).out, scaled(signal(8, 16), 5.0));
}

} // namespace
} // namespace kelvtest
