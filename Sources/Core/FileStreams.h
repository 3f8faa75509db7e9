#pragma once
// CFileReader and CFileWriter: positioned streams over a file of the operating system. The file
// name is kept for the messages; every failure names the file and carries the system's error
// code. Share flags are those of CFile (kShareRead, ...), reported in the open message.
//
// Neither class buffers: each read or write goes to the system, so callers that move small
// values should stage them in a CMemoryWriteBuffer or read the file into memory first.

#include "Core/InputStream.h"
#include "Core/OutputStream.h"
#include "Core/Text.h"
#include "Platform/File.h"

#include <cstddef>
#include <cstdint>

namespace zel
{

class CFileReader : public CPosInputStream
{
public:
    CFileReader() = default;
    // Closes the file if still open; an error of that close is dropped.
    ~CFileReader() override;

    CErrorPtr open(const CText& name, unsigned shareFlags);
    CErrorPtr close();
    bool isOpen() const { return m_file.isOpen(); }
    const CText& name() const { return m_name; }

    // Moves the file position forward without reading.
    CErrorPtr consume(std::size_t count) override;
    // Fails when the file ends before count bytes.
    CErrorPtr read(void* buffer, std::size_t count) override;
    // Reports how many bytes arrived; fails only on a system error.
    CErrorPtr readStreamed(void* buffer, std::size_t count, std::size_t& got) override;

    CErrorPtr getPosition(std::int64_t& position) override;
    CErrorPtr getSize(std::int64_t& size) override;
    CErrorPtr setPosition(std::int64_t position) override;

private:
    CText m_name;
    CFile m_file;
    unsigned m_shareFlags = 0;
};

class CFileWriter : public CPosOutputStream
{
public:
    CFileWriter() = default;
    // Closes the file if still open; an error of that close is dropped.
    ~CFileWriter() override;

    // Appending opens or creates the file and writes at its end; rewriting empties it first.
    CErrorPtr open(const CText& name, unsigned shareFlags, bool append);
    CErrorPtr close();
    bool isOpen() const { return m_file.isOpen(); }
    const CText& name() const { return m_name; }

    CErrorPtr write(const void* data, std::size_t count) override;
    CErrorPtr getPosition(std::int64_t& position) override;
    CErrorPtr setPosition(std::int64_t position) override;
    CErrorPtr getSize(std::int64_t& size) override;

private:
    CText m_name;
    CFile m_file;
};

} // namespace zel
