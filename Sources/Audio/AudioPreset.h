#pragma once
// CAudioPreset: one stored program, a name and the parameter records of its parameters keyed by
// the parameter's preset key (its path relative to the registry). It is a plain record: it
// does not know the parameters, the registry or the undo history, and it is not locked (the
// registry that holds it guards it).
//
// Record: name (string), int32 entry count M, then M entries in ascending key order, each a key
// (string), an int32 blob length L and L bytes of parameter record (see CAudioParam).

#include "Core/Error.h"
#include "Core/Text.h"

#include <cstdint>
#include <map>
#include <vector>

namespace zel
{

class CInputStream;
class COutputStream;

class CAudioPreset
{
public:
    using Blob = std::vector<std::uint8_t>;

    CText name;
    std::map<CText, Blob> entries;

    CErrorPtr save(COutputStream& out) const;
    // Reads a whole record into temporaries; only a record read without error replaces this
    // preset. Truncated or malformed data is an error, and a corrupt count or length cannot
    // make it allocate more than the data that actually arrives. A key stored twice keeps the
    // later blob.
    CErrorPtr load(CInputStream& in);

    // Reads a byte block of length bytes in bounded pieces.
    static CErrorPtr readBytes(CInputStream& in, std::int32_t length, Blob& bytes);
};

} // namespace zel
