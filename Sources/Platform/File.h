#pragma once
// CFile: an operating-system file handle with the few calls the file streams need. Every call
// returns the system's error code (errno on POSIX, the last-error value on Windows), 0 on
// success; turning codes into messages is left to CFileReader and CFileWriter.
//
// The handle is opaque so that portable code never sees a system header. This is not a stream
// and does no buffering; a read or write moves as many bytes as the system accepts, retrying
// partial transfers until the count is reached, the file ends, or an error occurs.
//
// On Windows, reading opens with GENERIC_READ, the caller's share flags, OPEN_EXISTING and
// FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN (0x08000080); writing opens with
// GENERIC_WRITE, the share flags, OPEN_ALWAYS (appending, then a move to the end) or
// CREATE_ALWAYS (rewriting) and FILE_ATTRIBUTE_NORMAL. The handle fits the intptr_t below.

#include "Core/Text.h"

#include <cstddef>
#include <cstdint>

namespace zel
{

class CFile
{
public:
    using ErrorCode = std::uint32_t;

    // Share flags of an open file: which access other openers keep (Windows FILE_SHARE_*
    // values). POSIX has no mandatory sharing, so there they are accepted and ignored.
    static constexpr unsigned kShareRead = 0x1;
    static constexpr unsigned kShareWrite = 0x2;
    static constexpr unsigned kShareDelete = 0x4;

    CFile() = default;
    ~CFile();
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    bool isOpen() const { return m_handle != kInvalidHandle; }

    // Opens an existing file for reading, sequential access expected. A folder is refused.
    ErrorCode openForReading(const CText& name, unsigned shareFlags);
    // Opens for writing: appending opens or creates the file and moves to its end; rewriting
    // creates it or truncates it to 0 bytes.
    ErrorCode openForWriting(const CText& name, unsigned shareFlags, bool append);

    // Reads up to count bytes; got < count only at the end of the file.
    ErrorCode read(void* buffer, std::size_t count, std::size_t& got);
    // Writes count bytes; written < count only when the system stops accepting data.
    ErrorCode write(const void* data, std::size_t count, std::size_t& written);

    ErrorCode getPosition(std::int64_t& position);
    ErrorCode setPosition(std::int64_t position);
    // Moves the position by delta from where it is.
    ErrorCode movePosition(std::int64_t delta);
    ErrorCode getSize(std::int64_t& size);

    // Closes the handle; closing a file that is not open does nothing.
    ErrorCode close();

private:
    static constexpr std::intptr_t kInvalidHandle = -1;
    std::intptr_t m_handle = kInvalidHandle;
};

} // namespace zel
