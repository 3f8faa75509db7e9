#pragma once
// AudioEffect and AudioEffectX: the effect side of the VST 2.4 interface as its published base
// classes behave. AudioEffect owns the AEffect record handed to the host and the host
// callback; its static trampolines resolve the record back to the object and call the
// virtual operations; its dispatcher maps the 1.x opcodes onto them. AudioEffectX adds the
// 2.x opcodes and the 2.x host calls. Every default answer is the interface's neutral one
// (0, false, an empty string), so a derived effect overrides only what it supports.
//
// The static trampolines catch every exception and check the record before use (null record,
// wrong magic, no object): a broken or out-of-order host call gets 0 and never crashes.
// effClose destroys the object after its close() ran, as the interface prescribes.
//
// This is not the product's effect: CAudioWrapperVST derives from AudioEffectX.

#include "Audio/VST/VstAbi.h"

#include <cstdint>

namespace zel
{

class AEffEditor;

// The interface's plug-in categories (effGetPlugCategory).
enum EVstPlugCategory : std::int32_t
{
    kPlugCategUnknown = 0,
    kPlugCategEffect,
    kPlugCategSynth,
    kPlugCategAnalysis,
    kPlugCategMastering,
    kPlugCategSpacializer,
    kPlugCategRoomFx,
    kPlugSurroundFx,
    kPlugCategRestoration,
    kPlugCategOfflineProcess,
    kPlugCategShell,
    kPlugCategGenerator,
};

class AudioEffect
{
public:
    // The answer to effIdentify.
    static constexpr std::int32_t kIdentify = vst::fourCharCode('N', 'v', 'E', 'f');
    // The unique ID the record holds until the effect sets its own.
    static constexpr std::int32_t kPlaceholderId = vst::fourCharCode('N', 'o', 'E', 'f');

    AudioEffect(vst::HostCallback audioMaster, std::int32_t numPrograms, std::int32_t numParams);
    virtual ~AudioEffect();
    AudioEffect(const AudioEffect&) = delete;
    AudioEffect& operator=(const AudioEffect&) = delete;

    vst::AEffect* getAeffect() { return &m_effect; }
    // The effect behind a record, or null when the record is not one of ours.
    static AudioEffect* fromAeffect(vst::AEffect* effect);

    // Maps an opcode to the virtual operations below.
    virtual std::intptr_t dispatcher(std::int32_t opcode, std::int32_t index, std::intptr_t value,
                                     void* ptr, float opt);

    virtual void open() {}
    virtual void close() {}
    virtual void suspend() {}
    virtual void resume() {}

    // Parameters.
    virtual void setParameter(std::int32_t index, float value);
    virtual float getParameter(std::int32_t index);
    // Sets the parameter and reports it to the host as automation.
    virtual void setParameterAutomated(std::int32_t index, float value);
    virtual void getParameterLabel(std::int32_t index, char* label);
    virtual void getParameterDisplay(std::int32_t index, char* text);
    virtual void getParameterName(std::int32_t index, char* text);

    // Programs.
    virtual void setProgram(std::int32_t program) { m_curProgram = program; }
    virtual std::int32_t getProgram() { return m_curProgram; }
    virtual void setProgramName(char* name);
    virtual void getProgramName(char* name);

    // State chunks: the effect keeps the bytes it hands out.
    virtual std::int32_t getChunk(void** data, bool isPreset);
    virtual std::int32_t setChunk(void* data, std::int32_t byteSize, bool isPreset);

    // Audio.
    virtual void setSampleRate(float sampleRate) { m_sampleRate = sampleRate; }
    virtual void setBlockSize(std::int32_t blockSize) { m_blockSize = blockSize; }
    float getSampleRate() const { return m_sampleRate; }
    std::int32_t getBlockSize() const { return m_blockSize; }
    virtual void processReplacing(float** inputs, float** outputs, std::int32_t frames) = 0;
    virtual void processDoubleReplacing(double** inputs, double** outputs, std::int32_t frames);

    // The record's fields.
    virtual void setUniqueID(std::int32_t id) { m_effect.uniqueID = id; }
    virtual void setNumInputs(std::int32_t inputs) { m_effect.numInputs = inputs; }
    virtual void setNumOutputs(std::int32_t outputs) { m_effect.numOutputs = outputs; }
    virtual void setInitialDelay(std::int32_t delay) { m_effect.initialDelay = delay; }
    virtual void canProcessReplacing(bool state);
    virtual void canDoubleReplacing(bool state);
    virtual void programsAreChunks(bool state);
    void setNumPrograms(std::int32_t count);
    void setNumParams(std::int32_t count);
    std::int32_t numPrograms() const { return m_numPrograms; }
    std::int32_t numParams() const { return m_numParams; }

    // Editor: the effect owns it; setting one sets the has-editor flag.
    void setEditor(AEffEditor* editor);
    AEffEditor* getEditor() const { return m_editor; }

    // Host calls.
    bool hasHost() const { return m_audioMaster != nullptr; }
    std::intptr_t callHost(std::int32_t opcode, std::int32_t index = 0, std::intptr_t value = 0,
                           void* ptr = nullptr, float opt = 0.0f);
    // The host's VST version; 1 when the host answers 0 (a 1.0 host).
    virtual std::int32_t getMasterVersion();
    virtual std::int32_t getCurrentUniqueId();
    virtual void masterIdle();

    // The static entries the record points to.
    static std::intptr_t dispatchEffectClass(vst::AEffect* e, std::int32_t opcode,
                                             std::int32_t index, std::intptr_t value, void* ptr,
                                             float opt);
    static void processClass(vst::AEffect* e, float** inputs, float** outputs, std::int32_t frames);
    static void processClassReplacing(vst::AEffect* e, float** inputs, float** outputs,
                                      std::int32_t frames);
    static void processClassDoubleReplacing(vst::AEffect* e, double** inputs, double** outputs,
                                            std::int32_t frames);
    static void setParameterClass(vst::AEffect* e, std::int32_t index, float value);
    static float getParameterClass(vst::AEffect* e, std::int32_t index);

protected:
    vst::AEffect m_effect{};
    vst::HostCallback m_audioMaster;
    AEffEditor* m_editor = nullptr;
    float m_sampleRate = 44100.0f;
    std::int32_t m_blockSize = 1024;
    std::int32_t m_numPrograms;
    std::int32_t m_numParams;
    std::int32_t m_curProgram = 0;
};

class AudioEffectX : public AudioEffect
{
public:
    // The interface version this effect implements (effGetVstVersion).
    static constexpr std::int32_t kVstVersion = 2400;

    AudioEffectX(vst::HostCallback audioMaster, std::int32_t numPrograms, std::int32_t numParams)
        : AudioEffect(audioMaster, numPrograms, numParams)
    {
    }

    std::intptr_t dispatcher(std::int32_t opcode, std::int32_t index, std::intptr_t value,
                             void* ptr, float opt) override;

    virtual std::int32_t processEvents(vst::VstEvents* events);
    virtual bool canParameterBeAutomated(std::int32_t index);
    virtual bool string2parameter(std::int32_t index, char* text);
    virtual bool getProgramNameIndexed(std::int32_t category, std::int32_t index, char* text);
    virtual std::int32_t getPlugCategory();
    virtual bool setSpeakerArrangement(vst::VstSpeakerArrangement* input,
                                       vst::VstSpeakerArrangement* output);
    virtual bool getSpeakerArrangement(vst::VstSpeakerArrangement** input,
                                       vst::VstSpeakerArrangement** output);
    virtual bool setBypass(bool onOff);
    virtual bool getEffectName(char* name);
    virtual bool getVendorString(char* text);
    virtual bool getProductString(char* text);
    virtual std::int32_t getVendorVersion();
    virtual std::intptr_t vendorSpecific(std::int32_t index, std::intptr_t value, void* ptr,
                                         float opt);
    virtual std::int32_t canDo(char* text);
    virtual std::int32_t getGetTailSize();
    virtual std::int32_t getVstVersion();
    virtual bool setProcessPrecision(std::int32_t precision);
    virtual std::int32_t startProcess();
    virtual std::int32_t stopProcess();

    // 2.x host calls.
    vst::VstTimeInfo* getTimeInfo(std::int32_t filter);
    std::int32_t getCurrentProcessLevel();
    bool getHostVendorString(char* text);
    bool getHostProductString(char* text);
    bool ioChanged();
    bool updateDisplay();
    bool sizeWindow(std::int32_t width, std::int32_t height);
    bool beginEdit(std::int32_t index);
    bool endEdit(std::int32_t index);
};

} // namespace zel
