#pragma once
// CModMSMod ("audio:modMSMod", definition CModMSModDef, module CModMSModModule): mid/side
// weighting of the selected channel pairs with side mix and pan. Parameter inputs (binding
// indices; gains arrive as linear factors, "mix" and "pan" as fractions, switches on at 0.5):
//   0 "mode"  0 encode ("DCDAW_msmodenc"), 1 decode ("DCDAW_msmoddec"), 2 inline
//             ("DCDAW_msmodinl"); unbound: inline
//   1 "midgain"  2 "mid180"  3 "midmute"  4 "sidegain"  5 "side180"  6 "sidemute"
//   7 "mix" (unbound 0.5)  8 "pan" (-1 to 1)  9 "swap"
//   10 "pairs" (optional) the pair selection per group (ModMSPairs.h); unbound: every group
//             weights its first pair
// Every pair reads the settings of its own channel group (that of its first channel).
// Weights, with x = mix and C = cos(pi x): c0 = midgain (1 + C)(x + 0.5), c1 = sidegain (1 - C),
// zeroed by the mutes, negated by the polarity switches; each pair's live in a 16-byte record of
// one pool buffer (addressed by byte offset) that the kernels read, rewritten in place whenever
// an input changes. Inline with both weights
// within 0.0001 of 1 issues no mid/side kernel and passes the pair through. "swap" takes the
// pair's second channel first on its left/right side: the inputs of the encoder and of inline,
// the outputs of the decoder (so it mirrors the image in every mode). Pan p (|p| >= 0.0001) scales
// one channel of the pair by w = (1 + cos(pi |p|)) / 2: the first channel for p > 0 (the image
// moves towards the second), the second for p < 0. A change of mode, swap or pairs is structural
// and blended over "xfade-length"; weight and pan changes apply at once.
//
// One module instance drives all channels of the process (the first one).

#include "Audio/AudioProcessDef.h"
#include "Audio/AudioProcessTerminal.h"
#include "Audio/Processes/ModChannelFade.h"
#include "Audio/Processes/ModMSPairs.h"

#include <array>

namespace zel
{

class CModMSModModule : public CAudioModuleBase
{
public:
    enum EInput : std::int32_t
    {
        kMode = 0,
        kMidGain,
        kMid180,
        kMidMute,
        kSideGain,
        kSide180,
        kSideMute,
        kMix,
        kPan,
        kSwap,
        kPairs,
    };
    enum EMode : std::int32_t
    {
        kEncode = 0,
        kDecode = 1,
        kInline = 2,
    };

    struct CSettings
    {
        double midGain = 1.0;
        bool mid180 = false;
        bool midMute = false;
        double sideGain = 1.0;
        bool side180 = false;
        bool sideMute = false;
        double mix = 0.5;
    };
    // The mid weight c0 and the side weight c1 of the settings.
    static void weights(const CSettings& settings, double& c0, double& c1);

    CErrorPtr start(CAudioProcessTerminalBase& owner, std::int32_t channel) override;
    CErrorPtr update(CAudioProcessTerminalBase& owner) override;
    CErrorPtr process(CAudioModuleBlock& block) override;
    void stop(CAudioProcessTerminalBase& owner) override;

    // The settings of one pair, read in the group of the pair's first channel.
    struct CPairSettings
    {
        std::int32_t mode = kInline;
        bool swap = false;
        double c0 = 1.0;
        double c1 = 1.0;
        double pan = 0.0;
    };
    static constexpr std::int32_t kMaxPairs = CModMSPairs::kMaxChannels / 2;
    struct CConfig
    {
        CModMSPairs pairs;
        std::array<CPairSettings, kMaxPairs> pair{};
        // Same structure (pairs, modes, swaps): no blend needed between the two.
        bool sameStructure(const CConfig& other) const;
    };
    const CConfig& config() const { return m_config; }
    bool isFading() const { return m_fade.isRunning(); }

private:
    CConfig read(const CAudioProcessTerminalBase& owner) const;
    CErrorPtr render(CModChannelSink& sink, const CConfig& config, std::uint32_t weights) const;
    static void storeWeights(CDCDAWContextObject& context, std::uint32_t ref,
                             const CConfig& config);

    bool m_active = false;
    double m_fadeLength = 0.0;
    CConfig m_config;
    CConfig m_previous;
    std::uint32_t m_weights = 0xFFFFFFFFu;
    std::uint32_t m_previousWeights = 0xFFFFFFFFu;
    CModChannelFade m_fade;
    const CDCDAWKernel* m_kernels[3] = {};
    const CDCDAWKernel* m_mulc = nullptr;
    const CDCDAWKernel* m_mulci = nullptr;
};

class CModMSMod : public CAudioProcessTerminal<CModMSModModule>
{
public:
    static void registerClass(CClassInfo& info);
};

class CModMSModDef : public CAudioProcessDefBase
{
public:
    static void registerClass(CClassInfo& info);
    CErrorPtr makeProcess(TObjectPtr<CAudioProcessBase>& process) const override;
};

} // namespace zel
