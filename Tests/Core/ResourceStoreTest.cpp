// The resource store: built-in lookup, readers over payloads and files, error trails.

#include "Core/ResourceStore.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace
{

using zel::CErrorPtr;
using zel::CResourceReader;

bool trailHas(const zel::CError& err, const std::string& what)
{
    for (const std::string& entry : err.trail())
        if (entry.find(what) != std::string::npos)
            return true;
    return false;
}

TEST(ResourceStore, BuiltInPayloadIsReadInPlace)
{
    for (const char* name : {"SharedData.xml", "UserInterface.xml"})
    {
        zel::SResourcePayload payload;
        ASSERT_TRUE(zel::findBuiltInResource(name, payload)) << name;
        // A compiled description starts with N and L; its table lies inside the payload.
        ASSERT_GE(payload.size, 12u);
        const std::uint32_t tableLength = payload.data[4] | (payload.data[5] << 8) |
                                          (payload.data[6] << 16) |
                                          (std::uint32_t{payload.data[7]} << 24);
        EXPECT_LE(8u + tableLength, payload.size) << name;

        std::unique_ptr<CResourceReader> reader;
        ASSERT_FALSE(zel::openResource(name, reader));
        EXPECT_TRUE(reader->isBuiltIn());
        EXPECT_EQ(reader->payloadAddress(), payload.data);
        EXPECT_EQ(reader->getMemoryAddress(), payload.data);
        std::int64_t size = 0;
        ASSERT_FALSE(reader->getSize(size));
        EXPECT_EQ(static_cast<std::size_t>(size), payload.size);

        std::vector<std::uint8_t> bytes(payload.size);
        ASSERT_FALSE(reader->read(bytes.data(), bytes.size()));
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), payload.data));
        EXPECT_EQ(reader->getMemoryAddress(), nullptr);

        std::uint8_t extra = 0;
        const CErrorPtr err = reader->read(&extra, 1);
        ASSERT_TRUE(err);
        EXPECT_EQ(err->id(), "zelstr_CMemoryReader_read_EOF");
        EXPECT_TRUE(trailHas(*err, "CResourceReader::read"));
        ASSERT_FALSE(reader->setPosition(4));
        EXPECT_EQ(reader->getMemoryAddress(), payload.data + 4);
    }
    EXPECT_EQ(zel::builtInResources().count("no-such-resource"), 0u);
}

TEST(ResourceStore, OtherNamesOpenAsFiles)
{
    std::random_device rd;
    const auto path =
        std::filesystem::temp_directory_path() / ("kelv_res_" + std::to_string(rd()) + ".bin");
    {
        std::ofstream out(path, std::ios::binary);
        out << "abc";
    }
    std::unique_ptr<CResourceReader> reader;
    ASSERT_FALSE(zel::openResource(path.string(), reader));
    EXPECT_FALSE(reader->isBuiltIn());
    EXPECT_EQ(reader->payloadAddress(), nullptr);
    EXPECT_EQ(reader->getMemoryAddress(), nullptr);
    char text[3] = {};
    ASSERT_FALSE(reader->read(text, 3));
    EXPECT_EQ(std::string(text, 3), "abc");
    const CErrorPtr past = reader->read(text, 1);
    ASSERT_TRUE(past);
    EXPECT_TRUE(trailHas(*past, "CResourceReader::read"));
    reader.reset();
    std::filesystem::remove(path);

    const CErrorPtr err = zel::openResource(path.string(), reader);
    ASSERT_TRUE(err);
    EXPECT_EQ(reader, nullptr);
    EXPECT_EQ(err->id(), "zelstr_CFileReader_open_OpenError");
    EXPECT_TRUE(trailHas(*err, "CFileReader::open"));
    EXPECT_TRUE(trailHas(*err, "CResourceReader::open"));
}

} // namespace
