#include "Audio/AudioParam.h"

#include "Audio/AudioTestSupport.h"
#include "Core/MemoryReader.h"
#include "Core/MemoryWriteBuffer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zel
{
namespace
{

using kelvtest::CRecordBytes;
using kelvtest::idAndText;

constexpr std::uint64_t kZero = 0;
constexpr std::uint64_t kMinusSix = 0xC018000000000000ULL;
constexpr std::uint64_t kTwelve = 0x4028000000000000ULL;
constexpr std::uint64_t kOneHundred = 0x4059000000000000ULL;
constexpr std::uint64_t kMinusSixty = 0xC04E000000000000ULL;

std::vector<std::uint8_t> saved(const CAudioParam& param, const char* path, std::int32_t group)
{
    CMemoryWriteBuffer out;
    EXPECT_FALSE(param.saveRecord(out, path, group));
    return out.toVector();
}

CErrorPtr loadRecord(CAudioParam& param, const std::vector<std::uint8_t>& bytes, std::int32_t group,
                     CText* path = nullptr)
{
    CMemoryReader in(bytes.data(), bytes.size());
    return param.loadRecord(in, group, path);
}

class AudioParamRecordTest : public kelvtest::CAudioTest
{
protected:
    std::vector<ktest::CFakeChild> converters() const override
    {
        return {{"audio:cvt-real", "real", {}, {}}, {"audio:cvt-text", "text", {}, {}}};
    }
    std::shared_ptr<const CAudioParamInfo> plain(const std::string& defaults = "0")
    {
        return define("element-size=1|converter=/cvt.real|min-values=-60|max-values=12|"
                      "def-values=" +
                      defaults);
    }
    std::shared_ptr<const CAudioParamInfo> strings()
    {
        return define("element-size=1|data-type=string|converter=/cvt.text|def-values=L,R;IN3,IN4");
    }
};

TEST_F(AudioParamRecordTest, FloatRecordsMatchTheStoredLayout)
{
    CAudioParam param(plain(), 8);
    CRecordBytes all;
    all.str("audio.modMain.modKelvatrone.rms").i32(1).i32(1).i32(0).i32(8);
    for (int g = 0; g < 8; ++g)
        all.i32(1).f64bits(kZero);
    EXPECT_EQ(saved(param, "audio.modMain.modKelvatrone.rms", -1), all.bytes);

    ASSERT_FALSE(param.setValue(3, 0, 0, -6.0));
    CRecordBytes one;
    one.str("a.b").i32(1).i32(1).i32(0).i32(1).i32(1).f64bits(kMinusSix);
    EXPECT_EQ(saved(param, "a.b", 3), one.bytes);

    // A curve: element size 2, several elements per group.
    CAudioParam curve(define("element-size=2|converter=/cvt.real|converter2=/cvt.real|"
                             "min-values=-60 -60|max-values=100 100|def-values=-6 12,100 -60|"
                             "is-single-group=true"),
                      4);
    CRecordBytes two;
    two.str("c").i32(1).i32(2).i32(0).i32(1).i32(2);
    two.f64bits(kMinusSix).f64bits(kTwelve).f64bits(kOneHundred).f64bits(kMinusSixty);
    EXPECT_EQ(saved(curve, "c", -1), two.bytes);
}

TEST_F(AudioParamRecordTest, StringRecordsCarryARenumberedItemTable)
{
    CAudioParam param(strings(), 2);
    // The instance's own ids are not 1..n after an edit; stored ids are.
    ASSERT_FALSE(param.setString(0, 0, "Mid"));
    CRecordBytes all;
    all.str("s").i32(1).i32(1).i32(1).i32(2);
    all.i32(4);
    all.i32(1).i32(1).str("Mid");
    all.i32(2).i32(1).str("R");
    all.i32(3).i32(1).str("IN3");
    all.i32(4).i32(1).str("IN4");
    all.i32(2).i32(1).i32(2).i32(2).i32(3).i32(4);
    EXPECT_EQ(saved(param, "s", -1), all.bytes);

    CAudioParam other(strings(), 2);
    ASSERT_FALSE(other.setString(1, 1, "Old"));
    CText path;
    ASSERT_FALSE(loadRecord(other, all.bytes, -1, &path));
    EXPECT_EQ(path.toUtf8(), "s");
    EXPECT_EQ(other.string(0, 0).toUtf8(), "Mid");
    EXPECT_EQ(other.string(0, 1).toUtf8(), "R");
    EXPECT_EQ(other.string(1, 1).toUtf8(), "IN4");
    EXPECT_EQ(other.data().size(), 4u); // the replaced items are dropped

    // An id missing from the table loads as no item.
    CRecordBytes dangling;
    dangling.str("s").i32(1).i32(1).i32(1).i32(1).i32(0).i32(1).i32(9);
    ASSERT_FALSE(loadRecord(other, dangling.bytes, 0));
    EXPECT_EQ(other.string(0, 0).toUtf8(), "");
}

TEST_F(AudioParamRecordTest, RawRecordsRoundTrip)
{
    const auto info = define("element-size=1|data-type=raw|converter=/cvt.text|def-values=xy");
    CAudioParam param(info, 1);
    ASSERT_FALSE(param.setRawBlock(0, 0, {0, 255, 7}));
    CRecordBytes expected;
    expected.str("r").i32(1).i32(1).i32(2).i32(1).i32(1).i32(1).i32(2).i32(3);
    expected.raw({0, 255, 7}).i32(1).i32(1);
    EXPECT_EQ(saved(param, "r", -1), expected.bytes);

    CAudioParam copy(info, 1);
    ASSERT_FALSE(loadRecord(copy, expected.bytes, -1));
    EXPECT_EQ(copy.rawBlock(0, 0), (std::vector<std::uint8_t>{0, 255, 7}));
}

TEST_F(AudioParamRecordTest, FewerStoredGroupsFillTheRestWithTheLastOne)
{
    CAudioParam param(plain("1;2;3"), 3);
    CRecordBytes single; // group count 1, value -6
    single.str("g").i32(1).i32(1).i32(0).i32(1).i32(1).f64bits(kMinusSix);
    ASSERT_FALSE(loadRecord(param, single.bytes, -1));
    for (int g = 0; g < 3; ++g)
        EXPECT_EQ(param.value(g, 0, 0), -6.0) << g;

    CRecordBytes pair; // groups 12, 0: group 2 takes the last stored one
    pair.str("g").i32(1).i32(1).i32(0).i32(2).i32(1).f64bits(kTwelve).i32(1).f64bits(kZero);
    ASSERT_FALSE(loadRecord(param, pair.bytes, -1));
    EXPECT_EQ(param.elements(0), std::vector<double>{12.0});
    EXPECT_EQ(param.elements(1), std::vector<double>{0.0});
    EXPECT_EQ(param.elements(2), std::vector<double>{0.0});

    // Into one group: that group's stored values; the others are untouched.
    ASSERT_FALSE(param.setValue(0, 0, 0, 5.0));
    ASSERT_FALSE(loadRecord(param, single.bytes, 2));
    EXPECT_EQ(param.elements(0), std::vector<double>{5.0});
    EXPECT_EQ(param.elements(2), std::vector<double>{-6.0});
    ASSERT_FALSE(loadRecord(param, pair.bytes, 0));
    EXPECT_EQ(param.elements(0), std::vector<double>{12.0});
}

TEST_F(AudioParamRecordTest, LoadedValuesAreClampedToTheRange)
{
    CAudioParam param(plain(), 2);
    CRecordBytes bytes;
    bytes.str("g").i32(1).i32(1).i32(0).i32(2);
    bytes.i32(1).f64bits(kOneHundred).i32(1).f64bits(0xC059000000000000ULL); // 100, -100
    ASSERT_FALSE(loadRecord(param, bytes.bytes, -1));
    EXPECT_EQ(param.value(0, 0, 0), 12.0);
    EXPECT_EQ(param.value(1, 0, 0), -60.0);
}

TEST_F(AudioParamRecordTest, BadRecordsFailAndKeepTheValues)
{
    struct Case
    {
        const char* what;
        std::vector<std::uint8_t> bytes;
        std::string expected;
    };
    auto head = [](std::int32_t version, std::int32_t size, std::int32_t type)
    { return CRecordBytes().str("g").i32(version).i32(size).i32(type); };
    const std::vector<Case> cases = {
        {"version", head(2, 1, 0).i32(1).i32(1).f64bits(kZero).bytes,
         "zelstr_CAudioParamStorage_load_Version: Unsupported data set version 2."},
        {"element size", head(1, 2, 0).i32(1).i32(1).f64bits(kZero).f64bits(kZero).bytes,
         "zelstr_CAudioParamStorage_load_Format: Unsupported storage format (esize=2, dtype=0; "
         "should be: esize=1, dtype=0)."},
        {"data type", head(1, 1, 1).i32(0).i32(1).i32(0).bytes,
         "zelstr_CAudioParamStorage_load_Format: Unsupported storage format (esize=1, dtype=1; "
         "should be: esize=1, dtype=0)."},
        {"group count", head(1, 1, 0).i32(0).bytes,
         "zelstr_CAudioParamStorage_load_GroupCount: Invalid group count 0."},
        {"element count", head(1, 1, 0).i32(1).i32(-1).bytes,
         "zelstr_CAudioParamStorage_load_ElementCount: Invalid element count -1."},
        {"huge element count", head(1, 1, 0).i32(1).i32(0x7FFFFFFF).f64bits(kZero).bytes, ""},
        {"second group cut", head(1, 1, 0).i32(2).i32(1).f64bits(kTwelve).i32(1).bytes, ""},
    };
    for (const Case& c : cases)
    {
        CAudioParam param(plain("-6"), 2);
        const CErrorPtr err = loadRecord(param, c.bytes, -1);
        ASSERT_TRUE(err) << c.what;
        EXPECT_TRUE(c.expected.empty() || idAndText(err) == c.expected) << idAndText(err);
        EXPECT_EQ(param.value(0, 0, 0), -6.0) << c.what;
        EXPECT_EQ(param.value(1, 0, 0), -6.0) << c.what;
    }

    CAudioParam text(strings(), 1);
    CRecordBytes unknown;
    unknown.str("s").i32(1).i32(1).i32(1).i32(1).i32(1).i32(1).i32(3).str("x");
    const CErrorPtr err = loadRecord(text, unknown.bytes, -1);
    EXPECT_EQ(idAndText(err),
              "zelstr_CAudioParamStorage_load_DataType: Unknown data type 3 encountered");
    EXPECT_EQ(text.string(0, 0).toUtf8(), "L");
    EXPECT_EQ(text.data().size(), 2u);
}

TEST_F(AudioParamRecordTest, InformationRecordsRoundTripAndMatchTheLayout)
{
    const auto info = define("element-size=1|converter=/cvt.real|min-values=-60|max-values=12|"
                             "def-values=0;-6|is-storable=true|is-discrete=true");
    CMemoryWriteBuffer out;
    ASSERT_FALSE(info->save(out));
    CRecordBytes expected;
    // A storable parameter is global too.
    expected.i32(1).i32(1).i32(1).i32(0).i32(1).i32(0);
    expected.str(info->visualName.toUtf8())
        .str(info->paramName.toUtf8())
        .str(info->registryName.toUtf8());
    expected.i32(1).i32(0).i32(0).i32(0).i32(0);
    expected.str("real").f64bits(kMinusSixty).f64bits(kTwelve);
    expected.i32(2).i32(1).f64bits(kZero).i32(1).f64bits(kMinusSix);
    EXPECT_EQ(out.toVector(), expected.bytes);

    CObject* scope = m_root->findObject("cvt");
    ASSERT_NE(scope, nullptr);
    CAudioParamInfo loaded;
    CMemoryReader in(expected.bytes.data(), expected.bytes.size());
    const CErrorPtr err = loaded.load(in, *scope);
    ASSERT_FALSE(err) << idAndText(err);
    EXPECT_TRUE(loaded.defined && loaded.storable && loaded.discrete && loaded.global);
    EXPECT_FALSE(loaded.persistent || loaded.undoDisabled || loaded.singleGroup);
    EXPECT_EQ(loaded.converter(0), info->converter(0));
    EXPECT_EQ(loaded.maxValue(0), 12.0);
    EXPECT_EQ(loaded.defaultSet(1), std::vector<double>{-6.0});

    // String defaults travel as items.
    const auto text = strings();
    CMemoryWriteBuffer textOut;
    ASSERT_FALSE(text->save(textOut));
    CAudioParamInfo textLoaded;
    const auto textBytes = textOut.toVector();
    CMemoryReader textIn(textBytes.data(), textBytes.size());
    ASSERT_FALSE(textLoaded.load(textIn, *scope));
    CMemoryWriteBuffer again;
    ASSERT_FALSE(textLoaded.save(again));
    EXPECT_EQ(again.toVector(), textBytes);
    EXPECT_EQ(textLoaded.defaultData().size(), 4u);
}

TEST_F(AudioParamRecordTest, BadInformationRecordsFailCleanly)
{
    CObject* scope = m_root->findObject("cvt");
    ASSERT_NE(scope, nullptr);
    const auto head = []
    {
        CRecordBytes b;
        b.i32(1).i32(0).i32(0).i32(0).i32(0).i32(0).str("v").str("p").str("r");
        return b;
    };
    const std::vector<std::pair<std::vector<std::uint8_t>, std::string>> cases = {
        {CRecordBytes().i32(0).bytes, "no error"},
        {CRecordBytes().i32(7).bytes,
         "zelstr_CAudioParamInfo_load_Version: Unsupported data set version 7."},
        {head().i32(1).i32(0).i32(0).i32(0).i32(0).str("nope").f64bits(0).f64bits(0).i32(0).bytes,
         "zelstr_CAudioParamInfo_load_NotFound: Audio parameter converter 'nope' not found."},
        {head().i32(1).i32(5).bytes,
         "zelstr_CAudioParamInfo_load_DataType: Unknown data type 5 encountered"},
    };
    for (const auto& [bytes, expected] : cases)
    {
        CAudioParamInfo loaded;
        CMemoryReader in(bytes.data(), bytes.size());
        EXPECT_EQ(idAndText(loaded.load(in, *scope)), expected);
        EXPECT_FALSE(loaded.defined);
    }
}

} // namespace
} // namespace zel
