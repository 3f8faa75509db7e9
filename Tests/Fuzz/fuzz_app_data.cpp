// Arbitrary bytes as the file of an application-data set, in a temporary configuration folder.
// The first byte picks the data set (bit 0: the named values of "settings", else a data set of
// one "alst" block) and the framing (bit 1: the rest is the block's plain content, compressed
// here so that the fuzzer reaches the content decoder; else the rest is the whole file).
// The file is reloaded by an object holding known content: on failure that content must be
// intact and a fresh object must report the damage and give the defaults. On success, what was
// loaded must be written back and read by a fresh object unchanged.
#include "Core/ApplicationData.h"
#include "Core/BlockId.h"
#include "Core/MemoryWriteBuffer.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace
{

namespace fs = std::filesystem;
using zel::CByteBuffer;
using zel::CText;

constexpr std::uint32_t kListId = zel::makeBlockId("alst");
const CText kSettings("settings");
const CText kBanks("banks");
const char* const kNames[] = {"a", "b", "fuzz-check"};

fs::path g_home;

void removeHome()
{
    std::error_code ignored;
    fs::remove_all(g_home, ignored);
}

// The data set's block; none when it holds no block.
std::optional<std::vector<std::uint8_t>> blockOf(zel::CApplicationData& data)
{
    CByteBuffer block;
    bool found = false;
    if (data.readData(kBanks, kListId, block, found))
        std::abort();
    if (!found)
        return std::nullopt;
    return std::vector<std::uint8_t>(block.data(), block.data() + block.size());
}

std::string valuesOf(zel::CApplicationData& data)
{
    std::string out;
    for (const char* name : kNames)
    {
        CText value;
        bool found = false;
        if (data.readValue(name, value, CText(), &found))
            std::abort();
        out += found ? value.toUtf8() + "|" : "-|";
    }
    return out;
}

struct CState
{
    CState()
    {
        g_home = fs::temp_directory_path() /
                 ("kelv_fuzz_appdata_" + std::to_string(std::random_device()()));
        fs::create_directories(g_home);
        std::atexit(removeHome);
        setenv("XDG_CONFIG_HOME", g_home.c_str(), 1);
        data = std::make_unique<zel::CLocalData>(CText("FuzzApp"));
        restore();
        values = valuesOf(*data);
        block = blockOf(*data);
    }

    // The known content, in memory and in the files.
    void restore()
    {
        for (const CText& set : {kSettings, kBanks})
        {
            std::error_code ignored;
            fs::remove(fs::path(data->dataSetFile(set).toUtf8()), ignored);
            if (data->reload(set))
                std::abort();
        }
        const std::uint8_t content[] = {1, 2, 3};
        if (data->writeValue("a", "1") || data->writeValue("b", "x y") ||
            data->writeData(kBanks, kListId, content, sizeof(content)))
            std::abort();
    }

    std::unique_ptr<zel::CLocalData> data;
    std::string values;
    std::optional<std::vector<std::uint8_t>> block;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    static CState state;
    if (size < 1)
        return 0;
    const bool settings = (bytes[0] & 1) != 0;
    const CText& set = settings ? kSettings : kBanks;
    std::vector<std::uint8_t> file(bytes + 1, bytes + size);
    if (bytes[0] & 2)
    {
        zel::CMemoryWriteBuffer block;
        if (block.writeCompressedData(settings ? zel::CApplicationData::kSettingsBlockId : kListId,
                                      file.data(), file.size()))
            std::abort();
        file = block.toVector();
    }
    {
        std::ofstream out(fs::path(state.data->dataSetFile(set).toUtf8()),
                          std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(file.data()),
                  static_cast<std::streamsize>(file.size()));
        if (!out.flush())
            std::abort();
    }

    zel::CLocalData fresh(CText("FuzzApp"));
    if (state.data->reload(set))
    {
        if (valuesOf(*state.data) != state.values || blockOf(*state.data) != state.block)
            std::abort();
        // A first read reports the damage and runs on from empty memory.
        CText value;
        CByteBuffer block;
        bool found = true;
        const bool failed = settings
                                ? static_cast<bool>(fresh.readValue("a", value, "d", &found))
                                : static_cast<bool>(fresh.readData(set, kListId, block, found));
        if (!failed || found || (settings && value != CText("d")))
            std::abort();
        return 0;
    }
    // Whatever loaded must store and read back the same; a change forces the write.
    if (settings)
    {
        if (state.data->writeValue("fuzz-check", "1") || valuesOf(fresh) != valuesOf(*state.data))
            std::abort();
    }
    else
    {
        // An existing file always yields a block.
        const std::optional<std::vector<std::uint8_t>> loaded = blockOf(*state.data);
        if (!loaded || state.data->writeData(kBanks, kListId, loaded->data(), loaded->size()) ||
            blockOf(fresh) != loaded)
            std::abort();
    }
    state.restore();
    return 0;
}
