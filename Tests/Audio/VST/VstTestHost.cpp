#include "Audio/VST/VstTestHost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace ktest
{
namespace
{

// The host whose callback answers; the effect is not known yet during VSTPluginMain.
CVstTestHost* g_current = nullptr;
// The effect calls back from the host's audio and user-interface threads at once.
std::mutex g_callsLock;

void copyAnswer(void* ptr, const std::string& text)
{
    const std::size_t n = std::min<std::size_t>(text.size(), 64);
    std::memcpy(ptr, text.data(), n);
    static_cast<char*>(ptr)[n] = 0;
}

} // namespace

CVstTestHost::CVstTestHost()
{
    g_current = this;
}

CVstTestHost::~CVstTestHost()
{
    for (vst::AEffect* e : m_effects)
        dispatch(e, vst::effClose);
    if (g_current == this)
        g_current = nullptr;
}

zel::platform::CDynamicLibrary& CVstTestHost::module()
{
    static zel::platform::CDynamicLibrary library;
    return library;
}

CVstTestHost::MainProc CVstTestHost::entry()
{
    zel::platform::CDynamicLibrary& library = module();
    if (!library.isOpen() && !library.open(KELV_VST_MODULE_PATH))
    {
        ADD_FAILURE() << "cannot load " << KELV_VST_MODULE_PATH << ": " << library.error();
        return nullptr;
    }
    return reinterpret_cast<MainProc>(library.symbol("VSTPluginMain"));
}

vst::AEffect* CVstTestHost::create()
{
    return create(entry());
}

vst::AEffect* CVstTestHost::create(MainProc main)
{
    g_current = this;
    if (main == nullptr)
        return nullptr;
    vst::AEffect* e = main(&CVstTestHost::callback);
    if (e != nullptr)
        m_effects.push_back(e);
    return e;
}

vst::AEffect* CVstTestHost::createRunning(float sampleRate, std::int32_t blockSize)
{
    vst::AEffect* e = create();
    if (e == nullptr)
        return nullptr;
    dispatch(e, vst::effOpen);
    dispatch(e, vst::effSetSampleRate, 0, 0, nullptr, sampleRate);
    dispatch(e, vst::effSetBlockSize, 0, blockSize);
    dispatch(e, vst::effMainsChanged, 0, 1);
    return e;
}

std::intptr_t CVstTestHost::dispatch(vst::AEffect* e, std::int32_t opcode, std::int32_t index,
                                     std::intptr_t value, void* ptr, float opt)
{
    return e->dispatcher(e, opcode, index, value, ptr, opt);
}

std::string CVstTestHost::text(vst::AEffect* e, std::int32_t opcode, std::int32_t index,
                               std::intptr_t value, float opt)
{
    // Filled with a marker so that a missing terminator shows.
    char buffer[256];
    std::memset(buffer, '#', sizeof(buffer));
    buffer[sizeof(buffer) - 1] = 0;
    dispatch(e, opcode, index, value, buffer, opt);
    return buffer;
}

std::vector<std::uint8_t> CVstTestHost::chunk(vst::AEffect* e, std::int32_t isPreset)
{
    void* data = nullptr;
    const auto size = dispatch(e, vst::effGetChunk, isPreset, 0, &data);
    if (size <= 0 || data == nullptr)
        return {};
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    return {bytes, bytes + size};
}

void CVstTestHost::close(vst::AEffect* e)
{
    auto it = std::find(m_effects.begin(), m_effects.end(), e);
    if (it != m_effects.end())
        m_effects.erase(it);
    dispatch(e, vst::effClose);
}

std::size_t CVstTestHost::count(std::int32_t opcode) const
{
    std::lock_guard<std::mutex> guard(g_callsLock);
    return static_cast<std::size_t>(std::count_if(
        calls.begin(), calls.end(), [opcode](const SHostCall& c) { return c.opcode == opcode; }));
}

std::intptr_t CVstTestHost::callback(vst::AEffect* effect, std::int32_t opcode, std::int32_t index,
                                     std::intptr_t value, void* ptr, float opt)
{
    (void)effect;
    CVstTestHost* host = g_current;
    if (host == nullptr)
        return 0;
    {
        std::lock_guard<std::mutex> guard(g_callsLock);
        host->calls.push_back({opcode, index, value, opt});
    }
    switch (opcode)
    {
    case vst::audioMasterVersion:
        return host->version;
    case vst::audioMasterGetProductString:
        copyAnswer(ptr, host->product);
        return 1;
    case vst::audioMasterGetVendorString:
        copyAnswer(ptr, host->vendor);
        return 1;
    case vst::audioMasterGetCurrentProcessLevel:
        return host->processLevel;
    case vst::audioMasterGetTime:
        return host->answerTime ? reinterpret_cast<std::intptr_t>(&host->timeInfo) : 0;
    default:
        return 0;
    }
}

} // namespace ktest
