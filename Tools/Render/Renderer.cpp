#include "Renderer.h"

#include "AudioFile.h"
#include "PluginHost.h"
#include "ProgressBar.h"

#include "Platform/Console.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <vector>

#ifndef KELV_RENDER_DEFAULT_PLUGIN
#define KELV_RENDER_DEFAULT_PLUGIN "Kelvatrone.so"
#endif

namespace kelvtools
{
namespace
{

using zel::CErrorPtr;
constexpr const char* kOwner = "CRenderer";

// Planar buffers of one sample type, with the channel pointers the process entries take.
template <class T>
struct SPlanar
{
    std::vector<std::vector<T>> data;
    std::vector<T*> pointers;

    void resize(std::int32_t channels, std::int32_t frames)
    {
        data.assign(static_cast<std::size_t>(channels),
                    std::vector<T>(static_cast<std::size_t>(frames), T(0)));
        pointers.clear();
        for (auto& channel : data)
            pointers.push_back(channel.data());
    }
};

std::string levelText(double value, const char* unit)
{
    char text[48];
    if (std::isfinite(value))
        std::snprintf(text, sizeof(text), "%.1f %s", value, unit);
    else
        std::snprintf(text, sizeof(text), "-inf %s", unit);
    return text;
}

} // namespace

std::string CRenderer::defaultPlugin()
{
    if (const char* path = std::getenv("KELVATRONE_PLUGIN"); path != nullptr && *path != 0)
        return path;
    return KELV_RENDER_DEFAULT_PLUGIN;
}

CErrorPtr CRenderer::applySettings(const SRenderOptions& options, CPluginHost& host)
{
    if (!options.bankFile.empty())
    {
        std::int32_t programs = 0;
        ZEL_TRY(host.loadBankFile(options.bankFile, programs), kOwner);
        if (options.program >= programs)
            return ZEL_ERROR(kOwner, "zelstr_CRenderer_applySettings_BankProgram",
                             "Program %1 does not exist: the bank file holds programs 0 to %2.",
                             {std::to_string(options.program), std::to_string(programs - 1)});
    }
    if (options.program >= 0)
        ZEL_TRY(host.selectProgram(options.program), kOwner);
    if (!options.preset.empty())
        ZEL_TRY(host.selectProgram(options.preset), kOwner);
    if (!options.presetFile.empty())
        ZEL_TRY(host.loadPresetFile(options.presetFile), kOwner);
    for (const auto& [name, value] : options.params)
        ZEL_TRY(host.setParam(name, value), kOwner);
    if (!options.oversampling.empty())
    {
        // The oversampling switch is the host-visible parameter whose states are the choices.
        std::int32_t index = -1;
        for (std::int32_t i = 0; i < host.paramCount() && index < 0; ++i)
            for (const SParamState& state : host.states(i))
                if (state.text == "8x")
                    index = i;
        if (index < 0)
            return ZEL_ERROR(kOwner, "zelstr_CRenderer_applySettings_NoOversampling",
                             "The plug-in has no oversampling parameter.");
        ZEL_TRY(host.setParam(host.paramName(index), options.oversampling), kOwner);
    }
    return nullptr;
}

CErrorPtr CRenderer::run(const SRenderOptions& options, std::FILE* out)
{
    m_report = SRenderReport();
    // The input is checked first: a bad input fails before anything else is loaded or written.
    CAudioFileReader reader;
    if (options.renders())
        ZEL_TRY(reader.open(options.input), kOwner);

    CPluginHost host;
    const std::string plugin = options.plugin.empty() ? defaultPlugin() : options.plugin;
    ZEL_TRY(host.load(plugin), kOwner);
    m_report.effect = host.effectName() + " " + host.versionText() + " (" + host.vendorName() + ")";

    ZEL_TRY(applySettings(options, host), kOwner);
    m_report.program = host.programName(host.currentProgram());

    if (options.listPresets)
    {
        const std::int32_t current = host.currentProgram();
        for (std::int32_t i = 0; i < host.programCount(); ++i)
            std::fprintf(out, "%c %2d  %s\n", i == current ? '*' : ' ', i,
                         host.programName(i).c_str());
    }
    if (options.listParams)
    {
        for (std::int32_t i = 0; i < host.paramCount(); ++i)
            std::fprintf(out, "%2d  %-8s %-8s %s\n", i, host.paramName(i).c_str(),
                         host.paramDisplay(i).c_str(), host.paramLabel(i).c_str());
    }
    if (!options.savePreset.empty())
        ZEL_TRY(host.savePresetFile(options.savePreset), kOwner);
    if (!options.renders())
        return nullptr;

    const SAudioFileInfo& in = reader.info();
    m_report.sampleRate = in.sampleRate;
    m_report.channels = in.channels;
    m_report.frames = in.frames;
    ZEL_TRY(host.start(static_cast<double>(in.sampleRate), options.blockSize, options.use64,
                       in.channels),
            kOwner);
    m_report.latency = host.latency();

    SAudioFileInfo outInfo = in;
    switch (options.format)
    {
    case EOutputFormat::sameAsInput:
        break;
    case EOutputFormat::wav:
        outInfo.format = EFileFormat::wav;
        break;
    case EOutputFormat::aiff:
        outInfo.format = EFileFormat::aiff;
        break;
    case EOutputFormat::flac:
        outInfo.format = EFileFormat::flac;
        break;
    }
    switch (options.bits)
    {
    case EOutputBits::sameAsInput:
        break;
    case EOutputBits::int16:
        outInfo.sample = ESampleFormat::int16;
        break;
    case EOutputBits::int24:
        outInfo.sample = ESampleFormat::int24;
        break;
    case EOutputBits::float32:
        outInfo.sample = ESampleFormat::float32;
        break;
    }
    CAudioFileWriter writer;
    ZEL_TRY(writer.open(options.output, outInfo, options.dither), kOwner);

    CLoudnessMeter inputMeter;
    CLoudnessMeter outputMeter;
    ZEL_TRY(inputMeter.open(in.channels, in.sampleRate), kOwner);
    ZEL_TRY(outputMeter.open(in.channels, in.sampleRate), kOwner);

    const std::int32_t block = options.blockSize;
    const auto channels = static_cast<std::size_t>(in.channels);
    std::vector<double> interleavedIn(channels * static_cast<std::size_t>(block));
    std::vector<double> interleavedOut(channels * static_cast<std::size_t>(block));
    SPlanar<double> in64;
    SPlanar<double> out64;
    SPlanar<float> in32;
    SPlanar<float> out32;
    const std::int32_t hostChannels =
        std::max({host.inputCount(), host.outputCount(), in.channels});
    if (options.use64)
    {
        in64.resize(hostChannels, block);
        out64.resize(hostChannels, block);
    }
    else
    {
        in32.resize(hostChannels, block);
        out32.resize(hostChannels, block);
    }

    const bool quiet =
        options.quiet || !zel::platform::isTerminal(zel::platform::EStdStream::error);
    CProgressBar progress(in.frames, in.sampleRate, !quiet);
    std::int64_t skip = options.keepLatency ? 0 : std::max<std::int32_t>(0, m_report.latency);
    std::int64_t written = 0;
    std::int64_t readFrames = 0;
    bool inputDone = false;
    double processSeconds = 0.0;
    // Every input frame comes out once; the latency's frames are flushed with silence.
    while (written < in.frames)
    {
        std::int64_t got = 0;
        if (!inputDone)
        {
            ZEL_TRY(reader.read(interleavedIn.data(), block, got), kOwner);
            if (got == 0)
                inputDone = true;
            readFrames += got;
            ZEL_TRY(inputMeter.add(interleavedIn.data(), got), kOwner);
        }
        for (std::int32_t c = 0; c < hostChannels; ++c)
            for (std::int32_t i = 0; i < block; ++i)
            {
                const double v = (c < in.channels && i < got)
                                     ? interleavedIn[static_cast<std::size_t>(i) * channels +
                                                     static_cast<std::size_t>(c)]
                                     : 0.0;
                if (options.use64)
                    in64.data[static_cast<std::size_t>(c)][static_cast<std::size_t>(i)] = v;
                else
                    in32.data[static_cast<std::size_t>(c)][static_cast<std::size_t>(i)] =
                        static_cast<float>(v);
            }

        const auto started = std::chrono::steady_clock::now();
        if (options.use64)
            host.process(in64.pointers.data(), out64.pointers.data(), block);
        else
            host.process(in32.pointers.data(), out32.pointers.data(), block);
        processSeconds +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        if (host.latency() != m_report.latency)
            m_report.latencyChanged = true;

        const std::int64_t drop = std::min<std::int64_t>(skip, block);
        skip -= drop;
        const std::int64_t keep = std::min<std::int64_t>(block - drop, in.frames - written);
        for (std::int64_t i = 0; i < keep; ++i)
            for (std::size_t c = 0; c < channels; ++c)
            {
                const auto at = static_cast<std::size_t>(drop + i);
                interleavedOut[static_cast<std::size_t>(i) * channels + c] =
                    options.use64 ? out64.data[c][at] : static_cast<double>(out32.data[c][at]);
            }
        ZEL_TRY(outputMeter.add(interleavedOut.data(), keep), kOwner);
        ZEL_TRY(writer.write(interleavedOut.data(), keep), kOwner);
        written += keep;
        progress.update(written);
        if (inputDone && readFrames < in.frames)
            return ZEL_ERROR(
                kOwner, "zelstr_CRenderer_run_ShortInput",
                "The input file '%1' ended after %2 of %3 frames.",
                {options.input, std::to_string(readFrames), std::to_string(in.frames)});
    }
    progress.finish();
    host.stop();
    ZEL_TRY(writer.commit(), kOwner);

    m_report.processSeconds = processSeconds;
    m_report.clipped = writer.clippedSamples();
    ZEL_TRY(inputMeter.result(m_report.input), kOwner);
    ZEL_TRY(outputMeter.result(m_report.output), kOwner);
    std::fprintf(out, "%s", summary(options, m_report).c_str());
    return nullptr;
}

std::string CRenderer::summary(const SRenderOptions& options, const SRenderReport& report)
{
    const double seconds =
        report.sampleRate > 0 ? static_cast<double>(report.frames) / report.sampleRate : 0.0;
    char line[256];
    std::string text;
    text += report.effect + ", program \"" + report.program + "\"\n";
    std::snprintf(line, sizeof(line), "%-16s%s, %d ch, %d Hz, %.2f s\n", "Input",
                  options.input.c_str(), report.channels, report.sampleRate, seconds);
    text += line;
    std::snprintf(line, sizeof(line), "%-16s%s\n", "Output", options.output.c_str());
    text += line;
    std::snprintf(line, sizeof(line), "%-16s%14s%14s\n", "", "input", "output");
    text += line;
    const struct
    {
        const char* name;
        double in;
        double out;
        const char* unit;
    } rows[] = {
        {"Integrated", report.input.integrated, report.output.integrated, "LUFS"},
        {"Loudness range", report.input.range, report.output.range, "LU"},
        {"True peak", report.input.truePeak, report.output.truePeak, "dBTP"},
    };
    for (const auto& row : rows)
    {
        std::snprintf(line, sizeof(line), "%-16s%14s%14s\n", row.name,
                      levelText(row.in, row.unit).c_str(), levelText(row.out, row.unit).c_str());
        text += line;
    }
    std::snprintf(line, sizeof(line), "%-16s%d samples (%.1f ms), %s%s\n", "Latency",
                  report.latency,
                  report.sampleRate > 0 ? 1000.0 * report.latency / report.sampleRate : 0.0,
                  options.keepLatency ? "kept in the output" : "compensated",
                  report.latencyChanged ? " (changed while rendering)" : "");
    text += line;
    const double speed = report.processSeconds > 0.0 ? seconds / report.processSeconds : 0.0;
    std::snprintf(line, sizeof(line), "%-16s%.1fx realtime (%s-bit, block %d)\n", "Speed", speed,
                  options.use64 ? "64" : "32", options.blockSize);
    text += line;
    // The interface gives the host no way to learn that a process call failed; an effect that
    // fails outputs silence, which is worth saying when the input was not silent.
    if (std::isfinite(report.input.integrated) && !std::isfinite(report.output.integrated))
    {
        std::snprintf(line, sizeof(line), "%-16s%s\n", "Warning",
                      "the output is silent although the input is not");
        text += line;
    }
    if (report.clipped > 0)
    {
        std::snprintf(line, sizeof(line), "%-16s%lld samples clipped at full scale\n", "Warning",
                      static_cast<long long>(report.clipped));
        text += line;
    }
    return text;
}

} // namespace kelvtools
