#include "Audio/Kernels/DCDAWMeterKernels.h"

#include "Audio/Kernels/DCDAWGainComputer.h"
#include "Audio/Kernels/DCDAWKernel.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace zel
{

namespace
{

// Below this release time the released level follows the mean square exactly.
constexpr double kMinReleaseTime = 0.0001;
// Guard of the two-input ratio and of the correlation's normalisation.
constexpr double kTiny = 1e-30;

std::uint32_t loadU32(const double* field, std::size_t byteOffset)
{
    std::uint32_t v = 0;
    std::memcpy(&v, reinterpret_cast<const unsigned char*>(field) + byteOffset, sizeof v);
    return v;
}

void storeU32(double* field, std::size_t byteOffset, std::uint32_t v)
{
    std::memcpy(reinterpret_cast<unsigned char*>(field) + byteOffset, &v, sizeof v);
}

// How the per-sample level is formed.
enum class EMeterInput
{
    kMax,          // one input, maxima
    kMin,          // one input, minima
    kRatio,        // two inputs, m/m2, maxima
    kRatioInverted // two inputs, m2/m, maxima
};

constexpr bool tracksMinima(EMeterInput mode)
{
    return mode == EMeterInput::kMin;
}

constexpr bool hasTwoInputs(EMeterInput mode)
{
    return mode == EMeterInput::kRatio || mode == EMeterInput::kRatioInverted;
}

// The running values of a meter, loaded once per call and stored back at its end.
struct CMeterRun
{
    std::uint32_t ringLength;
    std::uint32_t subBlock;
    std::uint32_t left;
    std::uint32_t pos;
    std::uint32_t life;
    double m, m2, h, q, peak;
    double ci, cr, c3;

    explicit CMeterRun(const double* state)
    {
        ringLength = std::max<std::uint32_t>(1, meterRingLength(state));
        subBlock = std::max<std::uint32_t>(1, meterSubBlockLength(state));
        left = meterCount(state, kMeterBlockLeft);
        if (left == 0 || left > subBlock)
            left = subBlock;
        pos = std::min(meterCount(state, kMeterRingPos), ringLength - 1);
        life = std::min(meterCount(state, kMeterPeakLife), ringLength);
        m = state[kMeterMeanSquare];
        m2 = state[kMeterMeanSquare2];
        h = state[kMeterReleased];
        q = state[kMeterBlockMax];
        peak = state[kMeterPeak];
        ci = state[kMeterIntegrationCoef];
        cr = state[kMeterReleaseCoef];
        c3 = state[kMeterThirdCoef];
    }

    void store(double* state) const
    {
        setMeterCount(state, kMeterBlockLeft, left);
        setMeterCount(state, kMeterRingPos, pos);
        setMeterCount(state, kMeterPeakLife, life);
        state[kMeterMeanSquare] = m;
        state[kMeterMeanSquare2] = m2;
        state[kMeterReleased] = h;
        state[kMeterBlockMax] = q;
        state[kMeterPeak] = peak;
    }

    // End of a sub-block: q enters the ring and the windowed peak is brought up to date.
    // An entry at index j stays in the ring for (pos - j) mod R more sub-block ends once pos
    // has stepped past the write; the peak's life counts these down, and only when the peak
    // leaves the window is the ring rescanned.
    template <bool kMin>
    void endSubBlock(double* ring)
    {
        ring[pos] = q;
        pos = pos == 0 ? ringLength - 1 : pos - 1;
        if (kMin ? q <= peak : q >= peak)
        {
            peak = q;
            life = ringLength - 1;
        }
        else if (life == 0)
        {
            // Newest first, so that among equal values the one staying longest wins.
            std::uint32_t j = pos;
            double best = 0.0;
            for (std::uint32_t k = 0; k < ringLength; ++k)
            {
                j = j + 1 == ringLength ? 0 : j + 1;
                const double v = ring[j];
                if (k == 0 || (kMin ? v < best : v > best))
                {
                    best = v;
                    life = ringLength - 1 - k;
                }
            }
            peak = best;
        }
        else
        {
            --life;
        }
        q = h;
        left = subBlock;
    }

    // The samples of one stretch inside a sub-block: no boundary checks in the loop.
    template <EMeterInput kMode, bool kFollow>
    void processStretch(const double* a, const double* b, std::uint32_t count)
    {
        constexpr bool kMin = tracksMinima(kMode);
        double mm = m, mm2 = m2, hh = h, qq = q;
        for (std::uint32_t i = 0; i < count; ++i)
        {
            double level;
            double instant;
            if constexpr (hasTwoInputs(kMode))
            {
                const double xa = a[i];
                const double xb = b[i];
                mm += (xa * xa - mm) * ci;
                mm2 += (xb * xb - mm2) * c3;
                level = kMode == EMeterInput::kRatio ? (mm + kTiny) / (mm2 + kTiny)
                                                     : (mm2 + kTiny) / (mm + kTiny);
                instant = level;
            }
            else
            {
                const double x = a[i];
                instant = x * x;
                mm += (instant - mm) * ci;
                level = mm;
            }
            if constexpr (kFollow)
                hh = level;
            else if constexpr (kMin)
                hh = level < hh ? level : hh + (level - hh) * cr;
            else
                hh = level > hh ? level : hh + (level - hh) * cr;
            if constexpr (kMin)
                qq = std::min(hh, std::min(instant, qq));
            else
                qq = std::max(hh, std::max(instant, qq));
        }
        m = mm;
        m2 = mm2;
        h = hh;
        q = qq;
    }

    template <EMeterInput kMode, bool kFollow>
    void process(double* ring, const double* a, const double* b, std::int32_t n)
    {
        auto remaining = static_cast<std::uint32_t>(n);
        while (remaining > 0)
        {
            const std::uint32_t count = std::min(left, remaining);
            processStretch<kMode, kFollow>(a, b, count);
            a += count;
            if constexpr (hasTwoInputs(kMode))
                b += count;
            remaining -= count;
            left -= count;
            if (left == 0)
                endSubBlock<tracksMinima(kMode)>(ring);
        }
    }
};

template <EMeterInput kMode>
void runMeter(double* ring, double* state, const double* a, const double* b, std::int32_t n)
{
    CMeterRun run(state);
    if (run.cr == 1.0)
        run.process<kMode, true>(ring, a, b, n);
    else
        run.process<kMode, false>(ring, a, b, n);
    run.store(state);
}

void writeMeterResult(double* result, const double* state, double scale)
{
    result[kMeterResultLevel] = std::sqrt(state[kMeterReleased]) * scale;
    result[kMeterResultPeak] = std::sqrt(state[kMeterPeak]) * scale;
}

void runRatioMeter(double* ring, double* state, const double* a, const double* b, std::int32_t n)
{
    if (meterFlags(state) & kMeterFlagInverted)
        runMeter<EMeterInput::kRatioInverted>(ring, state, a, b, n);
    else
        runMeter<EMeterInput::kRatio>(ring, state, a, b, n);
}

void runCorrelation(double* state, const double* l, const double* r, std::int32_t n)
{
    const double c = state[kCorrCoef];
    double sll = state[kCorrLL];
    double srr = state[kCorrRR];
    double slr = state[kCorrLR];
    for (std::int32_t i = 0; i < n; ++i)
    {
        const double xl = l[i];
        const double xr = r[i];
        sll += (xl * xl - sll) * c;
        srr += (xr * xr - srr) * c;
        slr += (xl * xr - slr) * c;
    }
    state[kCorrLL] = sll;
    state[kCorrRR] = srr;
    state[kCorrLR] = slr;
    // Only the value after the last sample is published, so it is formed once per block.
    state[kCorrValue] = slr / std::sqrt(sll * srr + kTiny);
}

} // namespace

void setMeterSizes(double* state, std::uint32_t ringLength, std::uint32_t subBlockLength)
{
    storeU32(&state[kMeterSizes], 0, ringLength);
    storeU32(&state[kMeterSizes], 4, subBlockLength);
}

std::uint32_t meterRingLength(const double* state)
{
    return loadU32(&state[kMeterSizes], 0);
}

std::uint32_t meterSubBlockLength(const double* state)
{
    return loadU32(&state[kMeterSizes], 4);
}

void setMeterFlags(double* state, std::uint8_t flags)
{
    unsigned char bytes[sizeof(double)] = {};
    bytes[0] = flags;
    std::memcpy(&state[kMeterFlags], bytes, sizeof bytes);
}

std::uint8_t meterFlags(const double* state)
{
    std::uint8_t flags = 0;
    std::memcpy(&flags, &state[kMeterFlags], 1);
    return flags;
}

std::uint32_t meterCount(const double* state, EMeterField field)
{
    return loadU32(&state[field], 0);
}

void setMeterCount(double* state, EMeterField field, std::uint32_t value)
{
    double zero = 0.0;
    std::memcpy(&state[field], &zero, sizeof zero);
    storeU32(&state[field], 0, value);
}

double dcdawMeterCoefficient(double seconds, double fs)
{
    if (!(seconds > 0.0) || !(fs > 0.0) || !std::isfinite(seconds) || !std::isfinite(fs))
        return 1.0;
    const double b = 2.0 - std::cos(2.0 * std::numbers::pi / (fs * 1.3643161 * seconds));
    return 1.0 - b + std::sqrt(b * b - 1.0);
}

void dcdawMeterInit(CDCDAWCall* call)
{
    if (call->n <= 0)
        return;
    double* ring = call->data[0];
    double* state = call->data[1];
    const double fs = call->x;
    const std::uint32_t ringLength = std::max<std::uint32_t>(1, meterRingLength(state));
    const std::uint32_t subBlock = std::max<std::uint32_t>(1, meterSubBlockLength(state));
    setMeterSizes(state, ringLength, subBlock);

    state[kMeterIntegrationCoef] = dcdawMeterCoefficient(state[kMeterIntegrationTime], fs);
    state[kMeterReleaseCoef] = state[kMeterReleaseTime] < kMinReleaseTime
                                   ? 1.0
                                   : dcdawMeterCoefficient(state[kMeterReleaseTime], fs);
    state[kMeterThirdCoef] = dcdawMeterCoefficient(state[kMeterThirdTime], fs);

    const double initial = state[kMeterInitialLevel];
    state[kMeterMeanSquare] = initial;
    state[kMeterMeanSquare2] = initial;
    state[kMeterReleased] = initial;
    state[kMeterBlockMax] = initial;
    state[kMeterPeak] = initial;
    std::fill(ring, ring + ringLength, initial);
    setMeterCount(state, kMeterBlockLeft, subBlock);
    setMeterCount(state, kMeterRingPos, ringLength - 1);
    setMeterCount(state, kMeterRingLast, ringLength - 1);
    setMeterCount(state, kMeterPeakLife, ringLength);
}

void dcdawMeter(CDCDAWCall* call)
{
    if (call->n > 0)
        runMeter<EMeterInput::kMax>(call->data[0], call->data[1], call->data[2], nullptr, call->n);
}

void dcdawMeterC(CDCDAWCall* call)
{
    if (call->n > 0)
        runMeter<EMeterInput::kMin>(call->data[0], call->data[1], call->data[2], nullptr, call->n);
}

void dcdawMeterD(CDCDAWCall* call)
{
    if (call->n > 0)
        runRatioMeter(call->data[0], call->data[1], call->data[2], call->data[3], call->n);
}

void dcdawMeterSub(CDCDAWCall* call)
{
    if (call->n <= 0)
        return;
    writeMeterResult(call->data[2], call->data[1], call->x);
    runMeter<EMeterInput::kMax>(call->data[0], call->data[1], call->data[3], nullptr, call->n);
}

void dcdawMeterSubC(CDCDAWCall* call)
{
    if (call->n <= 0)
        return;
    writeMeterResult(call->data[2], call->data[1], call->x);
    runMeter<EMeterInput::kMin>(call->data[0], call->data[1], call->data[3], nullptr, call->n);
}

void dcdawMeterSubD(CDCDAWCall* call)
{
    if (call->n <= 0)
        return;
    writeMeterResult(call->data[2], call->data[1], call->x);
    runRatioMeter(call->data[0], call->data[1], call->data[3], call->data[4], call->n);
}

void dcdawMeterCorrInit(CDCDAWCall* call)
{
    if (call->n <= 0)
        return;
    double* state = call->data[0];
    state[kCorrCoef] = dynamicsOnePoleCoefficient(state[kCorrFrequency], call->x);
    state[kCorrLL] = 0.0;
    state[kCorrRR] = 0.0;
    state[kCorrLR] = 0.0;
    state[kCorrValue] = 0.0;
}

void dcdawMeterCorr(CDCDAWCall* call)
{
    if (call->n > 0)
        runCorrelation(call->data[0], call->data[1], call->data[2], call->n);
}

void dcdawMeterCorrSub(CDCDAWCall* call)
{
    if (call->n <= 0)
        return;
    call->data[1][0] = call->data[0][kCorrValue];
    runCorrelation(call->data[0], call->data[2], call->data[3], call->n);
}

} // namespace zel
