#include "Core/ZipStreams.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <string>

namespace zel
{
namespace
{

// zlib's own message for a failed call, or the generic text of its return code.
std::string zlibMessage(const z_stream& z, int code)
{
    if (z.msg != nullptr)
        return z.msg;
    const char* text = zError(code);
    return text != nullptr ? text : "";
}

// zlib counts in uInt; longer spans are handed over in pieces.
uInt pieceOf(std::size_t count)
{
    return static_cast<uInt>(std::min<std::size_t>(count, UINT_MAX));
}

} // namespace

// ---------------------------------------------------------------------------------------------
// CInputZipStream

CInputZipStream::CInputZipStream() : m_zstream(std::make_unique<z_stream_s>()) {}

CInputZipStream::~CInputZipStream()
{
    if (m_open)
        inflateEnd(m_zstream.get());
}

CErrorPtr CInputZipStream::open(CInputStream* source)
{
    if (m_open)
    {
        inflateEnd(m_zstream.get());
        m_open = false;
    }
    z_stream& z = *m_zstream;
    z = z_stream{};
    z.zalloc = Z_NULL;
    z.zfree = Z_NULL;
    z.opaque = Z_NULL;
    z.next_in = Z_NULL;
    z.avail_in = 0;
    const int ret = inflateInit(&z);
    if (ret != Z_OK)
        return ZEL_ERROR("CInputZipStream::open", "zelstr_CInputZipStream_open_inflateInit",
                         "zlib inflateInit error %1 (%2).",
                         {std::to_string(ret), zlibMessage(z, ret)});
    if (!m_input)
        m_input = std::make_unique<std::uint8_t[]>(kInputBufferSize);
    m_source = source;
    m_open = true;
    m_ended = false;
    return nullptr;
}

CErrorPtr CInputZipStream::close()
{
    if (!m_open)
        return nullptr;
    m_open = false;
    m_source = nullptr;
    const int ret = inflateEnd(m_zstream.get());
    if (ret != Z_OK)
        return ZEL_ERROR("CInputZipStream::close", "zelstr_CInputZipStream_close_inflateEnd",
                         "zlib inflateEnd error %1 (%2).",
                         {std::to_string(ret), zlibMessage(*m_zstream, ret)});
    return nullptr;
}

CErrorPtr CInputZipStream::inflateInto(std::uint8_t* out, std::size_t count, std::size_t& produced,
                                       bool& streamEnded, const char* fullName,
                                       const char* operation)
{
    z_stream& z = *m_zstream;
    produced = 0;
    while (produced < count && !m_ended)
    {
        if (z.avail_in == 0)
        {
            std::size_t got = 0;
            ZEL_TRY(m_source->readStreamed(m_input.get(), kInputBufferSize, got), fullName);
            if (got == 0)
                break; // the source has ended
            z.next_in = m_input.get();
            z.avail_in = static_cast<uInt>(got);
        }
        const uInt piece = pieceOf(count - produced);
        z.next_out = out + produced;
        z.avail_out = piece;
        const int ret = inflate(&z, Z_NO_FLUSH);
        produced += piece - z.avail_out;
        if (ret == Z_STREAM_END)
            m_ended = true;
        // Z_BUF_ERROR only means that no progress was possible: the input is used up.
        else if (ret != Z_OK && ret != Z_BUF_ERROR)
            return ZEL_ERROR(
                fullName, std::string("zelstr_CInputZipStream_") + operation + "_inflate",
                "zlib inflate error %1 (%2).", {std::to_string(ret), zlibMessage(z, ret)});
    }
    streamEnded = m_ended;
    return nullptr;
}

CErrorPtr CInputZipStream::read(void* buffer, std::size_t count)
{
    static constexpr const char* kName = "CInputZipStream::read";
    if (m_source == nullptr || !m_open)
        return ZEL_ERROR(kName, "zelstr_CInputZipStream_read_NoStream",
                         "Input stream not specified.");
    std::size_t produced = 0;
    bool ended = false;
    ZEL_TRY(inflateInto(static_cast<std::uint8_t*>(buffer), count, produced, ended, kName, "read"),
            kName);
    if (produced < count)
        return ZEL_ERROR(kName, "zelstr_CInputZipStream_read_EOF",
                         "Unexpected end of compressed data (required %1 bytes, inflated %2 "
                         "bytes).",
                         {std::to_string(count), std::to_string(produced)});
    return nullptr;
}

CErrorPtr CInputZipStream::consume(std::size_t /*count*/)
{
    return ZEL_ERROR("CInputZipStream::consume", "zelstr_CInputZipStream_consume_Unsupported",
                     "Consuming is not supported in zip streams.");
}

CErrorPtr CInputZipStream::finishStream()
{
    static constexpr const char* kName = "CInputZipStream::finishStream";
    if (m_source == nullptr || !m_open)
        return ZEL_ERROR(kName, "zelstr_CInputZipStream_finishStream_NoStream",
                         "Input stream not specified.");
    std::uint8_t extra = 0;
    std::size_t produced = 0;
    bool ended = false;
    ZEL_TRY(inflateInto(&extra, 1, produced, ended, kName, "finishStream"), kName);
    if (produced > 0)
        return ZEL_ERROR(kName, "zelstr_CInputZipStream_finishStream_TooLong",
                         "Compressed data continues beyond its expected length.");
    if (!ended)
        return ZEL_ERROR(kName, "zelstr_CInputZipStream_finishStream_EOF",
                         "Unexpected end of compressed data before the end of the zlib stream.");
    return nullptr;
}

std::size_t CInputZipStream::unusedInput() const
{
    return m_open ? m_zstream->avail_in : 0;
}

// ---------------------------------------------------------------------------------------------
// COutputZipStream

COutputZipStream::COutputZipStream() : m_zstream(std::make_unique<z_stream_s>()) {}

COutputZipStream::~COutputZipStream()
{
    if (m_open)
        deflateEnd(m_zstream.get());
}

CErrorPtr COutputZipStream::open(COutputStream* target, int level)
{
    if (m_open)
    {
        deflateEnd(m_zstream.get());
        m_open = false;
    }
    z_stream& z = *m_zstream;
    z = z_stream{};
    z.zalloc = Z_NULL;
    z.zfree = Z_NULL;
    z.opaque = Z_NULL;
    const int ret = deflateInit(&z, level);
    if (ret != Z_OK)
        return ZEL_ERROR("COutputZipStream::open", "zelstr_COutputZipStream_open_deflateInit",
                         "zlib deflateInit error %1 (%2).",
                         {std::to_string(ret), zlibMessage(z, ret)});
    if (!m_output)
        m_output = std::make_unique<std::uint8_t[]>(kOutputBufferSize);
    z.next_out = m_output.get();
    z.avail_out = static_cast<uInt>(kOutputBufferSize);
    m_target = target;
    m_open = true;
    return nullptr;
}

CErrorPtr COutputZipStream::flushOutput(const char* fullName)
{
    z_stream& z = *m_zstream;
    const std::size_t filled = kOutputBufferSize - z.avail_out;
    z.next_out = m_output.get();
    z.avail_out = static_cast<uInt>(kOutputBufferSize);
    if (filled > 0)
        ZEL_TRY(m_target->write(m_output.get(), filled), fullName);
    return nullptr;
}

CErrorPtr COutputZipStream::write(const void* data, std::size_t count)
{
    static constexpr const char* kName = "COutputZipStream::write";
    if (m_target == nullptr || !m_open)
        return ZEL_ERROR(kName, "zelstr_COutputZipStream_write_NoStream",
                         "Output stream not specified.");
    z_stream& z = *m_zstream;
    // deflate takes a non-const input pointer but does not modify the input.
    auto* in = const_cast<Bytef*>(static_cast<const Bytef*>(data));
    std::size_t left = count;
    while (left > 0)
    {
        const uInt piece = pieceOf(left);
        z.next_in = in;
        z.avail_in = piece;
        while (z.avail_in > 0)
        {
            const int ret = deflate(&z, Z_NO_FLUSH);
            if (ret != Z_OK && ret != Z_BUF_ERROR)
                return ZEL_ERROR(kName, "zelstr_COutputZipStream_write_deflate",
                                 "zlib deflate error %1 (%2).",
                                 {std::to_string(ret), zlibMessage(z, ret)});
            if (z.avail_out == 0)
                ZEL_TRY(flushOutput(kName), kName);
        }
        in += piece;
        left -= piece;
    }
    z.next_in = Z_NULL;
    return nullptr;
}

CErrorPtr COutputZipStream::close()
{
    static constexpr const char* kName = "COutputZipStream::close";
    if (!m_open)
        return nullptr;
    z_stream& z = *m_zstream;
    if (m_target != nullptr)
    {
        for (;;)
        {
            const int ret = deflate(&z, Z_FINISH);
            if (ret == Z_STREAM_END)
                break;
            if (ret != Z_OK && ret != Z_BUF_ERROR)
                return ZEL_ERROR(kName, "zelstr_COutputZipStream_close_deflate",
                                 "zlib deflate error %1 (%2).",
                                 {std::to_string(ret), zlibMessage(z, ret)});
            if (z.avail_out == 0)
                ZEL_TRY(flushOutput(kName), kName);
        }
        ZEL_TRY(flushOutput(kName), kName);
    }
    m_open = false;
    m_target = nullptr;
    const int ret = deflateEnd(&z);
    if (ret != Z_OK)
        return ZEL_ERROR(kName, "zelstr_COutputZipStream_close_deflateEnd",
                         "zlib deflateEnd error %1 (%2).",
                         {std::to_string(ret), zlibMessage(z, ret)});
    return nullptr;
}

} // namespace zel
