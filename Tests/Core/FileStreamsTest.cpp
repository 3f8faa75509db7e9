// File streams over real files in a temporary folder: modes, positions, messages.
#include "Core/FileStreams.h"
#include "Core/MemoryWriteBuffer.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

using namespace zel;
namespace fs = std::filesystem;

namespace
{

class FileStreams : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::random_device rd;
        m_dir = fs::temp_directory_path() / ("kelv_files_" + std::to_string(rd()));
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    std::string path(const std::string& leaf) const { return (m_dir / leaf).string(); }
    static std::string contents(const std::string& p)
    {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    fs::path m_dir;
};

} // namespace

TEST_F(FileStreams, AppendCreatesAMissingFileAndRewriteTruncates)
{
    const std::string p = path("state.bin");
    CFileWriter w;
    ASSERT_FALSE(w.open(CText(p), CFile::kShareRead, true));
    ASSERT_FALSE(w.write("abc", 3));
    ASSERT_FALSE(w.close());
    EXPECT_EQ(contents(p), "abc");

    ASSERT_FALSE(w.open(CText(p), 0, true));
    std::int64_t v = -1;
    ASSERT_FALSE(w.getPosition(v));
    EXPECT_EQ(v, 3); // appending starts at the end
    ASSERT_FALSE(w.write("def", 3));
    ASSERT_FALSE(w.setPosition(1));
    ASSERT_FALSE(w.write("B", 1)); // set position works while appending
    ASSERT_FALSE(w.getSize(v));
    EXPECT_EQ(v, 6);
    ASSERT_FALSE(w.close());
    EXPECT_EQ(contents(p), "aBcdef");

    ASSERT_FALSE(w.open(CText(p), 0, false));
    ASSERT_FALSE(w.write("z", 1));
    ASSERT_FALSE(w.close());
    EXPECT_EQ(contents(p), "z");
}

TEST_F(FileStreams, ReaderReadsConsumesAndPositions)
{
    const std::string p = path("data.bin");
    std::ofstream(p, std::ios::binary) << "0123456789";
    CFileReader r;
    ASSERT_FALSE(r.open(CText(p), CFile::kShareRead));
    char out[16] = {};
    ASSERT_FALSE(r.read(out, 2));
    ASSERT_FALSE(r.consume(3));
    std::int64_t v = 0;
    ASSERT_FALSE(r.getPosition(v));
    EXPECT_EQ(v, 5);
    ASSERT_FALSE(r.getSize(v));
    EXPECT_EQ(v, 10);
    std::size_t got = 0;
    ASSERT_FALSE(r.readStreamed(out, 16, got));
    EXPECT_EQ(got, 5u);
    EXPECT_EQ(std::string(out, 5), "56789");
    ASSERT_FALSE(r.readStreamed(out, 16, got));
    EXPECT_EQ(got, 0u);

    ASSERT_FALSE(r.setPosition(4));
    CErrorPtr err = r.read(out, 10);
    ASSERT_TRUE(err);
    EXPECT_EQ(err->id(), "zelstr_CFileReader_read_ReadBeyondEnd");
    EXPECT_EQ(err->text(),
              "Unable to read from file '" + p + "' (required 10 bytes, read 6 bytes).");
    ASSERT_FALSE(r.close());
}

TEST_F(FileStreams, FailuresNameTheFileAndCarryTheSystemError)
{
    const std::string missing = path("missing.cpf");
    CFileReader r;
    CErrorPtr err = r.open(CText(missing), 3);
    ASSERT_TRUE(err);
    EXPECT_EQ(err->id(), "zelstr_CFileReader_open_OpenError");
    EXPECT_EQ(err->text(), "Unable to open file '" + missing + "' for reading (error " +
                               std::to_string(ENOENT) + ", flags 3).");

    err = r.open(CText(m_dir.string()), 1); // a folder is not a readable file
    ASSERT_TRUE(err);
    EXPECT_NE(err->text().find("(error " + std::to_string(EISDIR) + ", flags 1)"),
              std::string::npos);

    // Operations on a reader that is not open report the file name and the system error.
    std::uint8_t b[4];
    err = r.read(b, 4);
    ASSERT_TRUE(err);
    EXPECT_EQ(err->id(), "zelstr_CFileReader_read_ReadError");
    EXPECT_EQ(err->text(), "Unable to read from file '" + m_dir.string() + "' (error " +
                               std::to_string(EBADF) + ").");
    std::int64_t v = 0;
    err = r.setPosition(7);
    ASSERT_TRUE(err);
    EXPECT_EQ(err->text(), "Unable to set file's '" + m_dir.string() +
                               "' reading position to 7 (error " + std::to_string(EBADF) + ").");
    err = r.getSize(v);
    ASSERT_TRUE(err);
    EXPECT_EQ(err->id(), "zelstr_CFileReader_getSize_FileSizeError");

    const std::string inMissingFolder = path("no/such/folder.cbf");
    for (const bool append : {false, true})
    {
        CFileWriter w;
        err = w.open(CText(inMissingFolder), 0, append);
        ASSERT_TRUE(err);
        EXPECT_EQ(err->id(), "zelstr_CFileWriter_open_Error");
        EXPECT_EQ(err->text(), "Unable to open file '" + inMissingFolder + "' for " +
                                   (append ? "appending" : "rewriting") + " (error " +
                                   std::to_string(ENOENT) + ", flags 0).");
        err = w.write("x", 1);
        ASSERT_TRUE(err);
        EXPECT_EQ(err->id(), "zelstr_CFileWriter_write_WriteError");
        EXPECT_NE(err->text().find(inMissingFolder), std::string::npos);
        EXPECT_FALSE(w.close()); // nothing open, nothing to close
    }
}

TEST_F(FileStreams, NonAsciiNamesAndCompressedBlocksThroughFiles)
{
    const std::u16string leaf = u"Preset \u20AC \u00E9.cpf";
    const CText name((m_dir.u16string() + u"/") + leaf);
    CFileWriter w;
    ASSERT_FALSE(w.open(name, 0, false));
    std::string plain(70000, 'k');
    ASSERT_FALSE(w.writeCompressedData(makeBlockId("aprs"), plain.data(), plain.size()));
    ASSERT_FALSE(w.writeString(CText(leaf)));
    ASSERT_FALSE(w.close());
    EXPECT_TRUE(fs::exists(m_dir / fs::path(leaf)));

    CFileReader r;
    ASSERT_FALSE(r.open(name, CFile::kShareRead));
    CByteBuffer back;
    ASSERT_FALSE(r.readCompressedData(makeBlockId("aprs"), back));
    EXPECT_EQ(std::string(back.begin(), back.end()), plain);
    CText after; // the block's reader handed back what it read ahead
    ASSERT_FALSE(r.readString(after));
    EXPECT_EQ(after, CText(leaf));
    ASSERT_FALSE(r.close());
}
