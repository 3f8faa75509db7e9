#include "Core/FileStreams.h"

#include <algorithm>
#include <limits>
#include <string>

namespace zel
{
// ---------------------------------------------------------------------------------------------
// CFileReader

CFileReader::~CFileReader()
{
    m_file.close();
}

CErrorPtr CFileReader::open(const CText& name, unsigned shareFlags)
{
    m_file.close();
    m_name = name;
    m_shareFlags = shareFlags;
    if (const CFile::ErrorCode code = m_file.openForReading(name, shareFlags))
        return ZEL_ERROR("CFileReader::open", "zelstr_CFileReader_open_OpenError",
                         "Unable to open file '%1' for reading (error %2, flags %3).",
                         {name.toUtf8(), std::to_string(code), std::to_string(shareFlags)});
    return nullptr;
}

CErrorPtr CFileReader::close()
{
    if (const CFile::ErrorCode code = m_file.close())
        return ZEL_ERROR("CFileReader::close", "zelstr_CFileReader_close_CloseError",
                         "Unable to close file '%1' after reading (error %2).",
                         {m_name.toUtf8(), std::to_string(code)});
    return nullptr;
}

CErrorPtr CFileReader::consume(std::size_t count)
{
    // A count beyond the largest file offset is clamped; the system then refuses the move.
    const auto delta = static_cast<std::int64_t>(
        std::min<std::uint64_t>(count, std::numeric_limits<std::int64_t>::max()));
    if (const CFile::ErrorCode code = m_file.movePosition(delta))
        return ZEL_ERROR("CFileReader::consume", "zelstr_CFileReader_consume_PosError",
                         "Unable to increment file's '%1' consume position by %2 (error %3).",
                         {m_name.toUtf8(), std::to_string(count), std::to_string(code)});
    return nullptr;
}

CErrorPtr CFileReader::read(void* buffer, std::size_t count)
{
    std::size_t got = 0;
    if (const CFile::ErrorCode code = m_file.read(buffer, count, got))
        return ZEL_ERROR("CFileReader::read", "zelstr_CFileReader_read_ReadError",
                         "Unable to read from file '%1' (error %2).",
                         {m_name.toUtf8(), std::to_string(code)});
    if (got != count)
        return ZEL_ERROR("CFileReader::read", "zelstr_CFileReader_read_ReadBeyondEnd",
                         "Unable to read from file '%1' (required %2 bytes, read %3 bytes).",
                         {m_name.toUtf8(), std::to_string(count), std::to_string(got)});
    return nullptr;
}

CErrorPtr CFileReader::readStreamed(void* buffer, std::size_t count, std::size_t& got)
{
    if (const CFile::ErrorCode code = m_file.read(buffer, count, got))
        return ZEL_ERROR("CFileReader::readStreamed", "zelstr_CFileReader_readStreamed_ReadError",
                         "Unable to read from file '%1' (error %2).",
                         {m_name.toUtf8(), std::to_string(code)});
    return nullptr;
}

CErrorPtr CFileReader::getPosition(std::int64_t& position)
{
    if (const CFile::ErrorCode code = m_file.getPosition(position))
        return ZEL_ERROR("CFileReader::getPosition", "zelstr_CFileReader_getPosition_PosError",
                         "Unable to get file's '%1' reading position (error %2).",
                         {m_name.toUtf8(), std::to_string(code)});
    return nullptr;
}

CErrorPtr CFileReader::getSize(std::int64_t& size)
{
    if (const CFile::ErrorCode code = m_file.getSize(size))
        return ZEL_ERROR("CFileReader::getSize", "zelstr_CFileReader_getSize_FileSizeError",
                         "Unable to get file's '%1' size (error %2).",
                         {m_name.toUtf8(), std::to_string(code)});
    return nullptr;
}

CErrorPtr CFileReader::setPosition(std::int64_t position)
{
    if (const CFile::ErrorCode code = m_file.setPosition(position))
        return ZEL_ERROR("CFileReader::setPosition", "zelstr_CFileReader_setPosition_PosError",
                         "Unable to set file's '%1' reading position to %2 (error %3).",
                         {m_name.toUtf8(), std::to_string(position), std::to_string(code)});
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// CFileWriter

CFileWriter::~CFileWriter()
{
    m_file.close();
}

CErrorPtr CFileWriter::open(const CText& name, unsigned shareFlags, bool append)
{
    m_file.close();
    m_name = name;
    if (const CFile::ErrorCode code = m_file.openForWriting(name, shareFlags, append))
    {
        return ZEL_ERROR("CFileWriter::open", "zelstr_CFileWriter_open_Error",
                         "Unable to open file '%1' for %2 (error %3, flags %4).",
                         {name.toUtf8(), append ? "appending" : "rewriting", std::to_string(code),
                          std::to_string(shareFlags)});
    }
    return nullptr;
}

CErrorPtr CFileWriter::close()
{
    if (const CFile::ErrorCode code = m_file.close())
        return ZEL_ERROR("CFileWriter::close", "zelstr_CFileWriter_close_Error",
                         "Unable to close file '%1' after writing (error %2).",
                         {m_name.toUtf8(), std::to_string(code)});
    return nullptr;
}

CErrorPtr CFileWriter::write(const void* data, std::size_t count)
{
    std::size_t written = 0;
    if (const CFile::ErrorCode code = m_file.write(data, count, written))
        return ZEL_ERROR("CFileWriter::write", "zelstr_CFileWriter_write_WriteError",
                         "Unable to write to file '%1' (error %2).",
                         {m_name.toUtf8(), std::to_string(code)});
    if (written != count)
        return ZEL_ERROR("CFileWriter::write", "zelstr_CFileWriter_write_WriteErrorCount",
                         "Unable to write to file '%1' (required %2 bytes, written %3 bytes).",
                         {m_name.toUtf8(), std::to_string(count), std::to_string(written)});
    return nullptr;
}

CErrorPtr CFileWriter::getPosition(std::int64_t& position)
{
    if (const CFile::ErrorCode code = m_file.getPosition(position))
        return ZEL_ERROR("CFileWriter::getPosition", "zelstr_CFileWriter_getPosition_Error",
                         "Unable to get file writing position for file '%1' (error %2).",
                         {m_name.toUtf8(), std::to_string(code)});
    return nullptr;
}

CErrorPtr CFileWriter::setPosition(std::int64_t position)
{
    if (const CFile::ErrorCode code = m_file.setPosition(position))
        return ZEL_ERROR("CFileWriter::setPosition", "zelstr_CFileWriter_setPosition_Error",
                         "Unable to set file writing position for file '%1' (error %2).",
                         {m_name.toUtf8(), std::to_string(code)});
    return nullptr;
}

CErrorPtr CFileWriter::getSize(std::int64_t& size)
{
    if (const CFile::ErrorCode code = m_file.getSize(size))
        return ZEL_ERROR("CFileWriter::getSize", "zelstr_CFileWriter_getSize_Error",
                         "Unable to get file size of file '%1' (error %2).",
                         {m_name.toUtf8(), std::to_string(code)});
    return nullptr;
}

} // namespace zel
