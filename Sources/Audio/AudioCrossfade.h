#pragma once
// CAudioCrossfade: the raised-cosine blend a module runs when a structural change replaces its
// running state by a new copy. Over N = round(length x sample rate) samples the output goes
// from the old copy's signal to the new copy's: out = (0.5 - s) new + (0.5 + s) old with
// s = 0.5 cos(pi k / N), k = 0 .. N - 1, so the first sample is the old copy's; afterwards the
// output is the new copy's alone ("DCDAW_copy"). The length comes from the definition's
// "xfade-length" in seconds, never below 0.0001 s (also when the attribute is absent).
//
// The state record ("DCDAW_xfadei" / "DCDAW_xfade") lives in a kernel context slot held by
// this object; the module owns the two copies and drops the old one when finished() says so.
// Not thread-safe; audio thread (start may also run at build time).

#include "Core/Error.h"

#include <cstdint>

namespace zel
{

class CDCDAWContextObject;
class CObject;

class CAudioCrossfade
{
public:
    static constexpr double kMinLength = 0.0001;

    // "xfade-length" of def (inherited lookup), clamped to at least 0.0001 s.
    static double lengthOf(const CObject& def);
    static double clampLength(double seconds);

    // Starts (or restarts) a blend of the given length.
    CErrorPtr start(CDCDAWContextObject& context, double seconds, double sampleRate);
    bool isRunning() const { return m_running; }
    // n samples into out: the blend while it runs, then a copy of newRef (nothing when out is
    // newRef). The blend stops being running once it has covered its N samples.
    CErrorPtr run(CDCDAWContextObject& context, std::int32_t n, std::uint32_t out,
                  std::uint32_t newRef, std::uint32_t oldRef);
    // Releases the state slot.
    void release(CDCDAWContextObject& context);

private:
    std::uint32_t m_state = 0;
    bool m_hasState = false;
    bool m_running = false;
};

} // namespace zel
