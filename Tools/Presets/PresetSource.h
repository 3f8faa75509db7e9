#pragma once
// CPresetSource: the readable source of a carried preset collection (the factory bank, the
// default routing presets) and its translation into preset records through a live instance.
// It is not a record format: the records are written by the registry's own capture, so that a
// carried preset is exactly what the user would get by setting the same values by hand.
//
// Source text, line by line ("#" starts a comment, blank lines are ignored):
//   preset <visible name>      opens a preset; its name in the records gets the registry's id
//                              and ":" in front
//   <key> = <value list>       a parameter by its preset key (path below the registry's
//                              hierarchy), for example modKelvatrone.env-ratio
//   end                        closes the preset
// A value list holds groups separated by ";", elements separated by ",", and the values of an
// element separated by white space; each value is the text the element's converter accepts
// (display units: "-24", "4:1", "20", "On", "MS1"). One group given sets every group. String
// parameters take each element's text as it stands (white space kept, ends trimmed).
//
// Building a preset starts from the description's defaults (every parameter of the registry
// reset), sets the listed values through the parameters, and captures the registry. A listed
// parameter that the capture leaves out (not storable, such as a side-chain switch) is added
// to the captured preset with its own parameter record, so the preset carries it.

#include "Core/Error.h"
#include "Core/Text.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zel
{
class CAudioParamRegistry;
class CAudioPreset;
} // namespace zel

namespace kelvtools
{

struct SPresetSetting
{
    std::string key;
    std::string value;
    int line = 0;
};

struct SPresetSource
{
    std::string name;
    std::vector<SPresetSetting> settings;
    int line = 0;
};

class CPresetSource
{
public:
    // Parses the whole text; errors name the line.
    static zel::CErrorPtr parse(const std::string& text, std::vector<SPresetSource>& presets);
    static zel::CErrorPtr parseFile(const std::string& path, std::vector<SPresetSource>& presets);

    // Splits a value list into groups of elements of values, as described above (string
    // parameters: one value per element).
    static std::vector<std::vector<std::vector<std::string>>> splitValues(const std::string& value,
                                                                          bool isString);

    // Resets the registry's parameters, applies source and captures the registry (all groups)
    // into preset, named id + ":" + the visible name.
    static zel::CErrorPtr build(zel::CAudioParamRegistry& registry, const SPresetSource& source,
                                zel::CAudioPreset& preset);
};

} // namespace kelvtools
