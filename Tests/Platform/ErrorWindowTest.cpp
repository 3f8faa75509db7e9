#include "Platform/ErrorWindow.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zel::platform
{
namespace
{

struct SShown
{
    std::string title;
    std::string message;
    std::string details;
};

class ErrorWindow : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_previous = setErrorWindowHook(
            [this](std::string_view title, std::string_view message, std::string_view details) {
                shown.push_back({std::string(title), std::string(message), std::string(details)});
            });
    }
    void TearDown() override { setErrorWindowHook(m_previous); }

    std::vector<SShown> shown;

private:
    ErrorWindowHook m_previous;
};

TEST_F(ErrorWindow, ShowsTheFixedTextsAndTheDetails)
{
    showErrorWindow("Bad value 'x'.\nFile.cpp( 12 ) // plugin.modMain");
    showErrorWindow("");
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].title, "Ardovin Application Message");
    EXPECT_EQ(
        shown[0].message.rfind("An issue has happened when executing Ardovin application.", 0), 0u);
    for (const char* part : {"support.ardovin.example", "Ctrl+Insert", "Shift+Insert", "e-mail"})
        EXPECT_NE(shown[0].message.find(part), std::string::npos) << part;
    EXPECT_EQ(shown[0].details, "Bad value 'x'.\nFile.cpp( 12 ) // plugin.modMain");
    EXPECT_EQ(shown[1].details, "<no details>");
}

} // namespace
} // namespace zel::platform
