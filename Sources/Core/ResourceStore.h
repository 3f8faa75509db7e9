#pragma once
// The resource store: the resources built into the library (compiled object descriptions,
// graphic files, factory data), looked up by name, and openResource(), which hands out a
// reader over a resource, or over the file of that name when no resource has it.
//
// The embedded table (ResourceTable.h) is turned into an ordered name -> (payload, size) map
// the first time the store is used; that map is read-only afterwards and safe to use from any
// thread. The store does not decode any resource; the description loader and the graphic
// resource objects do.

#include "Core/Error.h"
#include "Core/ResourceReader.h"
#include "Core/Text.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>

namespace zel
{

// A built-in resource's payload: the bytes after its 32-bit size header.
struct SResourcePayload
{
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
};

// Every built-in resource by name (the first entry wins when a name repeats).
const std::map<CText, SResourcePayload>& builtInResources();

// The payload of the built-in resource name; false when there is none.
bool findBuiltInResource(const CText& name, SResourcePayload& payload);

// Opens the resource name: a reader over the built-in payload (position 0), or else over the
// file of that name. A name that is neither fails with the file reader's open error, with the
// resource reader's trail entry added; reader is then null.
CErrorPtr openResource(const CText& name, std::unique_ptr<CResourceReader>& reader);

} // namespace zel
