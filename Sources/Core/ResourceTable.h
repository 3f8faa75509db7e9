#pragma once
// SResourceEntry and g_zelResources: the raw table of the resources built into the library
// (compiled descriptions, graphic files, factory data). It is only the table as the build
// generates it; the name-to-payload map and the readers over resources are built on top of it.
//
// Each entry pairs the resource's data with its name. The data starts with the payload's byte
// size as an unsigned 32-bit little-endian integer, followed by that many payload bytes; read
// the size byte by byte, the data carries no alignment guarantee for it. The table ends with
// an entry whose data is null.

namespace zel
{

struct SResourceEntry
{
    const unsigned char* data;
    const char* name;
};

// Defined by the source that the build generates from the carried files (tool kelv-embed).
extern const SResourceEntry g_zelResources[];

} // namespace zel
