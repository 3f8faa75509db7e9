// Encodings of the typed stream operations, checked against bytes assembled by hand.
#include "Core/MemoryReader.h"
#include "Core/MemoryWriteBuffer.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace zel;

namespace
{

using Bytes = std::vector<std::uint8_t>;

Bytes written(const std::function<CErrorPtr(COutputStream&)>& op)
{
    CMemoryWriteBuffer buffer(16);
    CErrorPtr err = op(buffer);
    EXPECT_FALSE(err) << (err ? err->details() : "");
    return buffer.toVector();
}

Bytes lengthPrefixed(const Bytes& payload)
{
    const auto n = static_cast<std::uint32_t>(payload.size());
    Bytes out{std::uint8_t(n), std::uint8_t(n >> 8), std::uint8_t(n >> 16), std::uint8_t(n >> 24)};
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

CText readText(const Bytes& bytes, std::int32_t* rest = nullptr)
{
    CMemoryReader reader(bytes.data(), bytes.size());
    CText text("unset");
    CErrorPtr err = reader.readString(text);
    EXPECT_FALSE(err) << (err ? err->details() : "");
    if (rest)
        *rest = reader.remaining();
    return text;
}

} // namespace

TEST(StreamEncoding, NumbersAreLittleEndianByteForByte)
{
    struct Case
    {
        const char* what;
        std::function<CErrorPtr(COutputStream&)> op;
        Bytes bytes;
    };
    const Case cases[] = {
        {"int", [](COutputStream& s) { return s.writeInt(0x12345678); }, {0x78, 0x56, 0x34, 0x12}},
        {"negative int", [](COutputStream& s) { return s.writeInt(-2); }, {0xFE, 0xFF, 0xFF, 0xFF}},
        {"uint", [](COutputStream& s) { return s.writeUInt(0x80000001u); }, {1, 0, 0, 0x80}},
        {"int64",
         [](COutputStream& s) { return s.writeInt64(0x0102030405060708); },
         {8, 7, 6, 5, 4, 3, 2, 1}},
        {"double 1",
         [](COutputStream& s) { return s.writeDouble(1.0); },
         {0, 0, 0, 0, 0, 0, 0xF0, 0x3F}},
        {"double -0",
         [](COutputStream& s) { return s.writeDouble(-0.0); },
         {0, 0, 0, 0, 0, 0, 0, 0x80}},
        {"float 1", [](COutputStream& s) { return s.writeFloat(1.0f); }, {0, 0, 0x80, 0x3F}},
        {"float -2.5", [](COutputStream& s) { return s.writeFloat(-2.5f); }, {0, 0, 0x20, 0xC0}},
        {"block",
         [](COutputStream& s)
         {
             const std::uint8_t b[] = {9, 8, 7};
             return s.writeBlock(b, 3);
         },
         {3, 0, 0, 0, 9, 8, 7}},
        {"empty block", [](COutputStream& s) { return s.writeBlock(nullptr, 0); }, {0, 0, 0, 0}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(written(c.op), c.bytes) << c.what;

    // And back.
    const Bytes in = {0x78, 0x56, 0x34, 0x12, 0xFE, 0xFF, 0xFF, 0xFF, 8, 7, 6,    5,
                      4,    3,    2,    1,    0,    0,    0,    0,    0, 0, 0xF0, 0x3F,
                      0,    0,    0x20, 0xC0, 3,    0,    0,    0,    9, 8, 7};
    CMemoryReader r(in.data(), in.size());
    std::int32_t i = 0, j = 0;
    std::int64_t l = 0;
    double d = 0;
    float f = 0;
    std::vector<std::uint8_t> block;
    ASSERT_FALSE(r.readInt(i));
    ASSERT_FALSE(r.readInt(j));
    ASSERT_FALSE(r.readInt64(l));
    ASSERT_FALSE(r.readDouble(d));
    ASSERT_FALSE(r.readFloat(f));
    ASSERT_FALSE(r.readBlock(block));
    EXPECT_EQ(i, 0x12345678);
    EXPECT_EQ(j, -2);
    EXPECT_EQ(l, 0x0102030405060708);
    EXPECT_EQ(d, 1.0);
    EXPECT_EQ(f, -2.5f);
    EXPECT_EQ(block, (Bytes{9, 8, 7}));
    EXPECT_EQ(r.remaining(), 0);
}

TEST(StreamEncoding, TypedOperationsAddTheirOwnTrailEntry)
{
    struct Case
    {
        const char* name;
        std::function<CErrorPtr(CInputStream&)> op;
    };
    const Case cases[] = {
        {"CInputStream::readInt",
         [](CInputStream& s)
         {
             std::int32_t v;
             return s.readInt(v);
         }},
        {"CInputStream::readInt64",
         [](CInputStream& s)
         {
             std::int64_t v;
             return s.readInt64(v);
         }},
        {"CInputStream::readDouble",
         [](CInputStream& s)
         {
             double v;
             return s.readDouble(v);
         }},
        {"CInputStream::readFloat",
         [](CInputStream& s)
         {
             float v;
             return s.readFloat(v);
         }},
        {"CInputStream::readBlock",
         [](CInputStream& s)
         {
             std::vector<std::uint8_t> v;
             return s.readBlock(v);
         }},
        {"CInputStream::readString",
         [](CInputStream& s)
         {
             CText v;
             return s.readString(v);
         }},
        {"CInputStream::readCompressedData",
         [](CInputStream& s)
         {
             CByteBuffer v;
             return s.readCompressedData(1, v);
         }},
    };
    const std::uint8_t two[] = {1, 0};
    for (const Case& c : cases)
    {
        CMemoryReader r(two, sizeof two);
        CErrorPtr err = c.op(r);
        ASSERT_TRUE(err) << c.name;
        EXPECT_EQ(err->id(), "zelstr_CMemoryReader_read_EOF") << c.name;
        EXPECT_NE(err->trail().back().find(std::string(" ) // ") + c.name), std::string::npos)
            << c.name << ": " << err->details();
        EXPECT_EQ(r.position(), 0) << c.name;
    }
}

TEST(StreamEncoding, NegativeBlockLengthFails)
{
    const Bytes in = {0xFF, 0xFF, 0xFF, 0xFF};
    CMemoryReader r(in.data(), in.size());
    std::vector<std::uint8_t> block;
    CErrorPtr err = r.readBlock(block);
    ASSERT_TRUE(err);
    EXPECT_EQ(err->id(), "zelstr_CInputStream_readBlock_InvalidLength");
    EXPECT_NE(err->text().find("-1"), std::string::npos);
}

TEST(StreamEncoding, TextIsWrittenUnitByUnitAsUtf8)
{
    struct Case
    {
        CText text;
        Bytes utf8;
    };
    const Case cases[] = {
        {CText(""), {}},
        {CText("A"), {0x41}},
        {CText("\xE9"), {0xC3, 0xA9}},          // Latin-1 e-acute in an 8-bit text
        {CText(u"\u00E9"), {0xC3, 0xA9}},       // the same in a 16-bit text
        {CText(u"\u07FF"), {0xDF, 0xBF}},       // last 2-byte unit
        {CText(u"\u0800"), {0xE0, 0xA0, 0x80}}, // first 3-byte unit
        {CText(u"\u20AC"), {0xE2, 0x82, 0xAC}}, // euro sign
        {CText(u"\uFFFF"), {0xEF, 0xBF, 0xBF}},
        // A surrogate pair goes out as two 3-byte sequences, one per unit.
        {CText(std::u16string{0xD83D, 0xDE00}), {0xED, 0xA0, 0xBD, 0xED, 0xB8, 0x80}},
    };
    for (const Case& c : cases)
    {
        EXPECT_EQ(written([&](COutputStream& s) { return s.writeString(c.text); }),
                  lengthPrefixed(c.utf8))
            << c.text.toUtf8();
        EXPECT_EQ(readText(lengthPrefixed(c.utf8)), c.text) << c.text.toUtf8();
    }
    // The empty text is exactly four zero bytes.
    EXPECT_EQ(written([](COutputStream& s) { return s.writeString(CText()); }), Bytes(4, 0));
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
        {"ascii", {'a', 'b', 'c'}, u"abc", false},
        {"latin-1 stays 8-bit", {'c', 0xC3, 0xA9}, u"c\u00E9", false},
        {"U+0100 switches to 16-bit", {'a', 0xC4, 0x80}, u"a\u0100", true},
        {"euro", {'a', 0xE2, 0x82, 0xAC, 'b'}, u"a\u20ACb", true},
        {"4-byte sequence becomes a surrogate pair", {0xF0, 0x9F, 0x98, 0x80}, u"\U0001F600", true},
        {"stops at code point 0", {'a', 'b', 0, 'c', 'd'}, u"ab", false},
        {"stops at overlong code point 0", {'x', 0xC0, 0x80, 'y'}, u"x", false},
        {"stops at a continuation byte as lead", {'a', 'b', 0x80, 'c'}, u"ab", false},
        {"stops at lead 0xF8", {'a', 0xF8, 'c'}, u"a", false},
        {"stops at lead 0xFF", {'a', 0xFF}, u"a", false},
        {"stops at a cut-off 3-byte sequence", {'a', 'b', 0xE2, 0x82}, u"ab", false},
        {"stops at a cut-off 2-byte sequence", {'a', 0xC3}, u"a", false},
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
    {
        const Bytes in = {0xFF, 0xFF, 0xFF, 0xFF, 'a', 'b'};
        std::int32_t rest = -1;
        const CText text = readText(in, &rest);
        EXPECT_TRUE(text.empty());
        EXPECT_EQ(rest, 2);
    }
    for (const std::int32_t length : {1, 32, 33, 61439, 61440})
    {
        const Bytes in = lengthPrefixed(Bytes(static_cast<std::size_t>(length), 'x'));
        EXPECT_EQ(readText(in).size(), static_cast<std::size_t>(length));
    }
    const Bytes tooLong = lengthPrefixed(Bytes(61441, 'x'));
    CMemoryReader r(tooLong.data(), tooLong.size());
    CText text;
    CErrorPtr err = r.readString(text);
    ASSERT_TRUE(err);
    EXPECT_EQ(err->id(), "zelstr_CInputStream_readString_StringDataTooLong");
    EXPECT_EQ(err->text(), "String length 61441 too long in readString().");
}

TEST(StreamEncoding, LongTextsCrossTheStagingArea)
{
    // 3-byte units around the 128-byte staging size, and long mixed texts.
    for (const std::size_t units : {41u, 42u, 43u, 44u, 85u, 86u, 1000u, 20480u})
    {
        std::u16string s;
        for (std::size_t i = 0; i < units; ++i)
            s.push_back(static_cast<char16_t>(0x20AC + (i % 7)));
        const CText text(s);
        const Bytes out = written([&](COutputStream& st) { return st.writeString(text); });
        ASSERT_EQ(out.size(), 4 + units * 3) << units;
        EXPECT_EQ(readText(out), text) << units;
    }
    std::string mixed;
    for (int i = 0; i < 61440 / 3 * 2; ++i)
        mixed.push_back(static_cast<char>(i % 2 ? 'q' : 0xE9)); // 2 + 1 bytes per pair
    const CText text(mixed);
    const Bytes out = written([&](COutputStream& st) { return st.writeString(text); });
    EXPECT_EQ(out.size(), 4u + 61440u); // the longest text a reader accepts
    const CText back = readText(out);
    EXPECT_FALSE(back.isWide());
    EXPECT_EQ(back, text);
}
