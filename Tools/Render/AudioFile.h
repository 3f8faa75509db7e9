#pragma once
// CAudioFileReader and CAudioFileWriter: the renderer's audio files, read and written with
// libsndfile. Supported are WAV, AIFF and FLAC files holding 16 or 24-bit integer or 32-bit
// floating-point samples (FLAC: integers only), with 1 to 8 channels. Samples travel as
// interleaved doubles in [-1, 1) for full scale.
//
// The writer writes into a temporary file in the target's folder and renames it only when
// commit() succeeds; a writer destroyed without a commit removes its temporary file, so a
// failed render leaves no partial output. Integer output is quantised here, with TPDF dither
// (two uniform variables of one step each) unless switched off, from a fixed seed so that a
// render is reproducible bit for bit. These classes know nothing of the plug-in.

#include "Core/Error.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kelvtools
{

enum class EFileFormat
{
    wav,
    aiff,
    flac
};

enum class ESampleFormat
{
    int16,
    int24,
    float32
};

struct SAudioFileInfo
{
    EFileFormat format = EFileFormat::wav;
    ESampleFormat sample = ESampleFormat::int24;
    std::int32_t channels = 0;
    std::int32_t sampleRate = 0;
    std::int64_t frames = 0;
};

const char* formatName(EFileFormat format);
const char* sampleName(ESampleFormat sample);

class CAudioFileReader
{
public:
    static constexpr std::int32_t kMaxChannels = 8;

    CAudioFileReader() = default;
    ~CAudioFileReader();
    CAudioFileReader(const CAudioFileReader&) = delete;
    CAudioFileReader& operator=(const CAudioFileReader&) = delete;

    // Opens the file and checks format, sample format and channel count.
    zel::CErrorPtr open(const std::string& path);
    const SAudioFileInfo& info() const { return m_info; }
    // Reads up to frames frames; read tells how many arrived (0 at the end).
    zel::CErrorPtr read(double* interleaved, std::int64_t frames, std::int64_t& read);

private:
    void* m_file = nullptr;
    std::string m_path;
    SAudioFileInfo m_info;
};

class CAudioFileWriter
{
public:
    CAudioFileWriter() = default;
    ~CAudioFileWriter();
    CAudioFileWriter(const CAudioFileWriter&) = delete;
    CAudioFileWriter& operator=(const CAudioFileWriter&) = delete;

    // Creates the temporary file beside path; info gives format, samples, channels and rate.
    zel::CErrorPtr open(const std::string& path, const SAudioFileInfo& info, bool dither);
    zel::CErrorPtr write(const double* interleaved, std::int64_t frames);
    // Closes the temporary file and renames it to the target.
    zel::CErrorPtr commit();
    // Samples that lay beyond full scale and were clipped (integer output only).
    std::int64_t clippedSamples() const { return m_clipped; }

private:
    void discard();

    void* m_file = nullptr;
    std::string m_path;
    std::string m_temp;
    SAudioFileInfo m_info;
    bool m_dither = true;
    std::uint64_t m_seed = 0x9E3779B97F4A7C15ull;
    std::int64_t m_clipped = 0;
    std::vector<int> m_quantised;
};

} // namespace kelvtools
