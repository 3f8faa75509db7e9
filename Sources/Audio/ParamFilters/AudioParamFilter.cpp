#include "Audio/ParamFilters/AudioParamFilter.h"

#include "Audio/AudioParamCollector.h"
#include "Core/Log.h"

#include <algorithm>
#include <string>

namespace zel
{

// ---- CAudioParamFilterDef ----

std::vector<CText> CAudioParamFilterDef::splitNames(const CText& list)
{
    std::vector<CText> names;
    auto trimmed = [](const CText& text)
    {
        std::size_t begin = 0;
        std::size_t end = text.size();
        while (begin < end && (text[begin] == u' ' || text[begin] == u'\t'))
            ++begin;
        while (end > begin && (text[end - 1] == u' ' || text[end - 1] == u'\t'))
            --end;
        return text.substr(begin, end - begin);
    };
    if (trimmed(list).empty())
        return names;
    std::size_t start = 0;
    while (true)
    {
        const std::size_t comma = list.find(u',', start);
        names.push_back(
            trimmed(list.substr(start, comma == CText::npos ? CText::npos : comma - start)));
        if (comma == CText::npos)
            break;
        start = comma + 1;
    }
    return names;
}

CErrorPtr CAudioParamFilterDef::init(const CText& sources, const CText& destinations,
                                     const CAudioParamFilterLimits& limits,
                                     std::string_view ownerName)
{
    std::vector<CText> sourceNames = splitNames(sources);
    std::vector<CText> destinationNames = splitNames(destinations);
    const auto count = [](std::size_t n) { return std::to_string(n); };

    if (std::all_of(sourceNames.begin(), sourceNames.end(),
                    [](const CText& name) { return name.empty(); }))
        return ZEL_ERROR(ownerName, "zelstr_CAudioParamFilterDef_init_NoSources",
                         "No source parameters specified.");
    if (sourceNames.size() < limits.minSources)
        return ZEL_ERROR(ownerName, "zelstr_CAudioParamFilterDef_init_TooFewSources",
                         "Too few source parameters %1 (should be at least %2).",
                         {count(sourceNames.size()), count(limits.minSources)});
    if (sourceNames.size() > limits.maxSources)
        return ZEL_ERROR(ownerName, "zelstr_CAudioParamFilterDef_init_TooManySources",
                         "Too many source parameters %1 (should be at most %2).",
                         {count(sourceNames.size()), count(limits.maxSources)});
    for (std::size_t i = 0; i < sourceNames.size() && i < 32; ++i)
        if (sourceNames[i].empty() && (limits.requiredSources >> i & 1U) != 0)
            return ZEL_ERROR(ownerName, "zelstr_CAudioParamFilterDef_init_SourceMissing",
                             "Source parameter %1 is required but not named.", {count(i + 1)});

    if (std::all_of(destinationNames.begin(), destinationNames.end(),
                    [](const CText& name) { return name.empty(); }))
        return ZEL_ERROR(ownerName, "zelstr_CAudioParamFilterDef_init_NoDestinations",
                         "No destination parameters specified.");
    if (destinationNames.size() < limits.minDestinations)
        return ZEL_ERROR(ownerName, "zelstr_CAudioParamFilterDef_init_TooFewDestinations",
                         "Too few destination parameters %1 (should be at least %2).",
                         {count(destinationNames.size()), count(limits.minDestinations)});
    if (destinationNames.size() > limits.maxDestinations)
        return ZEL_ERROR(ownerName, "zelstr_CAudioParamFilterDef_init_TooManyDestinations",
                         "Too many destination parameters %1 (should be at most %2).",
                         {count(destinationNames.size()), count(limits.maxDestinations)});

    m_sources = std::move(sourceNames);
    m_destinations = std::move(destinationNames);
    return nullptr;
}

// ---- CAudioParamFilter ----

CAudioParamFilter::~CAudioParamFilter()
{
    disconnect();
}

void CAudioParamFilter::registerClass(CClassInfo& info)
{
    CObject::registerClass(info);
    info.attribute<&CAudioParamFilter::onSources>("sources");
    info.attribute<&CAudioParamFilter::onDestinations>("destinations");
}

CErrorPtr CAudioParamFilter::onSources(const CText& value)
{
    m_sourcesText = value;
    return nullptr;
}

CErrorPtr CAudioParamFilter::onDestinations(const CText& value)
{
    m_destinationsText = value;
    return nullptr;
}

CErrorPtr CAudioParamFilter::init()
{
    ZEL_TRY(CObject::init(), fullName().toUtf8());
    ZEL_TRY(m_def.init(m_sourcesText, m_destinationsText, limits(), fullName().toUtf8()),
            fullName().toUtf8());
    return nullptr;
}

CErrorPtr CAudioParamFilter::connect(const CAudioParamCollector& collector, const CText& scopePath)
{
    auto resolve = [&](const std::vector<CText>& names, std::vector<CAudioParam*>& out)
    {
        out.clear();
        for (const CText& name : names)
        {
            if (name.empty())
            {
                out.push_back(nullptr);
                continue;
            }
            CText path;
            if (name.startsWith("/"))
                path = name.substr(1);
            else if (scopePath.empty())
                path = name;
            else
                path = scopePath + CText(".") + name;
            CAudioParam* param = collector.findParam(path);
            if (param == nullptr)
                return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioParamFilter_connect_NotFound",
                                 "Audio parameter '%1' not found.", {path.toUtf8()});
            out.push_back(param);
        }
        return CErrorPtr();
    };
    std::vector<CAudioParam*> sources;
    std::vector<CAudioParam*> destinations;
    ZEL_TRY(resolve(m_def.sources(), sources), fullName().toUtf8());
    ZEL_TRY(resolve(m_def.destinations(), destinations), fullName().toUtf8());
    ZEL_TRY(connect(sources, destinations), fullName().toUtf8());
    return nullptr;
}

CErrorPtr CAudioParamFilter::connect(std::span<CAudioParam* const> sources,
                                     std::span<CAudioParam* const> destinations)
{
    const auto count = [](std::size_t n) { return std::to_string(n); };
    if (sources.size() != m_def.sources().size() ||
        destinations.size() != m_def.destinations().size())
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioParamFilter_connect_Count",
                         "Filter '%1' was given %2 parameters (expects %3).",
                         {fullName().toUtf8(), count(sources.size() + destinations.size()),
                          count(m_def.sources().size() + m_def.destinations().size())});
    const std::uint32_t required = limits().requiredSources;
    for (std::size_t i = 0; i < sources.size() && i < 32; ++i)
        if (sources[i] == nullptr && (required >> i & 1U) != 0)
            return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioParamFilter_connect_Missing",
                             "Source parameter %1 of filter '%2' is not connected.",
                             {count(i + 1), fullName().toUtf8()});

    disconnect();
    std::vector<CAudioParam*> listened;
    for (auto list : {sources, destinations})
        for (CAudioParam* param : list)
            if (param != nullptr &&
                std::find(listened.begin(), listened.end(), param) == listened.end())
                listened.push_back(param);
    {
        CCriticalSectionLock guard(m_lock);
        m_sources.assign(sources.begin(), sources.end());
        m_destinations.assign(destinations.begin(), destinations.end());
        m_listened = listened;
    }
    for (CAudioParam* param : listened)
        param->addListener(this, true);
    ZEL_TRY(recompute(), fullName().toUtf8());
    return nullptr;
}

void CAudioParamFilter::stopListening()
{
    std::vector<CAudioParam*> listened;
    {
        CCriticalSectionLock guard(m_lock);
        listened.swap(m_listened);
        m_sources.clear();
        m_destinations.clear();
    }
    for (CAudioParam* param : listened)
        param->removeListener(this);
}

void CAudioParamFilter::disconnect()
{
    stopListening();
}

bool CAudioParamFilter::isConnected() const
{
    CCriticalSectionLock guard(m_lock);
    return !m_listened.empty();
}

CErrorPtr CAudioParamFilter::recompute()
{
    CCriticalSectionLock guard(m_lock);
    // A destination that feeds back into a source would recurse; the nested change is dropped.
    if (m_computing)
        return nullptr;
    m_computing = true;
    std::int32_t groups = 0;
    for (CAudioParam* param : m_destinations)
        if (param != nullptr)
            groups = std::max(groups, param->groupCount());
    CErrorPtr err;
    for (std::int32_t group = 0; group < groups && !err; ++group)
        err = computeGroup(group);
    m_computing = false;
    if (err)
        return ZEL_PASS(std::move(err), fullName().toUtf8());
    return nullptr;
}

CErrorPtr CAudioParamFilter::takeLastError()
{
    CCriticalSectionLock guard(m_lock);
    return std::move(m_lastError);
}

void CAudioParamFilter::onAudioParamChanged(CAudioParam& param, std::int32_t group,
                                            std::int32_t origin)
{
    (void)group;
    (void)origin;
    CCriticalSectionLock guard(m_lock);
    if (m_computing || std::find(m_sources.begin(), m_sources.end(), &param) == m_sources.end())
        return;
    CErrorPtr err = recompute();
    if (err)
        diagLog("Parameter filter '" + fullName().toUtf8() + "': " + err->text());
    m_lastError = std::move(err);
}

void CAudioParamFilter::onAudioParamDestroyed(CAudioParam& param)
{
    CCriticalSectionLock guard(m_lock);
    std::replace(m_sources.begin(), m_sources.end(), &param, static_cast<CAudioParam*>(nullptr));
    std::replace(m_destinations.begin(), m_destinations.end(), &param,
                 static_cast<CAudioParam*>(nullptr));
    m_listened.erase(std::remove(m_listened.begin(), m_listened.end(), &param), m_listened.end());
}

// ---- Helpers for the kinds ----

CAudioParam* CAudioParamFilter::source(std::size_t index) const
{
    return index < m_sources.size() ? m_sources[index] : nullptr;
}

CAudioParam* CAudioParamFilter::destination(std::size_t index) const
{
    return index < m_destinations.size() ? m_destinations[index] : nullptr;
}

double CAudioParamFilter::sourceValue(std::size_t index, std::int32_t group, double fallback) const
{
    const CAudioParam* param = source(index);
    if (param == nullptr)
        return fallback;
    CCriticalSectionLock guard(param->lock());
    const auto& groups = param->storage().groups;
    if (groups.empty())
        return fallback;
    const auto& values =
        groups[std::min(static_cast<std::size_t>(std::max(group, 0)), groups.size() - 1)];
    return values.empty() ? fallback : values[0];
}

bool CAudioParamFilter::readSource(std::size_t index, std::int32_t group,
                                   std::vector<double>& out) const
{
    out.clear();
    const CAudioParam* param = source(index);
    if (param == nullptr)
        return false;
    CCriticalSectionLock guard(param->lock());
    const auto& groups = param->storage().groups;
    if (!groups.empty())
    {
        const auto& values =
            groups[std::min(static_cast<std::size_t>(std::max(group, 0)), groups.size() - 1)];
        out.assign(values.begin(), values.end());
    }
    return true;
}

CErrorPtr CAudioParamFilter::writeDestination(std::size_t index, std::int32_t group,
                                              std::span<const double> values)
{
    CAudioParam* param = destination(index);
    if (param == nullptr || group >= param->groupCount())
        return nullptr;
    if (param->info().elementSize != 1)
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioParamFilter_writeDestination_Shape",
                         "Destination parameter '%1' must hold one value per element.",
                         {param->info().paramName.toUtf8()});
    ZEL_TRY(param->assignElements(group, values), fullName().toUtf8());
    return nullptr;
}

} // namespace zel
