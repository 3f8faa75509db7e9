#include "Audio/AudioRoutingFit.h"

#include "Audio/AudioPreset.h"
#include "Core/Log.h"
#include "Core/MemoryReader.h"

namespace zel
{
namespace
{
const char* const kOwner = "CAudioRoutingFit";

// True when the parameter record in blob holds a non-zero value in any group. The record is
// the parameter path, then the storage record (version, element size, data type, group count,
// and per group the element count and the values).
CErrorPtr anyNonZero(const CAudioPreset::Blob& blob, bool& nonZero)
{
    CMemoryReader in(blob.data(), blob.size());
    CText path;
    std::int32_t version = 0;
    std::int32_t elementSize = 0;
    std::int32_t dataType = 0;
    std::int32_t groups = 0;
    ZEL_TRY(in.readString(path), kOwner);
    ZEL_TRY(in.readInt(version), kOwner);
    ZEL_TRY(in.readInt(elementSize), kOwner);
    ZEL_TRY(in.readInt(dataType), kOwner);
    ZEL_TRY(in.readInt(groups), kOwner);
    if (version != 1 || dataType != 0 || elementSize < 1 || groups < 0)
        return ZEL_ERROR(kOwner, "zelstr_CAudioRoutingFit_read_Record",
                         "Unsupported routing record '%1'.", {path.toUtf8()});
    bool found = false;
    for (std::int32_t g = 0; g < groups; ++g)
    {
        std::int32_t count = 0;
        ZEL_TRY(in.readInt(count), kOwner);
        if (count < 0 || static_cast<std::int64_t>(count) * elementSize * 8 > in.remaining())
            return ZEL_ERROR(kOwner, "zelstr_CAudioRoutingFit_read_Count",
                             "Invalid element count in routing record '%1'.", {path.toUtf8()});
        for (std::int32_t i = 0; i < count * elementSize; ++i)
        {
            double value = 0.0;
            ZEL_TRY(in.readDouble(value), kOwner);
            found = found || value != 0.0;
        }
    }
    nonZero = found;
    return nullptr;
}
} // namespace

CErrorPtr CAudioRoutingFit::read(const CAudioPreset& preset)
{
    const auto needs = [&](const char* key, bool& out) -> CErrorPtr
    {
        out = false;
        const auto it = preset.entries.find(CText(key));
        if (it == preset.entries.end())
            return nullptr;
        ZEL_TRY(anyNonZero(it->second, out), kOwner);
        return nullptr;
    };
    bool midSide = false;
    bool sidechain = false;
    bool sidechainMute = false;
    ZEL_TRY(needs(kMidSideKey, midSide), kOwner);
    ZEL_TRY(needs(kSidechainKey, sidechain), kOwner);
    ZEL_TRY(needs(kSidechainMuteKey, sidechainMute), kOwner);
    needsMidSide = midSide;
    needsSidechain = sidechain || sidechainMute;
    return nullptr;
}

bool CAudioRoutingFit::fits(bool midSideAllowed, bool sidechainAvailable) const
{
    return (!needsMidSide || midSideAllowed) && (!needsSidechain || sidechainAvailable);
}

bool CAudioRoutingFit::presetFits(const CAudioPreset& preset, bool midSideAllowed,
                                  bool sidechainAvailable)
{
    CAudioRoutingFit fit;
    if (CErrorPtr err = fit.read(preset))
    {
        diagLog("Routing preset not usable: " + err->text());
        return false;
    }
    return fit.fits(midSideAllowed, sidechainAvailable);
}

} // namespace zel
