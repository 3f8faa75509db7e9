#pragma once
// Test host for the plug-in module: loads the built Kelvatrone module through the platform's
// dynamic-library service, calls its only export VSTPluginMain with a host callback that
// records every call and answers like a configurable host (version, product and vendor
// strings, process level, time information), and drives the effect through the AEffect
// record exactly as a host does. Nothing here links the effect's classes.

#include "Audio/VST/VstAbi.h"
#include "Core/AppDataTestSupport.h"
#include "Platform/DynamicLibrary.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace ktest
{

namespace vst = zel::vst;

struct SHostCall
{
    std::int32_t opcode;
    std::int32_t index;
    std::intptr_t value;
    float opt;
};

class CVstTestHost
{
public:
    // How the host presents itself.
    std::intptr_t version = 2400;
    std::string product = "Kelv Test Host";
    std::string vendor = "Kelv Test Vendor";
    std::intptr_t processLevel = vst::kVstProcessLevelRealtime;
    vst::VstTimeInfo timeInfo{};
    bool answerTime = false;

    std::vector<SHostCall> calls;

    CVstTestHost();
    ~CVstTestHost();
    CVstTestHost(const CVstTestHost&) = delete;
    CVstTestHost& operator=(const CVstTestHost&) = delete;

    // The module's entry, loaded once per test process (null with a test failure when the
    // module cannot be loaded).
    using MainProc = vst::AEffect* (*)(vst::HostCallback);
    static MainProc entry();
    static zel::platform::CDynamicLibrary& module();

    // Calls VSTPluginMain (of the test module, or the given entry) with this host's callback;
    // the effect is closed by the destructor.
    vst::AEffect* create();
    vst::AEffect* create(MainProc main);
    // Creates, sets sample rate and block size and resumes.
    vst::AEffect* createRunning(float sampleRate = 48000.0f, std::int32_t blockSize = 512);

    static std::intptr_t dispatch(vst::AEffect* e, std::int32_t opcode, std::int32_t index = 0,
                                  std::intptr_t value = 0, void* ptr = nullptr, float opt = 0.0f);
    static std::string text(vst::AEffect* e, std::int32_t opcode, std::int32_t index = 0,
                            std::intptr_t value = 0, float opt = 0.0f);
    // The effect's program (isPreset 1) or bank (0) chunk as bytes; empty when refused.
    static std::vector<std::uint8_t> chunk(vst::AEffect* e, std::int32_t isPreset);
    void close(vst::AEffect* e);

    std::size_t count(std::int32_t opcode) const;

    // Planar channels for the process entries.
    template <class T>
    struct SBuffers
    {
        std::vector<std::vector<T>> data;
        std::vector<T*> pointers;
        SBuffers(std::int32_t channels, std::int32_t frames)
            : data(static_cast<std::size_t>(channels),
                   std::vector<T>(static_cast<std::size_t>(frames), T(0)))
        {
            for (auto& channel : data)
                pointers.push_back(channel.data());
        }
    };

private:
    static std::intptr_t callback(vst::AEffect* effect, std::int32_t opcode, std::int32_t index,
                                  std::intptr_t value, void* ptr, float opt);
    std::vector<vst::AEffect*> m_effects;
};

// Points the module's application data at a fresh folder before the module is first loaded,
// so that no stored setting of the machine changes the answers; the module is unloaded
// again after the suite.
class CVstModuleTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        std::random_device rd;
        s_home = fs::temp_directory_path() / ("kelv_vst_" + std::to_string(rd()));
        fs::create_directories(s_home);
        s_saved = environment("XDG_CONFIG_HOME");
        setEnvironment("XDG_CONFIG_HOME", s_home.string());
        CVstTestHost::module().close();
    }
    static void TearDownTestSuite()
    {
        CVstTestHost::module().close();
        setEnvironment("XDG_CONFIG_HOME", s_saved);
        std::error_code ec;
        fs::remove_all(s_home, ec);
    }

    static inline fs::path s_home;
    static inline std::optional<std::string> s_saved;
    CVstTestHost host;
};

} // namespace ktest
