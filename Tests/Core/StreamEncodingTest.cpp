// Encodings of the typed stream operations, checked against bytes assembled by hand.
#include "Core/MemoryReader.h"
#include "Core/MemoryWriteBuffer.h"
#include "Support/ErrorText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

using namespace zel;

namespace
{

using Bytes = std::vector<std::uint8_t>;

Bytes writtenText(const CText& text)
{
    CMemoryWriteBuffer buffer(16);
    const CErrorPtr err = buffer.writeString(text);
    EXPECT_FALSE(err) << (err ? err->details() : "");
    return buffer.toVector();
}

Bytes lengthPrefixed(const Bytes& payload, std::uint32_t n)
{
    Bytes out(4 + payload.size());
    for (std::size_t i = 0; i < 4; ++i)
        out[i] = static_cast<std::uint8_t>(n >> (8 * i));
    std::copy(payload.begin(), payload.end(), out.begin() + 4);
    return out;
}
Bytes lengthPrefixed(const Bytes& payload)
{
    return lengthPrefixed(payload, static_cast<std::uint32_t>(payload.size()));
}

CText readText(const Bytes& bytes, std::int32_t* rest = nullptr)
{
    CMemoryReader reader(bytes.data(), bytes.size());
    CText text("unset");
    const CErrorPtr err = reader.readString(text);
    EXPECT_FALSE(err) << (err ? err->details() : "");
    if (rest)
        *rest = reader.remaining();
    return text;
}

} // namespace

TEST(StreamEncoding, NumbersAndBlocksAreLittleEndianByteForByte)
{
    CMemoryWriteBuffer out(16);
    const std::uint8_t block[] = {9, 8, 7};
    ASSERT_FALSE(out.writeInt(0x12345678) || out.writeInt(-2) || out.writeUInt(0x80000001u) ||
                 out.writeInt64(0x0102030405060708) || out.writeDouble(1.0) ||
                 out.writeDouble(-0.0) || out.writeFloat(-2.5f) || out.writeBlock(block, 3) ||
                 out.writeBlock(nullptr, 0));
    // clang-format off
    const Bytes bytes = {
        0x78, 0x56, 0x34, 0x12,  0xFE, 0xFF, 0xFF, 0xFF,  1, 0, 0, 0x80, // two ints, the uint
        8, 7, 6, 5, 4, 3, 2, 1,                                         // int64
        0, 0, 0, 0, 0, 0, 0xF0, 0x3F,  0, 0, 0, 0, 0, 0, 0, 0x80,       // 1.0, -0.0
        0, 0, 0x20, 0xC0,                                               // -2.5f
        3, 0, 0, 0, 9, 8, 7,  0, 0, 0, 0};                              // blocks of 3 and 0 bytes
    // clang-format on
    EXPECT_EQ(out.toVector(), bytes);

    CMemoryReader r(bytes.data(), bytes.size());
    std::int32_t i = 0, j = 0;
    std::uint32_t u = 0;
    std::int64_t l = 0;
    double d = 0, z = 1;
    float f = 0;
    Bytes b1, b2 = {1};
    ASSERT_FALSE(r.readInt(i) || r.readInt(j) || r.readUInt(u) || r.readInt64(l) ||
                 r.readDouble(d) || r.readDouble(z) || r.readFloat(f) || r.readBlock(b1) ||
                 r.readBlock(b2));
    EXPECT_EQ(i, 0x12345678);
    EXPECT_EQ(j, -2);
    EXPECT_EQ(u, 0x80000001u);
    EXPECT_EQ(l, 0x0102030405060708);
    EXPECT_EQ(d, 1.0);
    EXPECT_TRUE(z == 0.0 && std::signbit(z));
    EXPECT_EQ(f, -2.5f);
    EXPECT_EQ(b1, (Bytes{9, 8, 7}));
    EXPECT_TRUE(b2.empty());
    EXPECT_EQ(r.remaining(), 0);

    const Bytes negative = {0xFF, 0xFF, 0xFF, 0xFF};
    CMemoryReader n(negative.data(), negative.size());
    const std::string said = kelvtest::idAndText(n.readBlock(b1));
    EXPECT_TRUE(said.starts_with("zelstr_CInputStream_readBlock_InvalidLength: ")) << said;
    EXPECT_NE(said.find("-1"), std::string::npos) << said;
}

TEST(StreamEncoding, TypedOperationsAddTheirOwnTrailEntry)
{
    std::int32_t i;
    std::int64_t l;
    double d;
    float f;
    Bytes b;
    CText t;
    CByteBuffer c;
    const std::pair<const char*, std::function<CErrorPtr(CInputStream&)>> cases[] = {
        {"readInt", [&](CInputStream& s) { return s.readInt(i); }},
        {"readInt64", [&](CInputStream& s) { return s.readInt64(l); }},
        {"readDouble", [&](CInputStream& s) { return s.readDouble(d); }},
        {"readFloat", [&](CInputStream& s) { return s.readFloat(f); }},
        {"readBlock", [&](CInputStream& s) { return s.readBlock(b); }},
        {"readString", [&](CInputStream& s) { return s.readString(t); }},
        {"readCompressedData", [&](CInputStream& s) { return s.readCompressedData(1, c); }},
    };
    const std::uint8_t two[] = {1, 0};
    for (const auto& [name, op] : cases)
    {
        CMemoryReader r(two, sizeof two);
        const CErrorPtr err = op(r);
        ASSERT_TRUE(err) << name;
        EXPECT_EQ(err->id(), "zelstr_CMemoryReader_read_EOF") << name;
        EXPECT_TRUE(err->trail().back().ends_with(std::string(" ) // CInputStream::") + name))
            << err->details();
        EXPECT_EQ(r.position(), 0) << name;
    }
}

TEST(StreamEncoding, TextIsWrittenUnitByUnitAsUtf8)
{
    const std::pair<CText, Bytes> cases[] = {
        {CText(""), {}},
        {CText("A"), {0x41}},
        {CText("\xE9"), {0xC3, 0xA9}},          // Latin-1 e-acute in an 8-bit text
        {CText(u"\u00E9"), {0xC3, 0xA9}},       // the same in a 16-bit text
        {CText(u"\u07FF"), {0xDF, 0xBF}},       // last 2-byte unit
        {CText(u"\u0800"), {0xE0, 0xA0, 0x80}}, // first 3-byte unit
        {CText(u"\u20AC"), {0xE2, 0x82, 0xAC}}, // euro sign
        // A surrogate pair goes out as two 3-byte sequences, one per unit.
        {CText(std::u16string{0xD83D, 0xDE00}), {0xED, 0xA0, 0xBD, 0xED, 0xB8, 0x80}},
    };
    for (const auto& [text, utf8] : cases)
    {
        EXPECT_EQ(writtenText(text), lengthPrefixed(utf8)) << text.toUtf8();
        EXPECT_EQ(readText(lengthPrefixed(utf8)), text) << text.toUtf8();
    }
}

TEST(StreamEncoding, TextDecodingRules)
{
    struct Case
    {
        const char* what;
        Bytes utf8;
        std::u16string expected;
        bool wide;
    };
    const Case cases[] = {
        {"latin-1 stays 8-bit", {'c', 0xC3, 0xA9}, u"c\u00E9", false},
        {"U+0100 switches to 16-bit", {'a', 0xC4, 0x80}, u"a\u0100", true},
        {"euro", {'a', 0xE2, 0x82, 0xAC, 'b'}, u"a\u20ACb", true},
        {"4-byte sequence becomes a surrogate pair", {0xF0, 0x9F, 0x98, 0x80}, u"\U0001F600", true},
        {"stops at code point 0", {'a', 'b', 0, 'c', 'd'}, u"ab", false},
        {"stops at overlong code point 0", {'x', 0xC0, 0x80, 'y'}, u"x", false},
        {"stops at a continuation byte as lead", {'a', 'b', 0x80, 'c'}, u"ab", false},
        {"stops at lead 0xF8", {'a', 0xF8, 'c'}, u"a", false},
        {"stops at a cut-off 3-byte sequence", {'a', 'b', 0xE2, 0x82}, u"ab", false},
        {"stops beyond U+10FFFF", {'a', 0xF4, 0x90, 0x80, 0x80, 'b'}, u"a", false},
        {"keeps what came before a stop in 16-bit", {0xE2, 0x82, 0xAC, 0}, u"\u20AC", true},
        // Continuation bytes are not checked: each gives its low six bits.
        {"unchecked continuation", {'a', 0xC3, 0x41}, u"a\u00C1", false},
    };
    for (const Case& c : cases)
    {
        Bytes in = lengthPrefixed(c.utf8);
        in.push_back(0x5A); // a byte after the text must stay unread
        std::int32_t rest = -1;
        const CText text = readText(in, &rest);
        EXPECT_EQ(text.toUtf16(), c.expected) << c.what;
        EXPECT_EQ(text.isWide(), c.wide) << c.what;
        EXPECT_EQ(rest, 1) << c.what << ": the whole declared length is consumed";
    }
}

TEST(StreamEncoding, TextLengthLimits)
{
    // A negative length gives an empty text and reads nothing more.
    std::int32_t rest = -1;
    EXPECT_TRUE(readText(lengthPrefixed({'a', 'b'}, 0xFFFFFFFFu), &rest).empty());
    EXPECT_EQ(rest, 2);
    // Long texts cross the 128-byte staging area; 61440 bytes is the longest text accepted.
    for (const std::size_t units : {42u, 43u, 86u, 20480u})
    {
        const CText text(std::u16string(units, u'\u20AC'));
        const Bytes out = writtenText(text);
        ASSERT_EQ(out.size(), 4 + units * 3) << units;
        EXPECT_EQ(readText(out), text) << units;
    }
    std::string mixed;
    for (int i = 0; i < 61440 / 3; ++i)
        mixed += "\xE9q"; // 2 + 1 bytes per pair
    const Bytes out = writtenText(CText(mixed));
    EXPECT_EQ(out.size(), 4u + 61440u);
    EXPECT_EQ(readText(out), CText(mixed));
    EXPECT_FALSE(readText(out).isWide());

    const Bytes tooLong = lengthPrefixed(Bytes(61441, 'x'));
    CMemoryReader r(tooLong.data(), tooLong.size());
    CText text;
    EXPECT_EQ(kelvtest::idAndText(r.readString(text)),
              "zelstr_CInputStream_readString_StringDataTooLong: String length 61441 too long "
              "in readString().");
}
