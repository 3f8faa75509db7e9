#include "Core/ResourceStore.h"

#include "Core/FileStreams.h"
#include "Core/ResourceTable.h"

namespace zel
{
namespace
{
std::map<CText, SResourcePayload> buildResourceMap()
{
    std::map<CText, SResourcePayload> map;
    for (const SResourceEntry* entry = g_zelResources; entry->data != nullptr; ++entry)
    {
        // The size header carries no alignment guarantee: assemble it byte by byte.
        const unsigned char* data = entry->data;
        const std::size_t size = std::size_t{data[0]} | (std::size_t{data[1]} << 8) |
                                 (std::size_t{data[2]} << 16) | (std::size_t{data[3]} << 24);
        map.emplace(CText(entry->name != nullptr ? entry->name : ""),
                    SResourcePayload{data + 4, size});
    }
    return map;
}
} // namespace

const std::map<CText, SResourcePayload>& builtInResources()
{
    static const std::map<CText, SResourcePayload> map = buildResourceMap();
    return map;
}

bool findBuiltInResource(const CText& name, SResourcePayload& payload)
{
    const auto& map = builtInResources();
    const auto it = map.find(name);
    if (it == map.end())
        return false;
    payload = it->second;
    return true;
}

CErrorPtr openResource(const CText& name, std::unique_ptr<CResourceReader>& reader)
{
    reader.reset();
    SResourcePayload payload;
    if (findBuiltInResource(name, payload))
    {
        reader = std::make_unique<CResourceReader>(name, payload.data, payload.size);
        return nullptr;
    }
    auto file = std::make_unique<CFileReader>();
    ZEL_TRY(file->open(name, CFile::kShareRead), "CResourceReader::open");
    reader = std::make_unique<CResourceReader>(name, std::move(file));
    return nullptr;
}

} // namespace zel
