#pragma once
// CPluginDriver: runs one plug-in instance built from the carried description through the
// application wrapper, the way the host boundary feeds it, for whole-tree tests. It creates the
// application object when none exists (and destroys it again) and a CTestWrapper (a wrapper that
// records the calls it makes towards the host), initialises it at the given rate with the
// given channel count as internal, input and output count, runs the post-initialisation and
// resumes it. Audio goes through CAudioWrapper::process as 64-bit blocks.
//
// The channel groups are the first entries of the description's default "Group assign", and
// the spectral processor's "group-count" is set to the number of groups they use.

#include "Audio/AudioParam.h"
#include "Audio/AudioParamCollector.h"
#include "Audio/AudioProcessBase.h"
#include "Audio/AudioWrapper.h"
#include "Core/Application.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zel
{
class CAudioEnv;
class CAudioParamRegistry;
class CDCDAWContextObject;
class CModOutput;
} // namespace zel

namespace kelvtest
{

// A wrapper whose host is a recorder: every call towards the host is kept in order.
class CTestWrapper : public zel::CAudioWrapper
{
public:
    enum class ECall
    {
        kParamChanged,
        kUpdateDisplay,
        kBeginEdit,
        kEndEdit,
        kResize,
    };
    struct CCall
    {
        ECall kind;
        std::int32_t index; // host index, or the width for kResize
        double value;       // normalised value, or the height for kResize
    };

    // channels > 0 builds the graph with that many channels instead of the description's
    // internal channel count.
    explicit CTestWrapper(std::int32_t channels = 0) { setInitChannelCount(channels); }

    void hostParamChanged(std::int32_t index, double normalised) override
    {
        calls.push_back({ECall::kParamChanged, index, normalised});
    }
    void updateDisplay() override { calls.push_back({ECall::kUpdateDisplay, -1, 0.0}); }
    void beginEdit(std::int32_t hostIndex) override
    {
        calls.push_back({ECall::kBeginEdit, hostIndex, 0.0});
    }
    void endEdit(std::int32_t hostIndex) override
    {
        calls.push_back({ECall::kEndEdit, hostIndex, 0.0});
    }
    std::int32_t resizeEditor(std::int32_t width, std::int32_t height) override
    {
        calls.push_back({ECall::kResize, width, static_cast<double>(height)});
        return 1;
    }
    // The calls of one kind, in order.
    std::vector<CCall> callsOf(ECall kind) const
    {
        std::vector<CCall> out;
        for (const CCall& call : calls)
            if (call.kind == kind)
                out.push_back(call);
        return out;
    }

    std::vector<CCall> calls;
};

class CPluginDriver
{
public:
    static constexpr std::int32_t kMaxPiece = 512;
    static constexpr const char* kKelv = "plugin.modMain.modKelvatrone.";

    CPluginDriver(double sampleRate, std::int32_t channels);
    ~CPluginDriver();
    CPluginDriver(const CPluginDriver&) = delete;
    CPluginDriver& operator=(const CPluginDriver&) = delete;

    // Null when the instance was built; else why not (then nothing else may be used).
    const zel::CErrorPtr& error() const { return m_error; }

    double sampleRate() const { return m_rate; }
    std::int32_t channels() const { return m_channels; }
    double streamTime() const;
    CTestWrapper& wrapper() const { return *m_wrapper; }
    zel::CObject& plugin() const { return m_wrapper->plugin(); }
    zel::CAudioParamCollector& collector() const { return m_wrapper->collector(); }
    zel::CAudioParamRegistry* registry(const char* name = "param-registry") const;
    zel::CAudioProcessBase& main() const { return m_wrapper->main(); }
    zel::CDCDAWContextObject& context() const { return m_wrapper->context(); }
    const std::vector<std::int32_t>& channelGroups() const { return m_groups; }

    // A live parameter by full path ("plugin.modMain.modOutGain.gain"); null when unknown.
    zel::CAudioParam* param(const std::string& path) const;
    // Sets one value of an element in a group (real value, or text through the element's
    // converter). The change reaches the audio side before the next piece.
    zel::CErrorPtr set(const std::string& path, std::int32_t group, std::int32_t element,
                       double value, std::int32_t valueIndex = 0);
    zel::CErrorPtr setText(const std::string& path, std::int32_t group, std::int32_t element,
                           const std::string& text, std::int32_t valueIndex = 0);
    // Replaces a group's whole element list (curves: frequency, value, frequency, value, ...).
    zel::CErrorPtr setElements(const std::string& path, std::int32_t group,
                               std::vector<double> values);
    // Routes input and output channel c to channel c for every channel of the driver (the
    // description's default routes only the first two).
    zel::CErrorPtr routeAllChannels();
    // Shorthands for the spectral processor ("plugin.modMain.modKelvatrone." + name), group 0.
    double kelv(const std::string& name, std::int32_t element = 0, std::int32_t group = 0) const;

    // Runs in[c] (all channels the same length) through the instance; the output per channel.
    std::vector<std::vector<double>> process(const std::vector<std::vector<double>>& in);
    // The same, aligned with the input as a host that compensates the reported latency hears
    // it: latency() frames of silence follow the input and the first latency() output frames
    // are dropped.
    std::vector<std::vector<double>> processAligned(const std::vector<std::vector<double>>& in);
    // The latency the instance reports, in samples at the host's rate.
    std::int32_t latency() const;
    // The same with silence, and without keeping the output (warm-up, no allocation).
    void processSilence(std::int32_t frames);
    // Stamps the changes taken in before the next piece `seconds` after the piece's start
    // instead of at it, as sample-accurate automation inside a block would be stamped.
    void stampNextChangesAt(double seconds) { m_wrapper->stampNextChangesAt(seconds); }
    // Allocation-free form: out[c] must hold frames values.
    zel::CErrorPtr processInto(const std::vector<const double*>& in, std::int32_t frames,
                               const std::vector<double*>& out);

private:
    zel::CErrorPtr build();

    double m_rate;
    std::int32_t m_channels;
    bool m_ownsApplication = false;
    zel::CErrorPtr m_error;
    std::unique_ptr<CTestWrapper> m_wrapper;
    std::vector<std::int32_t> m_groups;
    std::vector<void*> m_outPtrs;
    std::vector<const void*> m_inPtrs;
};

} // namespace kelvtest
