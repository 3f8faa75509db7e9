#pragma once
// CAudioFilterFIRLPGen ("audio:fltgen-firlp"): the taps of a linear-phase low-pass FIR filter,
// a sinc windowed by the Blackman window (0.42, 0.5, 0.08) and scaled to unity gain at DC.
// Attributes (each also an input of the request, which wins when it carries one): "length"
// (milliseconds; the tap count is length x sample rate / 1000, rounded, at least 1), "freq"
// (cut-off in Hz, a quarter of the sample rate when none is given) and "power" (exponent
// applied to the window: 1 is the plain Blackman window, larger values taper harder).

#include "Audio/Filters/AudioFilterGen.h"

namespace zel
{

class CAudioFilterFIRLPGen : public CAudioFilterGen
{
public:
    // The longest filter designed.
    static constexpr std::size_t kMaxTaps = 65536;

    static void registerClass(CClassInfo& info);

    // The tap count for a length in milliseconds at sample rate fs (0 when out of range).
    static std::size_t tapCount(double lengthMs, double fs);

protected:
    CErrorPtr designResolved(const CAudioFilterRequest& request, CAudioFilterDesign& out,
                             CDCDAWFilterWorkspace* workspace) const override;
};

} // namespace zel
