#include "Core/Attribute.h"

#include "Core/Numbers.h"

namespace zel
{
namespace
{
bool convertText(const CText&, CAttrCache&)
{
    return true;
}
bool convertInteger(const CText& text, CAttrCache& cache)
{
    return parseInteger(text, cache.integer);
}
bool convertBoolean(const CText& text, CAttrCache& cache)
{
    return parseBoolean(text, cache.boolean);
}
bool convertFloat(const CText& text, CAttrCache& cache)
{
    return parseNumber(text, cache.real);
}
bool convertObjectPath(const CText& text, CAttrCache&)
{
    return !text.empty();
}

// Indexed by EAttrType.
constexpr CAttrTypeOps kTypeOps[kAttrTypeCount] = {
    {"text", &convertText},
    {"integer", &convertInteger},
    {"boolean", &convertBoolean},
    {"floating-point", &convertFloat},
    {"object path", &convertObjectPath},
};
} // namespace

const CAttrTypeOps& attrTypeOps(EAttrType type)
{
    return kTypeOps[type < kAttrTypeCount ? type : kAttrText];
}

const CAttrCache* CAttrValue::typed(EAttrType type) const
{
    if ((m_cache.flags & kAttrCacheFilled) == 0 || m_cache.typeIndex != type)
    {
        CAttrCache fresh;
        fresh.typeIndex = type;
        fresh.flags = kAttrCacheFilled;
        if (!attrTypeOps(type).convert(m_text, fresh))
            fresh.flags |= kAttrCacheInvalid;
        m_cache = fresh;
    }
    return (m_cache.flags & kAttrCacheInvalid) != 0 ? nullptr : &m_cache;
}

} // namespace zel
