#include "Platform/X11/ErrorWindowX11.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace zel::platform
{
namespace
{

// Runs the real window when a display is available (for example under Xvfb): it must open,
// draw and close again. Without a display it must report that nothing was shown.
TEST(X11ErrorWindow, OpensDrawsAndClosesOrReportsNoDisplay)
{
    const char* display = std::getenv("DISPLAY");
    const bool haveDisplay = display != nullptr && *display != '\0';
    const bool shown = showX11ErrorWindow("Title",
                                          "A message that is long enough to be wrapped "
                                          "over more than one line of the window.",
                                          "line 1\nline 2 \xC3\xA9\n\xE2\x82\xAC", true);
    EXPECT_EQ(shown, haveDisplay);
}

} // namespace
} // namespace zel::platform
