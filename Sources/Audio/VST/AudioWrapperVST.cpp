#include "Audio/VST/AudioWrapperVST.h"

#include "Audio/AudioEnv.h"
#include "Audio/VST/AudioWrapperVSTEditor.h"
#include "Audio/VST/PluginLibrary.h"
#include "Core/Application.h"
#include "Platform/FloatingPoint.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

using zel::CErrorPtr;
using zel::CText;
namespace vst = zel::vst;

namespace
{

constexpr const char* kFullName = "CAudioWrapperVST";
// Longest host text this effect reads (program names, parameter texts).
constexpr std::size_t kMaxHostText = 256;
// Parameter names, labels and displays: 7 characters and the terminator.
constexpr std::size_t kParamTextChars = vst::kVstMaxParamStrLen - 1;
constexpr std::size_t kProgramNameChars = vst::kVstMaxProgNameLen - 1;
constexpr std::size_t kEffectNameChars = vst::kVstMaxEffectNameLen - 1;
constexpr std::size_t kVendorChars = vst::kVstMaxVendorStrLen - 1;
// Host product and vendor strings are read into 64 characters and a terminator.
constexpr std::size_t kHostStringBuffer = 65;

// clang-format off
constexpr std::array<const char*, 12> kCategoryNames = {
    "kPlugCategUnknown", "kPlugCategEffect", "kPlugCategSynth", "kPlugCategAnalysis",
    "kPlugCategMastering", "kPlugCategSpacializer", "kPlugCategRoomFx", "kPlugSurroundFx",
    "kPlugCategRestoration", "kPlugCategOfflineProcess", "kPlugCategShell",
    "kPlugCategGenerator",
};
// clang-format on

// The 8-bit form the host receives: the narrow units as they are, wide text as UTF-8.
std::string hostBytes(const CText& text)
{
    return text.isWide() ? text.toUtf8() : text.narrow();
}

// Copies at most maxChars bytes of text and a terminator into dst.
void copyToHost(char* dst, const CText& text, std::size_t maxChars)
{
    if (dst == nullptr)
        return;
    const std::string bytes = hostBytes(text);
    const std::size_t n = std::min(bytes.size(), maxChars);
    std::memcpy(dst, bytes.data(), n);
    dst[n] = 0;
}

CText fromHost(const char* text, std::size_t maxChars = kMaxHostText)
{
    if (text == nullptr)
        return CText();
    return CText(std::string_view(text, strnlen(text, maxChars)));
}

// The part of a full program name ("prefix:name") after the first colon.
CText programNamePart(const CText& fullName)
{
    const std::size_t colon = fullName.find(u':');
    return colon == CText::npos ? fullName : fullName.substr(colon + 1);
}

bool settingIsOn(const CText& value)
{
    return value == CText("1") || value == CText("true");
}

} // namespace

// Serialises process, suspend and resume when the effect has a host call lock.
class CAudioWrapperVST::CCallLock
{
public:
    explicit CCallLock(zel::CCriticalSection* cs) : m_cs(cs)
    {
        if (m_cs != nullptr)
            m_cs->enter();
    }
    ~CCallLock()
    {
        if (m_cs != nullptr)
            m_cs->leave();
    }
    CCallLock(const CCallLock&) = delete;
    CCallLock& operator=(const CCallLock&) = delete;

private:
    zel::CCriticalSection* m_cs;
};

CAudioWrapperVST::CAudioWrapperVST(vst::HostCallback audioMaster)
    : zel::AudioEffectX(audioMaster, 1, 1)
{
}

CAudioWrapperVST::~CAudioWrapperVST()
{
    // The editor talks to the wrapper: it goes first.
    setEditor(nullptr);
    m_inputArrangement.reset();
    m_outputArrangement.reset();
    m_callLock.reset();
}

// ---- Initialisation ------------------------------------------------------------------------

CErrorPtr CAudioWrapperVST::init()
{
    ZEL_TRY(zel::CAudioWrapper::init(), kFullName);

    const std::int32_t hostVersion = getMasterVersion();
    char buffer[kHostStringBuffer] = {};
    getHostProductString(buffer);
    buffer[kHostStringBuffer - 1] = 0;
    m_hostProduct = fromHost(buffer, kHostStringBuffer - 1);
    std::memset(buffer, 0, sizeof(buffer));
    getHostVendorString(buffer);
    buffer[kHostStringBuffer - 1] = 0;
    m_hostVendor = fromHost(buffer, kHostStringBuffer - 1);

    const std::string product = hostBytes(m_hostProduct);
    const bool keepChannels = hostVersion >= kMinMultichannelHostVersion && !forceTwoChannels() &&
                              product != kTwoChannelHost;

    CText funcSync("0");
    if (zel::CApplication* app = zel::CApplication::instance())
    {
        // A settings file that cannot be read leaves the default: the lock stays optional.
        CErrorPtr ignored = app->globalData().readValue("vst-func-sync", funcSync, CText("0"));
    }
    bool wantLock = settingIsOn(funcSync);
    for (const char* pattern : kSerialisedHosts)
        wantLock = wantLock || matchesPattern(product, pattern);
    m_callLock.reset();
    if (wantLock)
        m_callLock = std::make_unique<zel::CCriticalSection>(4000);

    zel::CPluginLibrary::setHostIsNotSteinberg(hostBytes(m_hostVendor) != "Steinberg");

    setUniqueID(static_cast<std::int32_t>(pluginCode()));
    setNumPrograms(programCount());
    setNumParams(hostParamCount());
    programsAreChunks(true);
    canProcessReplacing(true);
    canDoubleReplacing(true);

    if (!keepChannels)
        setInternalChannelCount(2);
    m_maxInputs = internalChannelCount();
    m_maxOutputs = internalChannelCount();
    setNumInputs(m_maxInputs);
    setNumOutputs(m_maxOutputs);

    nameInputChannels();

    ZEL_TRY(postInit(), kFullName);

    setEditor(new CAudioWrapperVSTEditor(this, windowWidth(), windowHeight()));
    return nullptr;
}

void CAudioWrapperVST::nameInputChannels()
{
    zel::CCriticalSectionLock lock(wrapperLock());
    std::vector<CText> names;
    if (m_inputArrangement)
    {
        const std::int32_t count = m_inputArrangement->numChannels;
        for (std::int32_t i = 0; i < count; ++i)
        {
            const char* name = m_inputArrangement->speakers[i].name;
            names.push_back(fromHost(name, sizeof(m_inputArrangement->speakers[i].name)));
        }
    }
    else
    {
        for (std::int32_t i = 0; i < m_maxInputs; ++i)
            names.emplace_back("IN" + std::to_string(i + 1));
    }
    setInputChannelNames(std::move(names));
}

// ---- Calls to the host -----------------------------------------------------------------------

void CAudioWrapperVST::hostParamChanged(std::int32_t index, double normalised)
{
    if (isReportingToHost() && hasHost())
        callHost(vst::audioMasterAutomate, index, 0, nullptr, static_cast<float>(normalised));
}

void CAudioWrapperVST::updateDisplay()
{
    if (isReportingToHost())
        zel::AudioEffectX::updateDisplay();
}

void CAudioWrapperVST::beginEdit(std::int32_t hostIndex)
{
    if (isReportingToHost())
        zel::AudioEffectX::beginEdit(hostIndex);
}

void CAudioWrapperVST::endEdit(std::int32_t hostIndex)
{
    if (isReportingToHost())
        zel::AudioEffectX::endEdit(hostIndex);
}

std::int32_t CAudioWrapperVST::resizeEditor(std::int32_t width, std::int32_t height)
{
    CAudioWrapperVSTEditor* ed = editor();
    if (ed == nullptr)
        return 1;
    ed->setSize(width, height);
    return sizeWindow(width, height) ? 1 : 0;
}

CAudioWrapperVSTEditor* CAudioWrapperVST::editor() const
{
    return static_cast<CAudioWrapperVSTEditor*>(getEditor());
}

// ---- Dispatcher --------------------------------------------------------------------------------

std::intptr_t CAudioWrapperVST::dispatcher(std::int32_t opcode, std::int32_t index,
                                           std::intptr_t value, void* ptr, float opt)
{
    zel::platform::CFpHostGuard fp;
    const std::intptr_t answer = zel::AudioEffectX::dispatcher(opcode, index, value, ptr, opt);
    // The 32-bit answer 0xBEEF0000 goes out zero-extended, so that hosts comparing the full
    // pointer-sized value and hosts comparing its low 32 bits both recognise it.
    if (opcode == vst::effCanDo &&
        answer == static_cast<std::int32_t>(static_cast<std::uint32_t>(kCockosExtensionsAnswer)))
        return kCockosExtensionsAnswer;
    return answer;
}

void CAudioWrapperVST::checkOffline()
{
    const bool offline = getCurrentProcessLevel() == vst::kVstProcessLevelOffline;
    if (offline != isOffline())
        setOffline(offline);
}

void CAudioWrapperVST::suspend()
{
    CCallLock lock(m_callLock.get());
    CErrorPtr ignored = zel::CAudioWrapper::suspend();
}

void CAudioWrapperVST::resume()
{
    CCallLock lock(m_callLock.get());
    // A second resume without a suspend changes nothing: the running graph keeps the rate,
    // block length and channels it was activated with until the host suspends it.
    if (env().isActive())
        return;
    setMaxBlockLength(getBlockSize());
    zel::CAudioWrapper::setSampleRate(static_cast<double>(getSampleRate()));
    checkOffline();

    const std::int32_t inputs = m_inputArrangement ? m_inputArrangement->numChannels : m_maxInputs;
    const std::int32_t outputs =
        m_outputArrangement ? m_outputArrangement->numChannels : m_maxOutputs;
    if (inputs != inputCount() || sideChainCount() != 0 || outputs != outputCount())
        setChannelCounts(inputs, outputs, 0);

    CErrorPtr ignored = zel::CAudioWrapper::resume();
    setInitialDelay(latency());
    latencyReported();
}

// ---- Parameters --------------------------------------------------------------------------------

void CAudioWrapperVST::setParameter(std::int32_t index, float value)
{
    zel::platform::CFpHostGuard fp;
    if (index >= 0 && index < numParams())
        setHostParam(index, static_cast<double>(value));
}

float CAudioWrapperVST::getParameter(std::int32_t index)
{
    zel::platform::CFpHostGuard fp;
    if (index < 0 || index >= numParams())
        return 0.0f;
    return static_cast<float>(hostParam(index));
}

void CAudioWrapperVST::getParameterLabel(std::int32_t index, char* label)
{
    const bool valid = index >= 0 && index < numParams();
    copyToHost(label, valid ? hostParamLabel(index) : CText(), kParamTextChars);
}

void CAudioWrapperVST::getParameterDisplay(std::int32_t index, char* text)
{
    const bool valid = index >= 0 && index < numParams();
    copyToHost(text, valid ? hostParamDisplay(index) : CText(), kParamTextChars);
}

void CAudioWrapperVST::getParameterName(std::int32_t index, char* text)
{
    const bool valid = index >= 0 && index < numParams();
    copyToHost(text, valid ? hostParamName(index) : CText(), kParamTextChars);
}

bool CAudioWrapperVST::canParameterBeAutomated(std::int32_t index)
{
    return index >= 0 && index < numParams();
}

// ---- Programs ----------------------------------------------------------------------------------

void CAudioWrapperVST::setProgram(std::int32_t program)
{
    if (program < 0)
        return;
    m_curProgram = program;
    CErrorPtr ignored = zel::CAudioWrapper::setProgram(program);
}

std::int32_t CAudioWrapperVST::getProgram()
{
    return currentProgram();
}

void CAudioWrapperVST::setProgramName(char* name)
{
    CText fullName = programPrefix();
    fullName += ":";
    fullName += fromHost(name);
    CErrorPtr ignored = renameCurrentProgram(fullName);
}

void CAudioWrapperVST::getProgramName(char* name)
{
    copyToHost(name, programNamePart(programFullName(currentProgram())), kProgramNameChars);
}

bool CAudioWrapperVST::getProgramNameIndexed(std::int32_t category, std::int32_t index, char* text)
{
    (void)category;
    copyToHost(text, programNamePart(programFullName(index)), kProgramNameChars);
    return true;
}

// ---- State -------------------------------------------------------------------------------------

std::int32_t CAudioWrapperVST::getChunk(void** data, bool isPreset)
{
    *data = nullptr;
    if (CErrorPtr err = getState(m_chunk, isPreset, true))
        return 0;
    if (m_chunk.empty())
        return 0;
    *data = m_chunk.data();
    return static_cast<std::int32_t>(m_chunk.size());
}

std::int32_t CAudioWrapperVST::setChunk(void* data, std::int32_t byteSize, bool isPreset)
{
    if (byteSize <= static_cast<std::int32_t>(kHostFrameSize))
        return 1;
    if (data == nullptr)
        return 0;
    CErrorPtr err = setState(static_cast<const std::uint8_t*>(data),
                             static_cast<std::size_t>(byteSize), isPreset, true);
    return err ? 0 : 1;
}

// ---- Audio -------------------------------------------------------------------------------------

void CAudioWrapperVST::processReplacing(float** inputs, float** outputs, std::int32_t frames)
{
    processBlock(reinterpret_cast<const void* const*>(inputs),
                 reinterpret_cast<void* const*>(outputs), frames, false, false);
}

void CAudioWrapperVST::processDoubleReplacing(double** inputs, double** outputs,
                                              std::int32_t frames)
{
    processBlock(reinterpret_cast<const void* const*>(inputs),
                 reinterpret_cast<void* const*>(outputs), frames, true, true);
}

void CAudioWrapperVST::processBlock(const void* const* inputs, void* const* outputs,
                                    std::int32_t frames, bool input64, bool output64)
{
    zel::platform::CFpHostGuard fp;
    CCallLock lock(m_callLock.get());
    if (outputs == nullptr || frames < 0)
        return;
    checkOffline();

    if (usesHostTempo() || usesHostRecording())
    {
        // The tempo filter asks for the tempo, the recording filter for the transport bits.
        const std::int32_t filter =
            (usesHostTempo() ? vst::kVstTempoValid : 0) | (usesHostRecording() ? 14 : 0);
        if (const vst::VstTimeInfo* info = getTimeInfo(filter))
        {
            if ((info->flags & vst::kVstTempoValid) != 0)
                setHostTempo(info->tempo);
            if (usesHostRecording())
                setHostRecording((info->flags & vst::kVstTransportRecording) != 0);
        }
    }

    // Only as many channel pointers as the record announces are read from the host's arrays:
    // between an accepted speaker arrangement and the next resume the graph may still run
    // with more channels than the host now passes. A missing input array or pointer is
    // silence; a missing output pointer is not written.
    std::array<const void*, kMaxIntChannels> in{};
    std::array<void*, kMaxIntChannels> out{};
    if (inputs != nullptr)
        std::copy_n(inputs, std::clamp(m_effect.numInputs, 0, kMaxIntChannels), in.begin());
    std::copy_n(outputs, std::clamp(m_effect.numOutputs, 0, kMaxIntChannels), out.begin());
    CErrorPtr ignored = process(in.data(), out.data(), frames, input64, output64);

    if (takeLatencyNotification())
        ioChanged();
}

std::int32_t CAudioWrapperVST::processEvents(vst::VstEvents* events)
{
    const double rate = sampleRate() > 0.0 ? sampleRate() : static_cast<double>(getSampleRate());
    for (std::int32_t i = 0; i < events->numEvents; ++i)
    {
        const vst::VstEvent* event = events->events[i];
        if (event == nullptr || event->type != vst::kVstMidiType)
            continue;
        const auto* midi = reinterpret_cast<const vst::VstMidiEvent*>(event);
        const auto status = static_cast<unsigned char>(midi->midiData[0]);
        midiEvent(status >> 4, status & 15, static_cast<unsigned char>(midi->midiData[1]) & 127,
                  static_cast<unsigned char>(midi->midiData[2]) & 127,
                  static_cast<double>(midi->deltaFrames) / rate);
    }
    return 1;
}

bool CAudioWrapperVST::setProcessPrecision(std::int32_t precision)
{
    if (precision != 0 && precision != 1)
        return false;
    m_precision = precision;
    return true;
}

// ---- Channels
// ------------------------------------------------------------------------------------

bool CAudioWrapperVST::setSpeakerArrangement(vst::VstSpeakerArrangement* input,
                                             vst::VstSpeakerArrangement* output)
{
    if (input == nullptr || output == nullptr)
        return false;
    const std::int32_t in = input->numChannels;
    const std::int32_t out = output->numChannels;
    if (in < 0 || out < 0 || in > m_maxInputs || out > m_maxOutputs)
        return false;
    if (out != in && out != 1 && out != 2)
        return false;
    // Copy the header and the speakers the host declares; a host may allocate no more.
    auto copy = [](const vst::VstSpeakerArrangement& from)
    {
        auto to = std::make_unique<vst::VstSpeakerArrangement>();
        std::memset(to.get(), 0, sizeof(vst::VstSpeakerArrangement));
        const std::size_t speakers =
            std::min<std::size_t>(static_cast<std::size_t>(from.numChannels), 8);
        std::memcpy(to.get(), &from,
                    offsetof(vst::VstSpeakerArrangement, speakers) +
                        speakers * sizeof(vst::VstSpeakerProperties));
        return to;
    };
    m_inputArrangement = copy(*input);
    m_outputArrangement = copy(*output);
    nameInputChannels();
    // The record announces the accepted counts at once: hosts read it after this call to
    // decide how many channel pointers they pass. The graph follows at the next resume.
    setNumInputs(in);
    setNumOutputs(out);
    return true;
}

bool CAudioWrapperVST::getSpeakerArrangement(vst::VstSpeakerArrangement** input,
                                             vst::VstSpeakerArrangement** output)
{
    if (m_inputArrangement && m_outputArrangement)
    {
        *input = m_inputArrangement.get();
        *output = m_outputArrangement.get();
        return true;
    }
    *input = nullptr;
    *output = nullptr;
    return false;
}

// ---- Identity
// --------------------------------------------------------------------------------------

bool CAudioWrapperVST::getEffectName(char* name)
{
    copyToHost(name, appName(), kEffectNameChars);
    return true;
}

bool CAudioWrapperVST::getVendorString(char* text)
{
    copyToHost(text, vendorName(), kVendorChars);
    return true;
}

bool CAudioWrapperVST::getProductString(char* text)
{
    CText product = vendorName();
    product += " ";
    product += appName();
    copyToHost(text, product, kVendorChars);
    return true;
}

std::int32_t CAudioWrapperVST::getVendorVersion()
{
    return vendorVersion();
}

std::int32_t CAudioWrapperVST::getPlugCategory()
{
    return categoryNumber(pluginCategoryName());
}

std::int32_t CAudioWrapperVST::categoryNumber(const CText& name)
{
    for (std::size_t i = 0; i < kCategoryNames.size(); ++i)
        if (name == CText(kCategoryNames[i]))
            return static_cast<std::int32_t>(i);
    return 0;
}

std::int32_t CAudioWrapperVST::canDo(char* text)
{
    const std::string_view what(text, strnlen(text, kMaxHostText));
    if (what == "hasCockosExtensions")
        return static_cast<std::int32_t>(kCockosExtensionsAnswer);
    if (what == "receiveVstMidiEvent" || what == "receiveVstTimeInfo")
        return 1;
    return 0;
}

std::intptr_t CAudioWrapperVST::vendorSpecific(std::int32_t index, std::intptr_t value, void* ptr,
                                               float opt)
{
    if (index == kWheelIndex && value == kWheelValue)
    {
        CAudioWrapperVSTEditor* ed = editor();
        return ed != nullptr && ed->onWheel(opt) ? 1 : 0;
    }
    if ((index != kVendorTextToValue && index != kVendorValueToText) || ptr == nullptr)
        return 0;
    char* text = static_cast<char*>(ptr);
    const bool valid = value >= 0 && value < numParams();
    const auto param = static_cast<std::int32_t>(value);
    if (index == kVendorTextToValue)
    {
        if (!valid)
        {
            *text = 0;
            return kVendorAnswer;
        }
        double normalised = hostParamFromText(param, fromHost(text));
        // Normalised values print in 8 characters; anything else is clamped into [0, 1].
        if (!std::isfinite(normalised))
            normalised = 0.0;
        normalised = std::clamp(normalised, 0.0, 1.0);
        std::snprintf(text, 9, "%f", normalised);
        return kVendorAnswer;
    }
    copyToHost(text, valid ? hostParamDisplayFor(param, static_cast<double>(opt)) : CText(),
               kParamTextChars);
    return kVendorAnswer;
}

// ---- Helpers
// -----------------------------------------------------------------------------------------

bool CAudioWrapperVST::matchesPattern(std::string_view text, std::string_view pattern)
{
    // Iterative match with backtracking to the last "*".
    std::size_t t = 0;
    std::size_t p = 0;
    std::size_t star = std::string_view::npos;
    std::size_t mark = 0;
    while (t < text.size())
    {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t]))
        {
            ++t;
            ++p;
        }
        else if (p < pattern.size() && pattern[p] == '*')
        {
            star = p++;
            mark = t;
        }
        else if (star != std::string_view::npos)
        {
            p = star + 1;
            t = ++mark;
        }
        else
        {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}
