#pragma once
// CAudioParamFilterDef and CAudioParamFilter: the common part of the parameter filters, which
// turn a few source parameters into destination parameters (often one value per band).
//
// CAudioParamFilterDef is the validated shape of a filter: its source and destination lists,
// parsed from comma-separated parameter names ("env-threshold,freqs") and checked against the
// counts the filter's kind accepts. An empty name leaves a place unconnected (",freqs"); each
// kind says which sources must be named. It holds names only, no parameter.
//
// CAudioParamFilter is the base of the filter objects created from the description. Attributes:
//   "sources"       comma-separated source parameter names, in the kind's order
//   "destinations"  comma-separated destination parameter names, in the kind's order
// The lists are validated in init. A filter does nothing until it is connected to live
// parameters: either by path through the parameter collector (a name with a leading "/" is a
// full path, any other name is relative to the scope path given) or by handing it the
// parameters. Once connected it listens to its sources and recomputes every destination group
// whenever a source changes (and once at connection), on the thread that made the change.
//
// Destination group g is computed from source group g (a single-group source serves every
// group). Scratch lists are kept between recomputations, so a recomputation allocates only when
// a band count grows. A recomputation that fails (a destination of the wrong shape, say) is
// logged and kept for takeLastError(); destinations already written stay written.
//
// The filter also watches its parameters' destruction and forgets a parameter that goes away
// (a lost source counts as unconnected, a lost destination is no longer written). It does not
// own parameters.

#include "Audio/AudioParam.h"
#include "Core/Object.h"
#include "Platform/CriticalSection.h"

#include <cstdint>
#include <span>
#include <vector>

namespace zel
{

class CAudioParamCollector;

// The list sizes a filter kind accepts.
struct CAudioParamFilterLimits
{
    std::size_t minSources = 1;
    std::size_t maxSources = 1;
    std::size_t minDestinations = 1;
    std::size_t maxDestinations = 1;
    // Bit i set: source i must be named (may not be left empty).
    std::uint32_t requiredSources = 0;
};

class CAudioParamFilterDef
{
public:
    // Splits a comma-separated list into names with surrounding blanks removed; an empty or
    // blank text is an empty list, and empty places between commas are kept as empty names.
    static std::vector<CText> splitNames(const CText& list);

    // Parses and validates both lists; the first failure is returned and leaves this
    // definition unchanged. ownerName is used for the error trail.
    CErrorPtr init(const CText& sources, const CText& destinations,
                   const CAudioParamFilterLimits& limits, std::string_view ownerName);

    const std::vector<CText>& sources() const { return m_sources; }
    const std::vector<CText>& destinations() const { return m_destinations; }

private:
    std::vector<CText> m_sources;
    std::vector<CText> m_destinations;
};

class CAudioParamFilter : public CObject, public CAudioParamListener
{
public:
    CAudioParamFilter() = default;
    ~CAudioParamFilter() override;

    // Registers "sources" and "destinations".
    static void registerClass(CClassInfo& info);
    CErrorPtr init() override;

    CErrorPtr onSources(const CText& value);
    CErrorPtr onDestinations(const CText& value);

    const CAudioParamFilterDef& def() const { return m_def; }
    // The list sizes this kind accepts.
    virtual CAudioParamFilterLimits limits() const = 0;

    // Finds every named parameter in the collector (see the class comment for the path rule)
    // and connects to them; an unknown name fails and leaves the filter as it was.
    CErrorPtr connect(const CAudioParamCollector& collector, const CText& scopePath);
    // Connects to the parameters given, in the lists' order. The counts must equal the lists'
    // sizes; null leaves a place unconnected, which a required source may not be. Computes
    // once; when that computation fails its error is returned and the filter stays connected.
    CErrorPtr connect(std::span<CAudioParam* const> sources,
                      std::span<CAudioParam* const> destinations);
    // Stops listening and forgets the parameters.
    void disconnect();
    bool isConnected() const;

    // Computes every destination group now.
    CErrorPtr recompute();
    // The error of the last recomputation that a source change started (null when it went
    // well); taking it clears it.
    CErrorPtr takeLastError();

    // CAudioParamListener
    void onAudioParamChanged(CAudioParam& param, std::int32_t group, std::int32_t origin) override;
    void onAudioParamDestroyed(CAudioParam& param) override;

protected:
    // Computes and writes destination group `group`; called with the filter's lock held.
    virtual CErrorPtr computeGroup(std::int32_t group) = 0;

    // ---- For computeGroup ----
    CAudioParam* source(std::size_t index) const;
    CAudioParam* destination(std::size_t index) const;
    // The first value of a source group, or fallback when the source is not connected or holds
    // no value.
    double sourceValue(std::size_t index, std::int32_t group, double fallback) const;
    // Copies a source group's values into out (reusing its storage); false when the source is
    // not connected (out is then empty).
    bool readSource(std::size_t index, std::int32_t group, std::vector<double>& out) const;
    // Writes a destination group (destinations hold one value per element); nothing when the
    // destination is not connected or has no such group.
    CErrorPtr writeDestination(std::size_t index, std::int32_t group,
                               std::span<const double> values);

private:
    void stopListening();

    CAudioParamFilterDef m_def;
    CText m_sourcesText;
    CText m_destinationsText;

    mutable CCriticalSection m_lock;
    std::vector<CAudioParam*> m_sources;
    std::vector<CAudioParam*> m_destinations;
    // Every distinct parameter listened to (sources and destinations).
    std::vector<CAudioParam*> m_listened;
    bool m_computing = false;
    CErrorPtr m_lastError;
};

} // namespace zel
