#include "RenderOptions.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace kelvtools
{
namespace
{

using zel::CErrorPtr;
constexpr const char* kOwner = "CRenderOptions";

std::string lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

CErrorPtr integer(const std::string& option, const std::string& text, std::int32_t min,
                  std::int32_t max, std::int32_t& value)
{
    std::int32_t parsed = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (ec != std::errc() || end != text.data() + text.size() || parsed < min || parsed > max)
        return ZEL_ERROR(kOwner, "zelstr_CRenderOptions_parse_Integer",
                         "%1 needs a whole number from %2 to %3, not '%4'.",
                         {option, std::to_string(min), std::to_string(max), text});
    value = parsed;
    return nullptr;
}

} // namespace

const char* CRenderOptions::usage()
{
    return "Usage: kelvatrone-render [options] INPUT OUTPUT\n"
           "       kelvatrone-render [settings] --list-presets | --list-params | --save-preset F\n"
           "Renders an audio file (WAV, AIFF or FLAC; 1 to 8 channels) through Kelvatrone.\n"
           "\n"
           "Settings (applied in this order):\n"
           "  --bank-file F.cbf     load a bank of programs\n"
           "  --program N           select program N of the bank (0 is the first)\n"
           "  --preset NAME         select a program by its name (ignoring case)\n"
           "  --preset-file F.cpf   load a preset file\n"
           "  --set NAME=VALUE      set a parameter in display units (\"1OGain=-3\", "
           "\"Bypass=On\");\n"
           "                        NAME=@0.75 sets a normalised value; may be repeated\n"
           "  --oversampling X      Auto, 1x, 2x, 4x or 8x\n"
           "  --save-preset F.cpf   save the program after the settings as a preset file\n"
           "\n"
           "Listing:\n"
           "  --list-presets        the programs, by number and name\n"
           "  --list-params         the parameters: name, display value, label\n"
           "\n"
           "Processing and output:\n"
           "  --precision 32|64     sample precision of the plug-in's processing (default 64)\n"
           "  --block N             frames per process call, 1 to 65536 (default 512)\n"
           "  --keep-latency        keep the plug-in's latency in the output (no alignment)\n"
           "  --format wav|aiff|flac  output file format (default: as the input)\n"
           "  --bits 16|24|float    output sample format (default: as the input)\n"
           "  --no-dither           round without TPDF dither when writing 16 or 24 bits\n"
           "  --plugin PATH         the plug-in library (default: the one built with the "
           "renderer,\n"
           "                        or $KELVATRONE_PLUGIN)\n"
           "  --quiet               no progress bar (the summary is still printed)\n"
           "  --help                this text\n";
}

CErrorPtr CRenderOptions::parse(int argc, const char* const* argv, SRenderOptions& options)
{
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.emplace_back(argv[i]);
    return parse(args, options);
}

CErrorPtr CRenderOptions::parse(const std::vector<std::string>& args, SRenderOptions& options)
{
    options = SRenderOptions();
    std::vector<std::string> files;
    for (std::size_t i = 0; i < args.size(); ++i)
    {
        const std::string& arg = args[i];
        // Options with a value take it from the next argument or after "=".
        std::string name = arg;
        std::string value;
        bool inlineValue = false;
        if (arg.rfind("--", 0) == 0)
        {
            const std::size_t eq = arg.find('=');
            if (eq != std::string::npos)
            {
                name = arg.substr(0, eq);
                value = arg.substr(eq + 1);
                inlineValue = true;
            }
        }
        auto take = [&]() -> CErrorPtr
        {
            if (inlineValue)
                return nullptr;
            if (i + 1 >= args.size())
                return ZEL_ERROR(kOwner, "zelstr_CRenderOptions_parse_MissingValue",
                                 "%1 needs a value.", {name});
            value = args[++i];
            return nullptr;
        };

        if (name == "--help" || name == "-h")
            options.help = true;
        else if (name == "--list-presets")
            options.listPresets = true;
        else if (name == "--list-params")
            options.listParams = true;
        else if (name == "--quiet" || name == "-q")
            options.quiet = true;
        else if (name == "--keep-latency")
            options.keepLatency = true;
        else if (name == "--no-dither")
            options.dither = false;
        else if (name == "--preset")
        {
            ZEL_TRY(take(), kOwner);
            options.preset = value;
        }
        else if (name == "--preset-file")
        {
            ZEL_TRY(take(), kOwner);
            options.presetFile = value;
        }
        else if (name == "--bank-file")
        {
            ZEL_TRY(take(), kOwner);
            options.bankFile = value;
        }
        else if (name == "--program")
        {
            ZEL_TRY(take(), kOwner);
            ZEL_TRY(integer(name, value, 0, 1 << 20, options.program), kOwner);
        }
        else if (name == "--set")
        {
            ZEL_TRY(take(), kOwner);
            const std::size_t eq = value.find('=');
            if (eq == std::string::npos || eq == 0 || eq + 1 == value.size())
                return ZEL_ERROR(kOwner, "zelstr_CRenderOptions_parse_Set",
                                 "--set needs NAME=VALUE, not '%1'.", {value});
            options.params.emplace_back(value.substr(0, eq), value.substr(eq + 1));
        }
        else if (name == "--oversampling")
        {
            ZEL_TRY(take(), kOwner);
            const std::string choice = lower(value);
            if (choice != "auto" && choice != "1x" && choice != "2x" && choice != "4x" &&
                choice != "8x")
                return ZEL_ERROR(kOwner, "zelstr_CRenderOptions_parse_Oversampling",
                                 "--oversampling takes Auto, 1x, 2x, 4x or 8x, not '%1'.", {value});
            options.oversampling = value;
        }
        else if (name == "--save-preset")
        {
            ZEL_TRY(take(), kOwner);
            options.savePreset = value;
        }
        else if (name == "--plugin")
        {
            ZEL_TRY(take(), kOwner);
            options.plugin = value;
        }
        else if (name == "--precision")
        {
            ZEL_TRY(take(), kOwner);
            if (value != "32" && value != "64")
                return ZEL_ERROR(kOwner, "zelstr_CRenderOptions_parse_Precision",
                                 "--precision takes 32 or 64, not '%1'.", {value});
            options.use64 = value == "64";
        }
        else if (name == "--block")
        {
            ZEL_TRY(take(), kOwner);
            ZEL_TRY(integer(name, value, 1, 65536, options.blockSize), kOwner);
        }
        else if (name == "--format")
        {
            ZEL_TRY(take(), kOwner);
            const std::string choice = lower(value);
            if (choice == "wav")
                options.format = EOutputFormat::wav;
            else if (choice == "aiff" || choice == "aif")
                options.format = EOutputFormat::aiff;
            else if (choice == "flac")
                options.format = EOutputFormat::flac;
            else
                return ZEL_ERROR(kOwner, "zelstr_CRenderOptions_parse_Format",
                                 "--format takes wav, aiff or flac, not '%1'.", {value});
        }
        else if (name == "--bits")
        {
            ZEL_TRY(take(), kOwner);
            const std::string choice = lower(value);
            if (choice == "16")
                options.bits = EOutputBits::int16;
            else if (choice == "24")
                options.bits = EOutputBits::int24;
            else if (choice == "float" || choice == "32f" || choice == "32")
                options.bits = EOutputBits::float32;
            else
                return ZEL_ERROR(kOwner, "zelstr_CRenderOptions_parse_Bits",
                                 "--bits takes 16, 24 or float, not '%1'.", {value});
        }
        else if (arg.size() > 1 && arg[0] == '-')
            return ZEL_ERROR(kOwner, "zelstr_CRenderOptions_parse_Unknown",
                             "Unknown option '%1' (see --help).", {arg});
        else
            files.push_back(arg);
    }
    if (options.help)
        return nullptr;

    if (!options.preset.empty() && !options.presetFile.empty())
        return ZEL_ERROR(kOwner, "zelstr_CRenderOptions_parse_TwoPresets",
                         "--preset and --preset-file cannot be combined.");
    if (options.program >= 0 && (!options.preset.empty() || !options.presetFile.empty()))
        return ZEL_ERROR(kOwner, "zelstr_CRenderOptions_parse_ProgramAndPreset",
                         "--program cannot be combined with --preset or --preset-file.");
    if (options.format == EOutputFormat::flac && options.bits == EOutputBits::float32)
        return ZEL_ERROR(kOwner, "zelstr_CRenderOptions_parse_FlacFloat",
                         "FLAC files hold 16 or 24-bit samples, not floating point.");

    const bool onlySettings =
        options.listPresets || options.listParams || !options.savePreset.empty();
    if (files.size() == 2)
    {
        options.input = files[0];
        options.output = files[1];
    }
    else if (!(files.empty() && onlySettings))
        return ZEL_ERROR(kOwner, "zelstr_CRenderOptions_parse_Files",
                         "Expected an input and an output file (see --help).");
    return nullptr;
}

} // namespace kelvtools
