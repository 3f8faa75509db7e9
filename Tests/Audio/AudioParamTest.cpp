#include "Audio/AudioParam.h"
#include "Audio/AudioParamData.h"

#include "Audio/AudioTestSupport.h"
#include "Core/MemoryReader.h"
#include "Core/MemoryWriteBuffer.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace zel
{
namespace
{

using kelvtest::contents;
using kelvtest::CRecordBytes;
using kelvtest::dbToFactor;
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

struct CRecordingListener : CAudioParamListener
{
    void onAudioParamChanged(CAudioParam& param, std::int32_t group, std::int32_t origin) override
    {
        groups.push_back(group);
        origins.push_back(origin);
        // Another thread must be able to take the lock: it is released before listeners run.
        bool entered = false;
        std::thread other(
            [&]
            {
                entered = param.lock().tryEnter();
                if (entered)
                    param.lock().leave();
            });
        other.join();
        lockFree.push_back(entered);
    }
    std::vector<std::int32_t> groups;
    std::vector<std::int32_t> origins;
    std::vector<bool> lockFree;
};

class AudioParamTest : public kelvtest::CAudioTest
{
protected:
    std::vector<ktest::CFakeChild> converters() const override
    {
        return {{"audio:cvt-freq", "freq", {}, {}},
                {"audio:cvt-gain", "gain", {{"decimals", "1"}}, {}},
                {"audio:cvt-real", "real", {}, {}},
                {"audio:cvt-text", "text", {}, {}}};
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

    std::shared_ptr<const CAudioParamInfo> gainInfo(const std::string& extra = "")
    {
        return define("element-size=1|converter=/cvt.gain|min-values=-60|max-values=12|"
                      "def-values=0;-6" +
                      extra);
    }
};

TEST_F(AudioParamTest, WritesClampAndBadAddressesAreErrors)
{
    CAudioParam param(gainInfo(), 2);
    ASSERT_FALSE(param.setValue(1, 0, 0, 100.0));
    EXPECT_NEAR(param.value(1, 0, 0), dbToFactor(12), 1e-12);
    const std::array<std::int32_t, 3> bad[] = {{2, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    for (const auto& [group, element, index] : bad)
    {
        const CErrorPtr err = param.setValue(group, element, index, 1.0);
        EXPECT_EQ(err ? err->text() : "no error",
                  "Invalid parameter value address (" + std::to_string(group) + ", " +
                      std::to_string(element) + ", " + std::to_string(index) + ").");
        EXPECT_EQ(param.value(group, element, index), 0.0);
    }
}

TEST_F(AudioParamTest, NormalisedAndTextAccessGoThroughTheConverter)
{
    CAudioParam param(gainInfo(), 1);
    ASSERT_FALSE(param.setNormValue(0, 0, 0, 60.0 / 72.0)); // -60 dB + 60 dB
    EXPECT_NEAR(param.value(0, 0, 0), 1.0, 1e-12);
    EXPECT_NEAR(param.normValue(0, 0, 0), 60.0 / 72.0, 1e-12);

    bool ok = false;
    ASSERT_FALSE(param.setText(0, 0, 0, "-20", &ok));
    EXPECT_TRUE(ok);
    EXPECT_NEAR(param.value(0, 0, 0), 0.1, 1e-12);
    EXPECT_EQ(param.text(0, 0, 0).toUtf8(), "-20.0");
    ASSERT_FALSE(param.setText(0, 0, 0, "loud", &ok));
    EXPECT_FALSE(ok);
    EXPECT_NEAR(param.value(0, 0, 0), 0.1, 1e-12);
}

TEST_F(AudioParamTest, CurveElementsAreReplacedWholeAndClamped)
{
    CAudioParam param(define("element-size=2|converter=/cvt.freq|converter2=/cvt.gain|"
                             "min-values=20 -66|max-values=20000 6|def-values=20 0,1000 -6"),
                      2);
    EXPECT_EQ(contents(param), "20,1,1000,0.501187|20,1,1000,0.501187");
    ASSERT_FALSE(param.setElements(0, {10, 1, 500, 1, 30000, 100}));
    EXPECT_EQ(contents(param), "20,1,500,1,20000,1.99526|20,1,1000,0.501187");
    EXPECT_NEAR(param.value(0, 2, 1), dbToFactor(6), 1e-12);
    EXPECT_TRUE(param.setElements(0, {1, 2, 3})); // not whole elements
    EXPECT_EQ(param.elementCount(0), 3);
    EXPECT_NEAR(param.normValue(1, 1, 0), std::log(50.0) / std::log(1000.0), 1e-12);

    CAudioParam single(gainInfo("|is-single-element=true"), 1);
    EXPECT_EQ(single.elementCount(0), 1);
    EXPECT_TRUE(single.setElements(0, {1.0, 1.0}));
    EXPECT_FALSE(single.setElements(0, {0.5}));
}

TEST_F(AudioParamTest, StringsAndRawBlocksLiveInThePerInstanceDataTable)
{
    const auto info = strings();
    CAudioParam param(info, 3);
    EXPECT_EQ(contents(param), "L,R|IN3,IN4|IN3,IN4"); // a third group takes the last set
    EXPECT_EQ(param.text(2, 1, 0).toUtf8(), "IN4");
    EXPECT_EQ(param.data().size(), 6u);
    EXPECT_EQ(info->defaultData().size(), 4u);

    ASSERT_FALSE(param.setString(0, 1, "Side"));
    EXPECT_EQ(contents(param), "L,Side|IN3,IN4|IN3,IN4");
    EXPECT_EQ(param.data().size(), 6u); // the old item is dropped
    EXPECT_EQ(param.string(0, 7).toUtf8(), "");
    EXPECT_TRUE(param.setRawBlock(0, 0, {1, 2}));

    CAudioParam second(info, 1);
    ASSERT_FALSE(second.setValue(0, 0, 0, 999.0));
    EXPECT_EQ(second.string(0, 0).toUtf8(), ""); // an id naming no item reads as empty

    CAudioParam raw(define("element-size=1|data-type=raw|converter=/cvt.text|def-values=xy"), 1);
    EXPECT_EQ(raw.rawBlock(0, 0), (std::vector<std::uint8_t>{'x', 'y'}));
    ASSERT_FALSE(raw.setRawBlock(0, 0, {0, 255, 7}));
    EXPECT_EQ(raw.rawBlock(0, 0), (std::vector<std::uint8_t>{0, 255, 7}));
    EXPECT_TRUE(raw.setString(0, 0, "no"));
}

TEST_F(AudioParamTest, ListenersHearEveryChangeAfterTheLockIsReleased)
{
    CAudioParam single(gainInfo("|is-single-group=true"), 4);
    EXPECT_EQ(single.groupCount(), 1);
    CRecordingListener listener;
    single.addListener(&listener);
    single.addListener(&listener);                  // registered once
    ASSERT_FALSE(single.setValue(3, 0, 0, 0.5, 7)); // every group index names the one group
    EXPECT_DOUBLE_EQ(single.value(0, 0, 0), 0.5);
    ASSERT_FALSE(single.setNormValue(0, 0, 0, 0.0, 2));
    single.resetToDefaults(3);
    EXPECT_DOUBLE_EQ(single.value(2, 0, 0), 1.0);
    EXPECT_EQ(listener.groups, (std::vector<std::int32_t>{0, 0, 0}));
    EXPECT_EQ(listener.origins, (std::vector<std::int32_t>{7, 2, 3}));
    EXPECT_EQ(listener.lockFree, (std::vector<bool>{true, true, true}));

    single.removeListener(&listener);
    ASSERT_FALSE(single.setValue(0, 0, 0, 0.5));
    EXPECT_EQ(listener.groups.size(), 3u);
}

TEST_F(AudioParamTest, FloatRecordsMatchTheStoredLayout)
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

TEST_F(AudioParamTest, StringRecordsCarryARenumberedItemTable)
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
    EXPECT_EQ(contents(other), "Mid,R|IN3,IN4");
    EXPECT_EQ(other.data().size(), 4u); // the replaced items are dropped

    // An id missing from the table loads as no item.
    CRecordBytes dangling;
    dangling.str("s").i32(1).i32(1).i32(1).i32(1).i32(0).i32(1).i32(9);
    ASSERT_FALSE(loadRecord(other, dangling.bytes, 0));
    EXPECT_EQ(other.string(0, 0).toUtf8(), "");
}

TEST_F(AudioParamTest, RawRecordsRoundTrip)
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

TEST_F(AudioParamTest, StoredGroupsAreClampedAndFewerFillTheRestWithTheLastOne)
{
    CAudioParam param(plain("1;2;3"), 3);
    CRecordBytes single; // group count 1, value -6
    single.str("g").i32(1).i32(1).i32(0).i32(1).i32(1).f64bits(kMinusSix);
    ASSERT_FALSE(loadRecord(param, single.bytes, -1));
    EXPECT_EQ(contents(param), "-6|-6|-6");

    // Groups 100, -100, clamped to the range [-60, 12]; group 2 takes the last stored one.
    CRecordBytes pair;
    pair.str("g").i32(1).i32(1).i32(0).i32(2);
    pair.i32(1).f64bits(kOneHundred).i32(1).f64bits(0xC059000000000000ULL);
    ASSERT_FALSE(loadRecord(param, pair.bytes, -1));
    EXPECT_EQ(contents(param), "12|-60|-60");

    // Into one group: that group's stored values; the others are untouched.
    ASSERT_FALSE(param.setValue(0, 0, 0, 5.0));
    ASSERT_FALSE(loadRecord(param, single.bytes, 2));
    EXPECT_EQ(contents(param), "5|-60|-6");
    ASSERT_FALSE(loadRecord(param, pair.bytes, 0));
    EXPECT_EQ(contents(param), "12|-60|-6");
}

TEST_F(AudioParamTest, BadRecordsFailAndKeepTheValues)
{
    auto head = [](std::int32_t version, std::int32_t size, std::int32_t type)
    { return CRecordBytes().str("g").i32(version).i32(size).i32(type); };
    // {what, bytes, error (empty: any)}
    const std::tuple<const char*, std::vector<std::uint8_t>, std::string> cases[] = {
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
    for (const auto& [what, bytes, expected] : cases)
    {
        CAudioParam param(plain("-6"), 2);
        const CErrorPtr err = loadRecord(param, bytes, -1);
        ASSERT_TRUE(err) << what;
        EXPECT_TRUE(expected.empty() || idAndText(err) == expected) << idAndText(err);
        EXPECT_EQ(contents(param), "-6|-6") << what;
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

TEST_F(AudioParamTest, InformationRecordsRoundTripAndMatchTheLayout)
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
    EXPECT_TRUE(loaded.defined);
    EXPECT_EQ(loaded.converter(0), info->converter(0));
    CMemoryWriteBuffer again;
    ASSERT_FALSE(loaded.save(again));
    EXPECT_EQ(again.toVector(), expected.bytes);
}

TEST_F(AudioParamTest, BadInformationRecordsFailCleanly)
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

TEST(AudioParamData, BadRawItemsFailAndKeepTheirBytes)
{
    const std::vector<std::vector<std::uint8_t>> bad = {
        {5, 0, 0, 0, 1, 2},       // shorter than its length
        {0xFF, 0xFF, 0xFF, 0xFF}, // negative length
        {0xFF, 0xFF, 0xFF, 0x7F}, // huge length, no bytes
        {1, 0},                   // truncated length
    };
    for (const auto& bytes : bad)
    {
        CMemoryReader badReader(bytes.data(), bytes.size());
        CAudioParamDataItemRaw target({9});
        EXPECT_TRUE(target.load(badReader));
        EXPECT_EQ(target.bytes(), std::vector<std::uint8_t>{9}); // unchanged on failure
    }
}

TEST(AudioParamData, CopyingAValueClonesItsItemUnderTheDestinationsNextId)
{
    CAudioParamData source;
    const std::int32_t a = source.add(std::make_unique<CAudioParamDataItemString>("A"));
    const std::int32_t b = source.add(std::make_unique<CAudioParamDataItemString>("B"));
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, 2);

    CAudioParamData target;
    target.add(std::make_unique<CAudioParamDataItemRaw>());
    target.add(std::make_unique<CAudioParamDataItemRaw>());
    target.remove(2); // ids are never reused: the counter keeps running
    const double copied = target.copyValueFrom(source, static_cast<double>(b));
    EXPECT_EQ(copied, 3.0);
    const auto* item = dynamic_cast<const CAudioParamDataItemString*>(target.find(3));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->text().toUtf8(), "B");
    EXPECT_NE(item, source.find(b)); // a clone, not a share

    // A value naming no item copies as no item and takes no id.
    EXPECT_EQ(target.copyValueFrom(source, 17.0), 0.0);
    EXPECT_EQ(target.copyValueFrom(source, -1.0), 0.0);
    EXPECT_EQ(target.copyValueFrom(source, 1.0e12), 0.0);
    EXPECT_EQ(target.nextId(), 4);
}

} // namespace
} // namespace zel
