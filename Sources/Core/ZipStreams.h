#pragma once
// CInputZipStream and COutputZipStream: streams that inflate a zlib stream (RFC 1950) pulled
// from another input stream, and deflate what is written to them into another output stream.
// They do not own the stream at the other end, which must outlive them while they are open.
//
// The input side reads its source ahead in chunks; unusedInput tells how far, so that a caller
// that knows where the zlib stream ends can move a positioned source back. Neither class knows
// about the compressed block header; see CInputStream::readCompressedData.

#include "Core/InputStream.h"
#include "Core/OutputStream.h"

#include <cstddef>
#include <cstdint>
#include <memory>

struct z_stream_s;

namespace zel
{

class CInputZipStream : public CInputStream
{
public:
    static constexpr std::size_t kInputBufferSize = 16384;

    CInputZipStream();
    // Ends the inflate state if still open.
    ~CInputZipStream() override;

    CErrorPtr open(CInputStream* source);
    CErrorPtr close();
    bool isOpen() const { return m_open; }

    // Inflates exactly count bytes; fails when the zlib stream or its source ends first.
    CErrorPtr read(void* buffer, std::size_t count) override;
    // Not supported: always fails.
    CErrorPtr consume(std::size_t count) override;

    // Runs the zlib stream to its end without producing further bytes, which checks its
    // Adler-32 trailer. Fails when the stream holds more data, is corrupt or is cut off.
    CErrorPtr finishStream();
    // Bytes taken from the source but not consumed by the inflater.
    std::size_t unusedInput() const;

private:
    // Inflates into out[0..count) until full or the zlib stream ends; produced reports how much.
    CErrorPtr inflateInto(std::uint8_t* out, std::size_t count, std::size_t& produced,
                          bool& streamEnded, const char* fullName, const char* operation);

    CInputStream* m_source = nullptr;
    std::unique_ptr<z_stream_s> m_zstream;
    std::unique_ptr<std::uint8_t[]> m_input;
    bool m_open = false;
    bool m_ended = false;
};

class COutputZipStream : public COutputStream
{
public:
    static constexpr std::size_t kOutputBufferSize = 32768;

    COutputZipStream();
    // Ends the deflate state if still open, without finishing the zlib stream.
    ~COutputZipStream() override;

    // level: zlib compression level, -1 for zlib's default.
    CErrorPtr open(COutputStream* target, int level);
    // Finishes the zlib stream, writes what remains and ends the deflate state.
    CErrorPtr close();
    bool isOpen() const { return m_open; }

    CErrorPtr write(const void* data, std::size_t count) override;

private:
    // Writes the filled part of the output buffer to the target and empties it.
    CErrorPtr flushOutput(const char* fullName);

    COutputStream* m_target = nullptr;
    std::unique_ptr<z_stream_s> m_zstream;
    std::unique_ptr<std::uint8_t[]> m_output;
    bool m_open = false;
};

} // namespace zel
