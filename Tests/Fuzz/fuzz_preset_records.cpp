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

// Loads with `load`; what loads must save with `save` and load back to its end.
template <typename T, auto load, auto save>
void loadAndRoundTrip(zel::CMemoryReader& in)
{
    T record;
    if ((record.*load)(in))
        return;
    zel::CMemoryWriteBuffer out;
    if ((record.*save)(out))
        std::abort();
    const std::vector<std::uint8_t> bytes = out.toVector();
    T again;
    zel::CMemoryReader back(bytes.data(), bytes.size());
    if ((again.*load)(back) || back.remaining() != 0)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using zel::CAudioPreset;
    using zel::CAudioPresetBank;
    if (size < 3)
        return 0;
    zel::CMemoryReader in(data + 3, size - 3);
    switch (data[0] % 7)
    {
    case 0:
        loadAndRoundTrip<CAudioPreset, &CAudioPreset::load, &CAudioPreset::save>(in);
        break;
    case 1:
        loadAndRoundTrip<CAudioPresetBank, &CAudioPresetBank::load, &CAudioPresetBank::save>(in);
        break;
    case 2:
    {
        std::vector<CAudioPresetBank> banks;
        (void)CAudioPresetBank::loadList(in, banks);
        break;
    }
    case 4:
        loadAndRoundTrip<CAudioPreset, &CAudioPreset::loadBlock, &CAudioPreset::saveBlock>(in);
        break;
    case 5:
        loadAndRoundTrip<CAudioPresetBank, &CAudioPresetBank::loadBlock,
                         &CAudioPresetBank::saveBlock>(in);
        break;
    case 6:
    {
        std::vector<CAudioPresetBank> banks;
        zel::CMemoryWriteBuffer out;
        if (!CAudioPresetBank::loadListBlock(in, banks) &&
            CAudioPresetBank::saveListBlock(out, banks))
            std::abort();
        break;
    }
    case 3:
    {
        zel::CAudioParamStorage storage;
        storage.elementSize = data[1] % 4 + 1;
        storage.dataType = static_cast<zel::EAudioParamDataType>(data[2] % 3);
        zel::CAudioParamData items;
        zel::CMemoryWriteBuffer out;
        if (!storage.load(in, items) && storage.save(out, items, -1))
            std::abort();
        break;
    }
    }
    return 0;
}
