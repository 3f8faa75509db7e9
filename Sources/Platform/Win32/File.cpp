#include "Platform/File.h"
#include "Platform/Win32/WideText.h"

#include <windows.h>

namespace zel
{
namespace
{

HANDLE handleOf(std::intptr_t handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

CFile::ErrorCode lastError()
{
    const DWORD code = GetLastError();
    return code != 0 ? static_cast<CFile::ErrorCode>(code)
                     : static_cast<CFile::ErrorCode>(ERROR_GEN_FAILURE);
}

// Chunks of at most 1 GiB: ReadFile and WriteFile count in 32 bits.
constexpr std::size_t kMaxTransfer = std::size_t{1} << 30;

} // namespace

CFile::~CFile()
{
    close();
}

CFile::ErrorCode CFile::openForReading(const CText& name, unsigned shareFlags)
{
    close();
    const std::wstring path = platform::win32::toWide(name, true);
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, shareFlags, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return lastError();
    m_handle = reinterpret_cast<std::intptr_t>(h);
    return 0;
}

CFile::ErrorCode CFile::openForWriting(const CText& name, unsigned shareFlags, bool append)
{
    close();
    const std::wstring path = platform::win32::toWide(name, true);
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, shareFlags, nullptr,
                           append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return lastError();
    m_handle = reinterpret_cast<std::intptr_t>(h);
    if (append && SetFilePointer(h, 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER &&
        GetLastError() != NO_ERROR)
    {
        const ErrorCode code = lastError();
        close();
        return code;
    }
    return 0;
}

CFile::ErrorCode CFile::read(void* buffer, std::size_t count, std::size_t& got)
{
    got = 0;
    auto* out = static_cast<char*>(buffer);
    while (got < count)
    {
        DWORD n = 0;
        const DWORD want = static_cast<DWORD>(std::min(count - got, kMaxTransfer));
        if (!ReadFile(handleOf(m_handle), out + got, want, &n, nullptr))
            return lastError();
        if (n == 0)
            break;
        got += n;
    }
    return 0;
}

CFile::ErrorCode CFile::write(const void* data, std::size_t count, std::size_t& written)
{
    written = 0;
    const auto* in = static_cast<const char*>(data);
    while (written < count)
    {
        DWORD n = 0;
        const DWORD want = static_cast<DWORD>(std::min(count - written, kMaxTransfer));
        if (!WriteFile(handleOf(m_handle), in + written, want, &n, nullptr))
            return lastError();
        if (n == 0)
            break;
        written += n;
    }
    return 0;
}

CFile::ErrorCode CFile::getPosition(std::int64_t& position)
{
    LARGE_INTEGER zero{};
    LARGE_INTEGER at{};
    if (!SetFilePointerEx(handleOf(m_handle), zero, &at, FILE_CURRENT))
        return lastError();
    position = at.QuadPart;
    return 0;
}

CFile::ErrorCode CFile::setPosition(std::int64_t position)
{
    LARGE_INTEGER to{};
    to.QuadPart = position;
    if (!SetFilePointerEx(handleOf(m_handle), to, nullptr, FILE_BEGIN))
        return lastError();
    return 0;
}

CFile::ErrorCode CFile::movePosition(std::int64_t delta)
{
    LARGE_INTEGER by{};
    by.QuadPart = delta;
    if (!SetFilePointerEx(handleOf(m_handle), by, nullptr, FILE_CURRENT))
        return lastError();
    return 0;
}

CFile::ErrorCode CFile::getSize(std::int64_t& size)
{
    LARGE_INTEGER s{};
    if (!GetFileSizeEx(handleOf(m_handle), &s))
        return lastError();
    size = s.QuadPart;
    return 0;
}

CFile::ErrorCode CFile::close()
{
    if (!isOpen())
        return 0;
    HANDLE h = handleOf(m_handle);
    m_handle = kInvalidHandle;
    if (!CloseHandle(h))
        return lastError();
    return 0;
}

} // namespace zel
