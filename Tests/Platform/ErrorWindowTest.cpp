#include "Platform/ErrorWindow.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zel::platform
{
namespace
{

TEST(ErrorWindow, ShowsTheFixedTextsAndTheDetails)
{
    std::vector<std::string> shown; // title, message, details of each window
    const ErrorWindowHook previous = setErrorWindowHook(
        [&](std::string_view title, std::string_view message, std::string_view details) {
            shown.insert(shown.end(),
                         {std::string(title), std::string(message), std::string(details)});
        });
    showErrorWindow("Bad value 'x'.\nFile.cpp( 12 ) // plugin.modMain");
    showErrorWindow("");
    setErrorWindowHook(previous);
    ASSERT_EQ(shown.size(), 6u);
    EXPECT_EQ(shown[0], "Ardovin Application Message");
    EXPECT_TRUE(shown[1].starts_with("An issue has happened when executing Ardovin application."));
    for (const char* part : {"support.ardovin.example", "Ctrl+Insert", "Shift+Insert", "e-mail"})
        EXPECT_NE(shown[1].find(part), std::string::npos) << part;
    EXPECT_EQ(shown[2], "Bad value 'x'.\nFile.cpp( 12 ) // plugin.modMain");
    EXPECT_EQ(shown[5], "<no details>");
}

} // namespace
} // namespace zel::platform
