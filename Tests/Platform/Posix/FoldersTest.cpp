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

TEST(PosixFolders, UserAndCommonFoldersFollowTheXdgRules)
{
    const std::tuple<const char*, const char*, int, const char*> cases[] = {
        // XDG_CONFIG_HOME, HOME, result, folder
        {"/data/cfg", "/home/u", 0, "/data/cfg"},
        {"/data/cfg//", "/home/u", 0, "/data/cfg"},
        {"relative/cfg", "/home/u", 0, "/home/u/.config"}, // relative values are ignored
        {"", "/home/u", 0, "/home/u/.config"},
        {nullptr, "/home/u/", 0, "/home/u/.config"},
        {nullptr, "/", 0, "/.config"},
        {nullptr, nullptr, ENOENT, ""},
        {"", "not/absolute", ENOENT, ""},
    };
    for (const auto& [xdg, home, rc, expected] : cases)
    {
        CText folder;
        EXPECT_EQ(posix::userConfigFolderFrom(xdg, home, folder), rc) << (xdg ? xdg : "(unset)");
        EXPECT_EQ(rc == 0 ? folder.toUtf8() : "", expected) << (xdg ? xdg : "(unset)");
    }
    // XDG_CONFIG_DIRS: the first absolute entry, else /etc/xdg.
    const std::pair<const char*, const char*> common[] = {
        {nullptr, "/etc/xdg"}, {":", "/etc/xdg"},   {"/a:/b", "/a"},
        {"rel:/b/", "/b"},     {"/only/", "/only"}, {"rel:other", "/etc/xdg"},
    };
    for (const auto& [dirs, expected] : common)
    {
        CText folder;
        posix::commonConfigFolderFrom(dirs, folder);
        EXPECT_EQ(folder.toUtf8(), expected) << (dirs ? dirs : "(unset)");
    }
}

TEST(PosixFolders, MakeDirectoriesAndExistenceChecks)
{
    const fs::path root =
        fs::temp_directory_path() /
        ("kelv-folders-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    fs::remove_all(root);
    fs::create_directories(root);
    auto path = [&](const std::string& relative)
    { return CText::fromUtf8(root.string() + "/" + relative); };
    EXPECT_EQ(makeDirectories(path("a/b/c")), 0);
    EXPECT_TRUE(fs::is_directory(root / "a/b/c"));
    EXPECT_EQ(makeDirectories(path("a/b/c")), 0); // existing folders are fine
    EXPECT_EQ(makeDirectories(path("a//x/y/")), 0);
    EXPECT_TRUE(fs::is_directory(root / "a/x/y"));
    // Non-ASCII names go to the system as UTF-8.
    EXPECT_EQ(makeDirectories(path("caf\xC3\xA9/d")), 0);
    EXPECT_TRUE(fs::is_directory(root / "caf\xC3\xA9/d"));
    EXPECT_EQ(makeDirectories(CText("")), ENOENT);
    // A file in the path fails.
    std::ofstream(root / "file") << "x";
    EXPECT_EQ(makeDirectories(path("file")), ENOTDIR);
    EXPECT_EQ(makeDirectories(path("file/sub")), ENOTDIR);

    EXPECT_TRUE(fileExists(path("file")));
    EXPECT_FALSE(folderExists(path("file")));
    EXPECT_FALSE(fileExists(path("a")));
    EXPECT_TRUE(folderExists(path("a")));
    EXPECT_FALSE(fileExists(path("missing")) || folderExists(path("missing")));
    EXPECT_FALSE(fileExists(CText("")));
    fs::remove_all(root);
}

} // namespace
} // namespace zel::platform
