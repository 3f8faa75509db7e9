// Compressed blocks and the zlib streams under them. The oracle for the block layout is built by
// hand: the header bytes assembled directly, the check computed with a local Adler-32, the data
// compressed with zlib's one-shot compress.
#include "Core/AppDataTestSupport.h"
#include "Core/MemoryReader.h"
#include "Core/MemoryWriteBuffer.h"
#include "Core/ZipStreams.h"
#include "Support/ErrorText.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

using namespace zel;
using kelvtest::idAndText;

namespace
{

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint32_t kAlst = makeBlockId("alst");

// Random bytes from a seed, or with seed 0 a repeated phrase that compresses well.
Bytes sample(std::size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    Bytes out(n);
    for (std::size_t i = 0; i < n; ++i)
        out[i] = static_cast<std::uint8_t>(seed ? rng() : "spectral dynamics "[i % 18]);
    return out;
}

Bytes writeBlock(std::uint32_t id, const Bytes& plain)
{
    CMemoryWriteBuffer buffer(2048);
    CErrorPtr err = buffer.writeCompressedData(id, plain.data(), plain.size());
    EXPECT_FALSE(err) << (err ? err->details() : "");
    return buffer.toVector();
}

CErrorPtr readBlock(const Bytes& bytes, std::uint32_t id, CByteBuffer& out)
{
    CMemoryReader reader(bytes.data(), bytes.size());
    return reader.readCompressedData(id, out);
}

// Hands out at most `piece` bytes per streamed read, to make the inflater refill often.
class CTrickleReader : public CInputStream
{
public:
    CTrickleReader(const Bytes& bytes, std::size_t piece)
        : m_inner(bytes.data(), bytes.size()), m_piece(piece)
    {
    }
    CErrorPtr read(void* buffer, std::size_t count) override { return m_inner.read(buffer, count); }
    CErrorPtr readStreamed(void* buffer, std::size_t count, std::size_t& got) override
    {
        return m_inner.readStreamed(buffer, std::min(count, m_piece), got);
    }

private:
    CMemoryReader m_inner;
    std::size_t m_piece;
};

// Records the size of every write; fails once `failAfter` writes have succeeded.
class CRecordingWriter : public COutputStream
{
public:
    explicit CRecordingWriter(std::size_t failAfter = SIZE_MAX) : m_failAfter(failAfter) {}
    CErrorPtr write(const void* data, std::size_t count) override
    {
        if (sizes.size() == m_failAfter)
            return makeError("zelstr_Test_write", "disk full");
        sizes.push_back(count);
        bytes.insert(bytes.end(), static_cast<const std::uint8_t*>(data),
                     static_cast<const std::uint8_t*>(data) + count);
        return nullptr;
    }
    std::vector<std::size_t> sizes;
    Bytes bytes;

private:
    std::size_t m_failAfter;
};

} // namespace

TEST(CompressedBlock, WriterMatchesTheBlockBuiltByHandAndReaderStopsAfterIt)
{
    // Up to the inline capacity and beyond it; compressed output well beyond one 32768-byte
    // chunk and many 2048-byte buffer blocks.
    for (const Bytes& plain :
         {Bytes{}, Bytes{0x42}, sample(32, 0), sample(90725, 0), sample(200000, 3)})
    {
        const Bytes out = writeBlock(makeBlockId("abnk"), plain);
        EXPECT_EQ(out, ktest::makeBlock("abnk", plain)) << plain.size();
        // The reader hands back unread look-ahead: a value after the block reads correctly.
        Bytes stream = out;
        stream.insert(stream.end(), {0xFE, 0xCA, 0xA1, 0x5E});
        CMemoryReader reader(stream.data(), stream.size());
        CByteBuffer back;
        const CErrorPtr err = reader.readCompressedData(makeBlockId("abnk"), back);
        ASSERT_FALSE(err) << plain.size() << ": " << err->details();
        EXPECT_EQ(Bytes(back.begin(), back.end()), plain) << plain.size();
        EXPECT_EQ(back.isInline(), plain.size() <= CByteBuffer::kInlineCapacity) << plain.size();
        std::int32_t marker = 0;
        ASSERT_FALSE(reader.readInt(marker));
        EXPECT_EQ(marker, 0x5EA1CAFE) << plain.size();
    }
}

TEST(CompressedBlock, WrongIdAndWrongHeaderCheckGiveTheirMessages)
{
    Bytes out = writeBlock(kAlst, sample(11965, 0));
    CByteBuffer back;
    EXPECT_EQ(idAndText(readBlock(out, makeBlockId("abnk"), back)),
              "zelstr_CInputStream_readCompressedData_InvalidData: Invalid ID encountered when "
              "reading compressed data (expected " +
                  std::to_string(0x6B6E6261u) + ", read " + std::to_string(0x74736C61u) + ").");
    out[8] ^= 0x01; // stored check 0x038200ED
    EXPECT_EQ(idAndText(readBlock(out, kAlst, back)),
              "zelstr_CInputStream_readCompressedData_HeadCRC: Invalid CRC encountered when "
              "reading compressed data (expected " +
                  std::to_string(0x038200EDu) + ", read " + std::to_string(0x038200ECu) + ").");
}

TEST(CompressedBlock, TruncatedOrCorruptedDataFailsAndNeverMisreads)
{
    const Bytes plain = sample(300, 0);
    const Bytes good = writeBlock(kAlst, plain);
    CByteBuffer back;
    for (std::size_t cut = 0; cut < good.size(); ++cut)
        EXPECT_TRUE(
            readBlock(Bytes(good.begin(), good.begin() + static_cast<long>(cut)), kAlst, back))
            << "cut at " << cut;
    // Every single-bit flip either fails or (a flip in unused padding bits) reads the original.
    for (std::size_t i = 0; i < good.size(); ++i)
        for (int bit = 0; bit < 8; ++bit)
        {
            Bytes bad = good;
            bad[i] ^= static_cast<std::uint8_t>(1u << bit);
            EXPECT_TRUE(readBlock(bad, kAlst, back) || Bytes(back.begin(), back.end()) == plain)
                << i << ":" << bit;
        }
    // A header announcing more, or fewer, bytes than the zlib stream holds.
    for (const std::uint32_t announced : {299u, 301u, 0u, 0xFFFFFFFFu})
    {
        const CErrorPtr err = readBlock(ktest::makeBlock("alst", plain, announced), kAlst, back);
        ASSERT_TRUE(err) << announced;
        EXPECT_TRUE(err->id().starts_with("zelstr_CInputZipStream_")) << err->id();
    }
}

TEST(ZipStreams, OutputGoesOutIn32768ByteChunks)
{
    const Bytes plain = sample(150000, 11);
    CRecordingWriter target;
    COutputZipStream zip;
    ASSERT_FALSE(zip.open(&target, 6));
    for (std::size_t at = 0; at < plain.size(); at += 7001)
        ASSERT_FALSE(zip.write(plain.data() + at, std::min<std::size_t>(7001, plain.size() - at)));
    ASSERT_FALSE(zip.close());
    ASSERT_GE(target.sizes.size(), 5u);
    for (std::size_t i = 0; i + 1 < target.sizes.size(); ++i)
        EXPECT_EQ(target.sizes[i], 32768u);
    Bytes back(plain.size());
    uLongf backSize = static_cast<uLongf>(back.size());
    ASSERT_EQ(uncompress(back.data(), &backSize, target.bytes.data(),
                         static_cast<uLong>(target.bytes.size())),
              Z_OK);
    EXPECT_EQ(back, plain);
}

TEST(ZipStreams, InputRefillsFromASourceThatTrickles)
{
    const Bytes plain = sample(5000, 0);
    const Bytes block = writeBlock(kAlst, plain);
    for (const std::size_t piece : {1u, 3u, 4096u})
    {
        CTrickleReader source(block, piece);
        CByteBuffer back;
        ASSERT_FALSE(source.readCompressedData(kAlst, back)) << piece;
        EXPECT_EQ(Bytes(back.begin(), back.end()), plain);
    }
}

TEST(ZipStreams, Messages)
{
    COutputZipStream unopened;
    EXPECT_EQ(idAndText(unopened.write("x", 1)),
              "zelstr_COutputZipStream_write_NoStream: Output stream not specified.");
    CRecordingWriter target;
    EXPECT_EQ(
        idAndText(unopened.open(&target, 42)),
        "zelstr_COutputZipStream_open_deflateInit: zlib deflateInit error -2 (stream error).");
    // A failing target: the error comes through the zip stream and the block writer.
    const Bytes plain = sample(100000, 1);
    CRecordingWriter failing(4); // id, length, check, then one chunk
    const CErrorPtr err = failing.writeCompressedData(kAlst, plain.data(), plain.size());
    ASSERT_TRUE(err);
    EXPECT_EQ(err->text(), "disk full");
    EXPECT_NE(err->details().find("COutputZipStream::write"), std::string::npos);
    EXPECT_NE(err->details().find("COutputStream::writeCompressedData"), std::string::npos);

    CInputZipStream zip;
    std::uint8_t out[4];
    EXPECT_EQ(idAndText(zip.consume(1)), "zelstr_CInputZipStream_consume_Unsupported: Consuming "
                                         "is not supported in zip streams.");
    const Bytes garbage = {0x78, 0x9C, 0xFF, 0xFF, 0xFF, 0xFF};
    CMemoryReader source(garbage.data(), garbage.size());
    ASSERT_FALSE(zip.open(&source));
    EXPECT_TRUE(idAndText(zip.read(out, 4))
                    .starts_with("zelstr_CInputZipStream_read_inflate: zlib inflate error -3 ("));
}
