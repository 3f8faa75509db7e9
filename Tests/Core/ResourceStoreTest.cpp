// The resource store: built-in payloads read in place, other names read as files, error trails.

#include "Core/ResourceStore.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace
{

bool trailHas(const zel::CErrorPtr& err, const std::string& what)
{
    if (!err)
        return false;
    for (const std::string& entry : err->trail())
        if (entry.find(what) != std::string::npos)
            return true;
    return false;
}

TEST(ResourceStore, BuiltInPayloadsAreReadInPlaceOtherNamesAsFiles)
{
    zel::SResourcePayload payload;
    ASSERT_TRUE(zel::findBuiltInResource("UserInterface.xml", payload));
    std::unique_ptr<zel::CResourceReader> reader;
    ASSERT_FALSE(zel::openResource("UserInterface.xml", reader));
    EXPECT_TRUE(reader->isBuiltIn());
    EXPECT_EQ(reader->payloadAddress(), payload.data);
    std::int64_t size = 0;
    ASSERT_FALSE(reader->getSize(size));
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    ASSERT_FALSE(reader->read(bytes.data(), bytes.size()));
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), payload.data, payload.data + payload.size));
    EXPECT_EQ(reader->getMemoryAddress(), nullptr);
    EXPECT_TRUE(trailHas(reader->read(bytes.data(), 1), "CResourceReader::read"));
    ASSERT_FALSE(reader->setPosition(4));
    EXPECT_EQ(reader->getMemoryAddress(), payload.data + 4);

    const auto path = std::filesystem::temp_directory_path() /
                      ("kelv_res_" + std::to_string(std::random_device()()) + ".bin");
    std::ofstream(path, std::ios::binary) << "abc";
    ASSERT_FALSE(zel::openResource(path.string(), reader));
    EXPECT_FALSE(reader->isBuiltIn());
    EXPECT_EQ(reader->getMemoryAddress(), nullptr);
    char text[3] = {};
    ASSERT_FALSE(reader->read(text, 3));
    EXPECT_EQ(std::string(text, 3), "abc");
    EXPECT_TRUE(trailHas(reader->read(text, 1), "CResourceReader::read"));
    reader.reset();
    std::filesystem::remove(path);
    const zel::CErrorPtr err = zel::openResource(path.string(), reader);
    EXPECT_EQ(reader, nullptr);
    EXPECT_TRUE(trailHas(err, "CResourceReader::open"));
    EXPECT_EQ(err ? err->id() : "", "zelstr_CFileReader_open_OpenError");
}

} // namespace
