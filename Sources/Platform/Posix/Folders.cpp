#include "Platform/Folders.h"
#include "Platform/Posix/XdgFolders.h"

#include <cerrno>
#include <cstdlib>
#include <string>
#include <string_view>

#include <sys/stat.h>
#include <sys/types.h>

namespace zel::platform
{
namespace
{

bool isAbsolute(std::string_view path)
{
    return !path.empty() && path.front() == '/';
}

std::string withoutTrailingSlashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string nativePath(const CText& path)
{
    return path.toUtf8();
}

// 0 when path is a folder, ENOTDIR when it is something else, the stat error otherwise.
int folderState(const std::string& path)
{
    struct stat info
    {
    };
    if (stat(path.c_str(), &info) != 0)
        return errno;
    return S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
}

} // namespace

namespace posix
{

int userConfigFolderFrom(const char* xdgConfigHome, const char* home, CText& folder)
{
    if (xdgConfigHome != nullptr && isAbsolute(xdgConfigHome))
    {
        folder = CText::fromUtf8(withoutTrailingSlashes(xdgConfigHome));
        return 0;
    }
    if (home == nullptr || !isAbsolute(home))
        return ENOENT;
    std::string path = withoutTrailingSlashes(home);
    if (path != "/")
        path += '/';
    path += ".config";
    folder = CText::fromUtf8(path);
    return 0;
}

void commonConfigFolderFrom(const char* xdgConfigDirs, CText& folder)
{
    std::string_view dirs = xdgConfigDirs != nullptr ? xdgConfigDirs : "";
    while (!dirs.empty())
    {
        const std::size_t colon = dirs.find(':');
        const std::string_view entry = dirs.substr(0, colon);
        if (isAbsolute(entry))
        {
            folder = CText::fromUtf8(withoutTrailingSlashes(std::string(entry)));
            return;
        }
        if (colon == std::string_view::npos)
            break;
        dirs.remove_prefix(colon + 1);
    }
    folder = CText("/etc/xdg");
}

} // namespace posix

int userAppDataFolder(CText& folder)
{
    return posix::userConfigFolderFrom(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"), folder);
}

int commonAppDataFolder(CText& folder)
{
    posix::commonConfigFolderFrom(std::getenv("XDG_CONFIG_DIRS"), folder);
    return 0;
}

int makeDirectories(const CText& path)
{
    const std::string full = nativePath(path);
    if (full.empty())
        return ENOENT;
    // Walk the components: each prefix that ends before a separator, then the whole path.
    for (std::size_t end = 0; end != std::string::npos;)
    {
        end = full.find('/', end + 1);
        const std::string prefix = full.substr(0, end);
        if (prefix.empty() || prefix.back() == '/')
            continue; // root or an empty component ("a//b")
        int state = folderState(prefix);
        if (state == 0)
            continue;
        if (state != ENOENT)
            return state;
        if (mkdir(prefix.c_str(), 0777) != 0)
        {
            const int error = errno;
            // Another process may have created it in the meantime.
            if (error != EEXIST || folderState(prefix) != 0)
                return error == EEXIST ? ENOTDIR : error;
        }
    }
    return 0;
}

bool fileExists(const CText& path)
{
    const std::string native = nativePath(path);
    struct stat info
    {
    };
    return !native.empty() && stat(native.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

bool folderExists(const CText& path)
{
    const std::string native = nativePath(path);
    return !native.empty() && folderState(native) == 0;
}

} // namespace zel::platform
