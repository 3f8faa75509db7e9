#pragma once
// CRenderer: one run of kelvatrone-render. It opens the input, loads the plug-in through
// CPluginHost, applies the settings in a fixed order (bank file, program, preset, preset file,
// parameters, oversampling), saves or lists what was asked for, and renders the input through
// the effect into the output file, measuring the loudness of both. By default the output is
// aligned with the input: the effect's reported latency is dropped from the start and the tail
// is flushed with silence, so input and output have the same length and can be nulled.
//
// It writes the listings and the summary to the stream it is given; errors come back as
// values and leave no output file behind. It is not an option parser (CRenderOptions) and
// not a host (CPluginHost).

#include "LoudnessMeter.h"
#include "RenderOptions.h"

#include "Core/Error.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace kelvtools
{

class CPluginHost;

struct SRenderReport
{
    std::string effect;  // name, version and vendor
    std::string program; // the program's name after the settings
    std::int32_t sampleRate = 0;
    std::int32_t channels = 0;
    std::int64_t frames = 0;
    std::int32_t latency = 0;
    bool latencyChanged = false;
    double processSeconds = 0.0; // time spent inside the effect's process calls
    std::int64_t clipped = 0;
    SLoudness input;
    SLoudness output;
};

class CRenderer
{
public:
    // The module loaded when the options name none: $KELVATRONE_PLUGIN, else the module built
    // with the renderer.
    static std::string defaultPlugin();

    // Runs the command; listings and the summary go to out (stdout in the tool).
    zel::CErrorPtr run(const SRenderOptions& options, std::FILE* out);
    const SRenderReport& report() const { return m_report; }

    static std::string summary(const SRenderOptions& options, const SRenderReport& report);

private:
    zel::CErrorPtr applySettings(const SRenderOptions& options, CPluginHost& host);
    zel::CErrorPtr render(const SRenderOptions& options, CPluginHost& host);

    SRenderReport m_report;
};

} // namespace kelvtools
