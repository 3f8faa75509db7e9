#include "Audio/AudioProcessMB.h"

#include "Audio/AudioProcess.h"
#include "Audio/AudioProcessDef.h"
#include "Audio/AudioProcessStack.h"

#include <algorithm>
#include <string>

namespace zel
{

namespace
{
constexpr const char* kSuffixes[CAudioProcessMB::kStageCount] = {".pre", ".lp", ".hp", ".mod"};
// Object names of the stages inside a band (object names carry no dots).
constexpr const char* kObjectNames[CAudioProcessMB::kStageCount] = {"pre", "lp", "hp", "mod"};
// Signal order of the filter stages in a band; the chain follows them.
constexpr CAudioProcessMB::EStage kFilterOrder[] = {CAudioProcessMB::kPre, CAudioProcessMB::kHP,
                                                    CAudioProcessMB::kLP};
} // namespace

void CAudioProcessMB::registerClass(CClassInfo& info)
{
    CAudioProcessReplicaBase::registerClass(info);
}

CErrorPtr CAudioProcessMB::initFromDef(const CAudioProcessDefBase& def,
                                       std::shared_ptr<const CAudioProcessSetup> setup,
                                       const CText& instancePath)
{
    if (dynamic_cast<const CAudioProcessDef*>(&def) == nullptr)
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioProcessMB_init_InvalidDef",
                         "Audio process def of invalid class supplied.");
    if (def.multibandFreqParam().empty())
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioProcessMB_init_NoFreqParam",
                         "No 'multiband-freq-param' attribute defined.");
    if (def.multibandCountParam().empty())
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioProcessMB_init_NoCountParam",
                         "No 'multiband-count-param' attribute defined.");
    ZEL_TRY(initCommon(def, std::move(setup), instancePath), fullName().toUtf8());
    if (this->setup().collector != nullptr)
    {
        ZEL_TRY(bindInput(m_freqInput, def.multibandFreqParam()), fullName().toUtf8());
        ZEL_TRY(bindInput(m_countInput, def.multibandCountParam()), fullName().toUtf8());
        m_freqInput.group0 = m_countInput.group0 = def.isGroup0();
    }

    const CText* names[kStageCount] = {&def.multibandPre(), &def.multibandLP(), &def.multibandHP(),
                                       nullptr};
    for (int stage = 0; stage < kStageCount; ++stage)
    {
        m_stageNames[stage] = plainName() + CText(kSuffixes[stage]);
        if (names[stage] == nullptr || names[stage]->empty())
            continue;
        const auto* found =
            dynamic_cast<const CAudioProcessDefBase*>(def.findObject(*names[stage]));
        if (found == nullptr)
            return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioProcessMB_init_InvalidFilterDef",
                             "Invalid multiband filter definition '%1' specified.",
                             {names[stage]->toUtf8()});
        m_stageDefs[stage] = found;
    }
    setFading(CAudioCrossfade::lengthOf(def));
    markLayoutDirty();
    return nullptr;
}

std::int32_t CAudioProcessMB::paramGroup() const
{
    return definition()->isGroup0() ? 0 : group();
}

std::int32_t CAudioProcessMB::walkBands(double count, std::span<const double> freqs,
                                        double sampleRate)
{
    return walkBands(
        count, static_cast<std::int32_t>(freqs.size()),
        [&](std::int32_t i) { return freqs[static_cast<std::size_t>(i)]; }, sampleRate);
}

std::int32_t CAudioProcessMB::wantedReplicas() const
{
    const std::int32_t g = paramGroup();
    const double count = m_countInput.value(g, 0, 0, 1.0);
    return walkBands(
        count, m_freqInput.elementCount(g),
        [&](std::int32_t i) { return m_freqInput.value(g, i, 0, 0.0); }, sampleRate());
}

CErrorPtr CAudioProcessMB::buildReplica(CAudioProcessReplica& band)
{
    const CText index(std::to_string(band.index()));
    // Every process of the band reads its band's entry of per-band lists.
    band.setElementOffset(band.index());
    for (const EStage stage : kFilterOrder)
    {
        if (m_stageDefs[stage] == nullptr)
            continue;
        CAudioProcessBase* made = nullptr;
        ZEL_TRY(band.addStage(*m_stageDefs[stage], kObjectNames[stage], sharedSetup(),
                              instancePath() + CText(kSuffixes[stage]) + CText(".") + index, false,
                              made),
                fullName().toUtf8());
    }
    CAudioProcessBase* chain = nullptr;
    ZEL_TRY(band.addStage(*definition(), kObjectNames[kMod], sharedSetup(),
                          instancePath() + CText(kSuffixes[kMod]) + CText(".") + index, true,
                          chain),
            fullName().toUtf8());
    chain->setGroup(group());
    return nullptr;
}

void CAudioProcessMB::wire()
{
    for (std::int32_t c = 0; c < channelCount(); ++c)
        for (std::int32_t b = 0; b < replicaCount(); ++b)
            link(faded(chain(sourceChannel(c), replica(b), c), replica(b), c), sinkChannel(c));
}

CErrorPtr CAudioProcessMB::applyParamChanges(std::int64_t position)
{
    while (CAudioParamChange* change = takeDueChange(position))
    {
        const bool count = m_countInput.apply(*change);
        const bool freqs = m_freqInput.apply(*change);
        if (count || freqs)
        {
            markInputsChanged();
            if (wantedReplicas() != bandCount())
                markLayoutDirty();
        }
        change->release();
    }
    return nullptr;
}

std::int32_t CAudioProcessMB::bandIndexOf(const CObject& process)
{
    return replicaIndexOf<CAudioProcessMB>(process);
}

double CAudioProcessMB::bandParamValue(const CAudioProcessBase& process, std::int32_t index,
                                       std::int32_t channel, double fallback)
{
    // The band's processes carry the band index as their element offset.
    return process.paramValue(index, channel, fallback);
}

CErrorPtr makeContainerProcess(const CAudioProcessDefBase& def,
                               TObjectPtr<CAudioProcessBase>& process)
{
    if (def.isMultiband())
        process = CObject::make<CAudioProcessMB>();
    else if (def.isStacked())
        process = CObject::make<CAudioProcessStack>();
    else
        process = CObject::make<CAudioProcess>();
    return nullptr;
}

} // namespace zel
