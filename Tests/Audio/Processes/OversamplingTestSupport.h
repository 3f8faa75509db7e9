#pragma once
// Test support for the oversampling tests: a fixture with the product's shared description
// loaded (the resampler prototypes and the half-band and FIR filter arrays), a chain builder
// "* -> modUpsampler -> [inner] -> modDownsampler -> [modLatencyUniformer] -> *" with the
// parameters "mode", "host-mode" and "lp-oversampling-enable", a block feeder for long
// signals, and single-bin spectrum measurements for bin-centred sines.

#include "Audio/Process/ProcessTestSupport.h"
#include "Audio/Processes/ModResampler.h"
#include "Core/DescriptionLoader.h"

#include <cmath>
#include <complex>
#include <numbers>
#include <string>
#include <vector>

namespace kelvtest
{

// Records the rate its module instances start at ("test:rate", passes its input on).
class CTestRateModule : public zel::CAudioModuleBase
{
public:
    static std::vector<double>& starts()
    {
        static std::vector<double> seen;
        return seen;
    }
    zel::CErrorPtr start(zel::CAudioProcessTerminalBase& owner, std::int32_t) override
    {
        starts().push_back(owner.sampleRate());
        return nullptr;
    }
    zel::CErrorPtr process(zel::CAudioModuleBlock& block) override { return block.passInput(0, 0); }
};

class CTestRateDef : public zel::CAudioProcessDefBase
{
public:
    zel::CErrorPtr makeProcess(zel::TObjectPtr<zel::CAudioProcessBase>& process) const override
    {
        process = zel::CObject::make<zel::CAudioProcessTerminal<CTestRateModule>>();
        return nullptr;
    }
};

inline constexpr const char* kLatencies = "44100=502;48000=502;88200=502;96000=502;176400=502;"
                                          "192000=502;352800=502;384000=502";

struct COversamplingChain
{
    double mode = 1.0;     // "Auto;1x;2x;4x;8x" index
    double hostMode = 0.0; // stages for Auto
    double linearPhase = 1.0;
    bool up = true;
    bool down = true;
    bool inner = false;     // a "test:rate" module between the resamplers
    bool innerGain = false; // a "test:gain" module between them, bound to "g" (default 1)
    std::string latencies;  // empty: no uniformer
};

inline COversamplingChain roundTrip(double mode, double linearPhase, std::string latencies = "")
{
    COversamplingChain c;
    c.mode = mode;
    c.linearPhase = linearPhase;
    c.latencies = std::move(latencies);
    return c;
}

class COversamplingTest : public CProcessTest
{
protected:
    static constexpr std::int32_t kBlock = 256;

    void SetUp() override
    {
        CProcessTest::SetUp();
        ASSERT_FALSE(m_registration.add<CTestRateDef>("test:rate"));
        ASSERT_FALSE(zel::loadDescription(*m_root, "SharedData.xml", true));
        setRate(44100.0);
        m_env->setMaxBlockLength(kBlock);
        CTestRateModule::starts().clear();
    }
    // Drops the graph and the test's own definition; the shared description stays.
    void reset()
    {
        m_taps.clear();
        m_feeds.clear();
        m_instances.reset();
        if (m_def != nullptr)
            m_def->destroy();
        m_def = nullptr;
        m_instances = zel::CObject::make<zel::CObject>();
        m_instances->setRootName("plugin");
    }
    void setRate(double rate)
    {
        m_rate = rate;
        m_env->setSampleRate(rate);
    }

    static CChild resampler(const char* name, bool up)
    {
        return {"audio:modResampler",
                name,
                attrs(std::string("xfade-length=0.002|is-upsampler=") + (up ? "true" : "false")),
                {{"audio:param-alloc", "alloc", attrs("index=0|param-name=mode"), {}},
                 {"audio:param-alloc", "alloc", attrs("index=1|param-name=host-mode"), {}}}};
    }

    zel::CErrorPtr buildChain(const COversamplingChain& c)
    {
        std::vector<CChild> children{
            param("mode", std::to_string(c.mode).c_str()),
            param("host-mode", std::to_string(c.hostMode).c_str()),
            param("lp-oversampling-enable", std::to_string(c.linearPhase).c_str())};
        std::vector<std::string> names;
        if (c.up)
        {
            children.push_back(resampler("modUpsampler", true));
            names.push_back("modUpsampler");
        }
        if (c.inner)
        {
            children.push_back({"test:rate", "inner", {}, {}});
            names.push_back("inner");
        }
        if (c.innerGain)
        {
            children.push_back(param("g", "1"));
            children.push_back(gain("gain", "g"));
            names.push_back("gain");
        }
        if (c.down)
        {
            children.push_back(resampler("modDownsampler", false));
            names.push_back("modDownsampler");
        }
        if (!c.latencies.empty())
        {
            children.push_back({"audio:modLatencyUniformer",
                                "modLatencyUniformer",
                                attrs("latencies=" + c.latencies),
                                {}});
            names.push_back("modLatencyUniformer");
        }
        std::string from = "*";
        for (const std::string& name : names)
        {
            children.push_back(link("src=" + from + "|dst=" + name));
            from = name;
        }
        children.push_back(link("src=" + from + "|dst=*"));
        ZEL_TRY(build(container("modMain", std::move(children))), "test");
        return nullptr;
    }
    zel::CAudioProcess& main() { return static_cast<zel::CAudioProcess&>(*m_main); }
    template <class T = zel::CModResampler>
    T& child(const char* name)
    {
        return dynamic_cast<T&>(*main().findProcess(zel::CText(name)));
    }

    // Feeds x to every channel in blocks and returns channel 0's output.
    CSamples feed(const CSamples& x, std::int32_t block = kBlock)
    {
        CSamples out;
        for (std::size_t at = 0; at < x.size(); at += static_cast<std::size_t>(block))
        {
            const auto n = static_cast<std::int32_t>(
                std::min<std::size_t>(static_cast<std::size_t>(block), x.size() - at));
            for (std::int32_t c = 0; c < kChannels; ++c)
            {
                std::uint32_t ref = 0;
                EXPECT_FALSE(m_context->takeBuffer(static_cast<std::uint32_t>(n) * 8u, ref));
                for (std::int32_t i = 0; i < n; ++i)
                    m_context->data(ref)[i] = x[at + static_cast<std::size_t>(i)];
                EXPECT_FALSE(m_feeds[static_cast<std::size_t>(c)]->push(ref, 0, n));
                EXPECT_FALSE(m_context->releaseReference(ref));
            }
            EXPECT_EQ(idAndText(m_main->process(n)), "no error");
            for (std::int32_t c = 0; c < kChannels; ++c)
            {
                zel::CAudioConnection& tap = *m_taps[static_cast<std::size_t>(c)];
                while (tap.frontLength() > 0)
                {
                    const double* data = m_context->data(tap.frontRef());
                    if (c == 0)
                        out.insert(out.end(), data, data + tap.frontLength());
                    tap.consume(tap.frontLength());
                }
            }
        }
        return out;
    }
    // Sets a parameter for the coming block.
    void set(const char* name, double value)
    {
        change((std::string("plugin.modMain.") + name).c_str(), value,
               (static_cast<double>(m_main->position()) - 0.5) / m_rate);
    }

    double m_rate = 44100.0;
};

inline const char* kindName(double linearPhase)
{
    return linearPhase > 0.5 ? "FIR" : "IIR";
}
// A sine of the given cycles per sample (bin k of n: k / n).
inline CSamples sine(std::size_t n, double cyclesPerSample, double amplitude = 1.0)
{
    return tone(amplitude, cyclesPerSample, 1.0, n);
}
// Amplitude of the sine at bin k of the last n samples of x (rectangular window: exact for a
// bin-centred steady sine).
inline double binAmplitude(const CSamples& x, std::size_t n, std::size_t k)
{
    const CSamples last(x.end() - static_cast<std::ptrdiff_t>(n), x.end());
    return 2.0 * std::abs(dftAt(last, static_cast<double>(k), static_cast<double>(n))) /
           static_cast<double>(n);
}

} // namespace kelvtest
