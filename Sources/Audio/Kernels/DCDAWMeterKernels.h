#pragma once
// The level meter and correlation meter kernels of the dynamics family: "DCDAW_meteri",
// "DCDAW_meter", "DCDAW_meterc", "DCDAW_meterd", the publishing variants "DCDAW_metersub",
// "DCDAW_metersubc", "DCDAW_metersubd", and "DCDAW_metercorri", "DCDAW_metercorr",
// "DCDAW_metercorrsub". This header declares the kernels and the layouts of their state and
// result records; the descriptors are exported through dcdawDynamicsKernels()
// (Audio/Kernels/DCDAWKernel.h). It is not the meter module: choosing times, sizes and
// variants from parameters and attributes is the module's business.

#include <cstdint>

namespace zel
{

struct CDCDAWCall;

// Field indices of a level meter's state record (64-bit fields). Fields marked u32 hold
// unsigned 32-bit integers bit-exactly (use the accessors below). The module fills the
// initial level, the sizes, the three times and the flags before "DCDAW_meteri".
enum EMeterField : int
{
    kMeterInitialLevel = 0,    // power value everything starts from
    kMeterSizes = 1,           // u32 ring length R (bytes 0-3), u32 sub-block length S (bytes 4-7)
    kMeterIntegrationTime = 2, // seconds
    kMeterReleaseTime = 3,     // seconds; below 0.0001 s the released level follows at once
    kMeterThirdTime = 4,       // seconds: integration time of the second input's mean square
    kMeterFlags = 5,           // one byte: bit 0 set inverts the two-input ratio
    kMeterMeanSquare = 6,      // m
    kMeterMeanSquare2 = 7,     // m2, second input of the two-input variants
    kMeterReleased = 8,        // released level h
    kMeterPeak = 9,            // windowed peak P (the published peak)
    kMeterPeakLife = 10,       // u32: sub-block ends P still stays in the ring
    kMeterBlockMax = 11,       // q: extreme of the current sub-block
    kMeterBlockLeft = 12,      // u32: samples left in the current sub-block
    kMeterRingPos = 13,        // u32: ring write position
    kMeterRingLast = 14,       // u32: R - 1
    kMeterIntegrationCoef = 15,
    kMeterReleaseCoef = 16,
    kMeterThirdCoef = 17,
    kMeterFieldCount = 18
};

// Result record of the publishing variants: released level and peak as amplitudes (square
// roots of the power values) times the call's scalar.
enum EMeterResultField : int
{
    kMeterResultLevel = 0,
    kMeterResultPeak = 1,
    kMeterResultFieldCount = 2
};

// Field indices of the correlation meter's state record.
enum ECorrField : int
{
    kCorrFrequency = 0, // cut-off frequency of the running means, Hz
    kCorrCoef = 1,
    kCorrLL = 2,
    kCorrRR = 3,
    kCorrLR = 4,
    kCorrValue = 5, // correlation after the last processed sample
    kCorrFieldCount = 6
};

// Result record of "DCDAW_metercorrsub": the correlation.
constexpr int kCorrResultFieldCount = 1;

constexpr std::uint8_t kMeterFlagInverted = 1;

void setMeterSizes(double* state, std::uint32_t ringLength, std::uint32_t subBlockLength);
std::uint32_t meterRingLength(const double* state);
std::uint32_t meterSubBlockLength(const double* state);
void setMeterFlags(double* state, std::uint8_t flags);
std::uint8_t meterFlags(const double* state);
// The u32 fields kMeterPeakLife, kMeterBlockLeft, kMeterRingPos and kMeterRingLast.
std::uint32_t meterCount(const double* state, EMeterField field);
void setMeterCount(double* state, EMeterField field, std::uint32_t value);

// Meter coefficient for a time t at sample rate fs: c = 1 - b + sqrt(b^2 - 1) with
// b = 2 - cos(2*pi/(fs*1.3643161*t)); 1.0 for a non-positive or non-finite t or fs.
double dcdawMeterCoefficient(double seconds, double fs);

// Kernels (descriptors in dcdawDynamicsKernels()). n <= 0 makes every one of them do nothing,
// the publishing variants included; the initialisers take x = sample rate and are issued
// with n = 1.
//
// meteri(ring, state): coefficients; m, m2, h, q, P and R ring entries = the initial level;
//   samples left = S, ring position = R - 1, peak life = R. R and S of 0 count as 1.
// meter(ring, state, in): per sample p = in^2, m <- m + (p - m)*ci, h = m when m > h else
//   h <- h + (m - h)*cr, q <- max(h, p, q); every S samples q goes into the ring and the
//   windowed peak P is the largest of the last R sub-block values.
// meterc(ring, state, in): the same tracking minima (h falls at once and rises with cr).
// meterd(ring, state, a, b): two mean squares, m from a with ci and m2 from b with the third
//   coefficient; the level is (m + 1e-30)/(m2 + 1e-30), or its reciprocal with the inverted
//   flag, and drives h, q and P as m and p do in meter (maxima).
// metersub(ring, state, result, in), metersubc(...), metersubd(ring, state, result, a, b):
//   write the result record from h and P, then process as their plain twins.
// metercorri(state): coefficient from the frequency (one-pole, b = 2 - cos(2*pi*f/fs)),
//   running means and correlation 0.
// metercorr(state, l, r): running means of l^2, r^2, l*r; after the block the correlation
//   sLR / sqrt(sLL*sRR + 1e-30) is stored.
// metercorrsub(state, result, l, r): writes the stored correlation, then as metercorr.
void dcdawMeterInit(CDCDAWCall* call);
void dcdawMeter(CDCDAWCall* call);
void dcdawMeterC(CDCDAWCall* call);
void dcdawMeterD(CDCDAWCall* call);
void dcdawMeterSub(CDCDAWCall* call);
void dcdawMeterSubC(CDCDAWCall* call);
void dcdawMeterSubD(CDCDAWCall* call);
void dcdawMeterCorrInit(CDCDAWCall* call);
void dcdawMeterCorr(CDCDAWCall* call);
void dcdawMeterCorrSub(CDCDAWCall* call);

} // namespace zel
