#pragma once
// CRenderOptions: the command line of kelvatrone-render, parsed into plain settings. It checks
// only what can be checked without the plug-in or the files (option names, numbers, choices,
// combinations); names of presets and parameters are checked by the host when it applies them.
// Not a general option parser: it knows this one command.

#include "Core/Error.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kelvtools
{

enum class EOutputFormat
{
    sameAsInput,
    wav,
    aiff,
    flac
};

enum class EOutputBits
{
    sameAsInput,
    int16,
    int24,
    float32
};

struct SRenderOptions
{
    std::string input;
    std::string output;
    std::string plugin; // empty: the renderer's default module

    std::string preset;     // factory program by visible name
    std::string presetFile; // .cpf
    std::string bankFile;   // .cbf
    std::int32_t program = -1;
    std::vector<std::pair<std::string, std::string>> params; // --set NAME=VALUE, in order
    std::string oversampling;                                // Auto, 1x, 2x, 4x or 8x
    std::string savePreset;

    bool listPresets = false;
    bool listParams = false;
    bool help = false;

    bool use64 = true;
    std::int32_t blockSize = 512;
    bool keepLatency = false;
    EOutputFormat format = EOutputFormat::sameAsInput;
    EOutputBits bits = EOutputBits::sameAsInput;
    bool dither = true;
    bool quiet = false; // no progress bar

    // True when the command renders a file (rather than only listing or saving settings).
    bool renders() const { return !input.empty(); }
};

class CRenderOptions
{
public:
    // Parses argv[1..argc-1]; on error options are partly filled and must not be used.
    static zel::CErrorPtr parse(int argc, const char* const* argv, SRenderOptions& options);
    static zel::CErrorPtr parse(const std::vector<std::string>& args, SRenderOptions& options);
    static const char* usage();
};

} // namespace kelvtools
