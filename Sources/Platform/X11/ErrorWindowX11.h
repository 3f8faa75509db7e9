#pragma once
// The X11 error window on its own, for the platform layer and its tests: shows the window on
// the default display and serves it until it is closed. Returns false (having shown nothing)
// when no display can be opened. With closeWhenDrawn the window closes itself once it has been
// drawn, so that a test can run the whole path without a user.

#include <string_view>

namespace zel::platform
{

bool showX11ErrorWindow(std::string_view title, std::string_view message, std::string_view details,
                        bool closeWhenDrawn);

} // namespace zel::platform
