#pragma once
// Test support for the filter generators and filters: frequency responses evaluated directly
// from coefficients and sample-by-sample references (independent of any filter kernel), and a
// fixture that loads generator elements below a root with the product types registered.

#include "Audio/AudioTestSupport.h"
#include "Audio/Filters/AudioFilterGen.h"

#include <array>
#include <cmath>
#include <complex>
#include <numbers>
#include <optional>
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

using CCoeffs = std::array<double, 5>; // b0, b1, b2, a1, a2

// One biquad section sample by sample (direct form II) with the coefficient transition rules: a
// new set fades in over `length` samples along (0.5 - s) new + (0.5 + s) old, s = 0.5 cos(pi k /
// length), the new filter starting from the old one's history; a set arriving during a fade
// waits (the newest wins) until the fade ends; with length 0 a set applies at once.
struct CBiquadReference
{
    CCoeffs cur{};
    int length = 0;
    CCoeffs next{};
    std::array<double, 2> w{}, v{};
    int k = -1; // -1: no transition
    std::optional<CCoeffs> pending{};

    void update(const CCoeffs& c)
    {
        if (k >= 0)
            pending = c;
        else if (length == 0)
            cur = c;
        else
        {
            next = c;
            v = w;
            k = 0;
        }
    }
    double step(double x)
    {
        const double yOld = run(cur, w, x);
        if (k < 0)
            return yOld;
        const double s = 0.5 * std::cos(std::numbers::pi * k / length);
        const double y = (0.5 - s) * run(next, v, x) + (0.5 + s) * yOld;
        if (++k == length)
        {
            cur = next;
            w = v;
            k = -1;
            if (const std::optional<CCoeffs> p = std::exchange(pending, std::nullopt))
                update(*p);
        }
        return y;
    }
    static double run(const CCoeffs& c, std::array<double, 2>& w, double x)
    {
        const double w0 = x - c[3] * w[0] - c[4] * w[1];
        const double y = c[0] * w0 + c[1] * w[0] + c[2] * w[1];
        w = {w0, w[0]};
        return y;
    }
};

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
