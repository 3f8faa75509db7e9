#include "Audio/AudioPreset.h"
#include "Audio/AudioPresetBank.h"

#include "Audio/AudioTestSupport.h"
#include "Core/MemoryReader.h"
#include "Core/MemoryWriteBuffer.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace zel
{
namespace
{

using kelvtest::CRecordBytes;

// The parameter record of the example entry: 8 groups of one element 0.0.
std::vector<std::uint8_t> rmsRecord()
{
    CRecordBytes b;
    b.str("audio.modMain.modKelvatrone.rms").i32(1).i32(1).i32(0).i32(8);
    for (int g = 0; g < 8; ++g)
        b.i32(1).f64bits(0);
    return b.bytes;
}

CAudioPreset examplePreset()
{
    CAudioPreset preset;
    preset.name = "KVTR:Init";
    preset.entries[CText("modKelvatrone.rms")] = rmsRecord();
    preset.entries[CText("modGain.gain")] = {1, 2, 3};
    preset.entries[CText("empty")] = {};
    return preset;
}

std::vector<std::uint8_t> examplePresetBytes()
{
    const auto rms = rmsRecord();
    CRecordBytes b;
    b.str("KVTR:Init").i32(3);
    b.str("empty").i32(0);
    b.str("modGain.gain").i32(3).raw({1, 2, 3});
    b.str("modKelvatrone.rms").i32(static_cast<std::int32_t>(rms.size())).raw(rms);
    return b.bytes;
}

template <typename T>
std::vector<std::uint8_t> saved(const T& record)
{
    CMemoryWriteBuffer out;
    EXPECT_FALSE(record.save(out));
    return out.toVector();
}

TEST(AudioPresetTest, PresetRecordsStoreEntriesInAscendingKeyOrder)
{
    EXPECT_EQ(rmsRecord().size(), 4u + 31u + 16u + 8u * 12u);
    const auto bytes = examplePresetBytes();
    EXPECT_EQ(saved(examplePreset()), bytes);

    CAudioPreset loaded;
    CMemoryReader in(bytes.data(), bytes.size());
    ASSERT_FALSE(loaded.load(in));
    EXPECT_EQ(in.remaining(), 0);
    EXPECT_EQ(loaded.name.toUtf8(), "KVTR:Init");
    EXPECT_EQ(loaded.entries, examplePreset().entries);
}

TEST(AudioPresetTest, BanksAndBankListsRoundTrip)
{
    CAudioPresetBank bank;
    bank.name = "Session Bank";
    bank.presets = {examplePreset(), CAudioPreset()};
    bank.presets[1].name = "KVTR:Second";

    const auto preset = examplePresetBytes();
    CRecordBytes expectedBank;
    expectedBank.str("Session Bank").i32(2).raw(preset).str("KVTR:Second").i32(0);
    EXPECT_EQ(saved(bank), expectedBank.bytes);

    CAudioPresetBank empty;
    empty.name = "Other";
    CMemoryWriteBuffer listOut;
    ASSERT_FALSE(CAudioPresetBank::saveList(listOut, {bank, empty}));
    CRecordBytes expectedList;
    expectedList.i32(2).raw(expectedBank.bytes).str("Other").i32(0);
    EXPECT_EQ(listOut.toVector(), expectedList.bytes);

    std::vector<CAudioPresetBank> banks;
    CMemoryReader in(expectedList.bytes.data(), expectedList.bytes.size());
    ASSERT_FALSE(CAudioPresetBank::loadList(in, banks));
    ASSERT_EQ(banks.size(), 2u);
    EXPECT_EQ(banks[0].name.toUtf8(), "Session Bank");
    ASSERT_EQ(banks[0].presets.size(), 2u);
    EXPECT_EQ(banks[0].presets[0].entries, examplePreset().entries);
    EXPECT_EQ(banks[0].presets[1].name.toUtf8(), "KVTR:Second");
    EXPECT_EQ(banks[1].name.toUtf8(), "Other");
}

TEST(AudioPresetTest, EveryTruncationOfAPresetRecordFailsAndKeepsThePreset)
{
    const auto bytes = examplePresetBytes();
    for (std::size_t length = 0; length < bytes.size(); ++length)
    {
        CAudioPreset preset = examplePreset();
        preset.name = "kept";
        CMemoryReader in(bytes.data(), length);
        ASSERT_TRUE(preset.load(in)) << length;
        EXPECT_EQ(preset.name.toUtf8(), "kept") << length;
        EXPECT_EQ(preset.entries.size(), 3u) << length;
    }
}

TEST(AudioPresetTest, CorruptCountsFailWithoutHugeAllocations)
{
    // Each loader reads bytes and must fail; an empty expectation only asks for a failure.
    const auto preset = [](CMemoryReader& in)
    {
        CAudioPreset p;
        return p.load(in);
    };
    const auto bank = [](CMemoryReader& in)
    {
        CAudioPresetBank b;
        b.name = "kept";
        CErrorPtr err = b.load(in);
        EXPECT_EQ(b.name.toUtf8(), "kept");
        return err;
    };
    const auto list = [](CMemoryReader& in)
    {
        std::vector<CAudioPresetBank> banks(1);
        CErrorPtr err = CAudioPresetBank::loadList(in, banks);
        EXPECT_EQ(banks.size(), 1u);
        return err;
    };
    const struct
    {
        std::function<CErrorPtr(CMemoryReader&)> loader;
        std::vector<std::uint8_t> bytes;
        std::string expected;
    } cases[] = {
        {preset, CRecordBytes().str("p").i32(-1).bytes,
         "zelstr_CAudioPreset_load_EntryCount: Invalid preset entry count -1."},
        {preset, CRecordBytes().str("p").i32(1).str("k").i32(-5).bytes,
         "zelstr_CAudioPreset_load_BlobLength: Invalid parameter record length -5."},
        {preset, CRecordBytes().str("p").i32(0x7FFFFFFF).str("k").i32(0).bytes, ""},
        {preset, CRecordBytes().str("p").i32(1).str("k").i32(0x7FFFFFFF).i32(0).bytes, ""},
        {bank, CRecordBytes().str("b").i32(-2).bytes,
         "zelstr_CAudioPresetBank_load_PresetCount: Invalid preset count -2."},
        {bank, CRecordBytes().str("b").i32(0x7FFFFFFF).str("p").i32(0).bytes, ""},
        {list, CRecordBytes().i32(-1).bytes,
         "zelstr_CAudioPresetBank_loadList_BankCount: Invalid bank count -1."},
    };
    for (const auto& c : cases)
    {
        CMemoryReader in(c.bytes.data(), c.bytes.size());
        const CErrorPtr err = c.loader(in);
        ASSERT_TRUE(err) << c.bytes.size();
        EXPECT_TRUE(c.expected.empty() || kelvtest::idAndText(err) == c.expected)
            << kelvtest::idAndText(err);
    }
}

} // namespace
} // namespace zel
