#pragma once
// CAudioProcessMB: the multiband process. A process definition with "is-multiband" runs its
// chain once per frequency band; the band count and the band split frequencies come from the
// parameters named by "multiband-count-param" and "multiband-freq-param" (both required).
//
// Each band is a replica (AudioProcessReplica.h) holding, in signal order, its own copies of
//   ".pre"  the definition named by "multiband-pre" (optional),
//   ".hp"   the definition named by "multiband-hp" (optional),
//   ".lp"   the definition named by "multiband-lp" (optional),
//   ".mod"  the multiband definition itself, built as a plain container (the band's chain);
// every band takes the process input through its own stages, and the band outputs are summed
// per channel into output port 0. The stage names are the process's own name with those
// suffixes; a stage's collector path is the process's path, the suffix, "." and the band index
// ("plugin.modMain.mb.lp.3"), so parameters declared inside a stage exist once per band.
// The filter definition names resolve from the multiband definition (".protLP" is its child
// protLP; other paths as object paths) and must name process definitions.
//
// Every process built inside a band (its stages and everything in them) has the band index as
// its element offset (AudioProcessBase.h), so a module reads its band's entry of a per-band
// parameter (one element per band) through the ordinary paramValue: for instance the split
// frequency through an "audio:param-remap" of its frequency input to the band frequency list.
// Parameters declared with a single element, and lists that hold one element, serve every
// band; a longer list that ends before a band's index gives that band the input's fallback.
//
// Band count: C = the count value (1.0 when the parameter has no value) rounded half away from
// zero. Walking the frequency list from one band and a previous frequency of 0, while fewer
// than C bands are counted: the next frequency ends the walk when it is at or above half the
// sample rate or below the previous one (equal is accepted), else it counts one more band;
// when the list runs out first, one more band is counted and the walk ends. An empty list gives
// one band. Both values are read in the process's group (group 0 with "is-group0").
// A change of either parameter re-walks before the next sub-block; the band list then changes
// only at its end: new bands are built, connected and started in index order, dropped bands
// (the highest first) are disconnected and destroyed, and the bands that stay keep running.
// Over "xfade-length" (inherited, at least 0.0001 s) a new band's output fades in from silence
// and a dropped band's output fades out before it is destroyed.

#include "Audio/AudioProcessReplica.h"

#include <cmath>
#include <span>

namespace zel
{

class CAudioProcessMB : public CAudioProcessReplicaBase
{
public:
    enum EStage
    {
        kPre = 0,
        kLP,
        kHP,
        kMod,
        kStageCount
    };

    static void registerClass(CClassInfo& info);

    // Fails with "Audio process def of invalid class supplied." for a definition that is not a
    // container definition, "No 'multiband-freq-param' attribute defined." and "No
    // 'multiband-count-param' attribute defined." for a missing parameter name, and "Invalid
    // multiband filter definition '%1' specified." for a filter name that names no process
    // definition.
    CErrorPtr initFromDef(const CAudioProcessDefBase& def,
                          std::shared_ptr<const CAudioProcessSetup> setup,
                          const CText& instancePath) override;
    CErrorPtr applyParamChanges(std::int64_t position) override;

    // The process's name with ".pre", ".lp", ".hp" or ".mod".
    const CText& stageName(EStage stage) const { return m_stageNames[stage]; }
    // The definition used for a filter stage; null when the stage is not used.
    const CAudioProcessDefBase* stageDef(EStage stage) const { return m_stageDefs[stage]; }
    // Bands that are not fading out.
    std::int32_t bandCount() const { return activeReplicaCount(); }
    // The band's chain (its ".mod" stage).
    CAudioProcessBase& bandChain(std::int32_t band) const { return replica(band).lastStage(); }

    // The band count that count and freqs give at the sample rate (see above).
    static std::int32_t walkBands(double count, std::span<const double> freqs, double sampleRate);
    template <class F>
    static std::int32_t walkBands(double count, std::int32_t freqCount, F freqAt,
                                  double sampleRate);

    // The band of the multiband process a process belongs to; -1 outside one.
    static std::int32_t bandIndexOf(const CObject& process);
    // A parameter input of process read at its band's element (element 0 outside a band);
    // the same as process.paramValue, kept for callers that want to say so.
    static double bandParamValue(const CAudioProcessBase& process, std::int32_t index,
                                 std::int32_t channel, double fallback);

protected:
    std::int32_t wantedReplicas() const override;
    CErrorPtr buildReplica(CAudioProcessReplica& replica) override;
    void wire() override;

private:
    std::int32_t paramGroup() const;

    CAudioParamInput m_countInput;
    CAudioParamInput m_freqInput;
    CText m_stageNames[kStageCount];
    const CAudioProcessDefBase* m_stageDefs[kStageCount] = {};
};

template <class F>
std::int32_t CAudioProcessMB::walkBands(double count, std::int32_t freqCount, F freqAt,
                                        double sampleRate)
{
    const double rounded = count < 0.0 ? -std::floor(-count + 0.5) : std::floor(count + 0.5);
    if (freqCount <= 0 || rounded <= 1.0)
        return 1;
    const double nyquist = sampleRate * 0.5;
    std::int32_t bands = 1;
    double previous = 0.0;
    std::int32_t next = 0;
    while (bands < rounded)
    {
        if (next >= freqCount)
            return bands + 1;
        const double f = freqAt(next++);
        if (f >= nyquist || f < previous)
            break;
        previous = f;
        ++bands;
    }
    return bands;
}

// The process class a container definition stands for: a multiband process for
// "is-multiband", a stack for "is-stacked", else a plain container.
CErrorPtr makeContainerProcess(const CAudioProcessDefBase& def,
                               TObjectPtr<CAudioProcessBase>& process);

} // namespace zel
