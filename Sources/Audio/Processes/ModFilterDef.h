#pragma once
// CModFilterDefBase: what the definitions of the two filter modules ("audio:modFilterIIR",
// "audio:modFilterFIR") share: the generator they run and the inputs of its design request.
//   "fltgen"        object path of the filter generator (a single generator or a generator
//                   array); resolved when the definition is loaded, so the generator must come
//                   earlier in the description
//   "filter-index"  the item an array selects while no index parameter drives it (default 0)
//   "freq", "gain", "bw", "length", "power"
//                   request inputs used while no parameter drives them; left out, the
//                   generator's own attributes apply
// It is not a module: it makes no process itself (the concrete definitions do).

#include "Audio/AudioProcessDef.h"
#include "Audio/Filters/AudioFilterGen.h"

#include <optional>

namespace zel
{

class CModFilterDefBase : public CAudioProcessDefBase
{
public:
    static void registerClass(CClassInfo& info);
    // Resolves "fltgen".
    CErrorPtr initChilds() override;

    // Null before the definition is loaded or once the generator is gone.
    const CAudioFilterGen* generator() const;
    // The "fltgen" text, for messages.
    const CText& generatorPath() const { return m_path; }
    std::int32_t filterIndex() const { return m_index; }
    // The request of the definition's own inputs at a sample rate.
    CAudioFilterRequest baseRequest(double sampleRate) const;

    CErrorPtr onFltgen(const CText& value);
    CErrorPtr onFilterIndex(const CText& value);
    CErrorPtr onFreq(const CText& value);
    CErrorPtr onGain(const CText& value);
    CErrorPtr onBw(const CText& value);
    CErrorPtr onLength(const CText& value);
    CErrorPtr onPower(const CText& value);

protected:
    CErrorPtr parseInput(const char* attribute, const CText& value, std::optional<double>& target);

private:
    CText m_path;
    CObjectRef m_generator;
    std::int32_t m_index = 0;
    std::optional<double> m_freq;
    std::optional<double> m_gain;
    std::optional<double> m_bw;
    std::optional<double> m_length;
    std::optional<double> m_power;
};

} // namespace zel
