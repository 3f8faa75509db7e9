// File streams over real files in a temporary folder: modes, positions, messages.
#include "Core/FileStreams.h"
#include "Support/ErrorText.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

using namespace zel;
using kelvtest::idAndText;
namespace fs = std::filesystem;

namespace
{

class FileStreams : public ::testing::Test
{
protected:
    void SetUp() override { fs::create_directories(m_dir); }
    void TearDown() override { fs::remove_all(m_dir); }
    std::string path(const std::string& leaf) const { return (m_dir / leaf).string(); }
    static std::string contents(const std::string& p)
    {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    const fs::path m_dir =
        fs::temp_directory_path() / ("kelv_files_" + std::to_string(std::random_device()()));
};

} // namespace

TEST_F(FileStreams, AppendCreatesAMissingFileAndRewriteTruncates)
{
    const std::string p = path("state.bin");
    CFileWriter w;
    ASSERT_FALSE(w.open(CText(p), CFile::kShareRead, true) || w.write("abc", 3) || w.close());
    EXPECT_EQ(contents(p), "abc");
    ASSERT_FALSE(w.open(CText(p), 0, true));
    std::int64_t v = -1;
    ASSERT_FALSE(w.getPosition(v));
    EXPECT_EQ(v, 3); // appending starts at the end
    // Set position works while appending.
    ASSERT_FALSE(w.write("def", 3) || w.setPosition(1) || w.write("B", 1) || w.getSize(v));
    EXPECT_EQ(v, 6);
    ASSERT_FALSE(w.close());
    EXPECT_EQ(contents(p), "aBcdef");
    ASSERT_FALSE(w.open(CText(p), 0, false) || w.write("z", 1) || w.close());
    EXPECT_EQ(contents(p), "z");
}

TEST_F(FileStreams, ReaderReadsConsumesAndPositions)
{
    const std::string p = path("data.bin");
    std::ofstream(p, std::ios::binary) << "0123456789";
    CFileReader r;
    char out[16] = {};
    std::int64_t position = 0, size = 0;
    ASSERT_FALSE(r.open(CText(p), CFile::kShareRead) || r.read(out, 2) || r.consume(3) ||
                 r.getPosition(position) || r.getSize(size));
    EXPECT_EQ(position, 5);
    EXPECT_EQ(size, 10);
    std::size_t got = 0;
    ASSERT_FALSE(r.readStreamed(out, 16, got));
    EXPECT_EQ(std::string(out, got), "56789");
    ASSERT_FALSE(r.readStreamed(out, 16, got));
    EXPECT_EQ(got, 0u);
    ASSERT_FALSE(r.setPosition(4));
    EXPECT_EQ(idAndText(r.read(out, 10)), "zelstr_CFileReader_read_ReadBeyondEnd: Unable to read "
                                          "from file '" +
                                              p + "' (required 10 bytes, read 6 bytes).");
}

TEST_F(FileStreams, FailuresNameTheFileAndCarryTheSystemError)
{
    const std::string missing = path("missing.cpf");
    const std::string folder = m_dir.string();
    const std::string badf = " (error " + std::to_string(EBADF) + ").";
    CFileReader r;
    EXPECT_EQ(idAndText(r.open(CText(missing), 3)),
              "zelstr_CFileReader_open_OpenError: Unable to open file '" + missing +
                  "' for reading (error " + std::to_string(ENOENT) + ", flags 3).");
    // A folder is not a readable file; operations on a reader that is not open report the
    // file name and the system error.
    ASSERT_TRUE(r.open(CText(folder), 1));
    std::uint8_t b[4];
    EXPECT_EQ(idAndText(r.read(b, 4)),
              "zelstr_CFileReader_read_ReadError: Unable to read from file '" + folder + "'" +
                  badf);
    EXPECT_TRUE(
        idAndText(r.setPosition(7))
            .ends_with("Unable to set file's '" + folder + "' reading position to 7" + badf));
    const std::string inMissingFolder = path("no/such/folder.cbf");
    for (const bool append : {false, true})
    {
        CFileWriter w;
        EXPECT_EQ(idAndText(w.open(CText(inMissingFolder), 0, append)),
                  "zelstr_CFileWriter_open_Error: Unable to open file '" + inMissingFolder +
                      "' for " + (append ? "appending" : "rewriting") + " (error " +
                      std::to_string(ENOENT) + ", flags 0).");
        EXPECT_TRUE(idAndText(w.write("x", 1)).starts_with("zelstr_CFileWriter_write_WriteError"));
        EXPECT_FALSE(w.close()); // nothing open, nothing to close
    }
}

TEST_F(FileStreams, NonAsciiNamesAndCompressedBlocksThroughFiles)
{
    const std::u16string leaf = u"Preset \u20AC \u00E9.cpf";
    const CText name((m_dir.u16string() + u"/") + leaf);
    const std::string plain(70000, 'k');
    CFileWriter w;
    ASSERT_FALSE(w.open(name, 0, false) ||
                 w.writeCompressedData(makeBlockId("aprs"), plain.data(), plain.size()) ||
                 w.writeString(CText(leaf)) || w.close());
    EXPECT_TRUE(fs::exists(m_dir / fs::path(leaf)));
    CFileReader r;
    CByteBuffer back;
    CText after; // the block's reader handed back what it read ahead
    ASSERT_FALSE(r.open(name, CFile::kShareRead) ||
                 r.readCompressedData(makeBlockId("aprs"), back) || r.readString(after));
    EXPECT_EQ(std::string(back.begin(), back.end()), plain);
    EXPECT_EQ(after, CText(leaf));
}
