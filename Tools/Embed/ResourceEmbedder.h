#pragma once
// CResourceEmbedder: the build-time generator of the C++ source that defines the library's
// resource table (zel::g_zelResources, declared in Core/ResourceTable.h). It turns named
// payloads into one byte array per resource, each starting with the payload size as unsigned
// 32-bit little-endian, and a table of (data, name) entries in the given order, terminated by
// an entry without data. It reads no files itself and is not the run-time resource store.

#include "Core/Error.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zel
{

struct SEmbeddedResource
{
    std::string name;                  // resource name, any bytes except NUL
    std::vector<std::uint8_t> payload; // at most 0xFFFFFFFF bytes
};

class CResourceEmbedder
{
public:
    // Writes the C++ source for the resources into source. Fails on an empty or repeated
    // name, a name holding NUL, or a payload too large for its 32-bit size.
    static CErrorPtr generate(const std::vector<SEmbeddedResource>& resources, std::string& source);

    // The C++ string literal (with quotes) that spells the given bytes.
    static std::string quote(const std::string& bytes);
};

} // namespace zel
