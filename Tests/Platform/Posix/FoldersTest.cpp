#include "Platform/Folders.h"
#include "Platform/Posix/XdgFolders.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>

namespace zel::platform
{
namespace
{

namespace fs = std::filesystem;

TEST(PosixFolders, UserFolderFollowsTheXdgRules)
{
    struct SCase
    {
        const char* xdgConfigHome;
        const char* home;
        int rc;
        const char* expected;
    };
    const SCase cases[] = {
        {"/data/cfg", "/home/u", 0, "/data/cfg"},
        {"/data/cfg//", "/home/u", 0, "/data/cfg"},
        {"relative/cfg", "/home/u", 0, "/home/u/.config"}, // relative values are ignored
        {"", "/home/u", 0, "/home/u/.config"},
        {nullptr, "/home/u/", 0, "/home/u/.config"},
        {nullptr, "/", 0, "/.config"},
        {nullptr, nullptr, ENOENT, ""},
        {nullptr, "", ENOENT, ""},
        {"", "not/absolute", ENOENT, ""},
    };
    for (const SCase& c : cases)
    {
        CText folder;
        const int rc = posix::userConfigFolderFrom(c.xdgConfigHome, c.home, folder);
        EXPECT_EQ(rc, c.rc) << (c.xdgConfigHome ? c.xdgConfigHome : "(unset)");
        if (rc == 0)
        {
            EXPECT_EQ(folder.toUtf8(), c.expected);
        }
    }
}

TEST(PosixFolders, CommonFolderIsTheFirstAbsoluteConfigDir)
{
    const std::pair<const char*, const char*> cases[] = {
        {nullptr, "/etc/xdg"}, {"", "/etc/xdg"},    {":", "/etc/xdg"},         {"/a:/b", "/a"},
        {"rel:/b/", "/b"},     {"/only/", "/only"}, {"rel:other", "/etc/xdg"},
    };
    for (const auto& [dirs, expected] : cases)
    {
        CText folder;
        posix::commonConfigFolderFrom(dirs, folder);
        EXPECT_EQ(folder.toUtf8(), expected) << (dirs ? dirs : "(unset)");
    }
}

class PosixMakeDirectories : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_root =
            fs::temp_directory_path() /
            ("kelv-folders-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_root);
        fs::create_directories(m_root);
    }
    void TearDown() override { fs::remove_all(m_root); }
    CText path(const std::string& relative) const
    {
        return CText::fromUtf8(m_root.string() + "/" + relative);
    }

    fs::path m_root;
};

TEST_F(PosixMakeDirectories, CreatesEveryMissingComponent)
{
    EXPECT_EQ(makeDirectories(path("a/b/c")), 0);
    EXPECT_TRUE(fs::is_directory(m_root / "a/b/c"));
    EXPECT_EQ(makeDirectories(path("a/b/c")), 0); // existing folders are fine
    EXPECT_EQ(makeDirectories(path("a//x/y/")), 0);
    EXPECT_TRUE(fs::is_directory(m_root / "a/x/y"));
    // Non-ASCII names go to the system as UTF-8.
    EXPECT_EQ(makeDirectories(path("caf\xC3\xA9/d")), 0);
    EXPECT_TRUE(fs::is_directory(m_root / "caf\xC3\xA9/d"));
    EXPECT_EQ(makeDirectories(CText("")), ENOENT);
}

TEST_F(PosixMakeDirectories, AFileInThePathFails)
{
    std::ofstream(m_root / "file") << "x";
    EXPECT_EQ(makeDirectories(path("file")), ENOTDIR);
    EXPECT_EQ(makeDirectories(path("file/sub")), ENOTDIR);
    EXPECT_FALSE(fs::exists(m_root / "file/sub"));
}

TEST_F(PosixMakeDirectories, TellsFilesFromFolders)
{
    std::ofstream(m_root / "file") << "x";
    EXPECT_TRUE(fileExists(path("file")));
    EXPECT_FALSE(folderExists(path("file")));
    EXPECT_FALSE(fileExists(path("")));
    EXPECT_FALSE(fileExists(CText::fromUtf8(m_root.string())));
    EXPECT_TRUE(folderExists(CText::fromUtf8(m_root.string())));
    EXPECT_FALSE(fileExists(path("missing")));
    EXPECT_FALSE(folderExists(path("missing")));
}

} // namespace
} // namespace zel::platform
