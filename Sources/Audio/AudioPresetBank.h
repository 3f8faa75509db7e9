#pragma once
// CAudioPresetBank: a named, ordered list of presets (the Session Bank, the factory bank, a
// bank file), and the bank list that non-master registries keep in the application data. Plain
// records: no lock, no knowledge of parameters or registries.
//
// Bank record: name (string), int32 preset count N, N preset records (see CAudioPreset).
// Bank list (content of a block tagged "alst"): int32 bank count, then the bank records.

#include "Audio/AudioPreset.h"

#include <vector>

namespace zel
{

class CAudioPresetBank
{
public:
    // Tag of the compressed block holding a bank list.
    static constexpr const char* kListTag = "alst";

    CText name;
    std::vector<CAudioPreset> presets;

    CErrorPtr save(COutputStream& out) const;
    // Reads the whole record into temporaries; on failure this bank is unchanged.
    CErrorPtr load(CInputStream& in);

    static CErrorPtr saveList(COutputStream& out, const std::vector<CAudioPresetBank>& banks);
    // On failure banks is unchanged.
    static CErrorPtr loadList(CInputStream& in, std::vector<CAudioPresetBank>& banks);
};

} // namespace zel
