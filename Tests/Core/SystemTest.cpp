#include "Core/System.h"
#include "Support/ErrorText.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace zel
{
namespace
{

namespace fs = std::filesystem;

class CReceiver : public platform::CMessageReceiver
{
public:
    void onMessage(unsigned message, std::uintptr_t wparam, std::intptr_t lparam) override
    {
        received.push_back(std::to_string(message) + "," + std::to_string(wparam) + "," +
                           std::to_string(lparam));
    }
    std::vector<std::string> received;
};

TEST(System, SendEventPostsToTheWindowThread)
{
    if (!platform::messagesNeedPump())
        GTEST_SKIP() << "the system delivers window messages itself";
    ASSERT_EQ(platform::registerWindowClass(CText("SystemTestClass")), 0);
    CReceiver receiver;
    platform::WindowHandle window = platform::WindowHandle::none;
    ASSERT_EQ(platform::createMessageWindow(CText("SystemTestClass"), &receiver, &window), 0);
    EXPECT_EQ(CSystem::sendEvent(window, platform::kUserMessage + 5, -77), nullptr);
    EXPECT_EQ(platform::servicePendingMessages(), 1u);
    EXPECT_EQ(receiver.received,
              std::vector<std::string>{std::to_string(platform::kUserMessage + 5) + ",0,-77"});
    platform::destroyMessageWindow(window);
    const CErrorPtr err = CSystem::sendEvent(window, platform::kUserMessage, 1);
    // Built by appending: gcc 12 at -O3 warns (falsely) on the literal + string + literal chain.
    std::string expected = "zelstr_CSystem_sendEvent_PostMessage: Post message error ";
    expected += std::to_string(EBADF);
    expected += '.';
    EXPECT_EQ(kelvtest::idAndText(err), expected);
    EXPECT_TRUE(err && err->trail().at(0).starts_with("System.cpp( "));
}

TEST(System, MakeDirectoriesReportsTheFolderAndTheSystemError)
{
    const fs::path root = fs::temp_directory_path() / "kelv-system-test";
    fs::remove_all(root);
    fs::create_directories(root);
    const std::string base = root.generic_string();
    std::ofstream(root / "blocker") << "x";
    const CErrorPtr err = CSystem::makeDirectories(CText::fromUtf8(base + "/blocker/sub"));
    ASSERT_TRUE(err);
    EXPECT_EQ(err->id(), "zelstr_CSystem_makeDirectories_CreateFolder");
    // The code is the system's own (errno on POSIX).
    const std::string prefix = "Unable to create folder '" + base + "/blocker/sub' (error ";
    EXPECT_TRUE(err->text().starts_with(prefix)) << err->text();
    EXPECT_NE(err->text(), prefix + "0).");
    fs::remove_all(root);
}

} // namespace
} // namespace zel
