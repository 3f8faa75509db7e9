#include "Core/Numbers.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

namespace zel
{
namespace
{
int hexDigit(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}
} // namespace

bool parseInteger(const CText& text, std::int64_t& out)
{
    const std::size_t n = text.size();
    std::size_t i = 0;
    bool negative = false;
    if (i < n && text[i] == u'-')
    {
        negative = true;
        ++i;
    }
    unsigned base = 10;
    if (i + 1 < n && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X'))
    {
        base = 16;
        i += 2;
    }
    else if (i < n && (text[i] == u'#' || text[i] == u'$'))
    {
        base = 16;
        ++i;
    }
    if (i >= n)
        return false;
    // The magnitude may reach 2^63 for a negative value.
    const std::uint64_t limit =
        negative ? (std::uint64_t{1} << 63)
                 : static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    std::uint64_t magnitude = 0;
    for (; i < n; ++i)
    {
        const int digit = hexDigit(text[i]);
        if (digit < 0 || static_cast<unsigned>(digit) >= base)
            return false;
        if (magnitude > (limit - static_cast<unsigned>(digit)) / base)
            return false;
        magnitude = magnitude * base + static_cast<unsigned>(digit);
    }
    if (negative)
        out = magnitude == (std::uint64_t{1} << 63) ? std::numeric_limits<std::int64_t>::min()
                                                    : -static_cast<std::int64_t>(magnitude);
    else
        out = static_cast<std::int64_t>(magnitude);
    return true;
}

bool parseInteger32(const CText& text, std::int32_t& out)
{
    std::int64_t wide = 0;
    if (!parseInteger(text, wide) || wide < std::numeric_limits<std::int32_t>::min() ||
        wide > std::numeric_limits<std::int32_t>::max())
        return false;
    out = static_cast<std::int32_t>(wide);
    return true;
}

bool parseBoolean(const CText& text, bool& out)
{
    if (text == CText("true"))
    {
        out = true;
        return true;
    }
    if (text == CText("false"))
    {
        out = false;
        return true;
    }
    return false;
}

bool parseNumber(const CText& text, double& out)
{
    // Normalise into an ASCII buffer for from_chars, checking the grammar on the way.
    std::string ascii;
    ascii.reserve(text.size());
    bool separatorSeen = false;
    bool digitSeen = false;
    for (std::size_t i = 0; i < text.size(); ++i)
    {
        const char16_t c = text[i];
        if (c == u'-' && i == 0)
            ascii += '-';
        else if (c >= u'0' && c <= u'9')
        {
            ascii += static_cast<char>(c);
            digitSeen = true;
        }
        else if ((c == u'.' || c == u',') && !separatorSeen)
        {
            ascii += '.';
            separatorSeen = true;
        }
        else
            return false;
    }
    if (!digitSeen)
        return false;
    // from_chars does not accept "-.5" or "5." consistently across libraries: pad with zeros.
    std::string padded;
    padded.reserve(ascii.size() + 2);
    std::size_t start = 0;
    if (!ascii.empty() && ascii[0] == '-')
    {
        padded += '-';
        start = 1;
    }
    if (ascii[start] == '.')
        padded += '0';
    padded.append(ascii, start, std::string::npos);
    if (padded.back() == '.')
        padded += '0';
    double value = 0.0;
    const auto result = std::from_chars(padded.data(), padded.data() + padded.size(), value,
                                        std::chars_format::fixed);
    if (result.ec != std::errc() || result.ptr != padded.data() + padded.size())
        return false;
    out = value;
    return true;
}

CText formatNumber(double value, int decimals, bool trimZeros)
{
    if (std::isnan(value))
        return CText("nan");
    if (std::isinf(value))
        return CText(value < 0 ? "-inf" : "inf");
    if (decimals < 0)
        decimals = 0;
    if (decimals > 15)
        decimals = 15;
    const double scale = std::pow(10.0, decimals);
    const double scaled = std::round(value * scale); // std::round: halves away from zero
    std::string out;
    if (std::fabs(scaled) < 9.0e15)
    {
        const bool negative = scaled < 0;
        std::string digits = std::to_string(static_cast<std::int64_t>(std::fabs(scaled)));
        if (decimals > 0)
        {
            if (digits.size() <= static_cast<std::size_t>(decimals))
                digits.insert(0, static_cast<std::size_t>(decimals) + 1 - digits.size(), '0');
            digits.insert(digits.size() - static_cast<std::size_t>(decimals), 1, '.');
        }
        if (negative)
            out += '-';
        out += digits;
    }
    else
    {
        // Beyond exact integer range the fractional digits carry no information anyway.
        char buffer[400];
        std::snprintf(buffer, sizeof buffer, "%.*f", decimals, scaled / scale);
        out = buffer;
    }
    if (trimZeros && out.find('.') != std::string::npos)
    {
        while (out.back() == '0')
            out.pop_back();
        if (out.back() == '.')
            out.pop_back();
    }
    return CText(std::move(out));
}

CText formatInteger(std::int64_t value)
{
    return CText(std::to_string(value));
}

} // namespace zel
