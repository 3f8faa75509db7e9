// The memory reader's bounds and messages, and the write buffer's block chain.
#include "Core/MemoryReader.h"
#include "Core/MemoryWriteBuffer.h"
#include "Support/ErrorText.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

using namespace zel;

TEST(MemoryReader, ReadAndConsumeStopAtTheEndAndKeepThePosition)
{
    const std::uint8_t data[] = {1, 2, 3, 4, 5};
    CMemoryReader r(data, 4);
    std::uint8_t out[8] = {};
    ASSERT_FALSE(r.read(out, 2));
    EXPECT_EQ(r.getMemoryAddress(), data + 2);
    EXPECT_EQ(kelvtest::idAndText(r.read(out, 3)),
              "zelstr_CMemoryReader_read_EOF: Premature end of memory resource while reading "
              "(pos 2, count 3, size 4).");
    EXPECT_EQ(kelvtest::idAndText(r.consume(3)),
              "zelstr_CMemoryReader_consume_EOF: Premature end of memory resource while "
              "consuming (pos 2, count 3, size 4).");
    EXPECT_EQ(r.position(), 2);

    ASSERT_FALSE(r.consume(2));
    EXPECT_EQ(r.getMemoryAddress(), nullptr); // at the end
    EXPECT_FALSE(r.read(out, 0));             // 0 bytes at the end succeed
    EXPECT_TRUE(r.read(out, 1));
    EXPECT_EQ(r.position(), 4);
    // A count that would overflow a naive pos + count check still fails cleanly.
    ASSERT_FALSE(r.setPosition(1));
    EXPECT_TRUE(r.read(out, SIZE_MAX));
    EXPECT_EQ(r.position(), 1);
    // Streamed reads take what is there; positions stay inside the data.
    std::size_t got = 99;
    ASSERT_FALSE(r.readStreamed(out, 8, got));
    EXPECT_EQ(got, 3u);
    EXPECT_EQ(out[2], 4);
    ASSERT_FALSE(r.readStreamed(out, 8, got));
    EXPECT_EQ(got, 0u);
    EXPECT_TRUE(r.setPosition(5));
    EXPECT_TRUE(r.setPosition(-1));
    EXPECT_TRUE(CMemoryReader(nullptr, 10).read(out, 1));
}

TEST(MemoryWriteBuffer, GrowsByTheStepOrTheMissingLengthAndDoublesTheStep)
{
    CMemoryWriteBuffer b(16);
    const std::vector<std::uint8_t> payload(200, 0xAB);
    struct Step
    {
        std::size_t count, blocks, lastOffset, lastCapacity, step;
    };
    const Step steps[] = {
        {10, 1, 0, 16, 16},   // missing 10 < 16: one step
        {10, 2, 16, 16, 16},  // end 20, missing 4: one step
        {100, 3, 32, 88, 32}, // end 120, missing 88 >= 16: exactly the missing length, step doubles
        {1, 4, 120, 32, 32},  // end 121, missing 1: the doubled step
        {31, 4, 120, 32, 32}, // end 152 fits exactly
        {32, 5, 152, 32, 64}, // missing 32 >= 32: missing length, step doubles again
    };
    std::size_t end = 0;
    for (const Step& s : steps)
    {
        ASSERT_FALSE(b.write(payload.data(), s.count));
        end += s.count;
        ASSERT_EQ(b.blockCount(), s.blocks) << end;
        EXPECT_EQ(b.blockOffset(s.blocks - 1), s.lastOffset) << end;
        EXPECT_EQ(b.blockCapacity(s.blocks - 1), s.lastCapacity) << end;
        EXPECT_EQ(b.growthStep(), s.step) << end;
        EXPECT_EQ(b.length(), end);
    }
}

TEST(MemoryWriteBuffer, KeepsBlockAddressesAndContentWhileGrowing)
{
    CMemoryWriteBuffer b(2048);
    std::vector<std::uint8_t> oracle;
    std::vector<const std::uint8_t*> addresses;
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round)
    {
        std::vector<std::uint8_t> chunk(rng() % 3000);
        for (auto& c : chunk)
            c = static_cast<std::uint8_t>(rng());
        ASSERT_FALSE(b.write(chunk.data(), chunk.size()));
        oracle.insert(oracle.end(), chunk.begin(), chunk.end());
        for (std::size_t i = 0; i < addresses.size(); ++i)
            ASSERT_EQ(b.blockData(i), addresses[i]) << "block " << i << " moved";
        for (std::size_t i = addresses.size(); i < b.blockCount(); ++i)
            addresses.push_back(b.blockData(i));
    }
    EXPECT_GT(b.blockCount(), 5u);
    EXPECT_EQ(b.toVector(), oracle);
    for (std::size_t i = 0; i < b.blockCount(); ++i)
        ASSERT_EQ(std::memcmp(b.blockData(i), oracle.data() + b.blockOffset(i), b.blockLength(i)),
                  0);
    std::vector<std::uint8_t> slice(5000);
    ASSERT_TRUE(b.copyTo(1000, slice.data(), slice.size()));
    EXPECT_TRUE(std::equal(slice.begin(), slice.end(), oracle.begin() + 1000));
    EXPECT_FALSE(b.copyTo(oracle.size() - 1, slice.data(), 2));
    CMemoryWriteBuffer copy(64);
    ASSERT_FALSE(b.writeTo(copy));
    EXPECT_EQ(copy.toVector(), oracle);
}

TEST(MemoryWriteBuffer, OverwritesInPlaceAfterSetPosition)
{
    CMemoryWriteBuffer b(4);
    ASSERT_FALSE(b.write("abcd", 4));   // a block of the step, 4
    ASSERT_FALSE(b.write("efghij", 6)); // a block of the missing 6
    const std::uint8_t* first = b.blockData(0);
    ASSERT_FALSE(b.setPosition(2));
    ASSERT_FALSE(b.write("XYZ", 3)); // crosses the boundary between the first two blocks
    std::int64_t position = 0, size = 0;
    ASSERT_FALSE(b.getPosition(position) || b.getSize(size));
    EXPECT_EQ(position, 5);
    EXPECT_EQ(size, 10);
    const auto all = b.toVector();
    EXPECT_EQ(std::string(all.begin(), all.end()), "abXYZfghij");
    EXPECT_EQ(b.blockData(0), first);
    EXPECT_TRUE(b.setPosition(11)); // only positions up to the end
    ASSERT_FALSE(b.setPosition(10));
    ASSERT_FALSE(b.write("!", 1));
    EXPECT_EQ(b.length(), 11u);
    b.clear();
    EXPECT_EQ(b.length() + b.blockCount(), 0u);
    EXPECT_EQ(b.growthStep(), 4u);
}
