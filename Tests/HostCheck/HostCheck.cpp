// kelv-hostcheck: a minimal VST 2.4 host that proves a built plug-in module works on the system
// it was built for. It loads the module through its only export, as a host does, and checks:
//   identity      the record, names, numbers and version answers,
//   processing    32-bit and 64-bit processing of the same signal agree and keep its level,
//   chunks        program and bank chunks restore every parameter in a new instance, and a
//                 damaged chunk is refused without changing anything,
//   app-data      a setting stored in the user's application-data folder (the system's own
//                 folder: %APPDATA% on Windows, $XDG_CONFIG_HOME on Linux) reaches a module
//                 loaded afterwards.
// It exists for the cross-built Windows module, which runs under a compatibility layer where the
// unit-test executable does not; the same source builds and runs on Linux.
//
// Usage: kelv-hostcheck <module>. Prints one line a check and exits with 1 when any failed.

#include "Audio/VST/VstAbi.h"
#include "Core/ApplicationData.h"
#include "Platform/DynamicLibrary.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace
{

namespace vst = zel::vst;
namespace fs = std::filesystem;
using MainProc = vst::AEffect* (*)(vst::HostCallback);

int g_failures = 0;

void check(bool ok, const std::string& what)
{
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
    if (!ok)
        ++g_failures;
}

std::intptr_t hostCallback(vst::AEffect*, std::int32_t opcode, std::int32_t, std::intptr_t,
                           void* ptr, float)
{
    switch (opcode)
    {
    case vst::audioMasterVersion:
        return 2400;
    case vst::audioMasterGetProductString:
    case vst::audioMasterGetVendorString:
        std::strcpy(static_cast<char*>(ptr), "Kelv Host Check");
        return 1;
    case vst::audioMasterGetCurrentProcessLevel:
        return vst::kVstProcessLevelRealtime;
    default:
        return 0;
    }
}

std::intptr_t dispatch(vst::AEffect* e, std::int32_t opcode, std::int32_t index = 0,
                       std::intptr_t value = 0, void* ptr = nullptr, float opt = 0.0f)
{
    return e->dispatcher(e, opcode, index, value, ptr, opt);
}

std::string text(vst::AEffect* e, std::int32_t opcode, std::int32_t index = 0)
{
    char buffer[256] = {};
    dispatch(e, opcode, index, 0, buffer);
    return buffer;
}

std::string hex(std::intptr_t value)
{
    char buffer[32];
    std::snprintf(buffer, sizeof(buffer), "0x%llX", static_cast<unsigned long long>(value));
    return buffer;
}

void checkIdentity(MainProc main)
{
    vst::AEffect* e = main(&hostCallback);
    check(e != nullptr, "the entry creates an effect");
    if (e == nullptr)
        return;
    check(e->magic == vst::kEffectMagic, "magic " + hex(e->magic));
    check(e->uniqueID == 0x71336B38, "unique id " + hex(e->uniqueID));
    check(e->flags == 4145, "flags " + std::to_string(e->flags));
    check(e->numParams == 26, "parameters " + std::to_string(e->numParams));
    check(e->numPrograms == 13, "programs " + std::to_string(e->numPrograms));
    check(e->numInputs == 8 && e->numOutputs == 8,
          "channels " + std::to_string(e->numInputs) + "/" + std::to_string(e->numOutputs));
    check(dispatch(e, vst::effGetVstVersion) == 2400, "VST version 2400");
    check(dispatch(e, vst::effGetVendorVersion) == 0x030300, "vendor version 0x030300");
    check(dispatch(e, vst::effGetPlugCategory) == 0, "category 0");
    const struct
    {
        std::int32_t opcode;
        std::int32_t index;
        const char* expected;
    } texts[] = {
        {vst::effGetEffectName, 0, "Kelvatrone"},
        {vst::effGetVendorString, 0, "Ardovin"},
        {vst::effGetProductString, 0, "Ardovin Kelvatrone"},
        {vst::effGetParamName, 0, "Bypass"},
        {vst::effGetParamName, 25, "4OGain"},
        {vst::effGetParamName, 26, ""},
        {vst::effGetProgramNameIndexed, 0, "Default"},
        {vst::effGetProgramNameIndexed, 12, "Flatter Bass"},
    };
    for (const auto& t : texts)
    {
        const std::string got = text(e, t.opcode, t.index);
        check(got == t.expected, "opcode " + std::to_string(t.opcode) + " index " +
                                     std::to_string(t.index) + ": \"" + got + "\"");
    }
    dispatch(e, vst::effClose);
}

// A 1 kHz tone at -12 dBFS with a little deterministic noise on every channel.
template <class T>
std::vector<std::vector<T>> signal(std::int32_t channels, std::int32_t frames)
{
    std::vector<std::vector<T>> data(static_cast<std::size_t>(channels));
    std::uint32_t seed = 12345;
    for (std::size_t c = 0; c < data.size(); ++c)
        for (std::int32_t i = 0; i < frames; ++i)
        {
            seed = seed * 1664525u + 1013904223u;
            const double noise = (static_cast<double>(seed >> 8) / 16777216.0 - 0.5) * 0.01;
            data[c].push_back(
                static_cast<T>(0.25 * std::sin(2.0 * 3.141592653589793 * 1000.0 * i / 44100.0 +
                                               0.3 * static_cast<double>(c)) +
                               noise));
        }
    return data;
}

template <class T>
std::vector<std::vector<T>> render(vst::AEffect* e, const std::vector<std::vector<T>>& input,
                                   std::int32_t block)
{
    std::vector<std::vector<T>> output(input.size(), std::vector<T>(input[0].size(), T(0)));
    const auto frames = static_cast<std::int32_t>(input[0].size());
    std::vector<T*> in(input.size());
    std::vector<T*> out(input.size());
    for (std::int32_t start = 0; start < frames; start += block)
    {
        const std::int32_t n = std::min(block, frames - start);
        for (std::size_t c = 0; c < input.size(); ++c)
        {
            in[c] = const_cast<T*>(input[c].data()) + start;
            out[c] = output[c].data() + start;
        }
        if constexpr (sizeof(T) == sizeof(float))
            e->processReplacing(e, in.data(), out.data(), n);
        else
            e->processDoubleReplacing(e, in.data(), out.data(), n);
    }
    return output;
}

template <class T>
double rms(const std::vector<T>& channel, std::size_t from)
{
    double sum = 0.0;
    for (std::size_t i = from; i < channel.size(); ++i)
        sum += static_cast<double>(channel[i]) * static_cast<double>(channel[i]);
    return std::sqrt(sum / static_cast<double>(channel.size() - from));
}

void checkProcessing(MainProc main)
{
    constexpr std::int32_t kFrames = 44100 / 2;
    constexpr std::int32_t kBlock = 512;
    vst::AEffect* single = main(&hostCallback);
    vst::AEffect* twice = main(&hostCallback);
    if (single == nullptr || twice == nullptr)
        return check(false, "effects for processing");
    check(dispatch(single, vst::effSetProcessPrecision, 0, 0) == 1, "32-bit precision accepted");
    check(dispatch(twice, vst::effSetProcessPrecision, 0, 1) == 1, "64-bit precision accepted");
    for (vst::AEffect* e : {single, twice})
    {
        dispatch(e, vst::effOpen);
        dispatch(e, vst::effSetSampleRate, 0, 0, nullptr, 44100.0f);
        dispatch(e, vst::effSetBlockSize, 0, kBlock);
        dispatch(e, vst::effMainsChanged, 0, 1);
    }
    check(single->initialDelay == 502,
          "latency after resume at 44100 Hz: " + std::to_string(single->initialDelay));
    const auto in32 = signal<float>(single->numInputs, kFrames);
    const auto in64 = signal<double>(twice->numInputs, kFrames);
    const auto out32 = render(single, in32, kBlock);
    const auto out64 = render(twice, in64, kBlock);
    double worst = 0.0;
    bool finite = true;
    for (std::size_t c = 0; c < out32.size(); ++c)
        for (std::size_t i = 0; i < out32[c].size(); ++i)
        {
            finite = finite && std::isfinite(out32[c][i]) && std::isfinite(out64[c][i]);
            worst = std::max(worst, std::fabs(static_cast<double>(out32[c][i]) - out64[c][i]) /
                                        (1.0 + std::fabs(out64[c][i])));
        }
    check(finite, "processed samples are finite");
    char agree[96];
    std::snprintf(agree, sizeof(agree),
                  "32-bit and 64-bit processing agree (worst difference %.3g)", worst);
    check(worst < 1e-5, agree);
    // The default settings leave a steady tone's level alone (past the latency and settling).
    const double ratio = rms(out64[0], kFrames / 2) / rms(in64[0], kFrames / 2);
    check(ratio > 0.89 && ratio < 1.12,
          "the default settings keep the level (ratio " + std::to_string(ratio) + ")");
    dispatch(single, vst::effMainsChanged, 0, 0);
    dispatch(twice, vst::effMainsChanged, 0, 0);
    dispatch(single, vst::effClose);
    dispatch(twice, vst::effClose);
}

void checkChunks(MainProc main)
{
    for (std::int32_t isPreset : {1, 0})
    {
        const std::string kind = isPreset ? "program chunk" : "bank chunk";
        vst::AEffect* a = main(&hostCallback);
        vst::AEffect* b = main(&hostCallback);
        if (a == nullptr || b == nullptr)
            return check(false, "effects for chunks");
        for (std::int32_t i = 1; i < a->numParams; ++i)
            a->setParameter(a, i, static_cast<float>((i * 37) % 100) / 100.0f);
        void* data = nullptr;
        const std::intptr_t size = dispatch(a, vst::effGetChunk, isPreset, 0, &data);
        check(size > 20 && data != nullptr, kind + " of " + std::to_string(size) + " bytes");
        if (size <= 20 || data == nullptr)
            return;
        std::vector<std::uint8_t> chunk(static_cast<const std::uint8_t*>(data),
                                        static_cast<const std::uint8_t*>(data) + size);
        check(dispatch(b, vst::effSetChunk, isPreset, size, chunk.data()) == 1,
              kind + " accepted by a new instance");
        // Compared by their displays: a host value that does not move a switch or selector to
        // another step stays cached as sent, so normalised values may differ where the
        // settings do not. The gain display ranges are editor preferences, not program content.
        std::string differing;
        for (std::int32_t i = 1; i < a->numParams; ++i)
        {
            if (text(a, vst::effGetParamName, i).find("GDispl") != std::string::npos)
                continue;
            const std::string want = text(a, vst::effGetParamDisplay, i);
            const std::string got = text(b, vst::effGetParamDisplay, i);
            if (want != got)
                differing += " " + std::to_string(i) + " (" + got + ", not " + want + ")";
        }
        check(differing.empty(), kind + " restores every parameter" + differing);

        // Damage the chunk's payload: refused, and the instance keeps what it had.
        for (std::size_t i = 24; i < chunk.size(); ++i)
            chunk[i] = static_cast<std::uint8_t>(chunk[i] ^ 0x5A);
        b->setParameter(b, 3, 0.75f);
        const float before = b->getParameter(b, 3);
        check(dispatch(b, vst::effSetChunk, isPreset, size, chunk.data()) == 0,
              "a damaged " + kind + " is refused");
        check(b->getParameter(b, 3) == before, "a damaged " + kind + " changes nothing");
        dispatch(a, vst::effClose);
        dispatch(b, vst::effClose);
    }
}

fs::path userAppData()
{
    if (const char* appData = std::getenv("APPDATA"))
        return appData;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"))
        return config;
    const char* home = std::getenv("HOME");
    return fs::path(home != nullptr ? home : ".") / ".config";
}

// Stores "force-2ch" in the global settings the way the plug-in family stores them, checks the
// file is where the system keeps application data, and loads a copy of the module (a module of
// its own, so it reads the settings afresh): its effects must have two channels.
void checkApplicationData(const fs::path& module)
{
    const fs::path file = userAppData() / "Ardovin" / "Audio Plug-Ins" / "Data" /
                          (std::string(zel::CGlobalData::kPrefix) + "settings");
    {
        zel::CGlobalData global;
        check(global.writeValue(zel::CText("force-2ch"), zel::CText("1")) == nullptr,
              "a global setting is stored");
    }
    check(fs::is_regular_file(file), "settings file at " + file.string());

    const fs::path copy =
        module.parent_path() / ("kelv-hostcheck-copy" + module.extension().string());
    std::error_code error;
    fs::copy_file(module, copy, fs::copy_options::overwrite_existing, error);
    check(!error, "module copied to " + copy.string());
    {
        zel::platform::CDynamicLibrary library;
        if (library.open(zel::CText(copy.string().c_str())))
        {
            auto main = reinterpret_cast<MainProc>(library.symbol("VSTPluginMain"));
            vst::AEffect* e = main != nullptr ? main(&hostCallback) : nullptr;
            check(e != nullptr && e->numInputs == 2 && e->numOutputs == 2,
                  "the stored setting gives two channels");
            if (e != nullptr)
                dispatch(e, vst::effClose);
        }
        else
            check(false, "copy loads: " + library.error());
    }
    fs::remove(copy, error);
    zel::CGlobalData global;
    global.writeValue(zel::CText("force-2ch"), zel::CText("0"));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: kelv-hostcheck <plug-in module>\n");
        return 2;
    }
    const fs::path module = fs::absolute(argv[1]);
    zel::platform::CDynamicLibrary library;
    if (!library.open(zel::CText(module.string().c_str())))
    {
        std::fprintf(stderr, "cannot load %s: %s\n", module.string().c_str(),
                     library.error().c_str());
        return 1;
    }
    auto main = reinterpret_cast<MainProc>(library.symbol("VSTPluginMain"));
    check(main != nullptr, "VSTPluginMain exported");
    if (main == nullptr)
        return 1;
    checkIdentity(main);
    checkProcessing(main);
    checkChunks(main);
    checkApplicationData(module);
    std::printf("%s: %d failed\n", g_failures == 0 ? "passed" : "FAILED", g_failures);
    return g_failures == 0 ? 0 : 1;
}
