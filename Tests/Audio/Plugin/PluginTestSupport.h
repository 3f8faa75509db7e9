#pragma once
// Fixture for whole-instance tests: a fresh user configuration folder (the registries read the
// application data) and a CPluginDriver built on demand; plus the independent references the
// tests share: the default band layout and the flat-curve mappings, computed here from their
// formulas rather than read back from the product.

#include "Audio/AudioTestSupport.h"
#include "Audio/Filters/AudioFilterGen.h"
#include "Core/AppDataTestSupport.h"
#include "Harness/PluginDriver.h"
#include "Support/ErrorText.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <memory>
#include <numbers>

namespace kelvtest
{

class CPluginTest : public ktest::CConfigHomeTest
{
protected:
    void TearDown() override
    {
        driver.reset();
        ktest::CConfigHomeTest::TearDown();
    }
    CPluginDriver& make(double rate = 48000.0, std::int32_t channels = 2)
    {
        // The old instance goes first: the one that created the application object destroys it.
        driver.reset();
        driver = std::make_unique<CPluginDriver>(rate, channels);
        EXPECT_EQ(idAndText(driver->error()), "no error");
        return *driver;
    }

    std::unique_ptr<CPluginDriver> driver;
};

// The default layout: 32 bands from 20 Hz to 20 kHz, band k at 20 * 1000^(k/31).
constexpr int kDefaultBands = 32;
inline double defaultBandFreq(int k)
{
    return 20.0 * std::pow(1000.0, static_cast<double>(k) / (kDefaultBands - 1));
}
inline double layoutRatio()
{
    return std::pow(1000.0, 1.0 / (kDefaultBands - 1));
}
// The layout's fitted bandwidth and band sum gain for the spacing ratio r.
inline double layoutBandwidth(double r)
{
    const double lr = std::log(r);
    return 1.46652 * lr +
           13.5476 * lr /
               ((r * r + 13.643) - 0.627139 * r / (r * std::cos(r + 0.0936392) - 0.676112));
}
inline double layoutPostGain(double r)
{
    return 0.190897 + 0.287591 * r - 0.0979994 * r * r + 0.0230334 * std::pow(r, 3) -
           0.00292178 * std::pow(r, 4) + 0.000167729 * std::pow(r, 5) -
           0.00000302098 * std::pow(r, 6);
}

// H_k(f) of every default band when the bands run at bandRate: the carried band design (array
// "bandpass", item 4) at the band's frequency with the layout's bandwidth, evaluated from its
// coefficients by hand on the unit circle.
inline std::vector<std::complex<double>> bandResponses(double f, double bandRate)
{
    const auto* gen = dynamic_cast<const zel::CAudioFilterGen*>(
        zel::CApplication::instance()->findObject("shared::audio.fltarray.bandpass"));
    EXPECT_NE(gen, nullptr);
    std::vector<std::complex<double>> out(kDefaultBands, 0.0);
    if (gen == nullptr)
        return out;
    const std::complex<double> zi = std::polar(1.0, -2.0 * std::numbers::pi * f / bandRate);
    for (int k = 0; k < kDefaultBands; ++k)
    {
        zel::CAudioFilterRequest request;
        request.sampleRate = bandRate;
        request.index = 4;
        request.freq = defaultBandFreq(k);
        request.bw = layoutBandwidth(layoutRatio());
        zel::CAudioFilterDesign design;
        EXPECT_EQ(idAndText(gen->design(request, design)), "no error");
        std::complex<double> h = 1.0;
        for (std::size_t i = 0; i < design.sectionCount; ++i)
        {
            const auto& c = design.sections[i].coeffs;
            h *= (c[0] + zi * (c[1] + zi * c[2])) / (1.0 + zi * (c[3] + zi * c[4]));
        }
        out[static_cast<std::size_t>(k)] = h;
    }
    return out;
}

// The band bank's summed response at f, times the layout's sum gain, delayed by latency
// samples at the base rate fs.
inline std::complex<double> bandBankResponse(double f, double bandRate, double fs = 1.0,
                                             double latency = 0.0)
{
    std::complex<double> total = 0.0;
    for (const std::complex<double>& h : bandResponses(f, bandRate))
        total += h;
    return total * layoutPostGain(layoutRatio()) *
           std::polar(1.0, -2.0 * std::numbers::pi * f / fs * latency);
}

// The complex amplitude of y at f over [from, to) with a Hann window (no leakage from the
// negative frequency whatever the number of cycles).
inline std::complex<double> amplitudeAt(const CSamples& y, double f, std::size_t from,
                                        std::size_t to, double fs = 48000.0)
{
    std::complex<double> sum = 0.0;
    double weights = 0.0;
    const double len = static_cast<double>(to - from);
    for (std::size_t i = from; i < to; ++i)
    {
        const double w = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi *
                                              (static_cast<double>(i - from) + 0.5) / len);
        sum +=
            w * y[i] * std::polar(1.0, -2.0 * std::numbers::pi * f * static_cast<double>(i) / fs);
        weights += w;
    }
    return 2.0 * sum / weights;
}

// The impulse responses out (impulse heights in) against want(f) at n log-spaced frequencies
// from f0 to f1: the largest magnitude error in dB and the largest complex error, relative.
struct CResponseError
{
    double db = 0.0;
    double rel = 0.0;
};
template <class FWant>
CResponseError responseError(const std::vector<CSamples>& out, const std::vector<double>& in,
                             double fs, double f0, double f1, int n, FWant want)
{
    CResponseError worst;
    for (int i = 0; i <= n; ++i)
    {
        const double f = f0 * std::pow(f1 / f0, i / static_cast<double>(n));
        const std::complex<double> w = want(f);
        for (std::size_t c = 0; c < out.size(); ++c)
        {
            const std::complex<double> got = dftAt(out[c], f, fs) / in[c];
            worst.db = std::max(worst.db, std::abs(dB(std::abs(got) / std::abs(w))));
            worst.rel = std::max(worst.rel, std::abs(got - w) / std::abs(w));
        }
    }
    return worst;
}

} // namespace kelvtest
