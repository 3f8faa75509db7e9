#include "Platform/Folders.h"
#include "Platform/Win32/WideText.h"

#include <windows.h>

#include <shlobj.h>

#include <string>

namespace zel::platform
{
namespace
{

int shellFolder(int csidl, CText& folder)
{
    wchar_t path[MAX_PATH] = {};
    const HRESULT hr =
        SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, path);
    if (FAILED(hr))
        return ERROR_PATH_NOT_FOUND;
    std::wstring text = path;
    while (text.size() > 3 && (text.back() == L'\\' || text.back() == L'/'))
        text.pop_back();
    folder = win32::fromWide(text.c_str(), true);
    return 0;
}

// 0 when path is a folder, ERROR_DIRECTORY when it is a file, the system error otherwise.
int folderState(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return static_cast<int>(GetLastError());
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? 0 : ERROR_DIRECTORY;
}

bool isMissing(int state)
{
    return state == ERROR_FILE_NOT_FOUND || state == ERROR_PATH_NOT_FOUND;
}

} // namespace

int userAppDataFolder(CText& folder)
{
    return shellFolder(CSIDL_APPDATA, folder);
}

int commonAppDataFolder(CText& folder)
{
    return shellFolder(CSIDL_COMMON_APPDATA, folder);
}

int makeDirectories(const CText& path)
{
    const std::wstring full = win32::toWide(path, true);
    if (full.empty())
        return ERROR_PATH_NOT_FOUND;
    // Skip the root: "C:\" or the "\\server\share\" of a network path.
    std::size_t start = 0;
    if (full.size() >= 2 && full[1] == L':')
        start = 2;
    else if (full.rfind(L"\\\\", 0) == 0)
    {
        const std::size_t server = full.find(L'\\', 2);
        start = server == std::wstring::npos ? full.size() : full.find(L'\\', server + 1);
        if (start == std::wstring::npos)
            start = full.size();
    }
    for (std::size_t end = start; end != std::wstring::npos;)
    {
        end = full.find(L'\\', end + 1);
        const std::wstring prefix = full.substr(0, end);
        if (prefix.size() <= start || prefix.back() == L'\\')
            continue;
        const int state = folderState(prefix);
        if (state == 0)
            continue;
        if (!isMissing(state))
            return state;
        if (!CreateDirectoryW(prefix.c_str(), nullptr))
        {
            const int error = static_cast<int>(GetLastError());
            if (error != ERROR_ALREADY_EXISTS || folderState(prefix) != 0)
                return error == ERROR_ALREADY_EXISTS ? ERROR_DIRECTORY : error;
        }
    }
    return 0;
}

bool fileExists(const CText& path)
{
    const std::wstring native = win32::toWide(path, true);
    if (native.empty())
        return false;
    const DWORD attributes = GetFileAttributesW(native.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool folderExists(const CText& path)
{
    const std::wstring native = win32::toWide(path, true);
    return !native.empty() && folderState(native) == 0;
}

} // namespace zel::platform
