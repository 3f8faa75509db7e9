#include "AudioFile.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

namespace kelvtools
{
namespace
{

using zel::CErrorPtr;
namespace fs = std::filesystem;

SNDFILE* handle(void* file)
{
    return static_cast<SNDFILE*>(file);
}

int bitsOf(ESampleFormat sample)
{
    return sample == ESampleFormat::int16 ? 16 : 24;
}

} // namespace

const char* formatName(EFileFormat format)
{
    switch (format)
    {
    case EFileFormat::wav:
        return "WAV";
    case EFileFormat::aiff:
        return "AIFF";
    case EFileFormat::flac:
        return "FLAC";
    }
    return "?";
}

const char* sampleName(ESampleFormat sample)
{
    switch (sample)
    {
    case ESampleFormat::int16:
        return "16-bit";
    case ESampleFormat::int24:
        return "24-bit";
    case ESampleFormat::float32:
        return "32-bit float";
    }
    return "?";
}

// ---- Reader ------------------------------------------------------------------------------------

CAudioFileReader::~CAudioFileReader()
{
    if (m_file != nullptr)
        sf_close(handle(m_file));
}

CErrorPtr CAudioFileReader::open(const std::string& path)
{
    constexpr const char* kOwner = "CAudioFileReader";
    m_path = path;
    std::error_code error;
    if (!fs::exists(path, error))
        return ZEL_ERROR(kOwner, "zelstr_CAudioFileReader_open_Missing",
                         "The input file '%1' does not exist.", {path});
    if (fs::is_directory(path, error))
        return ZEL_ERROR(kOwner, "zelstr_CAudioFileReader_open_Folder",
                         "The input '%1' is a folder, not an audio file.", {path});
    SF_INFO sf{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &sf);
    if (file == nullptr)
        return ZEL_ERROR(kOwner, "zelstr_CAudioFileReader_open_Unreadable",
                         "Cannot read '%1' as an audio file: %2", {path, sf_strerror(nullptr)});
    m_file = file;

    switch (sf.format & SF_FORMAT_TYPEMASK)
    {
    case SF_FORMAT_WAV:
    case SF_FORMAT_WAVEX:
        m_info.format = EFileFormat::wav;
        break;
    case SF_FORMAT_AIFF:
        m_info.format = EFileFormat::aiff;
        break;
    case SF_FORMAT_FLAC:
        m_info.format = EFileFormat::flac;
        break;
    default:
        return ZEL_ERROR(kOwner, "zelstr_CAudioFileReader_open_Format",
                         "Unsupported file format in '%1': WAV, AIFF and FLAC are supported.",
                         {path});
    }
    switch (sf.format & SF_FORMAT_SUBMASK)
    {
    case SF_FORMAT_PCM_16:
        m_info.sample = ESampleFormat::int16;
        break;
    case SF_FORMAT_PCM_24:
        m_info.sample = ESampleFormat::int24;
        break;
    case SF_FORMAT_FLOAT:
        m_info.sample = ESampleFormat::float32;
        break;
    default:
        return ZEL_ERROR(kOwner, "zelstr_CAudioFileReader_open_Samples",
                         "Unsupported sample format in '%1': 16 and 24-bit integer and 32-bit "
                         "float samples are supported.",
                         {path});
    }
    if (sf.channels < 1 || sf.channels > kMaxChannels)
        return ZEL_ERROR(kOwner, "zelstr_CAudioFileReader_open_Channels",
                         "'%1' has %2 channels: 1 to 8 channels are supported.",
                         {path, std::to_string(sf.channels)});
    if (sf.samplerate < 8000 || sf.samplerate > 384000)
        return ZEL_ERROR(kOwner, "zelstr_CAudioFileReader_open_Rate",
                         "'%1' has a sample rate of %2 Hz: 8000 to 384000 Hz are supported.",
                         {path, std::to_string(sf.samplerate)});
    m_info.channels = sf.channels;
    m_info.sampleRate = sf.samplerate;
    m_info.frames = sf.frames;
    return nullptr;
}

CErrorPtr CAudioFileReader::read(double* interleaved, std::int64_t frames, std::int64_t& read)
{
    read = sf_readf_double(handle(m_file), interleaved, frames);
    if (read < 0 || (read < frames && sf_error(handle(m_file)) != SF_ERR_NO_ERROR))
        return ZEL_ERROR("CAudioFileReader", "zelstr_CAudioFileReader_read_Error",
                         "Cannot read '%1': %2", {m_path, sf_strerror(handle(m_file))});
    return nullptr;
}

// ---- Writer ------------------------------------------------------------------------------------

CAudioFileWriter::~CAudioFileWriter()
{
    discard();
}

void CAudioFileWriter::discard()
{
    if (m_file != nullptr)
    {
        sf_close(handle(m_file));
        m_file = nullptr;
    }
    if (!m_temp.empty())
    {
        std::error_code ignored;
        fs::remove(m_temp, ignored);
        m_temp.clear();
    }
}

CErrorPtr CAudioFileWriter::open(const std::string& path, const SAudioFileInfo& info, bool dither)
{
    constexpr const char* kOwner = "CAudioFileWriter";
    discard();
    m_path = path;
    m_info = info;
    m_dither = dither;
    m_clipped = 0;
    if (info.format == EFileFormat::flac && info.sample == ESampleFormat::float32)
        return ZEL_ERROR(kOwner, "zelstr_CAudioFileWriter_open_FlacFloat",
                         "FLAC files hold 16 or 24-bit samples, not floating point.");

    const fs::path target(path);
    std::error_code error;
    if (fs::is_directory(target, error))
        return ZEL_ERROR(kOwner, "zelstr_CAudioFileWriter_open_Folder",
                         "The output '%1' is a folder.", {path});
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    if (!fs::is_directory(folder, error))
        return ZEL_ERROR(kOwner, "zelstr_CAudioFileWriter_open_NoFolder",
                         "The output folder '%1' does not exist.", {folder.string()});
    std::string tempName = target.filename().string();
    tempName.insert(0, 1, '.');
    tempName.append(".partial");
    m_temp = (folder / tempName).string();

    SF_INFO sf{};
    sf.channels = info.channels;
    sf.samplerate = info.sampleRate;
    const int major = info.format == EFileFormat::wav    ? SF_FORMAT_WAV
                      : info.format == EFileFormat::aiff ? SF_FORMAT_AIFF
                                                         : SF_FORMAT_FLAC;
    const int minor = info.sample == ESampleFormat::int16   ? SF_FORMAT_PCM_16
                      : info.sample == ESampleFormat::int24 ? SF_FORMAT_PCM_24
                                                            : SF_FORMAT_FLOAT;
    sf.format = major | minor;
    SNDFILE* file = sf_open(m_temp.c_str(), SFM_WRITE, &sf);
    if (file == nullptr)
    {
        const std::string why = sf_strerror(nullptr);
        m_temp.clear();
        return ZEL_ERROR(kOwner, "zelstr_CAudioFileWriter_open_Create",
                         "Cannot write an audio file in '%1': %2", {folder.string(), why});
    }
    m_file = file;
    return nullptr;
}

CErrorPtr CAudioFileWriter::write(const double* interleaved, std::int64_t frames)
{
    constexpr const char* kOwner = "CAudioFileWriter";
    const std::size_t count =
        static_cast<std::size_t>(frames) * static_cast<std::size_t>(m_info.channels);
    sf_count_t written = 0;
    if (m_info.sample == ESampleFormat::float32)
        written = sf_writef_double(handle(m_file), interleaved, frames);
    else
    {
        // Quantised here rather than by the library, to control dither and clipping: the
        // sample scaled to steps, plus TPDF noise, rounded, clipped to the integer range, and
        // handed over left-aligned in 32 bits.
        const int bits = bitsOf(m_info.sample);
        const double scale = std::ldexp(1.0, bits - 1);
        const double top = scale - 1.0;
        const int shift = 32 - bits;
        m_quantised.resize(count);
        for (std::size_t i = 0; i < count; ++i)
        {
            double value = interleaved[i] * scale;
            if (m_dither)
            {
                auto uniform = [this]()
                {
                    // xorshift64*: fast, and fixed by the seed.
                    m_seed ^= m_seed >> 12;
                    m_seed ^= m_seed << 25;
                    m_seed ^= m_seed >> 27;
                    const std::uint64_t r = m_seed * 0x2545F4914F6CDD1Dull;
                    return static_cast<double>(r >> 11) * 0x1.0p-53;
                };
                value += uniform() - uniform();
            }
            double rounded = std::floor(value + 0.5);
            if (!std::isfinite(rounded))
                rounded = 0.0;
            if (rounded > top || rounded < -scale)
            {
                ++m_clipped;
                rounded = std::clamp(rounded, -scale, top);
            }
            m_quantised[i] =
                static_cast<int>(static_cast<std::uint32_t>(static_cast<int>(rounded)) << shift);
        }
        written = sf_writef_int(handle(m_file), m_quantised.data(), frames);
    }
    if (written != frames)
        return ZEL_ERROR(kOwner, "zelstr_CAudioFileWriter_write_Error", "Cannot write '%1': %2",
                         {m_path, sf_strerror(handle(m_file))});
    return nullptr;
}

CErrorPtr CAudioFileWriter::commit()
{
    constexpr const char* kOwner = "CAudioFileWriter";
    if (m_file == nullptr)
        return ZEL_ERROR(kOwner, "zelstr_CAudioFileWriter_commit_NotOpen",
                         "No output file is open.");
    sf_write_sync(handle(m_file));
    const int closed = sf_close(handle(m_file));
    m_file = nullptr;
    if (closed != 0)
    {
        discard();
        return ZEL_ERROR(kOwner, "zelstr_CAudioFileWriter_commit_Close", "Cannot write '%1'.",
                         {m_path});
    }
    std::error_code error;
    fs::rename(m_temp, m_path, error);
    if (error)
    {
        discard();
        return ZEL_ERROR(kOwner, "zelstr_CAudioFileWriter_commit_Rename", "Cannot create '%1': %2",
                         {m_path, error.message()});
    }
    m_temp.clear();
    return nullptr;
}

} // namespace kelvtools
