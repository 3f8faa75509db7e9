// Arbitrary bytes handed to a running effect as a host's state chunk. The effect is created once
// per process through VSTPluginMain, like a host does, with its application data in a temporary
// folder. The first byte picks the chunk kind (bit 0: program chunk, index 1; else bank chunk,
// index 0) and the framing (bit 1: the rest is the plain record, which is compressed and framed
// here so that the fuzzer reaches the registry's loaders; else the rest is the whole chunk,
// host frame included).
// A refused chunk must leave the effect's state (both its chunks) as it was. An accepted one
// must give finite output for a short block, and the chunk the effect then gives must be taken
// back and given again unchanged.
#include "Audio/VST/VstAbi.h"
#include "Core/BlockId.h"
#include "Core/MemoryWriteBuffer.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

extern "C" zel::vst::AEffect* VSTPluginMain(zel::vst::HostCallback audioMaster);

namespace
{

namespace vst = zel::vst;
using Bytes = std::vector<std::uint8_t>;

constexpr std::int32_t kFrames = 64;
constexpr std::size_t kHostFrame = 16;

std::intptr_t hostCallback(vst::AEffect*, std::int32_t opcode, std::int32_t, std::intptr_t, void*,
                           float)
{
    return opcode == vst::audioMasterVersion ? 2400 : 0;
}

std::filesystem::path g_home;

void removeHome()
{
    std::error_code ignored;
    std::filesystem::remove_all(g_home, ignored);
}

struct CEffect
{
    vst::AEffect* e = nullptr;
    Bytes initialBank;
    Bytes initialProgram;
    bool dirty = false;
    // The chunks of the current state, known while no input has changed it.
    Bytes bank;
    Bytes program;

    CEffect()
    {
        g_home = std::filesystem::temp_directory_path() /
                 ("kelv_fuzz_chunk_" + std::to_string(std::random_device()()));
        std::filesystem::create_directories(g_home);
        std::atexit(removeHome);
        setenv("XDG_CONFIG_HOME", g_home.c_str(), 1);
        e = VSTPluginMain(&hostCallback);
        if (e == nullptr)
            std::abort();
        dispatch(vst::effOpen);
        dispatch(vst::effSetSampleRate, 0, 0, nullptr, 48000.0f);
        dispatch(vst::effSetBlockSize, 0, 512);
        dispatch(vst::effMainsChanged, 0, 1);
        initialBank = chunk(false);
        initialProgram = chunk(true);
        if (initialBank.empty() || initialProgram.empty())
            std::abort();
    }

    std::intptr_t dispatch(std::int32_t opcode, std::int32_t index = 0, std::intptr_t value = 0,
                           void* ptr = nullptr, float opt = 0.0f)
    {
        return e->dispatcher(e, opcode, index, value, ptr, opt);
    }

    Bytes chunk(bool program)
    {
        void* data = nullptr;
        const std::intptr_t size = dispatch(vst::effGetChunk, program ? 1 : 0, 0, &data);
        if (size < 0 || (size > 0 && data == nullptr))
            std::abort();
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        return Bytes(bytes, bytes + size);
    }

    bool setChunk(bool program, Bytes bytes)
    {
        return dispatch(vst::effSetChunk, program ? 1 : 0, static_cast<std::intptr_t>(bytes.size()),
                        bytes.data()) == 1;
    }

    // Back to the state the effect started in, when an earlier input changed it.
    void reset()
    {
        if (!dirty && !bank.empty())
            return;
        if (dirty && (!setChunk(false, initialBank) || !setChunk(true, initialProgram)))
            std::abort();
        dirty = false;
        bank = chunk(false);
        program = chunk(true);
    }

    bool processGivesFiniteOutput()
    {
        const auto channels = static_cast<std::size_t>(e->numOutputs);
        std::vector<std::vector<float>> in(channels, std::vector<float>(kFrames));
        std::vector<std::vector<float>> out(channels, std::vector<float>(kFrames));
        std::vector<float*> inputs;
        std::vector<float*> outputs;
        for (std::size_t c = 0; c < channels; ++c)
        {
            for (std::int32_t i = 0; i < kFrames; ++i)
                in[c][static_cast<std::size_t>(i)] = 0.5f * std::sin(0.05f * static_cast<float>(i));
            inputs.push_back(in[c].data());
            outputs.push_back(out[c].data());
        }
        e->processReplacing(e, inputs.data(), outputs.data(), kFrames);
        for (const auto& channel : out)
            for (float v : channel)
                if (!std::isfinite(v))
                    return false;
        return true;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static CEffect effect;
    if (size < 1)
        return 0;
    const bool program = (data[0] & 1) != 0;
    Bytes chunk;
    if (data[0] & 2)
    {
        zel::CMemoryWriteBuffer framed;
        for (int i = 0; i < 4; ++i)
            (void)framed.writeInt(0);
        if (framed.writeCompressedData(zel::makeBlockId(program ? "aprs" : "abnk"), data + 1,
                                       size - 1))
            std::abort();
        chunk = framed.toVector();
    }
    else
        chunk.assign(data + 1, data + size);

    effect.reset();
    if (!effect.setChunk(program, chunk))
    {
        if (effect.chunk(false) != effect.bank || effect.chunk(true) != effect.program)
            std::abort();
        return 0;
    }
    effect.dirty = chunk.size() > kHostFrame;
    if (!effect.processGivesFiniteOutput())
        std::abort();
    const Bytes given = effect.chunk(program);
    if (!effect.setChunk(program, given) || effect.chunk(program) != given)
        std::abort();
    return 0;
}
