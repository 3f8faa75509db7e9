#pragma once
// Conversions between the framework's text and the wide strings of the Windows API, shared by
// the Win32 platform files: "/" separators become "\" on the way in and "\" becomes "/" on the
// way out.

#include "Core/Text.h"

#include <string>
#include <utility>

namespace zel::platform::win32
{

inline std::wstring toWide(const CText& text, bool nativeSeparators = false)
{
    const std::u16string units = text.toUtf16();
    std::wstring wide(units.begin(), units.end());
    if (nativeSeparators)
        for (wchar_t& c : wide)
            if (c == L'/')
                c = L'\\';
    return wide;
}

inline CText fromWide(const wchar_t* wide, bool portableSeparators = false)
{
    std::u16string units;
    for (; wide != nullptr && *wide != 0; ++wide)
        units.push_back(portableSeparators && *wide == L'\\' ? u'/' : static_cast<char16_t>(*wide));
    return CText(std::move(units));
}

} // namespace zel::platform::win32
