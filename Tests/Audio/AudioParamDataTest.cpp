#include "Audio/AudioParamData.h"

#include "Core/MemoryReader.h"
#include "Core/MemoryWriteBuffer.h"

#include <gtest/gtest.h>

#include <vector>

namespace zel
{
namespace
{

TEST(AudioParamData, RawItemsSaveALengthAndTheirBytes)
{
    const CAudioParamDataItemRaw item({0xAA, 0xBB, 0xCC});
    CMemoryWriteBuffer out;
    ASSERT_FALSE(item.save(out));
    EXPECT_EQ(out.toVector(), (std::vector<std::uint8_t>{3, 0, 0, 0, 0xAA, 0xBB, 0xCC}));

    const std::vector<std::uint8_t> good = {2, 0, 0, 0, 7, 8};
    CMemoryReader reader(good.data(), good.size());
    CAudioParamDataItemRaw loaded;
    ASSERT_FALSE(loaded.load(reader));
    EXPECT_EQ(loaded.bytes(), (std::vector<std::uint8_t>{7, 8}));

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

TEST(AudioParamData, ItemsRoundTripThroughStreamsByTypeCode)
{
    std::vector<std::unique_ptr<CAudioParamDataItem>> items;
    items.push_back(std::make_unique<CAudioParamDataItemString>(CText(u"Gr\u00fc\u00dfe \u4e2d")));
    items.push_back(std::make_unique<CAudioParamDataItemString>(""));
    items.push_back(std::make_unique<CAudioParamDataItemRaw>(std::vector<std::uint8_t>{}));
    for (const auto& item : items)
    {
        CMemoryWriteBuffer out;
        ASSERT_FALSE(out.writeInt(item->typeCode()));
        ASSERT_FALSE(item->save(out));
        const std::vector<std::uint8_t> bytes = out.toVector();
        CMemoryReader in(bytes.data(), bytes.size());
        std::int32_t code = 0;
        ASSERT_FALSE(in.readInt(code));
        std::unique_ptr<CAudioParamDataItem> loaded = CAudioParamDataItem::createOfType(code);
        ASSERT_NE(loaded, nullptr);
        ASSERT_FALSE(loaded->load(in));
        CMemoryWriteBuffer again;
        ASSERT_FALSE(again.writeInt(loaded->typeCode()));
        ASSERT_FALSE(loaded->save(again));
        EXPECT_EQ(again.toVector(), bytes);
    }
    EXPECT_EQ(CAudioParamDataItem::createOfType(0), nullptr);
    EXPECT_EQ(CAudioParamDataItem::createOfType(3), nullptr);
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
