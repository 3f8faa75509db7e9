// CObject: attribute references, live bindings and attribute reads.

#include "Core/Log.h"
#include "Core/Object.h"

#include <algorithm>
#include <string>

namespace zel
{
namespace
{
// Evaluation steps of one value; a guard against values that keep producing references.
constexpr int kMaxReferenceSteps = 256;
// Longest text an evaluated value may reach. References that repeat a value (an ancestor's
// "{/^}{/^}" at every level) would otherwise double it from object to object.
constexpr std::size_t kMaxValueUnits = std::size_t{1} << 20;
// Nesting of live-binding updates; a guard against bindings that feed each other.
constexpr int kMaxBindingDepth = 16;
thread_local int t_bindingDepth = 0;

// Splits "path name" at the first space; without a space the name is the default.
void splitPathAndName(const CText& rest, const CText& defaultName, CText& path, CText& name)
{
    const std::size_t space = rest.find(u' ');
    if (space == CText::npos)
    {
        path = rest;
        name = defaultName;
    }
    else
    {
        path = rest.substr(0, space);
        name = rest.substr(space + 1);
    }
}
} // namespace

CErrorPtr CObject::setAttribute(const CText& name, const CText& text)
{
    if (m_readOnly || name.empty())
        return nullptr;
    // While init applies a template's attributes, values the element gave stay.
    if (m_elementAttributes != nullptr && m_elementAttributes->count(name) != 0)
        return nullptr;
    dropBindingsFor(name);
    CText value = text;
    ZEL_TRY(evaluateReferences(name, value), m_fullName.toUtf8());
    storeAttribute(name, value);
    if (CAttributeHandlerFn handler = classInfo().findAttribute(name))
        ZEL_TRY(handler(*this, value), m_fullName.toUtf8());
    updateAttributeListeners(name);
    return nullptr;
}

void CObject::setAttributeRaw(const CText& name, const CText& text)
{
    storeAttribute(name, text);
}

void CObject::storeAttribute(const CText& name, const CText& text)
{
    const auto it = m_attributes.find(name);
    if (it != m_attributes.end())
        it->second.setText(text);
    else
        m_attributes.emplace(name, CAttrValue(text));
}

CErrorPtr CObject::evaluateReferences(const CText& name, CText& text)
{
    const CText rawText = text;
    for (int step = 0; step < kMaxReferenceSteps; ++step)
    {
        const std::size_t open = text.rfind(u'{');
        if (open == CText::npos)
            break;
        const std::size_t close = text.find(u'}', open + 1);
        if (close == CText::npos)
            break;
        const CText inner = text.substr(open + 1, close - open - 1);
        const std::size_t question = inner.find(u'?');
        const CText expr = question == CText::npos ? inner : inner.substr(0, question);
        bool found = false;
        CText result;
        ZEL_TRY(evaluateReference(name, rawText, expr, found, result), m_fullName.toUtf8());
        if (!found)
            result = question == CText::npos ? CText() : inner.substr(question + 1);
        if (open + result.size() + (text.size() - close - 1) > kMaxValueUnits)
            return ZEL_ERROR(m_fullName.toUtf8(), "zelstr_CObject_setAttribute_TooLong",
                             "Value of attribute '%1' grows beyond %2 characters.",
                             {name.toUtf8(), std::to_string(kMaxValueUnits)});
        CText next = text.substr(0, open);
        next += result;
        next += text.substr(close + 1);
        text = std::move(next);
    }
    return nullptr;
}

CErrorPtr CObject::evaluateReference(const CText& name, const CText& rawText, const CText& expr,
                                     bool& found, CText& result)
{
    const CAttrValue* value = nullptr;
    if (expr.empty())
        value = findAttribute(name, EAttrLookup::kInherited);
    else if (expr[0] == u'@')
        value = findAttribute(expr.substr(1), EAttrLookup::kOwn);
    else if (expr[0] == u'/')
    {
        CText path, sourceName;
        splitPathAndName(expr.substr(1), name, path, sourceName);
        if (const CObject* source = findObject(path))
            value = source->findAttribute(sourceName, EAttrLookup::kInherited);
    }
    else if (expr[0] == u'*' && expr.size() > 1 && expr[1] == u'/')
    {
        CText path, sourceName;
        splitPathAndName(expr.substr(2), name, path, sourceName);
        CObject* source = findObject(path);
        if (source == nullptr)
            return ZEL_ERROR(m_fullName.toUtf8(), "zelstr_CObject_setAttribute_BindingNoSource",
                             "Live binding source '%1' not found.", {path.toUtf8()});
        if (source == this)
            return ZEL_ERROR(m_fullName.toUtf8(), "zelstr_CObject_setAttribute_BindingSelf",
                             "Live binding of '%1' refers to the object itself.", {name.toUtf8()});
        if (source->isReadOnly())
            return ZEL_ERROR(m_fullName.toUtf8(), "zelstr_CObject_setAttribute_BindingReadOnly",
                             "Live binding source '%1' is read-only.",
                             {source->m_fullName.toUtf8()});
        source->m_attrListeners[sourceName].push_back(CAttrListener{this, name});
        ++source->m_attrListenerCount;
        m_bindingsHeld.push_back(CBindingHeld{source, sourceName, name, rawText});
        value = source->findAttribute(sourceName, EAttrLookup::kInherited);
    }
    else
        value = findAttribute(expr, EAttrLookup::kInherited);
    found = value != nullptr;
    if (found)
        result = value->text();
    return nullptr;
}

void CObject::updateAttributeListeners(const CText& name)
{
    const auto it = m_attrListeners.find(name);
    if (it == m_attrListeners.end() || it->second.empty())
        return;
    if (t_bindingDepth >= kMaxBindingDepth)
    {
        diagLog("Live binding updates of '" + m_fullName.toUtf8() + "' nested too deep; '" +
                name.toUtf8() + "' not propagated.");
        return;
    }
    struct CDepthGuard
    {
        CDepthGuard() { ++t_bindingDepth; }
        ~CDepthGuard() { --t_bindingDepth; }
        CDepthGuard(const CDepthGuard&) = delete;
        CDepthGuard& operator=(const CDepthGuard&) = delete;
    } guard;

    // Listeners re-register while they are updated, so work on a copy and check each entry is
    // still registered before serving it.
    const std::vector<CAttrListener> listeners = it->second;
    std::set<std::pair<CObject*, CText>> served;
    for (const CAttrListener& entry : listeners)
    {
        if (!served.insert({entry.listener, entry.listenerAttr}).second)
            continue;
        const auto current = m_attrListeners.find(name);
        if (current == m_attrListeners.end())
            break;
        const bool registered = std::any_of(current->second.begin(), current->second.end(),
                                            [&](const CAttrListener& l) {
                                                return l.listener == entry.listener &&
                                                       l.listenerAttr == entry.listenerAttr;
                                            });
        if (!registered)
            continue;
        CText rawText;
        bool haveRaw = false;
        for (const CBindingHeld& binding : entry.listener->m_bindingsHeld)
            if (binding.source == this && binding.sourceAttr == name &&
                binding.ownAttr == entry.listenerAttr)
            {
                rawText = binding.rawText;
                haveRaw = true;
                break;
            }
        if (!haveRaw)
            continue;
        // A listener's failure is its own: it does not undo the change of the source.
        if (CErrorPtr err = entry.listener->setAttribute(entry.listenerAttr, rawText))
            diagLog(err->details());
    }
}

void CObject::dropBindingsFor(const CText& ownAttr)
{
    for (auto it = m_bindingsHeld.begin(); it != m_bindingsHeld.end();)
    {
        if (it->ownAttr != ownAttr)
        {
            ++it;
            continue;
        }
        CObject* source = it->source;
        const auto listIt = source->m_attrListeners.find(it->sourceAttr);
        if (listIt != source->m_attrListeners.end())
        {
            auto& list = listIt->second;
            const auto found =
                std::find_if(list.begin(), list.end(),
                             [&](const CAttrListener& l)
                             { return l.listener == this && l.listenerAttr == ownAttr; });
            if (found != list.end())
            {
                list.erase(found);
                --source->m_attrListenerCount;
            }
            if (list.empty())
                source->m_attrListeners.erase(listIt);
        }
        it = m_bindingsHeld.erase(it);
    }
}

void CObject::removeAllBindings()
{
    // Bindings this object holds on others.
    while (!m_bindingsHeld.empty())
        dropBindingsFor(m_bindingsHeld.front().ownAttr);
    // Objects bound to this object's attributes forget their bindings.
    for (const auto& listeners : m_attrListeners)
        for (const CAttrListener& entry : listeners.second)
        {
            const CText& sourceAttr = listeners.first;
            auto& held = entry.listener->m_bindingsHeld;
            held.erase(std::remove_if(held.begin(), held.end(),
                                      [&](const CBindingHeld& b)
                                      { return b.source == this && b.sourceAttr == sourceAttr; }),
                       held.end());
        }
    m_attrListeners.clear();
    m_attrListenerCount = 0;
}

// ---- Reads ----

const CAttrValue* CObject::findAttribute(const CText& name, EAttrLookup lookup) const
{
    for (const CObject* object = this; object != nullptr;
         object = lookup == EAttrLookup::kInherited ? object->m_parent : nullptr)
    {
        const auto it = object->m_attributes.find(name);
        if (it != object->m_attributes.end())
            return &it->second;
    }
    return nullptr;
}

CText CObject::attribute(const CText& name, const CText& defaultValue) const
{
    const CAttrValue* value = findAttribute(name, EAttrLookup::kOwn);
    return value != nullptr ? value->text() : defaultValue;
}

CText CObject::inheritedAttribute(const CText& name, const CText& defaultValue) const
{
    const CAttrValue* value = findAttribute(name, EAttrLookup::kInherited);
    return value != nullptr ? value->text() : defaultValue;
}

std::optional<std::int64_t> CObject::attributeInt(const CText& name, EAttrLookup lookup) const
{
    const CAttrValue* value = findAttribute(name, lookup);
    const CAttrCache* cache = value != nullptr ? value->typed(kAttrInteger) : nullptr;
    if (cache == nullptr)
        return std::nullopt;
    return cache->integer;
}

std::optional<bool> CObject::attributeBool(const CText& name, EAttrLookup lookup) const
{
    const CAttrValue* value = findAttribute(name, lookup);
    const CAttrCache* cache = value != nullptr ? value->typed(kAttrBoolean) : nullptr;
    if (cache == nullptr)
        return std::nullopt;
    return cache->boolean;
}

std::optional<double> CObject::attributeFloat(const CText& name, EAttrLookup lookup) const
{
    const CAttrValue* value = findAttribute(name, lookup);
    const CAttrCache* cache = value != nullptr ? value->typed(kAttrFloat) : nullptr;
    if (cache == nullptr)
        return std::nullopt;
    return cache->real;
}

CObject* CObject::attributeObject(const CText& name, EAttrLookup lookup) const
{
    const CAttrValue* value = findAttribute(name, lookup);
    if (value == nullptr || value->typed(kAttrObjectPath) == nullptr)
        return nullptr;
    return findObject(value->text());
}

} // namespace zel
