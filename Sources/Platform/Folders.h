#pragma once
// The platform layer's folders and file-system queries: where per-user and all-users
// application data lives, creating a folder path, and whether a file exists.
//
// Paths are CText with "/" as separator on every system. Functions that can fail return a
// system error code (errno values on POSIX, 0 = success). This is not a file API: reading and
// writing files is done by the stream classes.

#include "Core/Text.h"

namespace zel::platform
{

// The current user's application-data folder, without a trailing separator. On POSIX:
// $XDG_CONFIG_HOME when it is set to an absolute path, else $HOME/.config; fails with ENOENT
// when neither can be determined.
int userAppDataFolder(CText& folder);
// The application-data folder shared by all users, without a trailing separator. On POSIX: the
// first absolute entry of $XDG_CONFIG_DIRS, else /etc/xdg.
int commonAppDataFolder(CText& folder);

// Creates every missing folder of path in turn, from the first component to the last. Folders
// that exist are entered as they are; a component that exists as a file fails with ENOTDIR.
int makeDirectories(const CText& path);
// True when path names an existing entry that is not a folder.
bool fileExists(const CText& path);
// True when path names an existing folder.
bool folderExists(const CText& path);

} // namespace zel::platform
