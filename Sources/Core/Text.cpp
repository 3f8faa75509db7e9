#include "Core/Text.h"

#include <algorithm>

namespace zel
{

CText CText::fromUtf8(std::string_view utf8)
{
    std::u16string units;
    units.reserve(utf8.size());
    bool wide = false;
    std::size_t i = 0;
    while (i < utf8.size())
    {
        const unsigned char lead = static_cast<unsigned char>(utf8[i]);
        std::size_t extra = 0;
        char32_t cp = lead;
        if (lead >= 0xF0 && lead < 0xF8)
        {
            extra = 3;
            cp = lead & 0x07u;
        }
        else if (lead >= 0xE0 && lead < 0xF0)
        {
            extra = 2;
            cp = lead & 0x0Fu;
        }
        else if (lead >= 0xC0 && lead < 0xE0)
        {
            extra = 1;
            cp = lead & 0x1Fu;
        }
        bool ok = extra > 0 && i + extra < utf8.size();
        for (std::size_t k = 1; ok && k <= extra; ++k)
        {
            const unsigned char c = static_cast<unsigned char>(utf8[i + k]);
            if ((c & 0xC0u) != 0x80u)
                ok = false;
            else
                cp = (cp << 6) | (c & 0x3Fu);
        }
        if (!ok)
        {
            units.push_back(lead);
            ++i;
            continue;
        }
        i += extra + 1;
        if (cp >= 0x10000)
        {
            cp -= 0x10000;
            units.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            units.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
            wide = true;
        }
        else
        {
            units.push_back(static_cast<char16_t>(cp));
            if (cp >= 0x100)
                wide = true;
        }
    }
    if (wide)
        return CText(std::move(units));
    std::string narrow(units.size(), '\0');
    std::transform(units.begin(), units.end(), narrow.begin(),
                   [](char16_t u) { return static_cast<char>(static_cast<unsigned char>(u)); });
    return CText(std::move(narrow));
}

std::string CText::toUtf8() const
{
    std::string out;
    out.reserve(size());
    const std::size_t n = size();
    for (std::size_t i = 0; i < n; ++i)
    {
        char32_t cp = (*this)[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < n)
        {
            const char32_t lo = (*this)[i + 1];
            if (lo >= 0xDC00 && lo < 0xE000)
            {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
                ++i;
            }
        }
        if (cp < 0x80)
        {
            out.push_back(static_cast<char>(cp));
        }
        else if (cp < 0x800)
        {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
        else if (cp < 0x10000)
        {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
        else
        {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

std::u16string CText::toUtf16() const
{
    if (m_isWide)
        return m_wideText;
    std::u16string out(m_narrow.size(), u'\0');
    std::transform(m_narrow.begin(), m_narrow.end(), out.begin(),
                   [](char c) { return static_cast<char16_t>(static_cast<unsigned char>(c)); });
    return out;
}

void CText::widen()
{
    if (m_isWide)
        return;
    m_wideText = toUtf16();
    m_narrow.clear();
    m_isWide = true;
}

CText CText::substr(std::size_t pos, std::size_t count) const
{
    const std::size_t n = size();
    if (pos >= n)
        return m_isWide ? CText(std::u16string()) : CText();
    count = std::min(count, n - pos);
    if (m_isWide)
        return CText(m_wideText.substr(pos, count));
    return CText(m_narrow.substr(pos, count));
}

std::size_t CText::find(char16_t c, std::size_t from) const
{
    for (std::size_t i = from; i < size(); ++i)
        if ((*this)[i] == c)
            return i;
    return npos;
}

std::size_t CText::find(std::string_view ascii, std::size_t from) const
{
    const std::size_t n = size();
    if (ascii.empty())
        return from <= n ? from : npos;
    for (std::size_t i = from; i + ascii.size() <= n; ++i)
    {
        std::size_t k = 0;
        while (k < ascii.size() &&
               (*this)[i + k] == static_cast<char16_t>(static_cast<unsigned char>(ascii[k])))
            ++k;
        if (k == ascii.size())
            return i;
    }
    return npos;
}

std::size_t CText::rfind(char16_t c, std::size_t from) const
{
    const std::size_t n = size();
    if (n == 0)
        return npos;
    std::size_t i = std::min(from, n - 1) + 1;
    while (i-- > 0)
        if ((*this)[i] == c)
            return i;
    return npos;
}

bool CText::startsWith(std::string_view ascii) const
{
    if (ascii.size() > size())
        return false;
    for (std::size_t k = 0; k < ascii.size(); ++k)
        if ((*this)[k] != static_cast<char16_t>(static_cast<unsigned char>(ascii[k])))
            return false;
    return true;
}

bool CText::endsWith(std::string_view ascii) const
{
    const std::size_t n = size();
    if (ascii.size() > n)
        return false;
    const std::size_t base = n - ascii.size();
    for (std::size_t k = 0; k < ascii.size(); ++k)
        if ((*this)[base + k] != static_cast<char16_t>(static_cast<unsigned char>(ascii[k])))
            return false;
    return true;
}

CText& CText::operator+=(const CText& other)
{
    if (!m_isWide && !other.m_isWide)
    {
        m_narrow += other.m_narrow;
        return *this;
    }
    widen();
    if (other.m_isWide)
        m_wideText += other.m_wideText;
    else
        m_wideText += other.toUtf16();
    return *this;
}

CText& CText::operator+=(char16_t c)
{
    if (!m_isWide && c < 0x100)
    {
        m_narrow.push_back(static_cast<char>(static_cast<unsigned char>(c)));
        return *this;
    }
    widen();
    m_wideText.push_back(c);
    return *this;
}

int CText::compare(const CText& other) const
{
    if (!m_isWide && !other.m_isWide)
    {
        // std::string::compare uses char_traits<char>, which compares as unsigned char.
        const int c = m_narrow.compare(other.m_narrow);
        return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    const std::size_t a = size();
    const std::size_t b = other.size();
    const std::size_t n = std::min(a, b);
    for (std::size_t i = 0; i < n; ++i)
    {
        const char16_t x = (*this)[i];
        const char16_t y = other[i];
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a < b ? -1 : (a > b ? 1 : 0);
}

} // namespace zel
