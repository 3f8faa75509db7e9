#pragma once
// CText: the framework's text type. A text holds either 8-bit code units (Latin-1; ASCII for
// all carried data) or 16-bit code units (UTF-16), and a flag saying which. Two texts compare
// ordinally by unsigned code unit whatever their widths, so an 8-bit and a 16-bit text with
// the same characters are equal and order the same way. Every text-keyed map of the framework
// uses this ordering.
//
// It is not a general Unicode string: no normalisation, no locale. Conversion to and from
// UTF-8 is provided for streams and diagnostics.

#include <compare>
#include <cstddef>
#include <string>
#include <string_view>

namespace zel
{

class CText
{
public:
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    CText() = default;
    CText(const char* s) : m_narrow(s ? s : "") {}
    CText(std::string_view s) : m_narrow(s) {}
    CText(std::string s) : m_narrow(std::move(s)) {}
    CText(const char16_t* s) : m_wideText(s ? s : u""), m_isWide(true) {}
    CText(std::u16string_view s) : m_wideText(s), m_isWide(true) {}
    CText(std::u16string s) : m_wideText(std::move(s)), m_isWide(true) {}

    // Decodes UTF-8 (invalid bytes are taken as Latin-1 units); the result stays 8-bit while
    // every character is below 0x100.
    static CText fromUtf8(std::string_view utf8);

    bool isWide() const { return m_isWide; }
    bool empty() const { return size() == 0; }
    std::size_t size() const { return m_isWide ? m_wideText.size() : m_narrow.size(); }
    // Code unit i, unsigned.
    char16_t operator[](std::size_t i) const
    {
        return m_isWide ? m_wideText[i]
                        : static_cast<char16_t>(static_cast<unsigned char>(m_narrow[i]));
    }

    // The 8-bit units; only meaningful when !isWide().
    const std::string& narrow() const { return m_narrow; }
    // The 16-bit units; only meaningful when isWide().
    const std::u16string& wide() const { return m_wideText; }

    // UTF-8 form (16-bit surrogate pairs are combined; lone surrogates are encoded as is).
    std::string toUtf8() const;
    // 16-bit form regardless of the stored width.
    std::u16string toUtf16() const;
    // Switches the storage to 16-bit units (no change of content).
    void widen();

    CText substr(std::size_t pos, std::size_t count = npos) const;
    std::size_t find(char16_t c, std::size_t from = 0) const;
    std::size_t find(std::string_view ascii, std::size_t from = 0) const;
    std::size_t rfind(char16_t c, std::size_t from = npos) const;
    bool startsWith(std::string_view ascii) const;
    bool endsWith(std::string_view ascii) const;

    CText& operator+=(const CText& other);
    CText& operator+=(char16_t c);
    CText& operator+=(std::string_view ascii) { return *this += CText(ascii); }
    CText& operator+=(const char* ascii) { return *this += CText(ascii); }
    friend CText operator+(CText a, const CText& b) { return a += b; }

    int compare(const CText& other) const;
    friend bool operator==(const CText& a, const CText& b) { return a.compare(b) == 0; }
    friend std::strong_ordering operator<=>(const CText& a, const CText& b)
    {
        const int c = a.compare(b);
        return c < 0 ? std::strong_ordering::less
                     : (c > 0 ? std::strong_ordering::greater : std::strong_ordering::equal);
    }

private:
    std::string m_narrow;
    std::u16string m_wideText;
    bool m_isWide = false;
};

} // namespace zel
