#pragma once
// Test support for the filter generators: frequency responses evaluated directly from
// coefficients (independent of any filter kernel), and a fixture that loads generator elements
// below a root with the product types registered.

#include "Audio/AudioTestSupport.h"
#include "Audio/Filters/AudioFilterGen.h"

#include <array>
#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

namespace kelvtest
{

using Complex = std::complex<double>;

inline Complex unitCircle(double f, double fs)
{
    return std::polar(1.0, -2.0 * std::numbers::pi * f / fs); // z^-1
}

// H(e^jw) of one section b0, b1, b2, a1, a2 (a0 = 1).
inline Complex biquadResponse(const zel::CBiquadSection& s, double f, double fs)
{
    const Complex zi = unitCircle(f, fs);
    const auto& c = s.coeffs;
    return (c[0] + c[1] * zi + c[2] * zi * zi) / (1.0 + c[3] * zi + c[4] * zi * zi);
}

inline double db(double magnitude)
{
    return 20.0 * std::log10(magnitude);
}

// Half-band pair: 0.5 (A(z) + z^-1 B(z)), each chain a product of (c + z^-2) / (1 + c z^-2).
inline Complex halfBandResponse(const std::vector<double>& a, const std::vector<double>& b,
                                double f, double fs)
{
    const Complex zi = unitCircle(f, fs);
    const Complex z2 = zi * zi;
    Complex ha = 1.0, hb = 1.0;
    for (double c : a)
        ha *= (c + z2) / (1.0 + c * z2);
    for (double c : b)
        hb *= (c + z2) / (1.0 + c * z2);
    return 0.5 * (ha + zi * hb);
}

// The same pair sample by sample: allpass sections y[n] = c (x[n] - y[n-2]) + x[n-2] in two
// chains, out[n] = 0.5 (A[n] + B[n-1]).
inline std::vector<double> halfBandReference(const std::vector<double>& a,
                                             const std::vector<double>& b,
                                             const std::vector<double>& in)
{
    using CSection = std::array<double, 5>; // c, x[n-1], x[n-2], y[n-1], y[n-2]
    std::vector<CSection> chainA, chainB;
    for (double c : a)
        chainA.push_back({c, 0, 0, 0, 0});
    for (double c : b)
        chainB.push_back({c, 0, 0, 0, 0});
    const auto run = [](std::vector<CSection>& sections, double x)
    {
        for (CSection& s : sections)
        {
            const double y = s[0] * (x - s[4]) + s[2];
            s = {s[0], x, s[1], y, s[3]};
            x = y;
        }
        return x;
    };
    std::vector<double> out(in.size());
    double bDelayed = 0.0;
    for (std::size_t i = 0; i < in.size(); ++i)
    {
        out[i] = 0.5 * (run(chainA, in[i]) + bDelayed);
        bDelayed = run(chainB, in[i]);
    }
    return out;
}

inline Complex firResponse(const std::vector<double>& taps, double f, double fs)
{
    const Complex zi = unitCircle(f, fs);
    Complex sum = 0.0, power = 1.0;
    for (double tap : taps)
    {
        sum += tap * power;
        power *= zi;
    }
    return sum;
}

class CFilterGenTest : public CAudioTest
{
protected:
    // Loads a generator below the root; fails the test on an error.
    template <class T>
    const T* gen(const char* tag, const std::string& list)
    {
        const T* made = dynamic_cast<const T*>(load(tag, attrs(list)));
        EXPECT_NE(made, nullptr) << tag << " " << list;
        return made;
    }
    // The error of loading an element (children included) below the root.
    std::string loadError(const ktest::CFakeChild& element)
    {
        return idAndText(ktest::loadElement(*m_root, element));
    }
    std::string loadError(const char* tag, const std::string& list)
    {
        zel::CErrorPtr err;
        load(tag, attrs(list), &err);
        return idAndText(err);
    }
    static zel::CAudioFilterDesign designOf(const zel::CAudioFilterGen& generator,
                                            const zel::CAudioFilterRequest& request)
    {
        zel::CAudioFilterDesign out;
        const zel::CErrorPtr err = generator.design(request, out);
        EXPECT_EQ(idAndText(err), "no error") << generator.fullName().toUtf8();
        return out;
    }
};

} // namespace kelvtest
