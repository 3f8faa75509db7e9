#pragma once
// CAudioRoutingFit: whether a routing preset fits the channel configuration the host offers.
// A preset needs mid/side pair support when its "ms-pairs" entry holds a non-zero value in any
// group, and side-chain inputs when its "sidechain" or "sidechain-mute" entry holds a non-zero
// value; a missing entry needs nothing. The preset manager shows and applies only the presets
// that fit.
//
// It reads the entries' parameter records itself (float records only) and does not touch any
// parameter or registry; it is not the routing itself (the routers and the mid/side coders).

#include "Core/Error.h"

namespace zel
{

class CAudioPreset;

class CAudioRoutingFit
{
public:
    static constexpr const char* kMidSideKey = "ms-pairs";
    static constexpr const char* kSidechainKey = "sidechain";
    static constexpr const char* kSidechainMuteKey = "sidechain-mute";

    bool needsMidSide = false;
    bool needsSidechain = false;

    // What preset needs; a damaged record of one of the three entries is an error and leaves
    // this unchanged.
    CErrorPtr read(const CAudioPreset& preset);
    // True when the configuration offers what the preset needs.
    bool fits(bool midSideAllowed, bool sidechainAvailable) const;

    // read and fits in one; a preset whose entries do not read does not fit.
    static bool presetFits(const CAudioPreset& preset, bool midSideAllowed,
                           bool sidechainAvailable);
};

} // namespace zel
