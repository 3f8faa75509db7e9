#pragma once
// CPluginDriver: runs one plug-in instance built from the carried description, the way the
// host boundary will feed it, for whole-tree tests. It creates the application object when
// none exists (and destroys it again), an instance root with the object "plugin" from the
// "plugin" template, and the processes "plugin.modMain" and "plugin.modOutput". Audio goes in
// pieces of at most 512 frames: before each piece the collector takes in the queued parameter
// changes at the stream time; each input channel's samples go into a pool buffer queued on the
// main process's input; the output stage runs the graph and writes 64-bit per-channel output;
// the stream time then advances.
//
// The internal channel count is the host channel count given; the channel groups are the
// first entries of the description's default "Group assign", and "group-count" is set to the
// number of groups they use. It is not the application wrapper: no host parameters, no state
// chunks, no latency reporting, no priming.

#include "Audio/AudioParam.h"
#include "Audio/AudioParamCollector.h"
#include "Audio/AudioProcessBase.h"
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
    zel::CObject& plugin() const { return *m_plugin; }
    zel::CAudioParamCollector& collector() const { return *m_collector; }
    zel::CAudioParamRegistry* registry(const char* name = "param-registry") const;
    zel::CAudioProcessBase& main() const { return *m_main; }
    zel::CDCDAWContextObject& context() const { return *m_context; }
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
    void stampNextChangesAt(double seconds) { m_stampOffset = seconds; }
    // Allocation-free form: out[c] must hold frames values.
    zel::CErrorPtr processInto(const std::vector<const double*>& in, std::int32_t frames,
                               const std::vector<double*>& out);

private:
    zel::CErrorPtr build();
    zel::CErrorPtr runPiece(const std::vector<const double*>& in, std::int32_t offset,
                            std::int32_t n, const std::vector<double*>& out);

    double m_rate;
    std::int32_t m_channels;
    bool m_ownsApplication = false;
    zel::CErrorPtr m_error;
    zel::TObjectPtr<zel::CRootObject> m_root;
    zel::CObject* m_plugin = nullptr;
    zel::CDCDAWContextObject* m_context = nullptr;
    zel::CAudioEnv* m_env = nullptr;
    zel::CAudioParamCollector* m_collector = nullptr;
    zel::CAudioProcessBase* m_main = nullptr;
    zel::CModOutput* m_output = nullptr;
    std::shared_ptr<zel::CAudioProcessSetup> m_setup;
    std::vector<std::int32_t> m_groups;
    std::vector<zel::CAudioConnection*> m_feeds;
    std::vector<double*> m_outPtrs;
    std::vector<const double*> m_inPtrs;
    std::vector<double> m_silence;
    double m_stampOffset = 0.0;
};

} // namespace kelvtest
