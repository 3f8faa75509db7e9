#pragma once
// CAudioPreset: one stored program, a name and the parameter records of its parameters keyed by
// the parameter's preset key (its path relative to the registry). It is a plain record: it
// does not know the parameters, the registry or the undo history, and it is not locked (the
// registry that holds it guards it).
//
// Record: name (string), int32 entry count M, then M entries in ascending key order, each a key
// (string), an int32 blob length L and L bytes of parameter record (see CAudioParam).
//
// Tagged block: a compressed block "aprs" whose plain content is exactly one preset record.
// Preset file (".cpf"): exactly one such block. Changing either breaks saved presets.

#include "Core/Error.h"
#include "Core/Text.h"

#include <cstdint>
#include <functional>
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
    using CSaveFn = std::function<CErrorPtr(COutputStream&)>;
    using CLoadFn = std::function<CErrorPtr(CInputStream&)>;

    static constexpr char kBlockTag[] = "aprs";
    static constexpr const char* kFileExtension = "cpf";
    static constexpr const char* kFileFilterLabel = "Compressed preset files";

    CText name;
    std::map<CText, Blob> entries;

    CErrorPtr save(COutputStream& out) const;
    // Reads a whole record into temporaries; only a record read without error replaces this
    // preset. Truncated or malformed data is an error, and a corrupt count or length cannot
    // make it allocate more than the data that actually arrives. A key stored twice keeps the
    // later blob.
    CErrorPtr load(CInputStream& in);

    // The record as one compressed block tagged "aprs".
    CErrorPtr saveBlock(COutputStream& out) const;
    // Accepts only a block tagged "aprs" whose content is exactly one record; on any failure
    // this preset is unchanged.
    CErrorPtr loadBlock(CInputStream& in);
    // A preset file holds exactly one "aprs" block; a file with anything else (another tag,
    // a damaged block, bytes after the block) is refused and this preset is unchanged.
    CErrorPtr saveFile(const CText& path) const;
    CErrorPtr loadFile(const CText& path);

    // Reads a byte block of length bytes in bounded pieces.
    static CErrorPtr readBytes(CInputStream& in, std::int32_t length, Blob& bytes);

    // Helpers shared with the bank. writeTaggedBlock compresses what save writes into one block
    // tagged id. readTaggedBlock inflates a block tagged id and lets load parse its content,
    // which load must consume completely. writeFile and readFile do the same with a whole
    // file: readFile reads the file into memory and refuses bytes that load leaves unread.
    static CErrorPtr writeTaggedBlock(COutputStream& out, std::uint32_t id, const CSaveFn& save);
    static CErrorPtr readTaggedBlock(CInputStream& in, std::uint32_t id, const CLoadFn& load);
    static CErrorPtr writeFile(const CText& path, const CSaveFn& save);
    static CErrorPtr readFile(const CText& path, const CLoadFn& load);
};

} // namespace zel
