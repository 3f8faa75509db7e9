#include "Audio/AudioPreset.h"
#include "Audio/AudioPresetBank.h"

#include "Audio/AudioTestSupport.h"
#include "Core/AppDataTestSupport.h"
#include "Core/MemoryReader.h"
#include "Core/MemoryWriteBuffer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <tuple>
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

CAudioPresetBank exampleBank()
{
    CAudioPresetBank bank;
    bank.name = "Session Bank";
    bank.presets = {examplePreset(), CAudioPreset()};
    bank.presets[1].name = "KVTR:Second";
    return bank;
}

template <typename T>
std::vector<std::uint8_t> saved(const T& record)
{
    CMemoryWriteBuffer out;
    EXPECT_FALSE(record.save(out));
    return out.toVector();
}

TEST(AudioPresetTest, PresetsBanksAndBankListsMatchTheStoredLayout)
{
    EXPECT_EQ(rmsRecord().size(), 4u + 31u + 16u + 8u * 12u);
    const auto bytes = examplePresetBytes();
    EXPECT_EQ(saved(examplePreset()), bytes);
    CAudioPreset loaded;
    CMemoryReader in(bytes.data(), bytes.size());
    ASSERT_FALSE(loaded.load(in));
    EXPECT_EQ(in.remaining(), 0);
    EXPECT_EQ(saved(loaded), bytes);

    CRecordBytes expectedBank;
    expectedBank.str("Session Bank").i32(2).raw(bytes).str("KVTR:Second").i32(0);
    EXPECT_EQ(saved(exampleBank()), expectedBank.bytes);
    CAudioPresetBank empty;
    empty.name = "Other";
    CMemoryWriteBuffer listOut;
    ASSERT_FALSE(CAudioPresetBank::saveList(listOut, {exampleBank(), empty}));
    CRecordBytes expectedList;
    expectedList.i32(2).raw(expectedBank.bytes).str("Other").i32(0);
    EXPECT_EQ(listOut.toVector(), expectedList.bytes);

    std::vector<CAudioPresetBank> banks;
    CMemoryReader listIn(expectedList.bytes.data(), expectedList.bytes.size());
    ASSERT_FALSE(CAudioPresetBank::loadList(listIn, banks));
    ASSERT_EQ(banks.size(), 2u);
    EXPECT_EQ(saved(banks[0]), expectedBank.bytes);
    EXPECT_EQ(saved(banks[1]), saved(empty));
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
    const auto preset = [](CMemoryReader& in) { return CAudioPreset().load(in); };
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
    const std::tuple<std::function<CErrorPtr(CMemoryReader&)>, std::vector<std::uint8_t>,
                     std::string>
        cases[] = {
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
    for (const auto& [loader, bytes, expected] : cases)
    {
        CMemoryReader in(bytes.data(), bytes.size());
        const CErrorPtr err = loader(in);
        ASSERT_TRUE(err) << bytes.size();
        EXPECT_TRUE(expected.empty() || kelvtest::idAndText(err) == expected)
            << kelvtest::idAndText(err);
    }
}

class AudioPresetFiles : public ::testing::Test
{
protected:
    void SetUp() override { std::filesystem::create_directories(m_dir); }
    void TearDown() override { std::filesystem::remove_all(m_dir); }
    CText path(const std::string& leaf) const { return CText((m_dir / leaf).string()); }
    std::vector<std::uint8_t> contents(const std::string& leaf) const
    {
        return ktest::readFile(m_dir / leaf);
    }

    const std::filesystem::path m_dir = std::filesystem::temp_directory_path() /
                                        ("kelv_presets_" + std::to_string(std::random_device()()));
};

TEST_F(AudioPresetFiles, PresetsBanksAndListsRoundTrip)
{
    // A file is one block holding the record under its tag, taken apart here with zlib alone.
    ASSERT_FALSE(examplePreset().saveFile(path("p.cpf")));
    EXPECT_EQ(ktest::openBlock(contents("p.cpf")),
              std::make_pair(std::string("aprs"), examplePresetBytes()));
    CAudioPreset preset;
    ASSERT_FALSE(preset.loadFile(path("p.cpf")));
    EXPECT_EQ(saved(preset), examplePresetBytes());

    ASSERT_FALSE(exampleBank().saveFile(path("b.cbf")));
    EXPECT_EQ(ktest::openBlock(contents("b.cbf")),
              std::make_pair(std::string("abnk"), saved(exampleBank())));
    CAudioPresetBank bank;
    ASSERT_FALSE(bank.loadFile(path("b.cbf")));
    EXPECT_EQ(saved(bank), saved(exampleBank()));

    // Blocks follow each other on one stream; each load stops at its own block's end.
    CMemoryWriteBuffer out;
    ASSERT_FALSE(CAudioPresetBank::saveListBlock(out, {exampleBank(), CAudioPresetBank()}));
    ASSERT_FALSE(exampleBank().saveBlock(out));
    const auto bytes = out.toVector();
    CMemoryReader in(bytes.data(), bytes.size());
    std::vector<CAudioPresetBank> banks;
    ASSERT_FALSE(CAudioPresetBank::loadListBlock(in, banks));
    ASSERT_EQ(banks.size(), 2u);
    EXPECT_EQ(saved(banks[0]), saved(exampleBank()));
    ASSERT_FALSE(bank.loadBlock(in));
    EXPECT_EQ(in.remaining(), 0);
}

TEST_F(AudioPresetFiles, DamagedOrForeignDataIsRefusedAndChangesNothing)
{
    ASSERT_FALSE(exampleBank().saveFile(path("b.cbf")));
    ASSERT_FALSE(examplePreset().saveFile(path("p.cpf")));
    const auto presetFile = contents("p.cpf");
    const auto kept = [&](const CAudioPreset& p) { return saved(p) == examplePresetBytes(); };

    CAudioPreset preset = examplePreset();
    EXPECT_EQ(kelvtest::idAndText(preset.loadFile(path("b.cbf"))).substr(0, 51),
              "zelstr_CInputStream_readCompressedData_InvalidData:");
    EXPECT_TRUE(kept(preset));
    CAudioPresetBank bank = exampleBank();
    EXPECT_TRUE(bank.loadFile(path("p.cpf")));
    EXPECT_TRUE(preset.loadFile(path("missing.cpf")));
    EXPECT_EQ(saved(bank), saved(exampleBank()));

    std::vector<std::uint8_t> longer = presetFile;
    longer.push_back(0);
    ktest::writeFile(m_dir / "long.cpf", longer);
    EXPECT_EQ(kelvtest::idAndText(preset.loadFile(path("long.cpf"))).substr(0, 42),
              "zelstr_CAudioPreset_readFile_TrailingData:");

    // A block whose content has a byte after the record.
    std::vector<std::uint8_t> plain = examplePresetBytes();
    plain.push_back(7);
    CMemoryWriteBuffer out;
    ASSERT_FALSE(out.writeCompressedData(makeBlockId("aprs"), plain.data(), plain.size()));
    const auto block = out.toVector();
    CMemoryReader in(block.data(), block.size());
    preset.name = "kept";
    EXPECT_EQ(kelvtest::idAndText(preset.loadBlock(in)),
              "zelstr_CAudioPreset_readTaggedBlock_TrailingData: Block 'aprs' holds 1 bytes "
              "after its record.");
    EXPECT_EQ(preset.name.toUtf8(), "kept");
}

} // namespace
} // namespace zel
