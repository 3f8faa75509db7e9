#include "Presets/PresetSource.h"

#include "Audio/AudioParam.h"
#include "Audio/AudioParamInfo.h"
#include "Audio/AudioParamRegistry.h"
#include "Audio/AudioPreset.h"
#include "Audio/Converters/Converters.h"
#include "Core/MemoryWriteBuffer.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

namespace kelvtools
{
namespace
{
const char* const kOwner = "CPresetSource";

std::string trim(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return std::string();
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator))
        parts.push_back(part);
    if (!text.empty() && text.back() == separator)
        parts.emplace_back();
    return parts;
}

zel::CErrorPtr lineError(int line, const std::string& text)
{
    return ZEL_ERROR(kOwner, "zelstr_CPresetSource_parse_Syntax", "Line %1: %2",
                     {std::to_string(line), text});
}

zel::CErrorPtr settingError(const SPresetSource& preset, const SPresetSetting& setting,
                            const std::string& text)
{
    return ZEL_ERROR(kOwner, "zelstr_CPresetSource_build_Setting", "Line %1 ('%2'): %3",
                     {std::to_string(setting.line), preset.name + " / " + setting.key, text});
}

// Sets one value by its text. The stepped converter reads numbers only; its state names (full
// or short: "On", "MS1", "2x") are taken here as the state they name.
zel::CErrorPtr setValueText(zel::CAudioParam& param, std::int32_t group, std::int32_t element,
                            std::int32_t index, const std::string& text, bool& ok)
{
    ZEL_TRY(param.setText(group, element, index, zel::CText(text), &ok), kOwner);
    const auto* states =
        dynamic_cast<const zel::CAudioParamConverterEnum*>(param.info().converter(index));
    if (ok || states == nullptr)
        return nullptr;
    for (std::size_t state = 0; state < states->stateCount(); ++state)
        if (states->fullNames()[state] == zel::CText(text) ||
            states->shortNames()[state] == zel::CText(text))
        {
            ok = true;
            const double value =
                std::round(param.info().minValue(index)) + static_cast<double>(state);
            ZEL_TRY(param.setValue(group, element, index, value), kOwner);
            return nullptr;
        }
    return nullptr;
}

// Sets one group of param from its parsed elements.
zel::CErrorPtr setGroup(zel::CAudioParam& param, std::int32_t group,
                        const std::vector<std::vector<std::string>>& elements, std::string& problem)
{
    const zel::CAudioParamInfo& info = param.info();
    const auto count = static_cast<std::int32_t>(elements.size());
    const std::int32_t size = info.isItemType() ? 1 : info.elementSize;
    ZEL_TRY(
        param.setElements(group, std::vector<double>(static_cast<std::size_t>(count * size),
                                                     info.isItemType() ? 0.0 : info.minValue(0))),
        kOwner);
    for (std::int32_t e = 0; e < count; ++e)
    {
        const std::vector<std::string>& values = elements[static_cast<std::size_t>(e)];
        if (static_cast<std::int32_t>(values.size()) != size)
        {
            problem = "element " + std::to_string(e + 1) + " holds " +
                      std::to_string(values.size()) + " values, the parameter takes " +
                      std::to_string(size);
            return nullptr;
        }
        if (info.isItemType())
        {
            ZEL_TRY(param.setString(group, e, zel::CText(values[0])), kOwner);
            continue;
        }
        for (std::int32_t i = 0; i < size; ++i)
        {
            bool ok = true;
            const std::string& text = values[static_cast<std::size_t>(i)];
            ZEL_TRY(setValueText(param, group, e, i, text, ok), kOwner);
            if (!ok)
            {
                problem = "value '" + text + "' is not accepted by the converter";
                return nullptr;
            }
        }
    }
    return nullptr;
}
} // namespace

zel::CErrorPtr CPresetSource::parse(const std::string& text, std::vector<SPresetSource>& presets)
{
    std::vector<SPresetSource> parsed;
    bool open = false;
    int number = 0;
    std::istringstream in(text);
    std::string raw;
    while (std::getline(in, raw))
    {
        ++number;
        const std::string line = trim(raw.substr(0, raw.find('#')));
        if (line.empty())
            continue;
        if (line.rfind("preset ", 0) == 0)
        {
            if (open)
                return lineError(number, "'preset' inside a preset (missing 'end')");
            SPresetSource preset;
            preset.name = trim(line.substr(7));
            preset.line = number;
            if (preset.name.empty() || preset.name.find(':') != std::string::npos)
                return lineError(number, "a preset needs a name without ':'");
            parsed.push_back(std::move(preset));
            open = true;
        }
        else if (line == "end")
        {
            if (!open)
                return lineError(number, "'end' outside a preset");
            open = false;
        }
        else if (const auto eq = line.find('='); open && eq != std::string::npos)
        {
            SPresetSetting setting;
            setting.key = trim(line.substr(0, eq));
            setting.value = trim(line.substr(eq + 1));
            setting.line = number;
            if (setting.key.empty() || setting.value.empty())
                return lineError(number, "a setting needs a key and a value");
            for (const SPresetSetting& other : parsed.back().settings)
                if (other.key == setting.key)
                    return lineError(number, "'" + setting.key + "' set twice");
            parsed.back().settings.push_back(std::move(setting));
        }
        else
            return lineError(number, "expected 'preset <name>', '<key> = <values>' or 'end'");
    }
    if (open)
        return lineError(number, "the last preset has no 'end'");
    presets = std::move(parsed);
    return nullptr;
}

zel::CErrorPtr CPresetSource::parseFile(const std::string& path,
                                        std::vector<SPresetSource>& presets)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return ZEL_ERROR(kOwner, "zelstr_CPresetSource_parseFile_Open", "Cannot read '%1'.",
                         {path});
    std::ostringstream text;
    text << in.rdbuf();
    if (const zel::CErrorPtr err = parse(text.str(), presets))
        return ZEL_ERROR(kOwner, "zelstr_CPresetSource_parseFile_Parse", "%1: %2",
                         {path, err->text()});
    return nullptr;
}

std::vector<std::vector<std::vector<std::string>>>
CPresetSource::splitValues(const std::string& value, bool isString)
{
    std::vector<std::vector<std::vector<std::string>>> groups;
    for (const std::string& groupText : split(value, ';'))
    {
        std::vector<std::vector<std::string>> elements;
        for (const std::string& elementText : split(groupText, ','))
        {
            std::vector<std::string> values;
            if (isString)
                values.push_back(trim(elementText));
            else
            {
                std::istringstream words(elementText);
                std::string word;
                while (words >> word)
                    values.push_back(word);
            }
            elements.push_back(std::move(values));
        }
        groups.push_back(std::move(elements));
    }
    return groups;
}

zel::CErrorPtr CPresetSource::build(zel::CAudioParamRegistry& registry, const SPresetSource& source,
                                    zel::CAudioPreset& preset)
{
    for (const zel::CText& key : registry.keys())
        if (zel::CAudioParam* param = registry.findParam(key))
            param->resetToDefaults();

    std::vector<const SPresetSetting*> extras;
    for (const SPresetSetting& setting : source.settings)
    {
        zel::CAudioParam* param = registry.findParam(zel::CText(setting.key));
        if (param == nullptr)
            return settingError(source, setting, "no such parameter in the registry");
        const auto groups = splitValues(setting.value, param->info().isItemType());
        for (std::int32_t g = 0; g < param->groupCount(); ++g)
        {
            const auto index = std::min(static_cast<std::size_t>(g), groups.size() - 1);
            std::string problem;
            ZEL_TRY(setGroup(*param, g, groups[index], problem), kOwner);
            if (!problem.empty())
                return settingError(source, setting, problem);
        }
        if (!param->info().storable)
            extras.push_back(&setting);
    }

    zel::CAudioPreset captured =
        registry.capturePreset(registry.id() + zel::CText(":") + zel::CText(source.name), -1);
    for (const SPresetSetting* setting : extras)
    {
        const zel::CText key(setting->key);
        const zel::CAudioParam* param = registry.findParam(key);
        zel::CMemoryWriteBuffer out;
        const zel::CText path = registry.storedPathOf(registry.hierarchy() + zel::CText(".") + key);
        ZEL_TRY(param->saveRecord(out, path, -1), kOwner);
        captured.entries[key] = out.toVector();
    }
    preset = std::move(captured);
    return nullptr;
}

} // namespace kelvtools
