#pragma once
// CAudioFilterGen: the base of the filter generators, description objects that turn their
// attributes and the filter's input values (frequency, gain, bandwidth) into coefficients for
// the filter kernels. A generator holds no audio state and runs no audio: a filter module asks
// it for a design whenever its inputs or the sample rate change and hands the result to the
// kernels. One generator object serves any number of modules and channels.
//
// Also here: the design request and result shared by every generator, the number-list reader
// of the coefficient attributes, and CDCDAWFilterWorkspace, the kernel context's scratch data
// of the generators. The concrete generators live in AudioFilterBiquadGens.h,
// AudioFilterHBFGen.h, AudioFilterFIRLPGen.h and AudioFilterGenGroups.h.

#include "Audio/DCDAWContextWorkspace.h"
#include "Core/Object.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace zel
{

// The inputs of one design. An input left empty takes the value that the generator (or the
// array item or array that passes the request on) sets in its attribute of the same name.
struct CAudioFilterRequest
{
    double sampleRate = 44100.0;
    std::optional<double> freq;   // Hz: centre, corner or cut-off frequency
    std::optional<double> gain;   // linear factor
    std::optional<double> bw;     // octaves, or Q where the generator says so
    std::optional<double> length; // FIR length in milliseconds
    std::optional<double> power;  // FIR window exponent
    std::int32_t index = 0;       // the item a generator array selects
    // How many generators passed the request on (items, arrays, cascades); bounded so that a
    // generator that refers to itself fails instead of recursing without end.
    std::int32_t nesting = 0;
};

// Numerator shapes of a biquad section; each has its own processing kernel ("DCDAW_fltbiq...").
enum class EBiquadForm
{
    kCommon,   // any numerator
    kLowPass,  // b1 = 2 b0, b2 = b0
    kHighPass, // b1 = -2 b0, b2 = b0
    kBandPass, // b1 = 0, b2 = -b0
    kNotch,    // b2 = b0
};

// One second-order section: b0, b1, b2, a1, a2 normalised to a0 = 1, with
// y = b0 x + b1 x[-1] + b2 x[-2] - a1 y[-1] - a2 y[-2] (the coefficient record of
// "DCDAW_fltbiqi" and "DCDAW_fltbiqu").
struct CBiquadSection
{
    std::array<double, 5> coeffs{1.0, 0.0, 0.0, 0.0, 0.0};
    EBiquadForm form = EBiquadForm::kCommon;
};

enum class EFilterDesignKind
{
    kNone,
    kBiquad,   // sections in cascade
    kHalfBand, // the allpass-pair coefficients of one half-band filter
    kFIR,      // taps
};

// A generator's result. Biquad and half-band designs live in fixed storage so that designing
// them on the audio thread does not allocate; FIR taps use the vector (its capacity is reused).
struct CAudioFilterDesign
{
    static constexpr std::size_t kMaxSections = 8;
    static constexpr std::size_t kMaxHalfBandOrder = 16;

    EFilterDesignKind kind = EFilterDesignKind::kNone;
    std::size_t sectionCount = 0;
    std::array<CBiquadSection, kMaxSections> sections{};
    // Half-band order K (2, 4, ..., 16) and the K coefficients: the K/2 of chain A, then the
    // K/2 of chain B (the record of the "DCDAW_flthbfKi" initialisers).
    std::size_t halfBandOrder = 0;
    std::array<double, kMaxHalfBandOrder> halfBand{};
    std::vector<double> taps;

    void clear();
};

// Scratch data of the generators kept by the kernel context under kFilterKey: the last
// window built by the FIR low-pass generator, reused while its length and exponent stay.
class CDCDAWFilterWorkspace : public CDCDAWContextWorkspace
{
public:
    // The Blackman window of length points raised to power.
    const std::vector<double>& blackmanWindow(std::size_t length, double power);

private:
    std::vector<double> m_window;
    double m_windowPower = 0.0;
};

class CAudioFilterGen : public CObject
{
public:
    // Deepest chain of generators passing one request on.
    static constexpr std::int32_t kMaxNesting = 16;

    // Input defaults: "freq" (Hz), "gain" (linear factor), "bw", "length" (ms), "power".
    static void registerClass(CClassInfo& info);

    // Designs the filter for request into out (cleared first). workspace may be null.
    CErrorPtr design(const CAudioFilterRequest& request, CAudioFilterDesign& out,
                     CDCDAWFilterWorkspace* workspace = nullptr) const;
    // The request with its empty inputs filled from this generator's attributes.
    virtual CAudioFilterRequest resolve(const CAudioFilterRequest& request) const;

    CErrorPtr onFreq(const CText& value);
    CErrorPtr onGain(const CText& value);
    CErrorPtr onBw(const CText& value);
    CErrorPtr onLength(const CText& value);
    CErrorPtr onPower(const CText& value);

    // Reads a list of numbers separated by ',', ';' or white space (each written with a "."
    // decimal point); fails on an empty item or an item that is no number.
    static bool parseNumberList(const CText& text, std::vector<double>& out);

protected:
    // Designs for a request whose inputs are all filled (as far as this generator knows them).
    virtual CErrorPtr designResolved(const CAudioFilterRequest& request, CAudioFilterDesign& out,
                                     CDCDAWFilterWorkspace* workspace) const = 0;
    // Parses a number attribute into target; reports "Invalid number '%1' for '%2'.".
    CErrorPtr parseInput(const char* attribute, const CText& value, std::optional<double>& target);
    // Fills the empty inputs of request from this generator's own attributes.
    void fillOwnInputs(CAudioFilterRequest& request) const;
    // request passed on one level deeper; fails when the chain is too deep.
    CErrorPtr nested(const CAudioFilterRequest& request, CAudioFilterRequest& out) const;

private:
    std::optional<double> m_freq;
    std::optional<double> m_gain;
    std::optional<double> m_bw;
    std::optional<double> m_length;
    std::optional<double> m_power;
};

} // namespace zel
