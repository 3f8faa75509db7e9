#include "Audio/VST/AudioEffect.h"

#include "Audio/VST/AEffEditor.h"

#include <cstring>

namespace zel
{
namespace
{

void clearText(char* text)
{
    if (text != nullptr)
        *text = 0;
}

} // namespace

AudioEffect::AudioEffect(vst::HostCallback audioMaster, std::int32_t numPrograms,
                         std::int32_t numParams)
    : m_audioMaster(audioMaster), m_numPrograms(numPrograms), m_numParams(numParams)
{
    m_effect.magic = vst::kEffectMagic;
    m_effect.dispatcher = &AudioEffect::dispatchEffectClass;
    m_effect.process = &AudioEffect::processClass;
    m_effect.setParameter = &AudioEffect::setParameterClass;
    m_effect.getParameter = &AudioEffect::getParameterClass;
    m_effect.numPrograms = numPrograms;
    m_effect.numParams = numParams;
    m_effect.numInputs = 1;
    m_effect.numOutputs = 2;
    m_effect.flags = vst::effFlagsCanReplacing;
    m_effect.ioRatio = 1.0f;
    m_effect.object = this;
    m_effect.uniqueID = kPlaceholderId;
    m_effect.version = 1;
    m_effect.processReplacing = &AudioEffect::processClassReplacing;
    m_effect.processDoubleReplacing = &AudioEffect::processClassDoubleReplacing;
}

AudioEffect::~AudioEffect()
{
    delete m_editor;
    // A record that outlives its object (a host bug) no longer resolves.
    m_effect.object = nullptr;
    m_effect.magic = 0;
}

AudioEffect* AudioEffect::fromAeffect(vst::AEffect* effect)
{
    if (effect == nullptr || effect->magic != vst::kEffectMagic || effect->object == nullptr)
        return nullptr;
    return static_cast<AudioEffect*>(effect->object);
}

std::intptr_t AudioEffect::dispatcher(std::int32_t opcode, std::int32_t index, std::intptr_t value,
                                      void* ptr, float opt)
{
    switch (opcode)
    {
    case vst::effOpen:
        open();
        return 0;
    case vst::effClose:
        close();
        return 1;
    case vst::effSetProgram:
        // Checked in the full width: a negative value must not wrap into a valid index.
        if (value >= 0 && value < m_numPrograms)
            setProgram(static_cast<std::int32_t>(value));
        return 0;
    case vst::effGetProgram:
        return getProgram();
    case vst::effSetProgramName:
        if (ptr != nullptr)
            setProgramName(static_cast<char*>(ptr));
        return 0;
    case vst::effGetProgramName:
        if (ptr != nullptr)
            getProgramName(static_cast<char*>(ptr));
        return 0;
    case vst::effGetParamLabel:
        if (ptr != nullptr)
            getParameterLabel(index, static_cast<char*>(ptr));
        return 0;
    case vst::effGetParamDisplay:
        if (ptr != nullptr)
            getParameterDisplay(index, static_cast<char*>(ptr));
        return 0;
    case vst::effGetParamName:
        if (ptr != nullptr)
            getParameterName(index, static_cast<char*>(ptr));
        return 0;
    case vst::effSetSampleRate:
        setSampleRate(opt);
        return 0;
    case vst::effSetBlockSize:
        setBlockSize(static_cast<std::int32_t>(value));
        return 0;
    case vst::effMainsChanged:
        if (value == 0)
            suspend();
        else
            resume();
        return 0;
    case vst::effEditGetRect:
        if (m_editor != nullptr && ptr != nullptr)
            return m_editor->getRect(static_cast<vst::ERect**>(ptr)) ? 1 : 0;
        return 0;
    case vst::effEditOpen:
        if (m_editor != nullptr)
            return m_editor->open(ptr) ? 1 : 0;
        return 0;
    case vst::effEditClose:
        if (m_editor != nullptr)
            m_editor->close();
        return 0;
    case vst::effEditIdle:
        if (m_editor != nullptr)
            m_editor->idle();
        return 0;
    case vst::effIdentify:
        return kIdentify;
    case vst::effGetChunk:
        if (ptr == nullptr)
            return 0;
        return getChunk(static_cast<void**>(ptr), index != 0);
    case vst::effSetChunk:
        return setChunk(ptr, static_cast<std::int32_t>(value), index != 0);
    default:
        return 0;
    }
}

void AudioEffect::setParameter(std::int32_t index, float value)
{
    (void)index;
    (void)value;
}

float AudioEffect::getParameter(std::int32_t index)
{
    (void)index;
    return 0.0f;
}

void AudioEffect::setParameterAutomated(std::int32_t index, float value)
{
    setParameter(index, value);
    callHost(vst::audioMasterAutomate, index, 0, nullptr, value);
}

void AudioEffect::getParameterLabel(std::int32_t index, char* label)
{
    (void)index;
    clearText(label);
}

void AudioEffect::getParameterDisplay(std::int32_t index, char* text)
{
    (void)index;
    clearText(text);
}

void AudioEffect::getParameterName(std::int32_t index, char* text)
{
    (void)index;
    clearText(text);
}

void AudioEffect::setProgramName(char* name)
{
    (void)name;
}

void AudioEffect::getProgramName(char* name)
{
    clearText(name);
}

std::int32_t AudioEffect::getChunk(void** data, bool isPreset)
{
    (void)isPreset;
    *data = nullptr;
    return 0;
}

std::int32_t AudioEffect::setChunk(void* data, std::int32_t byteSize, bool isPreset)
{
    (void)data;
    (void)byteSize;
    (void)isPreset;
    return 0;
}

void AudioEffect::processDoubleReplacing(double** inputs, double** outputs, std::int32_t frames)
{
    (void)inputs;
    (void)outputs;
    (void)frames;
}

void AudioEffect::canProcessReplacing(bool state)
{
    if (state)
        m_effect.flags |= vst::effFlagsCanReplacing;
    else
        m_effect.flags &= ~vst::effFlagsCanReplacing;
}

void AudioEffect::canDoubleReplacing(bool state)
{
    if (state)
        m_effect.flags |= vst::effFlagsCanDoubleReplacing;
    else
        m_effect.flags &= ~vst::effFlagsCanDoubleReplacing;
}

void AudioEffect::programsAreChunks(bool state)
{
    if (state)
        m_effect.flags |= vst::effFlagsProgramChunks;
    else
        m_effect.flags &= ~vst::effFlagsProgramChunks;
}

void AudioEffect::setNumPrograms(std::int32_t count)
{
    m_numPrograms = count;
    m_effect.numPrograms = count;
}

void AudioEffect::setNumParams(std::int32_t count)
{
    m_numParams = count;
    m_effect.numParams = count;
}

void AudioEffect::setEditor(AEffEditor* editor)
{
    if (editor != m_editor)
        delete m_editor;
    m_editor = editor;
    if (editor != nullptr)
        m_effect.flags |= vst::effFlagsHasEditor;
    else
        m_effect.flags &= ~vst::effFlagsHasEditor;
}

std::intptr_t AudioEffect::callHost(std::int32_t opcode, std::int32_t index, std::intptr_t value,
                                    void* ptr, float opt)
{
    if (m_audioMaster == nullptr)
        return 0;
    return m_audioMaster(&m_effect, opcode, index, value, ptr, opt);
}

std::int32_t AudioEffect::getMasterVersion()
{
    const std::intptr_t version = callHost(vst::audioMasterVersion);
    return version == 0 ? 1 : static_cast<std::int32_t>(version);
}

std::int32_t AudioEffect::getCurrentUniqueId()
{
    return static_cast<std::int32_t>(callHost(vst::audioMasterCurrentId));
}

void AudioEffect::masterIdle()
{
    callHost(vst::audioMasterIdle);
}

std::intptr_t AudioEffect::dispatchEffectClass(vst::AEffect* e, std::int32_t opcode,
                                               std::int32_t index, std::intptr_t value, void* ptr,
                                               float opt)
{
    AudioEffect* effect = fromAeffect(e);
    if (effect == nullptr)
        return 0;
    try
    {
        if (opcode == vst::effClose)
        {
            effect->dispatcher(opcode, index, value, ptr, opt);
            delete effect;
            return 1;
        }
        return effect->dispatcher(opcode, index, value, ptr, opt);
    }
    catch (...)
    {
        return 0;
    }
}

// 2.4 hosts never call the accumulating entry; an older one gets replacing semantics.
void AudioEffect::processClass(vst::AEffect* e, float** inputs, float** outputs,
                               std::int32_t frames)
{
    processClassReplacing(e, inputs, outputs, frames);
}

void AudioEffect::processClassReplacing(vst::AEffect* e, float** inputs, float** outputs,
                                        std::int32_t frames)
{
    AudioEffect* effect = fromAeffect(e);
    if (effect == nullptr)
        return;
    try
    {
        effect->processReplacing(inputs, outputs, frames);
    }
    catch (...)
    {
    }
}

void AudioEffect::processClassDoubleReplacing(vst::AEffect* e, double** inputs, double** outputs,
                                              std::int32_t frames)
{
    AudioEffect* effect = fromAeffect(e);
    if (effect == nullptr)
        return;
    try
    {
        effect->processDoubleReplacing(inputs, outputs, frames);
    }
    catch (...)
    {
    }
}

void AudioEffect::setParameterClass(vst::AEffect* e, std::int32_t index, float value)
{
    AudioEffect* effect = fromAeffect(e);
    if (effect == nullptr)
        return;
    try
    {
        effect->setParameter(index, value);
    }
    catch (...)
    {
    }
}

float AudioEffect::getParameterClass(vst::AEffect* e, std::int32_t index)
{
    AudioEffect* effect = fromAeffect(e);
    if (effect == nullptr)
        return 0.0f;
    try
    {
        return effect->getParameter(index);
    }
    catch (...)
    {
        return 0.0f;
    }
}

// --- AudioEffectX -------------------------------------------------------------------------------

std::intptr_t AudioEffectX::dispatcher(std::int32_t opcode, std::int32_t index, std::intptr_t value,
                                       void* ptr, float opt)
{
    switch (opcode)
    {
    case vst::effProcessEvents:
        if (ptr == nullptr)
            return 0;
        return processEvents(static_cast<vst::VstEvents*>(ptr));
    case vst::effCanBeAutomated:
        return canParameterBeAutomated(index) ? 1 : 0;
    case vst::effString2Parameter:
        return string2parameter(index, static_cast<char*>(ptr)) ? 1 : 0;
    case vst::effGetProgramNameIndexed:
        if (ptr == nullptr)
            return 0;
        return getProgramNameIndexed(static_cast<std::int32_t>(value), index,
                                     static_cast<char*>(ptr))
                   ? 1
                   : 0;
    case vst::effGetPlugCategory:
        return getPlugCategory();
    case vst::effSetSpeakerArrangement:
        return setSpeakerArrangement(reinterpret_cast<vst::VstSpeakerArrangement*>(value),
                                     static_cast<vst::VstSpeakerArrangement*>(ptr))
                   ? 1
                   : 0;
    case vst::effSetBypass:
        return setBypass(value != 0) ? 1 : 0;
    case vst::effGetEffectName:
        if (ptr == nullptr)
            return 0;
        return getEffectName(static_cast<char*>(ptr)) ? 1 : 0;
    case vst::effGetVendorString:
        if (ptr == nullptr)
            return 0;
        return getVendorString(static_cast<char*>(ptr)) ? 1 : 0;
    case vst::effGetProductString:
        if (ptr == nullptr)
            return 0;
        return getProductString(static_cast<char*>(ptr)) ? 1 : 0;
    case vst::effGetVendorVersion:
        return getVendorVersion();
    case vst::effVendorSpecific:
        return vendorSpecific(index, value, ptr, opt);
    case vst::effCanDo:
        if (ptr == nullptr)
            return 0;
        return canDo(static_cast<char*>(ptr));
    case vst::effGetTailSize:
        return getGetTailSize();
    case vst::effGetVstVersion:
        return getVstVersion();
    case vst::effEditKeyDown:
        if (m_editor != nullptr)
            return m_editor->onKeyDown(index, static_cast<std::int32_t>(value),
                                       static_cast<std::int32_t>(opt))
                       ? 1
                       : 0;
        return 0;
    case vst::effEditKeyUp:
        if (m_editor != nullptr)
            return m_editor->onKeyUp(index, static_cast<std::int32_t>(value),
                                     static_cast<std::int32_t>(opt))
                       ? 1
                       : 0;
        return 0;
    case vst::effSetEditKnobMode:
        if (m_editor != nullptr)
            return m_editor->setKnobMode(static_cast<std::int32_t>(value)) ? 1 : 0;
        return 0;
    case vst::effGetSpeakerArrangement:
        if (value == 0 || ptr == nullptr)
            return 0;
        return getSpeakerArrangement(reinterpret_cast<vst::VstSpeakerArrangement**>(value),
                                     static_cast<vst::VstSpeakerArrangement**>(ptr))
                   ? 1
                   : 0;
    case vst::effStartProcess:
        return startProcess();
    case vst::effStopProcess:
        return stopProcess();
    case vst::effSetProcessPrecision:
        return setProcessPrecision(static_cast<std::int32_t>(value)) ? 1 : 0;
    default:
        return AudioEffect::dispatcher(opcode, index, value, ptr, opt);
    }
}

std::int32_t AudioEffectX::processEvents(vst::VstEvents* events)
{
    (void)events;
    return 0;
}

bool AudioEffectX::canParameterBeAutomated(std::int32_t index)
{
    (void)index;
    return true;
}

bool AudioEffectX::string2parameter(std::int32_t index, char* text)
{
    (void)index;
    (void)text;
    return false;
}

bool AudioEffectX::getProgramNameIndexed(std::int32_t category, std::int32_t index, char* text)
{
    (void)category;
    (void)index;
    (void)text;
    return false;
}

std::int32_t AudioEffectX::getPlugCategory()
{
    return (m_effect.flags & vst::effFlagsIsSynth) != 0 ? kPlugCategSynth : kPlugCategUnknown;
}

bool AudioEffectX::setSpeakerArrangement(vst::VstSpeakerArrangement* input,
                                         vst::VstSpeakerArrangement* output)
{
    (void)input;
    (void)output;
    return false;
}

bool AudioEffectX::getSpeakerArrangement(vst::VstSpeakerArrangement** input,
                                         vst::VstSpeakerArrangement** output)
{
    *input = nullptr;
    *output = nullptr;
    return false;
}

bool AudioEffectX::setBypass(bool onOff)
{
    (void)onOff;
    return false;
}

bool AudioEffectX::getEffectName(char* name)
{
    (void)name;
    return false;
}

bool AudioEffectX::getVendorString(char* text)
{
    (void)text;
    return false;
}

bool AudioEffectX::getProductString(char* text)
{
    (void)text;
    return false;
}

std::int32_t AudioEffectX::getVendorVersion()
{
    return 0;
}

std::intptr_t AudioEffectX::vendorSpecific(std::int32_t index, std::intptr_t value, void* ptr,
                                           float opt)
{
    (void)index;
    (void)value;
    (void)ptr;
    (void)opt;
    return 0;
}

std::int32_t AudioEffectX::canDo(char* text)
{
    (void)text;
    return 0;
}

std::int32_t AudioEffectX::getGetTailSize()
{
    return 0;
}

std::int32_t AudioEffectX::getVstVersion()
{
    return kVstVersion;
}

bool AudioEffectX::setProcessPrecision(std::int32_t precision)
{
    (void)precision;
    return false;
}

std::int32_t AudioEffectX::startProcess()
{
    return 0;
}

std::int32_t AudioEffectX::stopProcess()
{
    return 0;
}

vst::VstTimeInfo* AudioEffectX::getTimeInfo(std::int32_t filter)
{
    return reinterpret_cast<vst::VstTimeInfo*>(callHost(vst::audioMasterGetTime, 0, filter));
}

std::int32_t AudioEffectX::getCurrentProcessLevel()
{
    return static_cast<std::int32_t>(callHost(vst::audioMasterGetCurrentProcessLevel));
}

bool AudioEffectX::getHostVendorString(char* text)
{
    clearText(text);
    return callHost(vst::audioMasterGetVendorString, 0, 0, text) != 0;
}

bool AudioEffectX::getHostProductString(char* text)
{
    clearText(text);
    return callHost(vst::audioMasterGetProductString, 0, 0, text) != 0;
}

bool AudioEffectX::ioChanged()
{
    return callHost(vst::audioMasterIOChanged) != 0;
}

bool AudioEffectX::updateDisplay()
{
    return callHost(vst::audioMasterUpdateDisplay) != 0;
}

bool AudioEffectX::sizeWindow(std::int32_t width, std::int32_t height)
{
    return callHost(vst::audioMasterSizeWindow, width, height) != 0;
}

bool AudioEffectX::beginEdit(std::int32_t index)
{
    return callHost(vst::audioMasterBeginEdit, index) != 0;
}

bool AudioEffectX::endEdit(std::int32_t index)
{
    return callHost(vst::audioMasterEndEdit, index) != 0;
}

} // namespace zel
