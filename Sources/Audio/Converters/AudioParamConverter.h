#pragma once
// CAudioParamConverter: the abstract base of the parameter value converters. A converter owns
// the mappings between the three forms of a parameter element's value: the real value (a double
// in the parameter's unit, bounded by the element's minimum and maximum), the normalised value
// in [0, 1] and the display text. It holds no per-parameter state: the element's range comes
// from the parameter information passed in on every call, so one converter object serves any
// number of parameters.
//
// Attributes: "label" (unit text the editor shows beside the value; never part of the
// converter's own text) and "is-discrete" (the value space is stepped).
//
// This class has no type name of its own; the ten concrete converters live in Converters.h.
// Parse failures are not errors: they return a documented value and clear the ok flag.

#include "Core/Object.h"

#include <cstdint>

namespace zel
{

class CAudioParamData;
class CAudioParamInfo;

class CAudioParamConverter : public CObject
{
public:
    // valueToText modes.
    static constexpr std::int32_t kModeFull = 0;
    static constexpr std::int32_t kModeCompact = 1; // narrow displays
    static constexpr std::int32_t kModeShort = 2;   // short state names (Enum only)

    static void registerClass(CClassInfo& info);

    // ---- Converter operations, in slot order ----
    // A typed text to a real value clamped to the element's range; on a parse failure *ok is
    // false and the element's minimum is returned.
    virtual double textToValue(const CAudioParamInfo& info, std::int32_t element, const CText& text,
                               bool* ok = nullptr) const;
    // A typed text to a real value without clamping; on a failure *ok is false and the result
    // is not meaningful.
    virtual double textToValueRaw(const CAudioParamInfo& info, std::int32_t element,
                                  const CText& text, bool* ok = nullptr) const = 0;
    // A real value to its display text in the given mode; data is the parameter's items.
    virtual CText valueToText(const CAudioParamInfo& info, std::int32_t element, double value,
                              std::int32_t mode, const CAudioParamData* data) const = 0;
    // Normalised to real value; linear over the element's range by default.
    virtual double normToValue(const CAudioParamInfo& info, std::int32_t element,
                               double norm) const;
    // Real to normalised value; linear over the element's range by default.
    virtual double valueToNorm(const CAudioParamInfo& info, std::int32_t element,
                               double value) const;

    const CText& label() const { return m_label; }
    bool isDiscrete() const { return m_isDiscrete; }

    CErrorPtr onLabel(const CText& value);
    CErrorPtr onIsDiscrete(const CText& value);

    // Clamps value to [min, max]; a reversed range (min > max) clamps to [max, min].
    static double clampToRange(double value, double min, double max);
    // The element's range from info; [0, 1] for an element info does not describe.
    static void rangeOf(const CAudioParamInfo& info, std::int32_t element, double& min,
                        double& max);
    // The converters' number grammar: optional leading "-", digits, one "," or "." decimal
    // separator, digits. An empty text is 0.
    static bool parseNumberText(const CText& text, double& value);

protected:
    static void setOk(bool* ok, bool value)
    {
        if (ok != nullptr)
            *ok = value;
    }

private:
    CText m_label;
    bool m_isDiscrete = false;
};

} // namespace zel
