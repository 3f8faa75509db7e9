#pragma once
// The binary interface between a VST 2.4 host and an effect, written from the published facts
// of that interface: the AEffect record the effect hands to the host, the dispatcher and host
// callback signatures, the opcode numbers this library sends or answers, and the event, time
// and speaker records that travel through those calls. Layouts are pinned below with
// static_asserts for x86_64, where Linux and 64-bit Windows agree.
//
// This is a plain declaration of the wire format: no behaviour lives here (see AudioEffect.h
// for the dispatcher that maps opcodes onto virtual operations).

#include <cstddef>
#include <cstdint>

namespace zel::vst
{

struct AEffect;

// Every entry takes the record first; the calling convention is the platform's C convention.
using HostCallback = std::intptr_t (*)(AEffect* effect, std::int32_t opcode, std::int32_t index,
                                       std::intptr_t value, void* ptr, float opt);
using DispatcherProc = std::intptr_t (*)(AEffect* effect, std::int32_t opcode, std::int32_t index,
                                         std::intptr_t value, void* ptr, float opt);
using ProcessProc = void (*)(AEffect* effect, float** inputs, float** outputs, std::int32_t frames);
using ProcessDoubleProc = void (*)(AEffect* effect, double** inputs, double** outputs,
                                   std::int32_t frames);
using SetParameterProc = void (*)(AEffect* effect, std::int32_t index, float value);
using GetParameterProc = float (*)(AEffect* effect, std::int32_t index);

// Four characters packed big-endian, as the interface writes its codes.
constexpr std::int32_t fourCharCode(char a, char b, char c, char d)
{
    return static_cast<std::int32_t>(
        (static_cast<std::uint32_t>(static_cast<unsigned char>(a)) << 24) |
        (static_cast<std::uint32_t>(static_cast<unsigned char>(b)) << 16) |
        (static_cast<std::uint32_t>(static_cast<unsigned char>(c)) << 8) |
        static_cast<std::uint32_t>(static_cast<unsigned char>(d)));
}

inline constexpr std::int32_t kEffectMagic = fourCharCode('V', 's', 't', 'P');

// The record a host sees. Changing any field breaks every host.
struct AEffect
{
    std::int32_t magic;
    DispatcherProc dispatcher;
    ProcessProc process; // accumulating process: deprecated, never called by 2.4 hosts
    SetParameterProc setParameter;
    GetParameterProc getParameter;
    std::int32_t numPrograms;
    std::int32_t numParams;
    std::int32_t numInputs;
    std::int32_t numOutputs;
    std::int32_t flags;
    std::intptr_t reserved1;
    std::intptr_t reserved2;
    std::int32_t initialDelay;
    std::int32_t realQualities;
    std::int32_t offQualities;
    float ioRatio;
    void* object; // the effect object behind the record
    void* user;   // free for the host
    std::int32_t uniqueID;
    std::int32_t version;
    ProcessProc processReplacing;
    ProcessDoubleProc processDoubleReplacing;
    char future[56];
};

// AEffect flags.
inline constexpr std::int32_t effFlagsHasEditor = 1 << 0;
inline constexpr std::int32_t effFlagsCanReplacing = 1 << 4;
inline constexpr std::int32_t effFlagsProgramChunks = 1 << 5;
inline constexpr std::int32_t effFlagsIsSynth = 1 << 8;
inline constexpr std::int32_t effFlagsNoSoundInStop = 1 << 9;
inline constexpr std::int32_t effFlagsCanDoubleReplacing = 1 << 12;

// Host to effect (dispatcher opcodes).
enum EEffectOpcode : std::int32_t
{
    effOpen = 0,
    effClose = 1,
    effSetProgram = 2,
    effGetProgram = 3,
    effSetProgramName = 4,
    effGetProgramName = 5,
    effGetParamLabel = 6,
    effGetParamDisplay = 7,
    effGetParamName = 8,
    effSetSampleRate = 10,
    effSetBlockSize = 11,
    effMainsChanged = 12,
    effEditGetRect = 13,
    effEditOpen = 14,
    effEditClose = 15,
    effEditIdle = 19,
    effIdentify = 22,
    effGetChunk = 23,
    effSetChunk = 24,
    effProcessEvents = 25,
    effCanBeAutomated = 26,
    effString2Parameter = 27,
    effGetProgramNameIndexed = 29,
    effGetInputProperties = 33,
    effGetOutputProperties = 34,
    effGetPlugCategory = 35,
    effSetSpeakerArrangement = 42,
    effSetBypass = 44,
    effGetEffectName = 45,
    effGetVendorString = 47,
    effGetProductString = 48,
    effGetVendorVersion = 49,
    effVendorSpecific = 50,
    effCanDo = 51,
    effGetTailSize = 52,
    effGetParameterProperties = 56,
    effGetVstVersion = 58,
    effEditKeyDown = 59,
    effEditKeyUp = 60,
    effSetEditKnobMode = 61,
    effGetSpeakerArrangement = 69,
    effStartProcess = 71,
    effStopProcess = 72,
    effSetProcessPrecision = 77,
    effGetNumMidiInputChannels = 78,
    effGetNumMidiOutputChannels = 79,
};

// Effect to host (host callback opcodes).
enum EHostOpcode : std::int32_t
{
    audioMasterAutomate = 0,
    audioMasterVersion = 1,
    audioMasterCurrentId = 2,
    audioMasterIdle = 3,
    audioMasterGetTime = 7,
    audioMasterProcessEvents = 8,
    audioMasterIOChanged = 13,
    audioMasterSizeWindow = 15,
    audioMasterGetSampleRate = 16,
    audioMasterGetBlockSize = 17,
    audioMasterGetCurrentProcessLevel = 23,
    audioMasterGetVendorString = 32,
    audioMasterGetProductString = 33,
    audioMasterGetVendorVersion = 34,
    audioMasterCanDo = 37,
    audioMasterUpdateDisplay = 42,
    audioMasterBeginEdit = 43,
    audioMasterEndEdit = 44,
};

// Process levels answered to audioMasterGetCurrentProcessLevel.
inline constexpr std::intptr_t kVstProcessLevelUnknown = 0;
inline constexpr std::intptr_t kVstProcessLevelUser = 1;
inline constexpr std::intptr_t kVstProcessLevelRealtime = 2;
inline constexpr std::intptr_t kVstProcessLevelPrefetch = 3;
inline constexpr std::intptr_t kVstProcessLevelOffline = 4;

// effSetProcessPrecision values.
inline constexpr std::intptr_t kVstProcessPrecision32 = 0;
inline constexpr std::intptr_t kVstProcessPrecision64 = 1;

// String limits, terminator included.
inline constexpr std::size_t kVstMaxProgNameLen = 24;
inline constexpr std::size_t kVstMaxParamStrLen = 8;
inline constexpr std::size_t kVstMaxVendorStrLen = 64;
inline constexpr std::size_t kVstMaxProductStrLen = 64;
inline constexpr std::size_t kVstMaxEffectNameLen = 32;

// The editor's rectangle answered to effEditGetRect.
struct ERect
{
    std::int16_t top;
    std::int16_t left;
    std::int16_t bottom;
    std::int16_t right;
};

// Events handed to effProcessEvents.
inline constexpr std::int32_t kVstMidiType = 1;
inline constexpr std::int32_t kVstSysExType = 6;

struct VstEvent
{
    std::int32_t type;
    std::int32_t byteSize; // of the event record after these two fields
    std::int32_t deltaFrames;
    std::int32_t flags;
    char data[16];
};

struct VstMidiEvent
{
    std::int32_t type;
    std::int32_t byteSize;
    std::int32_t deltaFrames;
    std::int32_t flags;
    std::int32_t noteLength;
    std::int32_t noteOffset;
    char midiData[4];
    char detune;
    char noteOffVelocity;
    char reserved1;
    char reserved2;
};

// A list of numEvents pointers; the array is declared with two entries and extends beyond.
struct VstEvents
{
    std::int32_t numEvents;
    std::intptr_t reserved;
    VstEvent* events[2];
};

// The host's transport state answered to audioMasterGetTime.
struct VstTimeInfo
{
    double samplePos;
    double sampleRate;
    double nanoSeconds;
    double ppqPos;
    double tempo;
    double barStartPos;
    double cycleStartPos;
    double cycleEndPos;
    std::int32_t timeSigNumerator;
    std::int32_t timeSigDenominator;
    std::int32_t smpteOffset;
    std::int32_t smpteFrameRate;
    std::int32_t samplesToNextClock;
    std::int32_t flags;
};

inline constexpr std::int32_t kVstTransportChanged = 1;
inline constexpr std::int32_t kVstTransportPlaying = 1 << 1;
inline constexpr std::int32_t kVstTransportCycleActive = 1 << 2;
inline constexpr std::int32_t kVstTransportRecording = 1 << 3;
inline constexpr std::int32_t kVstAutomationWriting = 1 << 6;
inline constexpr std::int32_t kVstAutomationReading = 1 << 7;
inline constexpr std::int32_t kVstNanosValid = 1 << 8;
inline constexpr std::int32_t kVstPpqPosValid = 1 << 9;
inline constexpr std::int32_t kVstTempoValid = 1 << 10;
inline constexpr std::int32_t kVstBarsValid = 1 << 11;
inline constexpr std::int32_t kVstCyclePosValid = 1 << 12;
inline constexpr std::int32_t kVstTimeSigValid = 1 << 13;
inline constexpr std::int32_t kVstSmpteValid = 1 << 14;
inline constexpr std::int32_t kVstClockValid = 1 << 15;

// Speaker arrangements (effSetSpeakerArrangement, effGetSpeakerArrangement).
struct VstSpeakerProperties
{
    float azimuth;
    float elevation;
    float radius;
    float reserved;
    char name[64];
    std::int32_t type;
    char future[28];
};

// Declared with eight speakers; a host may allocate more after it for larger arrangements.
struct VstSpeakerArrangement
{
    std::int32_t type;
    std::int32_t numChannels;
    VstSpeakerProperties speakers[8];
};

// clang-format off
static_assert(sizeof(void*) == 8, "the layouts below are pinned for 64-bit targets");
static_assert(offsetof(AEffect, magic) == 0);
static_assert(offsetof(AEffect, dispatcher) == 8);
static_assert(offsetof(AEffect, process) == 16);
static_assert(offsetof(AEffect, setParameter) == 24);
static_assert(offsetof(AEffect, getParameter) == 32);
static_assert(offsetof(AEffect, numPrograms) == 40);
static_assert(offsetof(AEffect, numParams) == 44);
static_assert(offsetof(AEffect, numInputs) == 48);
static_assert(offsetof(AEffect, numOutputs) == 52);
static_assert(offsetof(AEffect, flags) == 56);
static_assert(offsetof(AEffect, reserved1) == 64);
static_assert(offsetof(AEffect, reserved2) == 72);
static_assert(offsetof(AEffect, initialDelay) == 80);
static_assert(offsetof(AEffect, realQualities) == 84);
static_assert(offsetof(AEffect, offQualities) == 88);
static_assert(offsetof(AEffect, ioRatio) == 92);
static_assert(offsetof(AEffect, object) == 96);
static_assert(offsetof(AEffect, user) == 104);
static_assert(offsetof(AEffect, uniqueID) == 112);
static_assert(offsetof(AEffect, version) == 116);
static_assert(offsetof(AEffect, processReplacing) == 120);
static_assert(offsetof(AEffect, processDoubleReplacing) == 128);
static_assert(offsetof(AEffect, future) == 136);
static_assert(sizeof(AEffect) == 192);

static_assert(sizeof(ERect) == 8);
static_assert(sizeof(VstEvent) == 32);
static_assert(sizeof(VstMidiEvent) == 32);
static_assert(offsetof(VstMidiEvent, midiData) == 24);
static_assert(offsetof(VstEvents, reserved) == 8);
static_assert(offsetof(VstEvents, events) == 16);
static_assert(sizeof(VstEvents) == 32);

static_assert(offsetof(VstTimeInfo, tempo) == 32);
static_assert(offsetof(VstTimeInfo, timeSigNumerator) == 64);
static_assert(offsetof(VstTimeInfo, flags) == 84);
static_assert(sizeof(VstTimeInfo) == 88);

static_assert(offsetof(VstSpeakerProperties, name) == 16);
static_assert(offsetof(VstSpeakerProperties, type) == 80);
static_assert(sizeof(VstSpeakerProperties) == 112);
static_assert(offsetof(VstSpeakerArrangement, speakers) == 8);
static_assert(sizeof(VstSpeakerArrangement) == 904);
// clang-format on

} // namespace zel::vst
