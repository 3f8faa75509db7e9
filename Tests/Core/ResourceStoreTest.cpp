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

bool trailHas(const CErrorPtr& err, const std::string& what)
{
    if (!err)
        return false;
    for (const std::string& entry : err->trail())
        if (entry.find(what) != std::string::npos)
            return true;
    return false;
}

TEST(ResourceStore, BuiltInPayloadIsReadInPlace)
{
    zel::SResourcePayload payload;
    ASSERT_TRUE(zel::findBuiltInResource("UserInterface.xml", payload));
    std::unique_ptr<CResourceReader> reader;
    ASSERT_FALSE(zel::openResource("UserInterface.xml", reader));
    EXPECT_TRUE(reader->isBuiltIn());
    EXPECT_EQ(reader->payloadAddress(), payload.data);
    std::int64_t size = 0;
    ASSERT_FALSE(reader->getSize(size));
    EXPECT_EQ(static_cast<std::size_t>(size), payload.size);
    std::vector<std::uint8_t> bytes(payload.size);
    ASSERT_FALSE(reader->read(bytes.data(), bytes.size()));
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), payload.data));
    EXPECT_EQ(reader->getMemoryAddress(), nullptr);
    const CErrorPtr err = reader->read(bytes.data(), 1);
    ASSERT_TRUE(err);
    EXPECT_EQ(err->id(), "zelstr_CMemoryReader_read_EOF");
    EXPECT_TRUE(trailHas(err, "CResourceReader::read"));
    ASSERT_FALSE(reader->setPosition(4));
    EXPECT_EQ(reader->getMemoryAddress(), payload.data + 4);
    EXPECT_EQ(zel::builtInResources().count("no-such-resource"), 0u);
}

TEST(ResourceStore, OtherNamesOpenAsFiles)
{
    const auto path = std::filesystem::temp_directory_path() /
                      ("kelv_res_" + std::to_string(std::random_device()()) + ".bin");
    std::ofstream(path, std::ios::binary) << "abc";
    std::unique_ptr<CResourceReader> reader;
    ASSERT_FALSE(zel::openResource(path.string(), reader));
    EXPECT_FALSE(reader->isBuiltIn());
    EXPECT_EQ(reader->getMemoryAddress(), nullptr);
    char text[3] = {};
    ASSERT_FALSE(reader->read(text, 3));
    EXPECT_EQ(std::string(text, 3), "abc");
    EXPECT_TRUE(trailHas(reader->read(text, 1), "CResourceReader::read"));
    reader.reset();
    std::filesystem::remove(path);
    const CErrorPtr err = zel::openResource(path.string(), reader);
    ASSERT_TRUE(err);
    EXPECT_EQ(reader, nullptr);
    EXPECT_EQ(err->id(), "zelstr_CFileReader_open_OpenError");
    EXPECT_TRUE(trailHas(err, "CResourceReader::open"));
}

} // namespace
