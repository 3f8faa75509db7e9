// Compressed blocks and the zlib streams under them. The oracle for the block layout is built by
// hand here: the header bytes assembled directly, the check computed with a local Adler-32, the
// data compressed with zlib's one-shot compress2.
#include "Core/MemoryReader.h"
#include "Core/MemoryWriteBuffer.h"
#include "Core/ZipStreams.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

using namespace zel;

namespace
{

using Bytes = std::vector<std::uint8_t>;

std::uint32_t adlerByHand(const Bytes& bytes)
{
    std::uint32_t a = 1, b = 0;
    for (const std::uint8_t c : bytes)
    {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    return b << 16 | a;
}

void putLE(Bytes& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

Bytes blockByHand(const char* tag, const Bytes& plain)
{
    Bytes out(tag, tag + 4);
    Bytes length;
    putLE(length, static_cast<std::uint32_t>(plain.size()));
    out.insert(out.end(), length.begin(), length.end());
    putLE(out, adlerByHand(length));
    uLongf packedSize = compressBound(static_cast<uLong>(plain.size()));
    Bytes packed(packedSize);
    EXPECT_EQ(compress2(packed.data(), &packedSize, plain.data(), static_cast<uLong>(plain.size()),
                        Z_DEFAULT_COMPRESSION),
              Z_OK);
    out.insert(out.end(), packed.begin(), packed.begin() + static_cast<long>(packedSize));
    return out;
}

Bytes noise(std::size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    Bytes out(n);
    for (auto& c : out)
        c = static_cast<std::uint8_t>(rng());
    return out;
}

Bytes text(std::size_t n)
{
    Bytes out(n);
    for (std::size_t i = 0; i < n; ++i)
        out[i] = static_cast<std::uint8_t>("spectral dynamics "[i % 18]);
    return out;
}

Bytes writeBlock(std::uint32_t id, const Bytes& plain, std::size_t growthStep = 2048)
{
    CMemoryWriteBuffer buffer(growthStep);
    CErrorPtr err = buffer.writeCompressedData(id, plain.data(), plain.size());
    EXPECT_FALSE(err) << (err ? err->details() : "");
    return buffer.toVector();
}

CErrorPtr readBlock(const Bytes& bytes, std::uint32_t id, CByteBuffer& out)
{
    CMemoryReader reader(bytes.data(), bytes.size());
    return reader.readCompressedData(id, out);
}

constexpr std::uint32_t kAlst = makeBlockId("alst");

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
        const auto* p = static_cast<const std::uint8_t*>(data);
        bytes.insert(bytes.end(), p, p + count);
        return nullptr;
    }
    std::vector<std::size_t> sizes;
    Bytes bytes;

private:
    std::size_t m_failAfter;
};

} // namespace

TEST(CompressedBlock, HeaderCheckVectors)
{
    struct Case
    {
        std::size_t plainLength;
        Bytes header;
    };
    const Case cases[] = {
        {11965, {'a', 'l', 's', 't', 0xBD, 0x2E, 0, 0, 0xEC, 0x00, 0x82, 0x03}},    // 0x038200EC
        {90725, {'a', 'l', 's', 't', 0x65, 0x62, 0x01, 0, 0xC9, 0x00, 0xC0, 0x02}}, // 0x02C000C9
        {0, {'a', 'l', 's', 't', 0, 0, 0, 0, 0x01, 0, 0x04, 0}},
    };
    for (const Case& c : cases)
    {
        const Bytes out = writeBlock(kAlst, text(c.plainLength));
        ASSERT_GE(out.size(), 12u);
        EXPECT_EQ(Bytes(out.begin(), out.begin() + 12), c.header) << c.plainLength;
    }
}

TEST(CompressedBlock, WriterMatchesTheBlockBuiltByHandAndRoundTrips)
{
    struct Case
    {
        const char* what;
        Bytes plain;
    };
    const Case cases[] = {
        {"empty", {}},
        {"one byte", {0x42}},
        {"32 bytes, inline", text(32)},
        {"33 bytes", text(33)},
        {"compressible 90725", text(90725)},
        // Compressed output well beyond one 32768-byte chunk and many 2048-byte buffer blocks.
        {"noise 200000", noise(200000, 3)},
    };
    for (const Case& c : cases)
    {
        const Bytes out = writeBlock(makeBlockId("abnk"), c.plain);
        EXPECT_EQ(out, blockByHand("abnk", c.plain)) << c.what;
        CByteBuffer back;
        CErrorPtr err = readBlock(out, makeBlockId("abnk"), back);
        ASSERT_FALSE(err) << c.what << ": " << err->details();
        EXPECT_EQ(Bytes(back.begin(), back.end()), c.plain) << c.what;
        EXPECT_EQ(back.isInline(), c.plain.size() <= CByteBuffer::kInlineCapacity) << c.what;
    }
}

TEST(CompressedBlock, ReaderStopsRightAfterTheBlock)
{
    for (const std::size_t n : {0u, 10u, 100000u})
    {
        CMemoryWriteBuffer buffer;
        const Bytes plain = noise(n, 5);
        ASSERT_FALSE(buffer.writeCompressedData(kAlst, plain.data(), plain.size()));
        ASSERT_FALSE(buffer.writeInt(0x5EA1CAFE));
        ASSERT_FALSE(buffer.writeCompressedData(kAlst, plain.data(), plain.size()));
        const Bytes all = buffer.toVector();
        CMemoryReader reader(all.data(), all.size());
        CByteBuffer back;
        ASSERT_FALSE(reader.readCompressedData(kAlst, back));
        std::int32_t marker = 0;
        ASSERT_FALSE(reader.readInt(marker));
        EXPECT_EQ(marker, 0x5EA1CAFE) << n;
        ASSERT_FALSE(reader.readCompressedData(kAlst, back));
        EXPECT_EQ(reader.remaining(), 0);
    }
}

TEST(CompressedBlock, WrongIdAndWrongHeaderCheckGiveTheirMessages)
{
    Bytes out = writeBlock(kAlst, text(11965));
    CByteBuffer back;
    CErrorPtr err = readBlock(out, makeBlockId("abnk"), back);
    ASSERT_TRUE(err);
    EXPECT_EQ(err->id(), "zelstr_CInputStream_readCompressedData_InvalidData");
    EXPECT_EQ(err->text(), "Invalid ID encountered when reading compressed data (expected " +
                               std::to_string(0x6B6E6261u) + ", read " +
                               std::to_string(0x74736C61u) + ").");

    out[8] ^= 0x01; // stored check 0x038200ED
    err = readBlock(out, kAlst, back);
    ASSERT_TRUE(err);
    EXPECT_EQ(err->id(), "zelstr_CInputStream_readCompressedData_HeadCRC");
    EXPECT_EQ(err->text(), "Invalid CRC encountered when reading compressed data (expected " +
                               std::to_string(0x038200EDu) + ", read " +
                               std::to_string(0x038200ECu) + ").");
    EXPECT_NE(err->details().find("CInputStream::readCompressedData"), std::string::npos);
}

TEST(CompressedBlock, TruncatedOrCorruptedDataFailsAndNeverMisreads)
{
    const Bytes plain = text(300);
    const Bytes good = writeBlock(kAlst, plain);
    for (std::size_t cut = 0; cut < good.size(); ++cut)
    {
        CByteBuffer back;
        EXPECT_TRUE(
            readBlock(Bytes(good.begin(), good.begin() + static_cast<long>(cut)), kAlst, back))
            << "cut at " << cut;
    }
    // Every single-bit flip either fails or (a flip in unused padding bits) reads the original.
    for (std::size_t i = 0; i < good.size(); ++i)
        for (int bit = 0; bit < 8; ++bit)
        {
            Bytes bad = good;
            bad[i] ^= static_cast<std::uint8_t>(1u << bit);
            CByteBuffer back;
            if (!readBlock(bad, kAlst, back))
            {
                EXPECT_EQ(Bytes(back.begin(), back.end()), plain) << i << ":" << bit;
            }
        }
    // A header announcing more, or fewer, bytes than the zlib stream holds.
    for (const std::uint32_t announced : {299u, 301u, 0u, 0xFFFFFFFFu})
    {
        Bytes bad = blockByHand("alst", plain);
        Bytes length;
        putLE(length, announced);
        std::copy(length.begin(), length.end(), bad.begin() + 4);
        Bytes check;
        putLE(check, adlerByHand(length));
        std::copy(check.begin(), check.end(), bad.begin() + 8);
        CByteBuffer back;
        CErrorPtr err = readBlock(bad, kAlst, back);
        ASSERT_TRUE(err) << announced;
        EXPECT_NE(err->id().find("zelstr_CInputZipStream_"), std::string::npos) << err->id();
    }
}

TEST(ZipStreams, OutputGoesOutIn32768ByteChunks)
{
    const Bytes plain = noise(150000, 11);
    CRecordingWriter target;
    COutputZipStream zip;
    ASSERT_FALSE(zip.open(&target, 6));
    for (std::size_t at = 0; at < plain.size(); at += 7001)
        ASSERT_FALSE(zip.write(plain.data() + at, std::min<std::size_t>(7001, plain.size() - at)));
    ASSERT_FALSE(zip.close());
    ASSERT_GE(target.sizes.size(), 5u);
    for (std::size_t i = 0; i + 1 < target.sizes.size(); ++i)
        EXPECT_EQ(target.sizes[i], 32768u);
    EXPECT_LE(target.sizes.back(), 32768u);

    Bytes back(plain.size());
    uLongf backSize = static_cast<uLongf>(back.size());
    ASSERT_EQ(uncompress(back.data(), &backSize, target.bytes.data(),
                         static_cast<uLong>(target.bytes.size())),
              Z_OK);
    EXPECT_EQ(back, plain);
}

TEST(ZipStreams, InputRefillsFromASourceThatTrickles)
{
    const Bytes plain = text(5000);
    const Bytes block = writeBlock(kAlst, plain);
    for (const std::size_t piece : {1u, 3u, 4096u})
    {
        CTrickleReader source(block, piece);
        CByteBuffer back;
        CErrorPtr err = source.readCompressedData(kAlst, back);
        ASSERT_FALSE(err) << err->details();
        EXPECT_EQ(Bytes(back.begin(), back.end()), plain);
    }
}

TEST(ZipStreams, Messages)
{
    {
        COutputZipStream zip;
        CErrorPtr err = zip.write("x", 1);
        ASSERT_TRUE(err);
        EXPECT_EQ(err->id(), "zelstr_COutputZipStream_write_NoStream");
        EXPECT_EQ(err->text(), "Output stream not specified.");
        ASSERT_FALSE(zip.open(nullptr, -1));
        EXPECT_TRUE(zip.write("x", 1));
        EXPECT_FALSE(zip.close());
    }
    {
        COutputZipStream zip;
        CRecordingWriter target;
        CErrorPtr err = zip.open(&target, 42);
        ASSERT_TRUE(err);
        EXPECT_EQ(err->id(), "zelstr_COutputZipStream_open_deflateInit");
        EXPECT_EQ(err->text(), "zlib deflateInit error -2 (stream error).");
    }
    {
        // A failing target: the error comes through the zip stream and the block writer.
        const Bytes plain = noise(100000, 1);
        CRecordingWriter target(4); // id, length, check, then one chunk
        CErrorPtr err = target.writeCompressedData(kAlst, plain.data(), plain.size());
        ASSERT_TRUE(err);
        EXPECT_EQ(err->text(), "disk full");
        EXPECT_NE(err->details().find("COutputZipStream::write"), std::string::npos);
        EXPECT_NE(err->details().find("COutputStream::writeCompressedData"), std::string::npos);
    }
    {
        CInputZipStream zip;
        std::uint8_t out[4];
        CErrorPtr err = zip.read(out, 4);
        ASSERT_TRUE(err);
        EXPECT_EQ(err->id(), "zelstr_CInputZipStream_read_NoStream");
        EXPECT_EQ(err->text(), "Input stream not specified.");
        err = zip.consume(1);
        ASSERT_TRUE(err);
        EXPECT_EQ(err->id(), "zelstr_CInputZipStream_consume_Unsupported");
        EXPECT_EQ(err->text(), "Consuming is not supported in zip streams.");
    }
    {
        const Bytes garbage = {0x78, 0x9C, 0xFF, 0xFF, 0xFF, 0xFF};
        CMemoryReader source(garbage.data(), garbage.size());
        CInputZipStream zip;
        ASSERT_FALSE(zip.open(&source));
        std::uint8_t out[4];
        CErrorPtr err = zip.read(out, 4);
        ASSERT_TRUE(err);
        EXPECT_EQ(err->id(), "zelstr_CInputZipStream_read_inflate");
        EXPECT_EQ(err->text().rfind("zlib inflate error -3 (", 0), 0u) << err->text();
        EXPECT_FALSE(zip.close());
    }
}
