#pragma once
// Test support for the filter modules: a process fixture at 44100 Hz with generators loaded
// below the root, and reference filters written out sample by sample from their textbook
// definitions (direct form II biquads with the raised-cosine coefficient transition, half-band
// allpass pairs, direct convolution), independent of the kernels and modules under test.

#include "Audio/Filters/AudioFilterGen.h"
#include "Audio/Process/ProcessTestSupport.h"

#include <array>
#include <cmath>
#include <complex>
#include <numbers>
#include <string>
#include <vector>

namespace kelvtest
{

using CChildren = std::vector<CChild>;

inline CChild element(const char* tag, const char* name, const std::string& list,
                      CChildren children = {})
{
    return {tag, name, attrs(list), std::move(children)};
}

// A parameter with a plain real range wide enough for frequencies.
inline CChild realParam(const char* name, double def, double lo = -100000.0, double hi = 100000.0)
{
    return element("audio:param", name,
                   "element-size=1|converter=/cvt.real|min-values=" + std::to_string(lo) +
                       "|max-values=" + std::to_string(hi) + "|def-values=" + std::to_string(def));
}

inline CChild alloc(int index, const char* paramName)
{
    return element("audio:param-alloc", "alloc",
                   "index=" + std::to_string(index) + "|param-name=" + paramName);
}

// A container "modMain" that runs one module "f" from its input to its output.
inline CChild chainOf(CChild module, CChildren params = {})
{
    CChildren children = std::move(params);
    children.push_back(std::move(module));
    children.push_back(link("src=*|dst=f"));
    children.push_back(link("src=f|dst=*"));
    return container("modMain", std::move(children));
}

// A deterministic test signal: three sines and a slow ramp, so every band carries energy.
inline CSamples testSignal(std::size_t n)
{
    CSamples out(n);
    for (std::size_t i = 0; i < n; ++i)
    {
        const double t = static_cast<double>(i);
        out[i] = 0.4 * std::sin(0.031 * t) + 0.3 * std::sin(0.29 * t + 1.0) +
                 0.2 * std::sin(2.1 * t) + 0.0001 * t;
    }
    return out;
}

inline CSamples impulse(std::size_t n)
{
    CSamples out(n, 0.0);
    out[0] = 1.0;
    return out;
}

// H(f) of a response measured sample by sample.
inline std::complex<double> responseAt(const CSamples& h, double f, double fs)
{
    std::complex<double> sum = 0.0;
    for (std::size_t n = 0; n < h.size(); ++n)
        sum += h[n] * std::polar(1.0, -2.0 * std::numbers::pi * f * static_cast<double>(n) / fs);
    return sum;
}

// H(f) of a design evaluated from its coefficients.
inline std::complex<double> designResponse(const zel::CAudioFilterDesign& d, double f, double fs)
{
    const std::complex<double> zi = std::polar(1.0, -2.0 * std::numbers::pi * f / fs);
    const std::complex<double> z2 = zi * zi;
    std::complex<double> h = 1.0;
    if (d.kind == zel::EFilterDesignKind::kBiquad)
        for (std::size_t i = 0; i < d.sectionCount; ++i)
        {
            const auto& c = d.sections[i].coeffs;
            h *= (c[0] + c[1] * zi + c[2] * z2) / (1.0 + c[3] * zi + c[4] * z2);
        }
    else if (d.kind == zel::EFilterDesignKind::kHalfBand)
    {
        const std::size_t half = d.halfBandOrder / 2;
        std::complex<double> ha = 1.0, hb = 1.0;
        for (std::size_t i = 0; i < half; ++i)
        {
            ha *= (d.halfBand[i] + z2) / (1.0 + d.halfBand[i] * z2);
            hb *= (d.halfBand[half + i] + z2) / (1.0 + d.halfBand[half + i] * z2);
        }
        h = 0.5 * (ha + zi * hb);
    }
    return h;
}

// A cascade of direct form II biquads; a new coefficient set fades in over n samples along
// out = (0.5 - s) new + (0.5 + s) old, s = 0.5 cos(pi k / n), the new filter starting from the
// old one's history. A stage that rests on the identity restarts from silence.
class CBiquadCascadeSim
{
public:
    explicit CBiquadCascadeSim(int transition) : m_length(transition) {}

    // Starts on the design at once, from silence.
    void load(const zel::CAudioFilterDesign& d)
    {
        m_stages.assign(d.sectionCount, CStage());
        for (std::size_t i = 0; i < d.sectionCount; ++i)
            m_stages[i].cur = d.sections[i].coeffs;
    }
    // Fades every stage to the design's (the identity past its sections).
    void retune(const zel::CAudioFilterDesign& d)
    {
        const std::size_t count = std::max(d.sectionCount, m_stages.size());
        m_stages.resize(count);
        for (std::size_t i = 0; i < count; ++i)
        {
            CStage& s = m_stages[i];
            const std::array<double, 5> target =
                i < d.sectionCount ? d.sections[i].coeffs : kIdentity;
            if (target == s.cur)
                continue;
            if (s.cur == kIdentity)
                s.w = {0.0, 0.0};
            s.next = target;
            s.v = s.w;
            s.k = 0;
        }
    }
    double step(double x)
    {
        for (CStage& s : m_stages)
        {
            const double yOld = run(s.cur, s.w, x);
            if (s.k < 0)
            {
                x = yOld;
                continue;
            }
            const double yNew = run(s.next, s.v, x);
            const double c = 0.5 * std::cos(std::numbers::pi * s.k / m_length);
            x = (0.5 - c) * yNew + (0.5 + c) * yOld;
            if (++s.k == m_length)
            {
                s.cur = s.next;
                s.w = s.v;
                s.k = -1;
            }
        }
        return x;
    }

private:
    static constexpr std::array<double, 5> kIdentity{1.0, 0.0, 0.0, 0.0, 0.0};
    struct CStage
    {
        std::array<double, 5> cur = kIdentity;
        std::array<double, 5> next = kIdentity;
        std::array<double, 2> w{};
        std::array<double, 2> v{};
        int k = -1; // -1: no transition
    };
    static double run(const std::array<double, 5>& c, std::array<double, 2>& w, double x)
    {
        const double w0 = x - c[3] * w[0] - c[4] * w[1];
        const double y = c[0] * w0 + c[1] * w[0] + c[2] * w[1];
        w = {w0, w[0]};
        return y;
    }

    int m_length;
    std::vector<CStage> m_stages;
};

// Two chains of second-order allpass stages y[n] = c (x[n] - y[n-2]) + x[n-2];
// out[n] = 0.5 (A[n] + B[n-1]).
class CHalfBandSim
{
public:
    explicit CHalfBandSim(const zel::CAudioFilterDesign& d)
    {
        const std::size_t half = d.halfBandOrder / 2;
        for (std::size_t i = 0; i < half; ++i)
        {
            m_a.push_back({d.halfBand[i]});
            m_b.push_back({d.halfBand[half + i]});
        }
    }
    double step(double x)
    {
        const double a = chain(m_a, x);
        const double out = 0.5 * (a + m_bPrev);
        m_bPrev = chain(m_b, x);
        return out;
    }

private:
    struct CStage
    {
        double c;
        double x1 = 0.0, x2 = 0.0, y1 = 0.0, y2 = 0.0;
    };
    static double chain(std::vector<CStage>& stages, double x)
    {
        for (CStage& s : stages)
        {
            const double y = s.c * (x - s.y2) + s.x2;
            s.x2 = s.x1;
            s.x1 = x;
            s.y2 = s.y1;
            s.y1 = y;
            x = y;
        }
        return x;
    }

    std::vector<CStage> m_a, m_b;
    double m_bPrev = 0.0;
};

class CFilterModuleTest : public CProcessTest
{
protected:
    static constexpr double kFs = 44100.0;
    static constexpr std::size_t kBlock = 64;

    void SetUp() override
    {
        CProcessTest::SetUp();
        m_env->setSampleRate(kFs);
    }
    // Drops the instance and the definitions, then builds def afresh.
    zel::CErrorPtr rebuild(const CChild& def)
    {
        m_taps.clear();
        m_feeds.clear();
        m_instances = zel::CObject::make<zel::CObject>();
        m_instances->setRootName("plugin");
        if (zel::CObject* audio = m_root->findChild("audio"))
            (void)audio->destroy();
        return build(def);
    }
    // Loads generator elements below the root.
    void generators(const CChildren& list)
    {
        for (const CChild& g : list)
            ASSERT_EQ(idAndText(ktest::loadElement(*m_root, g)), "no error") << g.name.toUtf8();
    }
    const zel::CAudioFilterGen& generator(const char* name)
    {
        const auto* g = dynamic_cast<const zel::CAudioFilterGen*>(m_root->findChild(name));
        EXPECT_NE(g, nullptr) << name;
        return *g;
    }
    zel::CAudioFilterDesign designOf(const char* name, zel::CAudioFilterRequest request)
    {
        request.sampleRate = kFs;
        zel::CAudioFilterDesign d;
        EXPECT_EQ(idAndText(generator(name).design(request, d)), "no error");
        return d;
    }
    // Runs in through the graph in blocks; the output of the given channel (channel c receives
    // in x (c + 1)).
    CSamples runAll(const CSamples& in, std::size_t channel = 0)
    {
        CSamples out;
        for (std::size_t at = 0; at < in.size(); at += kBlock)
        {
            const std::size_t n = std::min(kBlock, in.size() - at);
            const std::vector<CSamples> got =
                run(CSamples(in.begin() + static_cast<std::ptrdiff_t>(at),
                             in.begin() + static_cast<std::ptrdiff_t>(at + n)));
            out.insert(out.end(), got[channel].begin(), got[channel].end());
        }
        return out;
    }
};

} // namespace kelvtest
