#pragma once
// CAttrValue: one entry of an object's attribute table: the raw text and a typed cache. The
// cache holds a type index, a flags word and the converted value; flag kAttrCacheFilled (0x8)
// says the cache is valid for the type index. Conversion runs once, on first typed use,
// through the per-type operation table; storing a new text empties the cache.
//
// Object paths are not resolved by the cache (trees change under a stored pointer): the path
// type only records that the text is a non-empty path; readers resolve it when asked.

#include "Core/Text.h"

#include <cstdint>

namespace zel
{

enum EAttrType : std::uint32_t
{
    kAttrText = 0,
    kAttrInteger = 1,
    kAttrBoolean = 2,
    kAttrFloat = 3,
    kAttrObjectPath = 4,
    kAttrTypeCount = 5,
};

// Flags of the typed cache.
inline constexpr std::uint32_t kAttrCacheFilled = 0x8;   // conversion has run for typeIndex
inline constexpr std::uint32_t kAttrCacheInvalid = 0x10; // ... and the text did not convert

struct CAttrCache
{
    std::uint32_t typeIndex = kAttrText;
    std::uint32_t flags = 0;
    std::int64_t integer = 0;
    double real = 0.0;
    bool boolean = false;
};

// The conversion of one type: fills the cache's value from the text; false = not convertible.
struct CAttrTypeOps
{
    const char* name;
    bool (*convert)(const CText& text, CAttrCache& cache);
};
const CAttrTypeOps& attrTypeOps(EAttrType type);

class CAttrValue
{
public:
    CAttrValue() = default;
    explicit CAttrValue(CText text) : m_text(std::move(text)) {}

    const CText& text() const { return m_text; }
    void setText(CText text)
    {
        m_text = std::move(text);
        m_cache.flags = 0;
    }

    // Converts on first use for a type (or when a different type is asked for) and answers
    // from the cache afterwards. Null when the text does not convert.
    const CAttrCache* typed(EAttrType type) const;
    const CAttrCache& cache() const { return m_cache; }

private:
    CText m_text;
    mutable CAttrCache m_cache;
};

} // namespace zel
