#include "Audio/Filters/AudioFilterFIRLPGen.h"

#include "Core/Numbers.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace zel
{

void CAudioFilterFIRLPGen::registerClass(CClassInfo& info)
{
    CAudioFilterGen::registerClass(info);
}

std::size_t CAudioFilterFIRLPGen::tapCount(double lengthMs, double fs)
{
    const double count = std::round(lengthMs * fs / 1000.0);
    if (!(count >= 0.0) || count > static_cast<double>(kMaxTaps))
        return 0;
    return std::max<std::size_t>(1, static_cast<std::size_t>(count));
}

CErrorPtr CAudioFilterFIRLPGen::designResolved(const CAudioFilterRequest& request,
                                               CAudioFilterDesign& out,
                                               CDCDAWFilterWorkspace* workspace) const
{
    const double fs = request.sampleRate;
    const std::size_t count = request.length ? tapCount(*request.length, fs) : 0;
    if (count == 0)
        return ZEL_ERROR(
            fullName().toUtf8(), "zelstr_CAudioFilterFIRLPGen_design_InvalidLength",
            "Invalid filter length '%1' ms at sample rate %2.",
            {request.length ? formatNumber(*request.length, 6, true).toUtf8() : std::string(),
             formatNumber(fs, 3, true).toUtf8()});
    const double power = request.power.value_or(1.0);
    if (!(power > 0.0) || !std::isfinite(power))
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioFilterFIRLPGen_design_InvalidPower",
                         "Invalid window power %1.", {formatNumber(power, 6, true).toUtf8()});
    // Normalised cut-off (cycles per sample), kept inside (0, 0.5].
    const double cutoff = std::clamp(request.freq.value_or(0.25 * fs) / fs, 1e-9, 0.5);

    CDCDAWFilterWorkspace local;
    const std::vector<double>& window =
        (workspace != nullptr ? *workspace : local).blackmanWindow(count, power);

    out.kind = EFilterDesignKind::kFIR;
    out.taps.resize(count);
    // The first half is computed and mirrored, so the taps are symmetric to the last bit and
    // the filter's phase exactly linear.
    const double centre = 0.5 * static_cast<double>(count - 1);
    for (std::size_t i = 0; i < (count + 1) / 2; ++i)
    {
        const double t = static_cast<double>(i) - centre;
        const double arg = 2.0 * std::numbers::pi * cutoff * t;
        const double sinc = t == 0.0 ? 2.0 * cutoff : std::sin(arg) / (std::numbers::pi * t);
        out.taps[i] = sinc * window[i];
        out.taps[count - 1 - i] = out.taps[i];
    }
    double sum = 0.0;
    for (double tap : out.taps)
        sum += tap;
    if (!(std::abs(sum) > 1e-300))
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioFilterFIRLPGen_design_ZeroGain",
                         "The window leaves no gain at DC.", {});
    for (double& tap : out.taps)
        tap /= sum;
    return nullptr;
}

} // namespace zel
