#include "Platform/File.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace zel
{
namespace
{

int fdOf(std::intptr_t handle)
{
    return static_cast<int>(handle);
}

CFile::ErrorCode lastError()
{
    // errno is never 0 after a failed call; guard anyway so that failure is never reported as
    // success.
    return errno != 0 ? static_cast<CFile::ErrorCode>(errno) : static_cast<CFile::ErrorCode>(EIO);
}

} // namespace

CFile::~CFile()
{
    close();
}

CFile::ErrorCode CFile::openForReading(const CText& name, unsigned /*shareFlags*/)
{
    close();
    const std::string path = name.toUtf8();
    int fd = -1;
    do
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return lastError();
    struct stat info = {};
    if (::fstat(fd, &info) != 0)
    {
        const ErrorCode code = lastError();
        ::close(fd);
        return code;
    }
    if (S_ISDIR(info.st_mode))
    {
        ::close(fd);
        return static_cast<ErrorCode>(EISDIR);
    }
#if defined(POSIX_FADV_SEQUENTIAL)
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
    m_handle = fd;
    return 0;
}

CFile::ErrorCode CFile::openForWriting(const CText& name, unsigned /*shareFlags*/, bool append)
{
    close();
    const std::string path = name.toUtf8();
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (append ? 0 : O_TRUNC);
    int fd = -1;
    do
        fd = ::open(path.c_str(), flags, 0666);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return lastError();
    if (append && ::lseek(fd, 0, SEEK_END) < 0)
    {
        const ErrorCode code = lastError();
        ::close(fd);
        return code;
    }
    m_handle = fd;
    return 0;
}

CFile::ErrorCode CFile::read(void* buffer, std::size_t count, std::size_t& got)
{
    got = 0;
    auto* out = static_cast<char*>(buffer);
    while (got < count)
    {
        const ssize_t n = ::read(fdOf(m_handle), out + got, count - got);
        if (n < 0)
        {
            if (errno == EINTR)
                continue;
            return lastError();
        }
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    return 0;
}

CFile::ErrorCode CFile::write(const void* data, std::size_t count, std::size_t& written)
{
    written = 0;
    const auto* in = static_cast<const char*>(data);
    while (written < count)
    {
        const ssize_t n = ::write(fdOf(m_handle), in + written, count - written);
        if (n < 0)
        {
            if (errno == EINTR)
                continue;
            return lastError();
        }
        if (n == 0)
            break;
        written += static_cast<std::size_t>(n);
    }
    return 0;
}

CFile::ErrorCode CFile::getPosition(std::int64_t& position)
{
    const off_t at = ::lseek(fdOf(m_handle), 0, SEEK_CUR);
    if (at < 0)
        return lastError();
    position = static_cast<std::int64_t>(at);
    return 0;
}

CFile::ErrorCode CFile::setPosition(std::int64_t position)
{
    if (::lseek(fdOf(m_handle), static_cast<off_t>(position), SEEK_SET) < 0)
        return lastError();
    return 0;
}

CFile::ErrorCode CFile::movePosition(std::int64_t delta)
{
    if (::lseek(fdOf(m_handle), static_cast<off_t>(delta), SEEK_CUR) < 0)
        return lastError();
    return 0;
}

CFile::ErrorCode CFile::getSize(std::int64_t& size)
{
    struct stat info = {};
    if (::fstat(fdOf(m_handle), &info) != 0)
        return lastError();
    size = static_cast<std::int64_t>(info.st_size);
    return 0;
}

CFile::ErrorCode CFile::close()
{
    if (!isOpen())
        return 0;
    const int fd = fdOf(m_handle);
    m_handle = kInvalidHandle;
    // The descriptor is released even when close reports an error; never retry it.
    if (::close(fd) != 0 && errno != EINTR)
        return lastError();
    return 0;
}

} // namespace zel
