#include "Audio/Filters/AudioFilterGen.h"

#include "Core/Numbers.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>

namespace zel
{

void CAudioFilterDesign::clear()
{
    kind = EFilterDesignKind::kNone;
    sectionCount = 0;
    halfBandOrder = 0;
    taps.clear();
}

const std::vector<double>& CDCDAWFilterWorkspace::blackmanWindow(std::size_t length, double power)
{
    if (m_window.size() == length && m_windowPower == power)
        return m_window;
    m_window.resize(length);
    m_windowPower = power;
    // The window's zero end points lie just outside the taps, so every tap counts. The second
    // half mirrors the first, keeping the window exactly symmetric.
    const double step = 2.0 * std::numbers::pi / static_cast<double>(length + 1);
    for (std::size_t i = 0; i < (length + 1) / 2; ++i)
    {
        const double phase = step * static_cast<double>(i + 1);
        // Rounding can take the smallest values just below zero; a window never goes there.
        const double w = std::max(0.0, 0.42 - 0.5 * std::cos(phase) + 0.08 * std::cos(2.0 * phase));
        m_window[i] = power == 1.0 ? w : std::pow(w, power);
        m_window[length - 1 - i] = m_window[i];
    }
    return m_window;
}

void CAudioFilterGen::registerClass(CClassInfo& info)
{
    CObject::registerClass(info);
    info.attribute<&CAudioFilterGen::onFreq>("freq");
    info.attribute<&CAudioFilterGen::onGain>("gain");
    info.attribute<&CAudioFilterGen::onBw>("bw");
    info.attribute<&CAudioFilterGen::onLength>("length");
    info.attribute<&CAudioFilterGen::onPower>("power");
}

CErrorPtr CAudioFilterGen::parseInput(const char* attribute, const CText& value,
                                      std::optional<double>& target)
{
    if (value.empty())
    {
        target.reset();
        return nullptr;
    }
    double number = 0.0;
    if (!parseNumber(value, number))
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioFilterGen_parseInput_InvalidNumber",
                         "Invalid number '%1' for '%2'.", {value.toUtf8(), attribute});
    target = number;
    return nullptr;
}

CErrorPtr CAudioFilterGen::onFreq(const CText& value)
{
    return parseInput("freq", value, m_freq);
}

CErrorPtr CAudioFilterGen::onGain(const CText& value)
{
    return parseInput("gain", value, m_gain);
}

CErrorPtr CAudioFilterGen::onBw(const CText& value)
{
    return parseInput("bw", value, m_bw);
}

CErrorPtr CAudioFilterGen::onLength(const CText& value)
{
    return parseInput("length", value, m_length);
}

CErrorPtr CAudioFilterGen::onPower(const CText& value)
{
    return parseInput("power", value, m_power);
}

void CAudioFilterGen::fillOwnInputs(CAudioFilterRequest& request) const
{
    for (auto [target, own] : {std::pair{&request.freq, &m_freq}, std::pair{&request.gain, &m_gain},
                               std::pair{&request.bw, &m_bw}, std::pair{&request.length, &m_length},
                               std::pair{&request.power, &m_power}})
    {
        if (!*target)
            *target = *own;
    }
}

CAudioFilterRequest CAudioFilterGen::resolve(const CAudioFilterRequest& request) const
{
    CAudioFilterRequest filled = request;
    fillOwnInputs(filled);
    return filled;
}

CErrorPtr CAudioFilterGen::nested(const CAudioFilterRequest& request,
                                  CAudioFilterRequest& out) const
{
    if (request.nesting >= kMaxNesting)
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioFilterGen_nested_TooDeep",
                         "Filter generators nested more than %1 deep (does one refer to itself?).",
                         {std::to_string(kMaxNesting)});
    out = request;
    ++out.nesting;
    return nullptr;
}

CErrorPtr CAudioFilterGen::design(const CAudioFilterRequest& request, CAudioFilterDesign& out,
                                  CDCDAWFilterWorkspace* workspace) const
{
    out.clear();
    if (!(request.sampleRate > 0.0) || !std::isfinite(request.sampleRate))
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioFilterGen_design_InvalidSampleRate",
                         "Invalid sample rate %1.",
                         {formatNumber(request.sampleRate, 3, true).toUtf8()});
    CErrorPtr err = designResolved(resolve(request), out, workspace);
    if (err)
    {
        out.clear();
        return ZEL_PASS(std::move(err), fullName().toUtf8());
    }
    return nullptr;
}

bool CAudioFilterGen::parseNumberList(const CText& text, std::vector<double>& out)
{
    out.clear();
    const std::string utf8 = text.toUtf8();
    std::size_t pos = 0;
    const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (true)
    {
        while (pos < utf8.size() && isSpace(utf8[pos]))
            ++pos;
        if (pos == utf8.size())
            return out.empty(); // after a trailing separator the last item is empty
        std::size_t end = pos;
        while (end < utf8.size() && utf8[end] != ',' && utf8[end] != ';' && !isSpace(utf8[end]))
            ++end;
        double value = 0.0;
        if (end == pos || !parseNumber(CText(utf8.substr(pos, end - pos)), value))
            return false;
        out.push_back(value);
        while (end < utf8.size() && isSpace(utf8[end]))
            ++end;
        if (end == utf8.size())
            return true;
        if (utf8[end] == ',' || utf8[end] == ';')
            ++end;
        pos = end;
    }
}

} // namespace zel
