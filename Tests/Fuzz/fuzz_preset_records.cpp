// Arbitrary bytes through the preset, bank and bank-list loaders, their tagged-block loaders and
// the storage record loader. The first byte picks the loader; for the storage record the next two
// bytes choose the expected element size and data type. A successful load must save and load
// back, and a block must be consumed to its end.
#include "Audio/AudioParamStorage.h"
#include "Audio/AudioPresetBank.h"
#include "Core/MemoryReader.h"
#include "Core/MemoryWriteBuffer.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace
{

template <typename T>
void checkRoundTrip(const T& record)
{
    zel::CMemoryWriteBuffer out;
    if (record.save(out))
        std::abort();
    const std::vector<std::uint8_t> bytes = out.toVector();
    T again;
    zel::CMemoryReader in(bytes.data(), bytes.size());
    if (again.load(in) || in.remaining() != 0)
        std::abort();
}

template <typename T>
void checkBlockRoundTrip(const T& record)
{
    zel::CMemoryWriteBuffer out;
    if (record.saveBlock(out))
        std::abort();
    const std::vector<std::uint8_t> bytes = out.toVector();
    T again;
    zel::CMemoryReader in(bytes.data(), bytes.size());
    if (again.loadBlock(in) || in.remaining() != 0)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 3)
        return 0;
    const std::uint8_t mode = data[0] % 7;
    zel::CMemoryReader in(data + 3, size - 3);
    switch (mode)
    {
    case 0:
    {
        zel::CAudioPreset preset;
        if (!preset.load(in))
            checkRoundTrip(preset);
        break;
    }
    case 1:
    {
        zel::CAudioPresetBank bank;
        if (!bank.load(in))
            checkRoundTrip(bank);
        break;
    }
    case 2:
    {
        std::vector<zel::CAudioPresetBank> banks;
        (void)zel::CAudioPresetBank::loadList(in, banks);
        break;
    }
    case 4:
    {
        zel::CAudioPreset preset;
        if (!preset.loadBlock(in))
            checkBlockRoundTrip(preset);
        break;
    }
    case 5:
    {
        zel::CAudioPresetBank bank;
        if (!bank.loadBlock(in))
            checkBlockRoundTrip(bank);
        break;
    }
    case 6:
    {
        std::vector<zel::CAudioPresetBank> banks;
        if (!zel::CAudioPresetBank::loadListBlock(in, banks))
        {
            zel::CMemoryWriteBuffer out;
            if (zel::CAudioPresetBank::saveListBlock(out, banks))
                std::abort();
        }
        break;
    }
    case 3:
    {
        zel::CAudioParamStorage storage;
        storage.elementSize = data[1] % 4 + 1;
        storage.dataType = static_cast<zel::EAudioParamDataType>(data[2] % 3);
        zel::CAudioParamData items;
        if (!storage.load(in, items))
        {
            zel::CMemoryWriteBuffer out;
            if (storage.save(out, items, -1))
                std::abort();
        }
        break;
    }
    }
    return 0;
}
