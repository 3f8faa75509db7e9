#include "Audio/AudioPresetBank.h"

#include "Core/InputStream.h"
#include "Core/OutputStream.h"

#include <string>

namespace zel
{
namespace
{
constexpr const char* kOwner = "CAudioPresetBank";
} // namespace

CErrorPtr CAudioPresetBank::save(COutputStream& out) const
{
    ZEL_TRY(out.writeString(name), kOwner);
    ZEL_TRY(out.writeInt(static_cast<std::int32_t>(presets.size())), kOwner);
    for (const CAudioPreset& preset : presets)
        ZEL_TRY(preset.save(out), kOwner);
    return nullptr;
}

CErrorPtr CAudioPresetBank::load(CInputStream& in)
{
    CText loadedName;
    std::int32_t count = 0;
    ZEL_TRY(in.readString(loadedName), kOwner);
    ZEL_TRY(in.readInt(count), kOwner);
    if (count < 0)
        return ZEL_ERROR(kOwner, "zelstr_CAudioPresetBank_load_PresetCount",
                         "Invalid preset count %1.", {std::to_string(count)});
    // Grown one record at a time: a corrupt count fails at the end of the data.
    std::vector<CAudioPreset> loaded;
    for (std::int32_t i = 0; i < count; ++i)
    {
        CAudioPreset preset;
        ZEL_TRY(preset.load(in), kOwner);
        loaded.push_back(std::move(preset));
    }
    name = std::move(loadedName);
    presets = std::move(loaded);
    return nullptr;
}

CErrorPtr CAudioPresetBank::saveList(COutputStream& out, const std::vector<CAudioPresetBank>& banks)
{
    ZEL_TRY(out.writeInt(static_cast<std::int32_t>(banks.size())), kOwner);
    for (const CAudioPresetBank& bank : banks)
        ZEL_TRY(bank.save(out), kOwner);
    return nullptr;
}

CErrorPtr CAudioPresetBank::loadList(CInputStream& in, std::vector<CAudioPresetBank>& banks)
{
    std::int32_t count = 0;
    ZEL_TRY(in.readInt(count), kOwner);
    if (count < 0)
        return ZEL_ERROR(kOwner, "zelstr_CAudioPresetBank_loadList_BankCount",
                         "Invalid bank count %1.", {std::to_string(count)});
    std::vector<CAudioPresetBank> loaded;
    for (std::int32_t i = 0; i < count; ++i)
    {
        CAudioPresetBank bank;
        ZEL_TRY(bank.load(in), kOwner);
        loaded.push_back(std::move(bank));
    }
    banks = std::move(loaded);
    return nullptr;
}

CErrorPtr CAudioPresetBank::saveBlock(COutputStream& out) const
{
    return CAudioPreset::writeTaggedBlock(out, makeBlockId(kBlockTag),
                                          [this](COutputStream& plain) { return save(plain); });
}

CErrorPtr CAudioPresetBank::loadBlock(CInputStream& in)
{
    CAudioPresetBank staged;
    ZEL_TRY(CAudioPreset::readTaggedBlock(in, makeBlockId(kBlockTag),
                                          [&staged](CInputStream& plain)
                                          { return staged.load(plain); }),
            kOwner);
    *this = std::move(staged);
    return nullptr;
}

CErrorPtr CAudioPresetBank::saveListBlock(COutputStream& out,
                                          const std::vector<CAudioPresetBank>& banks)
{
    return CAudioPreset::writeTaggedBlock(out, makeBlockId(kListTag),
                                          [&banks](COutputStream& plain)
                                          { return saveList(plain, banks); });
}

CErrorPtr CAudioPresetBank::loadListBlock(CInputStream& in, std::vector<CAudioPresetBank>& banks)
{
    std::vector<CAudioPresetBank> staged;
    ZEL_TRY(CAudioPreset::readTaggedBlock(in, makeBlockId(kListTag),
                                          [&staged](CInputStream& plain)
                                          { return loadList(plain, staged); }),
            kOwner);
    banks = std::move(staged);
    return nullptr;
}

CErrorPtr CAudioPresetBank::saveFile(const CText& path) const
{
    return CAudioPreset::writeFile(path, [this](COutputStream& out) { return saveBlock(out); });
}

CErrorPtr CAudioPresetBank::loadFile(const CText& path)
{
    CAudioPresetBank staged;
    ZEL_TRY(
        CAudioPreset::readFile(path, [&staged](CInputStream& in) { return staged.loadBlock(in); }),
        kOwner);
    *this = std::move(staged);
    return nullptr;
}

} // namespace zel
