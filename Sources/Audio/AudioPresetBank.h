#pragma once
// CAudioPresetBank: a named, ordered list of presets (the Session Bank, the factory bank, a
// bank file), and the bank list that non-master registries keep in the application data. Plain
// records: no lock, no knowledge of parameters or registries.
//
// Bank record: name (string), int32 preset count N, N preset records (see CAudioPreset).
// Bank list (content of a block tagged "alst"): int32 bank count, then the bank records.
// Tagged block of one bank: "abnk"; bank file (".cbf"): exactly one "abnk" block. Changing any
// of these breaks saved banks.

#include "Audio/AudioPreset.h"

#include <vector>

namespace zel
{

class CAudioPresetBank
{
public:
    // Tags of the compressed blocks holding a bank list and one bank.
    static constexpr char kListTag[] = "alst";
    static constexpr char kBlockTag[] = "abnk";
    static constexpr const char* kFileExtension = "cbf";
    static constexpr const char* kFileFilterLabel = "Compressed bank files";

    CText name;
    std::vector<CAudioPreset> presets;

    CErrorPtr save(COutputStream& out) const;
    // Reads the whole record into temporaries; on failure this bank is unchanged.
    CErrorPtr load(CInputStream& in);

    static CErrorPtr saveList(COutputStream& out, const std::vector<CAudioPresetBank>& banks);
    // On failure banks is unchanged.
    static CErrorPtr loadList(CInputStream& in, std::vector<CAudioPresetBank>& banks);

    // One compressed block tagged "abnk" holding the bank record; loading accepts only that tag
    // and a content read completely, else this bank is unchanged.
    CErrorPtr saveBlock(COutputStream& out) const;
    CErrorPtr loadBlock(CInputStream& in);
    // The same for a bank list in a block tagged "alst"; on failure banks is unchanged.
    static CErrorPtr saveListBlock(COutputStream& out, const std::vector<CAudioPresetBank>& banks);
    static CErrorPtr loadListBlock(CInputStream& in, std::vector<CAudioPresetBank>& banks);
    // A bank file holds exactly one "abnk" block (see CAudioPreset::loadFile for the rules).
    CErrorPtr saveFile(const CText& path) const;
    CErrorPtr loadFile(const CText& path);
};

} // namespace zel
