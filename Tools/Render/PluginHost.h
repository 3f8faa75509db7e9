#pragma once
// CPluginHost: the renderer's VST 2.4 host for one effect of the Kelvatrone module. It loads the
// module file through the platform's dynamic-library service, calls the module's only export
// VSTPluginMain and then talks to the effect through the AEffect record alone: dispatcher
// opcodes, setParameter, and the two process entries. It never links or calls the effect's
// classes.
//
// Beyond the raw record it offers what a command-line host needs: programs and parameters by
// their visible names, parameter values from display texts, preset and bank files, and block
// processing in 32-bit or 64-bit samples. It is not a general host: no editor, no MIDI, no
// time information, one effect per host. Its callback answers the same to every effect, so
// several hosts may live in one process.

#include "Audio/VST/VstAbi.h"
#include "Core/Error.h"
#include "Platform/DynamicLibrary.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kelvtools
{

// A display text reachable by a host value, with the host value that reaches it.
struct SParamState
{
    std::string text;
    float normalised = 0.0f;
};

class CPluginHost
{
public:
    CPluginHost() = default;
    ~CPluginHost();
    CPluginHost(const CPluginHost&) = delete;
    CPluginHost& operator=(const CPluginHost&) = delete;

    // Loads the module, creates the effect and opens it.
    zel::CErrorPtr load(const std::string& modulePath);

    std::string effectName() const;
    std::string vendorName() const;
    // The effect's version as "major.minor.patch".
    std::string versionText() const;

    // ---- Programs
    std::int32_t programCount() const;
    std::string programName(std::int32_t index) const;
    std::int32_t currentProgram() const;
    zel::CErrorPtr selectProgram(std::int32_t index);
    // By visible name, ignoring case; an unknown name's error lists the valid ones.
    zel::CErrorPtr selectProgram(const std::string& name);

    // ---- Parameters
    std::int32_t paramCount() const;
    std::string paramName(std::int32_t index) const;
    std::string paramDisplay(std::int32_t index) const;
    std::string paramLabel(std::int32_t index) const;
    float paramValue(std::int32_t index) const;
    // The display text the parameter would show at a host value, without changing it.
    std::string displayFor(std::int32_t index, float normalised) const;
    // The distinct display texts over the whole host range, in range order, each with a host
    // value inside its run (0 or 1 where the run reaches an end of the range).
    std::vector<SParamState> states(std::int32_t index) const;
    // The parameter by its visible name, ignoring case; an unknown name's error lists the
    // valid ones.
    zel::CErrorPtr findParam(const std::string& name, std::int32_t& index) const;
    // Sets a parameter from text: "@x" is a host value in [0, 1]; a number is in display units
    // and goes through the effect's own text-to-value conversion, after a check against the
    // range the displays at both ends show; anything else must be one of the parameter's
    // display texts (switch and selector states such as "On" or "2x", which the effect's
    // conversion does not parse), compared ignoring case.
    zel::CErrorPtr setParam(const std::string& name, const std::string& value);

    // ---- State files
    // A preset file holds one program of the effect, a bank file all of them; the effect's own
    // file reader checks them first, so a damaged file reports the effect's own error text.
    zel::CErrorPtr loadPresetFile(const std::string& path);
    // Loads the bank; the bank's program count is returned for checking a program number.
    zel::CErrorPtr loadBankFile(const std::string& path, std::int32_t& programs);
    // Writes the current program as a preset file (through a temporary file and a rename).
    zel::CErrorPtr savePresetFile(const std::string& path);

    // ---- Processing
    // Sets rate, block size, precision and channel layout, then resumes the effect.
    zel::CErrorPtr start(double sampleRate, std::int32_t blockSize, bool use64,
                         std::int32_t channels);
    void stop();
    // The latency the effect reports, in frames.
    std::int32_t latency() const;
    std::int32_t inputCount() const;
    std::int32_t outputCount() const;
    // Processes frames (at most the block size) of planar channels; the arrays hold at least
    // inputCount() and outputCount() channel pointers.
    void process(double** inputs, double** outputs, std::int32_t frames);
    void process(float** inputs, float** outputs, std::int32_t frames);

private:
    std::intptr_t dispatch(std::int32_t opcode, std::int32_t index = 0, std::intptr_t value = 0,
                           void* ptr = nullptr, float opt = 0.0f) const;
    std::string text(std::int32_t opcode, std::int32_t index = 0, std::intptr_t value = 0,
                     float opt = 0.0f) const;
    zel::CErrorPtr setChunk(const std::string& path, bool isPreset);
    zel::CErrorPtr setNumber(std::int32_t index, const std::string& name, const std::string& value);

    static std::intptr_t callback(zel::vst::AEffect* effect, std::int32_t opcode,
                                  std::int32_t index, std::intptr_t value, void* ptr, float opt);

    zel::platform::CDynamicLibrary m_module;
    zel::vst::AEffect* m_effect = nullptr;
    bool m_running = false;
};

} // namespace kelvtools
