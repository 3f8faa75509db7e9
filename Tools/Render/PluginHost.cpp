#include "PluginHost.h"

#include "Audio/AudioPreset.h"
#include "Audio/AudioPresetBank.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace kelvtools
{
namespace
{

namespace vst = zel::vst;
using zel::CErrorPtr;
using MainProc = vst::AEffect* (*)(vst::HostCallback);

constexpr const char* kOwner = "CPluginHost";
// The effect's vendor-specific calls that convert between display texts and host values.
constexpr std::int32_t kVendorTextToValue = 27;
constexpr std::int32_t kVendorValueToText = 7;
constexpr std::intptr_t kVendorAnswer = 0xBEEF;
// The frame of zero bytes in front of every state chunk.
constexpr std::size_t kChunkFrame = 16;
// Host values probed to find the display texts of a parameter.
constexpr int kStateProbes = 1000;

std::string lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool sameText(const std::string& a, const std::string& b)
{
    return lower(a) == lower(b);
}

// A number in display units: optional sign, digits, at most one "." or "," and digits.
bool isNumber(const std::string& text, double& value)
{
    std::string plain;
    bool digits = false;
    bool separator = false;
    for (std::size_t i = 0; i < text.size(); ++i)
    {
        const char c = text[i];
        if ((c == '-' || c == '+') && i == 0)
            plain += c;
        else if (std::isdigit(static_cast<unsigned char>(c)))
        {
            plain += c;
            digits = true;
        }
        else if ((c == '.' || c == ',') && !separator)
        {
            plain += '.';
            separator = true;
        }
        else
            return false;
    }
    if (!digits)
        return false;
    value = std::strtod(plain.c_str(), nullptr);
    return std::isfinite(value);
}

// The number a display text starts with, and the size of one step of its last digit.
bool displayNumber(const std::string& text, double& value, double& step)
{
    std::string plain;
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        plain += text[i++];
    int decimals = -1;
    bool digits = false;
    for (; i < text.size(); ++i)
    {
        const char c = text[i];
        if (std::isdigit(static_cast<unsigned char>(c)))
        {
            plain += c;
            digits = true;
            if (decimals >= 0)
                ++decimals;
        }
        else if ((c == '.' || c == ',') && decimals < 0)
        {
            plain += '.';
            decimals = 0;
        }
        else
            break;
    }
    if (!digits)
        return false;
    value = std::strtod(plain.c_str(), nullptr);
    step = std::pow(10.0, -static_cast<double>(std::max(decimals, 0)));
    return std::isfinite(value);
}

std::string joined(const std::vector<std::string>& names)
{
    std::string list;
    for (const std::string& name : names)
        list += (list.empty() ? "" : ", ") + name;
    return list;
}

CErrorPtr readWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return ZEL_ERROR(kOwner, "zelstr_CPluginHost_readWholeFile_Open",
                         "Cannot read the file '%1'.", {path});
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return nullptr;
}

} // namespace

CPluginHost::~CPluginHost()
{
    if (m_effect != nullptr)
    {
        stop();
        dispatch(vst::effClose);
        m_effect = nullptr;
    }
}

std::intptr_t CPluginHost::callback(vst::AEffect* effect, std::int32_t opcode, std::int32_t index,
                                    std::intptr_t value, void* ptr, float opt)
{
    (void)effect;
    (void)index;
    (void)value;
    (void)opt;
    auto answer = [ptr](const char* text)
    {
        if (ptr == nullptr)
            return std::intptr_t(0);
        std::strcpy(static_cast<char*>(ptr), text);
        return std::intptr_t(1);
    };
    switch (opcode)
    {
    case vst::audioMasterVersion:
        return 2400;
    case vst::audioMasterGetProductString:
        return answer("kelvatrone-render");
    case vst::audioMasterGetVendorString:
        return answer("Kelvatrone tools");
    case vst::audioMasterGetVendorVersion:
        return 1;
    case vst::audioMasterGetCurrentProcessLevel:
        // Rendering files is offline work: the effect may choose its offline quality.
        return vst::kVstProcessLevelOffline;
    case vst::audioMasterIOChanged:
        // The record's latency field is read again after every block.
        return 1;
    default:
        return 0;
    }
}

CErrorPtr CPluginHost::load(const std::string& modulePath)
{
    if (m_effect != nullptr)
        return ZEL_ERROR(kOwner, "zelstr_CPluginHost_load_Twice", "The plug-in is already loaded.");
    if (!m_module.open(zel::CText(modulePath)))
        return ZEL_ERROR(kOwner, "zelstr_CPluginHost_load_Module",
                         "Cannot load the plug-in library '%1': %2",
                         {modulePath, m_module.error()});
    auto main = reinterpret_cast<MainProc>(m_module.symbol("VSTPluginMain"));
    if (main == nullptr)
        return ZEL_ERROR(kOwner, "zelstr_CPluginHost_load_Entry",
                         "The plug-in library '%1' has no entry VSTPluginMain: %2",
                         {modulePath, m_module.error()});
    vst::AEffect* effect = main(&CPluginHost::callback);
    if (effect == nullptr || effect->magic != vst::kEffectMagic)
        return ZEL_ERROR(kOwner, "zelstr_CPluginHost_load_Effect",
                         "The plug-in library '%1' did not create an effect.", {modulePath});
    if (effect->processDoubleReplacing == nullptr || effect->processReplacing == nullptr)
        return ZEL_ERROR(kOwner, "zelstr_CPluginHost_load_Process",
                         "The effect in '%1' has no replacing process entries.", {modulePath});
    m_effect = effect;
    dispatch(vst::effOpen);
    return nullptr;
}

std::intptr_t CPluginHost::dispatch(std::int32_t opcode, std::int32_t index, std::intptr_t value,
                                    void* ptr, float opt) const
{
    return m_effect->dispatcher(m_effect, opcode, index, value, ptr, opt);
}

std::string CPluginHost::text(std::int32_t opcode, std::int32_t index, std::intptr_t value,
                              float opt) const
{
    // Larger than any text the interface allows, so that an overlong answer stays inside.
    char buffer[512] = {};
    dispatch(opcode, index, value, buffer, opt);
    buffer[sizeof(buffer) - 1] = 0;
    return buffer;
}

std::string CPluginHost::effectName() const
{
    return text(vst::effGetEffectName);
}

std::string CPluginHost::vendorName() const
{
    return text(vst::effGetVendorString);
}

std::string CPluginHost::versionText() const
{
    const std::intptr_t v = dispatch(vst::effGetVendorVersion);
    return std::to_string((v >> 16) & 0xFF) + "." + std::to_string((v >> 8) & 0xFF) + "." +
           std::to_string(v & 0xFF);
}

// ---- Programs ----------------------------------------------------------------------------------

std::int32_t CPluginHost::programCount() const
{
    return m_effect->numPrograms;
}

std::string CPluginHost::programName(std::int32_t index) const
{
    char buffer[512] = {};
    dispatch(vst::effGetProgramNameIndexed, index, 0, buffer);
    buffer[sizeof(buffer) - 1] = 0;
    return buffer;
}

std::int32_t CPluginHost::currentProgram() const
{
    return static_cast<std::int32_t>(dispatch(vst::effGetProgram));
}

CErrorPtr CPluginHost::selectProgram(std::int32_t index)
{
    if (index < 0 || index >= programCount())
        return ZEL_ERROR(kOwner, "zelstr_CPluginHost_selectProgram_Range",
                         "Program %1 does not exist: the plug-in has programs 0 to %2.",
                         {std::to_string(index), std::to_string(programCount() - 1)});
    dispatch(vst::effSetProgram, 0, index);
    return nullptr;
}

CErrorPtr CPluginHost::selectProgram(const std::string& name)
{
    std::vector<std::string> names;
    for (std::int32_t i = 0; i < programCount(); ++i)
    {
        names.push_back(programName(i));
        if (sameText(names.back(), name))
            return selectProgram(i);
    }
    return ZEL_ERROR(kOwner, "zelstr_CPluginHost_selectProgram_Unknown",
                     "Unknown preset '%1'. Valid presets: %2.", {name, joined(names)});
}

// ---- Parameters --------------------------------------------------------------------------------

std::int32_t CPluginHost::paramCount() const
{
    return m_effect->numParams;
}

std::string CPluginHost::paramName(std::int32_t index) const
{
    return text(vst::effGetParamName, index);
}

std::string CPluginHost::paramDisplay(std::int32_t index) const
{
    return text(vst::effGetParamDisplay, index);
}

std::string CPluginHost::paramLabel(std::int32_t index) const
{
    return text(vst::effGetParamLabel, index);
}

float CPluginHost::paramValue(std::int32_t index) const
{
    return m_effect->getParameter(m_effect, index);
}

std::string CPluginHost::displayFor(std::int32_t index, float normalised) const
{
    char buffer[512] = {};
    if (dispatch(vst::effVendorSpecific, kVendorValueToText, index, buffer, normalised) !=
        kVendorAnswer)
        return std::string();
    buffer[sizeof(buffer) - 1] = 0;
    return buffer;
}

std::vector<SParamState> CPluginHost::states(std::int32_t index) const
{
    // Runs of equal display texts over a fine grid of host values.
    struct SRun
    {
        std::string text;
        int first;
        int last;
    };
    std::vector<SRun> runs;
    for (int i = 0; i <= kStateProbes; ++i)
    {
        const std::string shown =
            displayFor(index, static_cast<float>(i) / static_cast<float>(kStateProbes));
        if (!runs.empty() && runs.back().text == shown)
            runs.back().last = i;
        else
            runs.push_back({shown, i, i});
    }
    std::vector<SParamState> result;
    for (const SRun& run : runs)
    {
        int probe = (run.first + run.last) / 2;
        if (run.first == 0)
            probe = 0;
        else if (run.last == kStateProbes)
            probe = kStateProbes;
        result.push_back({run.text, static_cast<float>(probe) / static_cast<float>(kStateProbes)});
    }
    return result;
}

CErrorPtr CPluginHost::findParam(const std::string& name, std::int32_t& index) const
{
    std::vector<std::string> names;
    for (std::int32_t i = 0; i < paramCount(); ++i)
    {
        names.push_back(paramName(i));
        if (sameText(names.back(), name))
        {
            index = i;
            return nullptr;
        }
    }
    return ZEL_ERROR(kOwner, "zelstr_CPluginHost_findParam_Unknown",
                     "Unknown parameter '%1'. Valid parameters: %2.", {name, joined(names)});
}

CErrorPtr CPluginHost::setParam(const std::string& name, const std::string& value)
{
    std::int32_t index = 0;
    ZEL_TRY(findParam(name, index), kOwner);
    const std::string visible = paramName(index);

    if (!value.empty() && value[0] == '@')
    {
        double normalised = 0.0;
        if (!isNumber(value.substr(1), normalised))
            return ZEL_ERROR(kOwner, "zelstr_CPluginHost_setParam_Normalised",
                             "'%1' is not a normalised value for %2: expected @0 to @1.",
                             {value, visible});
        if (normalised < 0.0 || normalised > 1.0)
            return ZEL_ERROR(kOwner, "zelstr_CPluginHost_setParam_NormalisedRange",
                             "Normalised value %1 for %2 is out of range (@0 to @1).",
                             {value.substr(1), visible});
        m_effect->setParameter(m_effect, index, static_cast<float>(normalised));
        return nullptr;
    }

    double number = 0.0;
    if (isNumber(value, number))
        return setNumber(index, visible, value);

    const std::vector<SParamState> known = states(index);
    for (const SParamState& state : known)
        if (sameText(state.text, value))
        {
            m_effect->setParameter(m_effect, index, state.normalised);
            return nullptr;
        }
    std::vector<std::string> texts;
    for (const SParamState& state : known)
        texts.push_back(state.text);
    if (texts.size() <= 16)
        return ZEL_ERROR(kOwner, "zelstr_CPluginHost_setParam_UnknownState",
                         "'%1' is not a value of %2. Valid values: %3.",
                         {value, visible, joined(texts)});
    return ZEL_ERROR(
        kOwner, "zelstr_CPluginHost_setParam_NotNumber",
        "'%1' is not a value of %2: expected a number in %3.",
        {value, visible, paramLabel(index).empty() ? "display units" : paramLabel(index)});
}

CErrorPtr CPluginHost::setNumber(std::int32_t index, const std::string& name,
                                 const std::string& value)
{
    double number = 0.0;
    isNumber(value, number);
    // The effect clamps what it converts, so the range comes from the displays at both ends.
    const std::string low = displayFor(index, 0.0f);
    const std::string high = displayFor(index, 1.0f);
    double lowValue = 0.0;
    double highValue = 0.0;
    double lowStep = 0.0;
    double highStep = 0.0;
    if (displayNumber(low, lowValue, lowStep) && displayNumber(high, highValue, highStep))
    {
        const double tolerance = 0.5 * std::max(lowStep, highStep);
        const double lo = std::min(lowValue, highValue);
        const double hi = std::max(lowValue, highValue);
        if (number < lo - tolerance || number > hi + tolerance)
        {
            std::string unit = paramLabel(index);
            unit = unit.empty() ? "" : " " + unit;
            return ZEL_ERROR(kOwner, "zelstr_CPluginHost_setParam_Range",
                             "Value %1 for %2 is out of range (%3).",
                             {value, name, low + " to " + high + unit});
        }
    }
    char buffer[512] = {};
    std::snprintf(buffer, sizeof(buffer), "%s", value.c_str());
    if (dispatch(vst::effVendorSpecific, kVendorTextToValue, index, buffer) != kVendorAnswer)
        return ZEL_ERROR(kOwner, "zelstr_CPluginHost_setParam_Convert",
                         "The plug-in cannot convert '%1' for %2.", {value, name});
    buffer[sizeof(buffer) - 1] = 0;
    const double normalised = std::strtod(buffer, nullptr);
    if (!std::isfinite(normalised) || normalised < 0.0 || normalised > 1.0)
        return ZEL_ERROR(kOwner, "zelstr_CPluginHost_setParam_Converted",
                         "The plug-in converted '%1' for %2 into the invalid value '%3'.",
                         {value, name, buffer});
    m_effect->setParameter(m_effect, index, static_cast<float>(normalised));
    return nullptr;
}

// ---- State files -------------------------------------------------------------------------------

CErrorPtr CPluginHost::setChunk(const std::string& path, bool isPreset)
{
    std::vector<std::uint8_t> bytes;
    ZEL_TRY(readWholeFile(path, bytes), kOwner);
    std::vector<std::uint8_t> chunk(kChunkFrame, 0);
    chunk.insert(chunk.end(), bytes.begin(), bytes.end());
    if (dispatch(vst::effSetChunk, isPreset ? 1 : 0, static_cast<std::intptr_t>(chunk.size()),
                 chunk.data()) != 1)
        return ZEL_ERROR(kOwner, "zelstr_CPluginHost_setChunk_Refused",
                         "The plug-in refused the %1 file '%2'.",
                         {isPreset ? "preset" : "bank", path});
    return nullptr;
}

CErrorPtr CPluginHost::loadPresetFile(const std::string& path)
{
    zel::CAudioPreset preset;
    if (CErrorPtr err = preset.loadFile(zel::CText(path)))
        return ZEL_ERROR(kOwner, "zelstr_CPluginHost_loadPresetFile_Damaged",
                         "Cannot load the preset file '%1': %2", {path, err->text()});
    return setChunk(path, true);
}

CErrorPtr CPluginHost::loadBankFile(const std::string& path, std::int32_t& programs)
{
    zel::CAudioPresetBank bank;
    if (CErrorPtr err = bank.loadFile(zel::CText(path)))
        return ZEL_ERROR(kOwner, "zelstr_CPluginHost_loadBankFile_Damaged",
                         "Cannot load the bank file '%1': %2", {path, err->text()});
    if (bank.presets.empty())
        return ZEL_ERROR(kOwner, "zelstr_CPluginHost_loadBankFile_Empty",
                         "The bank file '%1' holds no programs.", {path});
    ZEL_TRY(setChunk(path, false), kOwner);
    programs = static_cast<std::int32_t>(bank.presets.size());
    return nullptr;
}

CErrorPtr CPluginHost::savePresetFile(const std::string& path)
{
    void* data = nullptr;
    const std::intptr_t size = dispatch(vst::effGetChunk, 1, 0, &data);
    if (data == nullptr || size <= static_cast<std::intptr_t>(kChunkFrame))
        return ZEL_ERROR(kOwner, "zelstr_CPluginHost_savePresetFile_NoState",
                         "The plug-in gave no program state to save.");
    const auto* bytes = static_cast<const char*>(data) + kChunkFrame;
    const auto length =
        static_cast<std::streamsize>(size - static_cast<std::intptr_t>(kChunkFrame));

    namespace fs = std::filesystem;
    const fs::path target(path);
    fs::path temp = target;
    temp += ".partial";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out.write(bytes, length) || !out.flush())
        {
            std::error_code ignored;
            fs::remove(temp, ignored);
            return ZEL_ERROR(kOwner, "zelstr_CPluginHost_savePresetFile_Write",
                             "Cannot write the preset file '%1'.", {path});
        }
    }
    std::error_code error;
    fs::rename(temp, target, error);
    if (error)
    {
        fs::remove(temp, error);
        return ZEL_ERROR(kOwner, "zelstr_CPluginHost_savePresetFile_Rename",
                         "Cannot write the preset file '%1'.", {path});
    }
    return nullptr;
}

// ---- Processing --------------------------------------------------------------------------------

CErrorPtr CPluginHost::start(double sampleRate, std::int32_t blockSize, bool use64,
                             std::int32_t channels)
{
    if (channels < 1 || channels > m_effect->numInputs || channels > m_effect->numOutputs)
        return ZEL_ERROR(kOwner, "zelstr_CPluginHost_start_Channels",
                         "The plug-in takes 1 to %1 channels, not %2.",
                         {std::to_string(std::min(m_effect->numInputs, m_effect->numOutputs)),
                          std::to_string(channels)});
    if (dispatch(vst::effSetProcessPrecision, 0,
                 use64 ? vst::kVstProcessPrecision64 : vst::kVstProcessPrecision32) != 1)
        return ZEL_ERROR(kOwner, "zelstr_CPluginHost_start_Precision",
                         "The plug-in refused %1-bit processing.", {use64 ? "64" : "32"});
    dispatch(vst::effSetSampleRate, 0, 0, nullptr, static_cast<float>(sampleRate));
    dispatch(vst::effSetBlockSize, 0, blockSize);
    // No speaker arrangement is sent: the effect keeps its full channel layout, whose default
    // routing processes the first inputs, and gets silence on the inputs the file lacks.
    dispatch(vst::effMainsChanged, 0, 1);
    dispatch(vst::effStartProcess);
    m_running = true;
    return nullptr;
}

void CPluginHost::stop()
{
    if (!m_running)
        return;
    dispatch(vst::effStopProcess);
    dispatch(vst::effMainsChanged, 0, 0);
    m_running = false;
}

std::int32_t CPluginHost::latency() const
{
    return m_effect->initialDelay;
}

std::int32_t CPluginHost::inputCount() const
{
    return m_effect->numInputs;
}

std::int32_t CPluginHost::outputCount() const
{
    return m_effect->numOutputs;
}

void CPluginHost::process(double** inputs, double** outputs, std::int32_t frames)
{
    m_effect->processDoubleReplacing(m_effect, inputs, outputs, frames);
}

void CPluginHost::process(float** inputs, float** outputs, std::int32_t frames)
{
    m_effect->processReplacing(m_effect, inputs, outputs, frames);
}

} // namespace kelvtools
