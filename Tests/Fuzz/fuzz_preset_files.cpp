// Arbitrary bytes read as a preset file and as a bank file, the way the renderer and the editor
// read them: from a file on disk, whole, one tagged block and nothing after it. The first byte
// picks the record (bit 0: preset, else bank) and the framing (bit 1: the rest is the plain
// record, compressed into its block here so that the fuzzer reaches the record reader; else the
// rest is the whole file). A refused file must leave the record as it was; an accepted one must
// save to a file that reads back to the same record.
#include "Audio/AudioPreset.h"
#include "Audio/AudioPresetBank.h"
#include "Core/BlockId.h"
#include "Core/MemoryWriteBuffer.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace
{

using Bytes = std::vector<std::uint8_t>;

std::filesystem::path g_folder;

void removeFolder()
{
    std::error_code ignored;
    std::filesystem::remove_all(g_folder, ignored);
}

const std::filesystem::path& folder()
{
    static const bool made = []
    {
        g_folder = std::filesystem::temp_directory_path() /
                   ("kelv_fuzz_files_" + std::to_string(std::random_device()()));
        std::filesystem::create_directories(g_folder);
        return std::atexit(removeFolder) == 0;
    }();
    (void)made;
    return g_folder;
}

template <class T>
Bytes recordBytes(const T& record)
{
    zel::CMemoryWriteBuffer out;
    if (record.save(out))
        std::abort();
    return out.toVector();
}

// A record every failed load must leave as it is.
template <class T>
T sample();

template <>
zel::CAudioPreset sample<zel::CAudioPreset>()
{
    zel::CAudioPreset preset;
    preset.name = "kept";
    preset.entries[zel::CText("gain")] = {1, 2, 3};
    return preset;
}

template <>
zel::CAudioPresetBank sample<zel::CAudioPresetBank>()
{
    zel::CAudioPresetBank bank;
    bank.name = "kept";
    bank.presets.push_back(sample<zel::CAudioPreset>());
    return bank;
}

template <class T>
void loadAndRoundTrip(const Bytes& file)
{
    const std::filesystem::path in = folder() / "in";
    const std::filesystem::path out = folder() / "out";
    {
        std::ofstream stream(in, std::ios::binary | std::ios::trunc);
        stream.write(reinterpret_cast<const char*>(file.data()),
                     static_cast<std::streamsize>(file.size()));
        if (!stream.flush())
            std::abort();
    }
    T record = sample<T>();
    const Bytes before = recordBytes(record);
    if (record.loadFile(zel::CText(in.string())))
    {
        if (recordBytes(record) != before)
            std::abort();
        return;
    }
    T again;
    if (record.saveFile(zel::CText(out.string())) || again.loadFile(zel::CText(out.string())) ||
        recordBytes(again) != recordBytes(record))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const bool preset = (data[0] & 1) != 0;
    Bytes file(data + 1, data + size);
    if (data[0] & 2)
    {
        zel::CMemoryWriteBuffer block;
        if (block.writeCompressedData(zel::makeBlockId(preset ? "aprs" : "abnk"), file.data(),
                                      file.size()))
            std::abort();
        file = block.toVector();
    }
    if (preset)
        loadAndRoundTrip<zel::CAudioPreset>(file);
    else
        loadAndRoundTrip<zel::CAudioPresetBank>(file);
    return 0;
}
