// CObject: path resolution and child selection.

#include "Core/ApplicationAccess.h"
#include "Core/Numbers.h"
#include "Core/Object.h"

namespace zel
{

CObject* CObject::findObject(const CText& path) const
{
    CObject* const origin = const_cast<CObject*>(this);
    const std::size_t n = path.size();
    CObject* current = nullptr;
    std::size_t start = 0;
    if (n == 0 || path[0] == u'.' || path[0] == u'^')
        current = origin;
    else if (path.startsWith("shared::"))
    {
        CApplicationAccess* application = CApplicationAccess::instance();
        current = application != nullptr ? application->sharedRoot() : nullptr;
        if (current == nullptr)
            return nullptr;
        start = 8;
    }
    else
        current = origin->m_root;

    // segment: first character of the name being collected since the last mark.
    std::size_t segment = start;
    for (std::size_t i = start; i < n; ++i)
    {
        const char16_t c = path[i];
        if (c == u'/')
        {
            current = origin->m_root;
            segment = i + 1;
        }
        else if (c == u'^')
        {
            current = current->m_parent;
            if (current == nullptr)
                return nullptr;
            if (i + 1 == n)
                return current;
            segment = i + 1;
        }
        else if (c == u'.')
        {
            if (i > segment)
            {
                current = current->findChild(path.substr(segment, i - segment));
                if (current == nullptr)
                    return nullptr;
            }
            else if (i + 1 == n)
                return current; // "." with an empty segment at the end: the current object
            segment = i + 1;
        }
    }
    if (segment >= n)
        return nullptr;
    return current->findChild(path.substr(segment));
}

CObject* CObject::findChild(const CText& selector) const
{
    const std::size_t hash = selector.rfind(u'#');
    const CText name = hash == CText::npos ? selector : selector.substr(0, hash);
    const auto slotIt = m_children.find(name);
    if (slotIt == m_children.end() || slotIt->second.byOrdinal.empty())
        return nullptr;
    const auto& byOrdinal = slotIt->second.byOrdinal;
    if (hash == CText::npos)
        return byOrdinal.begin()->second.get();

    const CText part = selector.substr(hash + 1);
    const bool fromLowest = !part.empty() && part[0] == u'+';
    const bool fromHighest = !part.empty() && part[0] == u'-';
    std::int32_t number = 0;
    if (fromLowest || fromHighest)
    {
        // A failed parse counts as 0: the first (or last) child.
        if (!parseInteger32(part.substr(1), number))
            number = 0;
        if (number < 0 || static_cast<std::size_t>(number) >= byOrdinal.size())
            return nullptr;
        if (fromLowest)
            return std::next(byOrdinal.begin(), number)->second.get();
        return std::next(byOrdinal.rbegin(), number)->second.get();
    }
    if (!parseInteger32(part, number))
        number = 0;
    const auto it = byOrdinal.find(number);
    return it == byOrdinal.end() ? nullptr : it->second.get();
}

CText CObject::absolutePath() const
{
    CApplicationAccess* application = CApplicationAccess::instance();
    const bool shared = application != nullptr && application->sharedRoot() == m_root;
    CText path(shared ? "shared::" : "/");
    if (m_parent == nullptr)
    {
        path += u'.';
        return path;
    }
    std::vector<const CObject*> chain;
    for (const CObject* object = this; object->m_parent != nullptr; object = object->m_parent)
        chain.push_back(object);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
    {
        if (it != chain.rbegin())
            path += u'.';
        path += (*it)->m_name;
    }
    return path;
}

} // namespace zel
