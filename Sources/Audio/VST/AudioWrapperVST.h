#pragma once
// CAudioWrapperVST: the VST 2.4 effect of one plug-in instance. It turns the host's dispatcher,
// process and parameter calls into calls on the application wrapper (CAudioWrapper) and
// reports automation, display refreshes, edit gestures, editor sizes and latency changes back
// to the host. Every host entry runs under the floating-point guard; process, suspend and
// resume are serialised by an optional host call lock that exists only when the global
// setting "vst-func-sync" is on or the host is one known to need it.
//
// The graph always runs in 64-bit samples in pieces of at most 512 frames; this class only
// decides the channel counts announced to the host, keeps the speaker arrangements and the
// process precision, and moves the host's pointers into CAudioWrapper::process. The sample
// width of the host's buffers is taken from the entry the host called (processReplacing:
// 32-bit, processDoubleReplacing: 64-bit), so a host that calls the entry that does not match
// the precision it selected still gets correct audio instead of misread memory.
//
// This is not the editor (CAudioWrapperVSTEditor) and knows nothing of the process graph.

#include "Audio/AudioWrapper.h"
#include "Audio/VST/AudioEffect.h"
#include "Audio/VST/VstAbi.h"

#include <cstdint>
#include <memory>
#include <vector>

class CAudioWrapperVSTEditor;

class CAudioWrapperVST : public zel::AudioEffectX, public zel::CAudioWrapper
{
public:
    // Hosts whose product string matches one of these get the host call lock.
    static constexpr const char* kSerialisedHosts[] = {"*WaveLab*", "*Samplitude*", "*Tracktion*"};
    // The host product that announces more channels than it handles.
    static constexpr const char* kTwoChannelHost = "Sony ACID Pro";
    // Hosts older than this get two channels.
    static constexpr std::int32_t kMinMultichannelHostVersion = 2300;
    // The vendor-specific call that forwards the mouse wheel ("stCA", "Whee").
    static constexpr std::int32_t kWheelIndex = zel::vst::fourCharCode('s', 't', 'C', 'A');
    static constexpr std::intptr_t kWheelValue = zel::vst::fourCharCode('W', 'h', 'e', 'e');
    // Vendor-specific text-to-value and value-to-text calls, and their answer.
    static constexpr std::int32_t kVendorTextToValue = 27;
    static constexpr std::int32_t kVendorValueToText = 7;
    static constexpr std::intptr_t kVendorAnswer = 0xBEEF;
    static constexpr std::intptr_t kCockosExtensionsAnswer = 0xBEEF0000;

    explicit CAudioWrapperVST(zel::vst::HostCallback audioMaster);
    ~CAudioWrapperVST() override;

    // ---- CAudioWrapper operations ----
    void hostParamChanged(std::int32_t index, double normalised) override;
    zel::CErrorPtr init() override;
    void updateDisplay() override;
    void beginEdit(std::int32_t hostIndex) override;
    void endEdit(std::int32_t hostIndex) override;
    std::int32_t resizeEditor(std::int32_t width, std::int32_t height) override;

    // ---- AudioEffect / AudioEffectX operations ----
    std::intptr_t dispatcher(std::int32_t opcode, std::int32_t index, std::intptr_t value,
                             void* ptr, float opt) override;
    void suspend() override;
    void resume() override;
    void setParameter(std::int32_t index, float value) override;
    float getParameter(std::int32_t index) override;
    void getParameterLabel(std::int32_t index, char* label) override;
    void getParameterDisplay(std::int32_t index, char* text) override;
    void getParameterName(std::int32_t index, char* text) override;
    void setProgram(std::int32_t program) override;
    std::int32_t getProgram() override;
    void setProgramName(char* name) override;
    void getProgramName(char* name) override;
    bool getProgramNameIndexed(std::int32_t category, std::int32_t index, char* text) override;
    std::int32_t getChunk(void** data, bool isPreset) override;
    std::int32_t setChunk(void* data, std::int32_t byteSize, bool isPreset) override;
    void processReplacing(float** inputs, float** outputs, std::int32_t frames) override;
    void processDoubleReplacing(double** inputs, double** outputs, std::int32_t frames) override;
    std::int32_t processEvents(zel::vst::VstEvents* events) override;
    bool canParameterBeAutomated(std::int32_t index) override;
    std::int32_t getPlugCategory() override;
    bool setSpeakerArrangement(zel::vst::VstSpeakerArrangement* input,
                               zel::vst::VstSpeakerArrangement* output) override;
    bool getSpeakerArrangement(zel::vst::VstSpeakerArrangement** input,
                               zel::vst::VstSpeakerArrangement** output) override;
    bool getEffectName(char* name) override;
    bool getVendorString(char* text) override;
    bool getProductString(char* text) override;
    std::int32_t getVendorVersion() override;
    std::intptr_t vendorSpecific(std::int32_t index, std::intptr_t value, void* ptr,
                                 float opt) override;
    std::int32_t canDo(char* text) override;
    bool setProcessPrecision(std::int32_t precision) override;

    // ---- Pure helpers, exposed for tests ----
    // Wildcard match: "*" any run of characters, "?" one character; case-sensitive.
    static bool matchesPattern(std::string_view text, std::string_view pattern);
    // The number of a "plugin-category-vst" name; 0 for a name not in the table.
    static std::int32_t categoryNumber(const zel::CText& name);

    const zel::CText& hostProduct() const { return m_hostProduct; }
    const zel::CText& hostVendor() const { return m_hostVendor; }
    bool hasHostCallLock() const { return m_callLock != nullptr; }

private:
    class CCallLock;

    void processBlock(const void* const* inputs, void* const* outputs, std::int32_t frames,
                      bool input64, bool output64);
    void checkOffline();
    void nameInputChannels();
    CAudioWrapperVSTEditor* editor() const;

    std::unique_ptr<zel::CCriticalSection> m_callLock;
    zel::CText m_hostProduct;
    zel::CText m_hostVendor;
    std::vector<std::uint8_t> m_chunk;
    std::unique_ptr<zel::vst::VstSpeakerArrangement> m_inputArrangement;
    std::unique_ptr<zel::vst::VstSpeakerArrangement> m_outputArrangement;
    std::int32_t m_maxInputs = 0;
    std::int32_t m_maxOutputs = 0;
    // 0: the host selected 32-bit samples, 1: 64-bit samples.
    std::int32_t m_precision = 0;
};
