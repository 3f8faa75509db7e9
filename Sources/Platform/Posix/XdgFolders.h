#pragma once
// How the POSIX platform layer derives the application-data folders from the environment,
// as pure functions of the variables' values so that they can be tested without changing the
// process environment. Null stands for an unset variable.

#include "Core/Text.h"

namespace zel::platform::posix
{

int userConfigFolderFrom(const char* xdgConfigHome, const char* home, CText& folder);
void commonConfigFolderFrom(const char* xdgConfigDirs, CText& folder);

} // namespace zel::platform::posix
