#include "Audio/AudioVizData.h"
#include "Audio/AudioTestSupport.h"
#include "Core/MemoryReader.h"
#include "Core/MemoryWriteBuffer.h"

#include <string>

namespace kelvtest
{
namespace
{

std::vector<std::uint8_t> written(const zel::CAudioVizData& record)
{
    zel::CMemoryWriteBuffer out;
    EXPECT_EQ(idAndText(record.write(out)), "no error");
    return out.toVector();
}

// Kind code and a common header (source 2, channel 1, slot 7, time 0.5, flags 1).
CRecordBytes header(std::int32_t kind)
{
    CRecordBytes b;
    b.i32(kind).i32(2).i32(1).i32(7).f64bits(0x3FE0000000000000ull).i32(1);
    return b;
}

template <class T>
std::unique_ptr<T> withHeader()
{
    auto record = std::make_unique<T>();
    record->sourceIndex = 2;
    record->channel = 1;
    record->slot = 7;
    record->time = 0.5;
    record->flags = 1;
    return record;
}

struct CKindCase
{
    const char* name;
    zel::CAudioVizDataPtr record;
    std::vector<std::uint8_t> bytes;
};

// One record of every kind with its bytes assembled by hand.
std::vector<CKindCase> kindCases()
{
    std::vector<CKindCase> cases;
    auto meter = withHeader<zel::CAudioVizDataMeter>();
    meter->level = 1.0;
    meter->peak = 2.0;
    cases.push_back(
        {"meter", std::move(meter),
         header(0).f64bits(0x3FF0000000000000ull).f64bits(0x4000000000000000ull).bytes});
    auto info = withHeader<zel::CAudioVizDataInfo>();
    info->text = zel::CText("band 3");
    info->value = -5;
    cases.push_back({"info", std::move(info), header(1).str("band 3").i32(-5).bytes});
    auto spectrum = withHeader<zel::CAudioVizDataSpectrum>();
    spectrum->mode = 4;
    spectrum->samples = {9, 8, 7};
    spectrum->sampleRate = 44100.0;
    spectrum->firstBin = 10;
    spectrum->binCount = 3;
    spectrum->scale = -1.0;
    cases.push_back({"spectrum", std::move(spectrum),
                     header(3)
                         .i32(4)
                         .i32(3)
                         .raw({9, 8, 7})
                         .f64bits(0x40E5888000000000ull) // 44100.0
                         .i32(10)
                         .i32(3)
                         .f64bits(0xBFF0000000000000ull) // -1.0
                         .bytes});
    auto rgb = withHeader<zel::CAudioVizDataRGB>();
    rgb->red = 0.25;
    rgb->green = 0.5;
    cases.push_back(
        {"rgb", std::move(rgb),
         header(4).f64bits(0x3FD0000000000000ull).f64bits(0x3FE0000000000000ull).f64bits(0).bytes});
    return cases;
}

TEST(AudioVizDataTest, EachKindWritesItsLayoutAndReadsBackByKindCode)
{
    for (const CKindCase& c : kindCases())
    {
        SCOPED_TRACE(c.name);
        const zel::CAudioVizDataPtr& record = c.record;
        EXPECT_EQ(written(*record), c.bytes);

        zel::CMemoryReader in(c.bytes.data(), c.bytes.size());
        zel::CAudioVizDataPtr back;
        ASSERT_EQ(idAndText(zel::readVizData(in, back)), "no error");
        EXPECT_EQ(in.remaining(), 0);
        EXPECT_EQ(back->kind(), record->kind());
        EXPECT_EQ(written(*back), c.bytes);
    }
}

TEST(AudioVizDataTest, EveryTruncationOfEveryKindIsAnErrorAndNoRecord)
{
    for (const CKindCase& c : kindCases())
        for (std::size_t cut = 0; cut < c.bytes.size(); ++cut)
        {
            SCOPED_TRACE(std::string(c.name) + " cut at " + std::to_string(cut));
            zel::CMemoryReader in(c.bytes.data(), cut);
            zel::CAudioVizDataPtr back;
            EXPECT_NE(zel::readVizData(in, back), nullptr);
            EXPECT_EQ(back, nullptr);
        }
}

TEST(AudioVizDataTest, UnknownKindEndsTheBatchKeepingTheRecordsBeforeIt)
{
    for (std::int32_t kind : {2, 5, -1})
    {
        SCOPED_TRACE(kind);
        CRecordBytes b;
        b.raw(kindCases()[0].bytes).raw(kindCases()[3].bytes).raw(header(kind).bytes);
        b.raw(kindCases()[0].bytes);
        zel::CAudioVizDataList records;
        EXPECT_EQ(idAndText(zel::readVizDataBatch(b.bytes.data(), b.bytes.size(), records)),
                  "zelstr_CAudioVizData_create_UnknownKind: Unknown visualisation data kind " +
                      std::to_string(kind) + ".");
        ASSERT_EQ(records.size(), 2u);
        EXPECT_EQ(records[0]->kind(), zel::CAudioVizData::kKindMeter);
        EXPECT_EQ(records[1]->kind(), zel::CAudioVizData::kKindRGB);
    }
}

TEST(AudioVizDataTest, VizDataBlockReadsEntriesToTheEndAndChecksTheirCounts)
{
    const std::vector<std::uint8_t> meter = kindCases()[0].bytes;
    const std::vector<std::uint8_t> info = kindCases()[1].bytes;
    auto block = [&](std::int32_t secondCount)
    {
        CRecordBytes b;
        b.f64bits(0x4000000000000000ull); // time 2.0
        b.i32(11).str("plugin.m").i32(0).i32(2).i32(0);
        b.i32(static_cast<std::int32_t>(meter.size() + info.size())).raw(meter).raw(info);
        b.i32(12).str("plugin.n").i32(3).i32(secondCount).i32(5);
        b.i32(static_cast<std::int32_t>(meter.size())).raw(meter);
        return b.bytes;
    };

    const std::vector<std::uint8_t> good = block(1);
    zel::CMemoryReader in(good.data(), good.size());
    double time = 0;
    std::vector<zel::CAudioVizEntry> entries;
    ASSERT_EQ(idAndText(zel::readVizDataBlock(in, time, entries)), "no error");
    EXPECT_EQ(time, 2.0);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].listenerId, 11);
    EXPECT_EQ(entries[0].source, zel::CText("plugin.m"));
    EXPECT_EQ(entries[0].records.size(), 2u);
    EXPECT_EQ(entries[1].slot, 3);
    EXPECT_EQ(entries[1].dropped, 5);
    EXPECT_EQ(entries[1].records[0]->kind(), zel::CAudioVizData::kKindMeter);

    const std::vector<std::uint8_t> bad = block(2);
    zel::CMemoryReader badIn(bad.data(), bad.size());
    entries.clear();
    EXPECT_EQ(idAndText(zel::readVizDataBlock(badIn, time, entries)),
              "zelstr_CAudioVizData_readBlock_CountMismatch: Visualisation entry 12 announces 2 "
              "records but holds 1.");
    EXPECT_EQ(entries.size(), 1u);
}

} // namespace
} // namespace kelvtest
