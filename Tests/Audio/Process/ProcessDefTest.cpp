#include "Audio/AudioProcessLinkDef.h"
#include "Audio/Process/ProcessTestSupport.h"

#include <tuple>

namespace kelvtest
{
namespace
{

using zel::CAudioInterval;

class ProcessDefTest : public CProcessTest
{
};

// Each broken definition is rejected with its message, whether the fault is caught by an
// attribute handler, by the definition's init, or when the container checks its children.
TEST_F(ProcessDefTest, BrokenDefinitionsAreRejectedWithTheirMessage)
{
    const std::pair<CChild, const char*> cases[] = {
        {container("p", {gain("a"), link("dst=a")}), "No 'src' attribute defined."},
        {container("p", {gain("a"), link("src=a")}), "No 'dst' attribute defined."},
        {container("p", {gain("a"), gain("m"), link("src=a|dst=m/x")}),
         "Invalid port in the 'dst' attribute value 'm/x' specified."},
        {container("p", {gain("a"), link("src=a/-1|dst=*")}),
         "Invalid port in the 'src' attribute value 'a/-1' specified."},
        {container("p", {gain("a"), link("src=*|dst=b")}),
         "Invalid process in the 'dst' attribute value 'b' specified."},
        {container("p", {gain("a"), link("src=zz/1|dst=a")}),
         "Invalid process in the 'src' attribute value 'zz/1' specified."},
        {container("p", {gain("a"), link("src=*|dst=a|state-id=x1")}),
         "Invalid state identifier 'x1' specified."},
        {container("p", {{"audio:process-bypass-state", "s", attrs("id=1|value=1"), {}}}),
         "Invalid parameter name specified."},
        {container("p",
                   {{"audio:process-bypass-state", "s", attrs("id=1|param=x|range=[0;1"), {}}}),
         "Invalid 'range' attribute value '[0;1' specified."},
        {container("p", {{"audio:process-bypass-state",
                          "s",
                          attrs("id=1|param=x|and-param=y|and-range=<0;1>"),
                          {}}}),
         "Invalid 'and-range' attribute value '<0;1>' specified."},
        {container("p", {}, "stack-index-shift=1.5"),
         "Invalid stack index shift value '1.5' specified."},
        {gain("g", "", "is-stacked=yes"), "Invalid boolean value 'yes'."},
    };
    for (const auto& [def, text] : cases)
    {
        const zel::CErrorPtr err = define(def);
        ASSERT_NE(err, nullptr) << text;
        EXPECT_EQ(err->text(), text);
    }
}

TEST_F(ProcessDefTest, LinkEndsParseIntoProcessAndPort)
{
    ASSERT_FALSE(define(container(
        "p", {gain("a"), gain("m"), link("src=a|dst=m/1|state-id=3"), link("src=*|dst=a")})));
    const auto* link = dynamic_cast<const zel::CAudioProcessLinkDef*>(m_def->findChild("link"));
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->srcName(), zel::CText("a"));
    EXPECT_EQ(link->srcPort(), 0);
    EXPECT_EQ(link->dstName(), zel::CText("m"));
    EXPECT_EQ(link->dstPort(), 1);
    EXPECT_EQ(link->stateId(), 3);
}

TEST(AudioIntervalTest, BracketsIncludeParenthesesExcludeAndTheThirdFieldWidens)
{
    const std::tuple<const char*, double, bool> cases[] = {
        {"[0;1]", 0.0, true},      {"[0;1]", 1.0, true},       {"[0;1]", 1.0001, false},
        {"(0;1)", 0.0, false},     {"(0;1)", 1.0, false},      {"(0;1)", 0.5, true},
        {"[0;1)", 1.0, false},     {"(0;1]", 1.0, true},       {"[-2,5;-1]", -2.5, true},
        {"[0;1;0,1]", 1.05, true}, {"[0;1;0.1]", -0.05, true}, {"(0;1;0.1)", 0.05, false},
        {"(0;1;0.1)", 0.5, true},  {"[2;2]", 2.0, true},
    };
    for (const auto& [text, value, inside] : cases)
    {
        CAudioInterval interval;
        ASSERT_TRUE(CAudioInterval::parse(text, interval)) << text;
        EXPECT_EQ(interval.contains(value), inside) << text << " " << value;
    }
    for (const char* bad : {"[0;1", "0;1]", "[01]", "[0;]", "[1;0]", "[0;1;2;3]", "[a;1]",
                            "[0;1;-1]", "{0;1}", "[;1]", "[1e1;2]", ""})
    {
        CAudioInterval interval;
        EXPECT_FALSE(CAudioInterval::parse(bad, interval)) << bad;
    }
}

} // namespace
} // namespace kelvtest
