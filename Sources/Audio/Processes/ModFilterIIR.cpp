#include "Audio/Processes/ModFilterIIR.h"

#include "Audio/DCDAWContext.h"
#include "Audio/Kernels/DCDAWFilterKernels.h"

#include <cmath>
#include <cstring>
#include <string>

namespace zel
{

namespace
{

constexpr std::array<double, 5> kIdentity{1.0, 0.0, 0.0, 0.0, 0.0};
constexpr std::uint32_t kStateBytes = CDCDAWBiquadState::kSize * 8u;
constexpr std::uint32_t kCoeffBytes = CAudioFilterDesign::kMaxHalfBandOrder * 8u;

std::int32_t roundIndex(double value)
{
    const double r = std::round(value); // half away from zero
    if (!(r > -2147483648.0 && r < 2147483647.0))
        return -1;
    return static_cast<std::int32_t>(r);
}

bool sameRequest(const CAudioFilterRequest& a, const CAudioFilterRequest& b)
{
    return a.sampleRate == b.sampleRate && a.freq == b.freq && a.gain == b.gain && a.bw == b.bw &&
           a.length == b.length && a.power == b.power && a.index == b.index;
}

} // namespace

// ---- CModFilterIIRModule ----------------------------------------------------------------------

CErrorPtr CModFilterIIRModule::start(CAudioProcessTerminalBase& owner, std::int32_t channel)
{
    const char* where = "CModFilterIIRModule::start";
    m_def = dynamic_cast<const CModFilterIIRDef*>(owner.definition());
    if (m_def == nullptr)
        return ZEL_ERROR(where, "zelstr_CModFilterIIRModule_start_InvalidDef",
                         "Audio process def of invalid class supplied.", {});
    m_channel = channel < 0 ? 0 : channel;
    m_sampleRate = owner.sampleRate();
    m_fadeLength = CAudioCrossfade::lengthOf(*m_def);

    m_biqInit = findDCDAWKernel("DCDAW_fltbiqi");
    m_biqUpdate = findDCDAWKernel("DCDAW_fltbiqu");
    m_biqRun[static_cast<std::size_t>(EBiquadForm::kCommon)] =
        findDCDAWKernel("DCDAW_fltbiqcommon");
    m_biqRun[static_cast<std::size_t>(EBiquadForm::kLowPass)] = findDCDAWKernel("DCDAW_fltbiqlp");
    m_biqRun[static_cast<std::size_t>(EBiquadForm::kHighPass)] = findDCDAWKernel("DCDAW_fltbiqhp");
    m_biqRun[static_cast<std::size_t>(EBiquadForm::kBandPass)] = findDCDAWKernel("DCDAW_fltbiqbp");
    m_biqRun[static_cast<std::size_t>(EBiquadForm::kNotch)] = findDCDAWKernel("DCDAW_fltbiqnotch");
    m_fill0 = findDCDAWKernel("DCDAW_fill0");
    m_copy = findDCDAWKernel("DCDAW_copy");
    bool found = m_biqInit && m_biqUpdate && m_fill0 && m_copy;
    for (const CDCDAWKernel* k : m_biqRun)
        found = found && k != nullptr;
    for (std::size_t order = 2; order <= CAudioFilterDesign::kMaxHalfBandOrder; order += 2)
    {
        const std::string name = "DCDAW_flthbf" + std::to_string(order);
        m_hbfInit[order / 2] = findDCDAWKernel(name + "i");
        m_hbfRun[order / 2] = findDCDAWKernel(name);
        found = found && m_hbfInit[order / 2] && m_hbfRun[order / 2];
    }
    if (!found)
        return ZEL_ERROR(where, "zelstr_CModFilterIIRModule_start_NoKernel",
                         "The filter kernels are missing.", {});

    CDCDAWContextObject& ctx = owner.context();
    ZEL_TRY(ctx.takeBuffer(kCoeffBytes, m_coeffs), where);
    m_hasCoeffs = true;
    ZEL_TRY(makeRequest(owner, m_request), where);
    const CAudioFilterGen* gen = m_def->generator();
    if (gen == nullptr)
        return ZEL_ERROR(where, "zelstr_CModFilterIIRModule_start_NoGenerator",
                         "Filter generator '%1' not found.", {m_def->generatorPath().toUtf8()});
    ZEL_TRY(gen->design(m_request, m_design), where);
    ZEL_TRY(loadDesign(ctx, m_chain, m_design), where);
    return nullptr;
}

CErrorPtr CModFilterIIRModule::makeRequest(CAudioProcessTerminalBase& owner,
                                           CAudioFilterRequest& request) const
{
    request = m_def->baseRequest(m_sampleRate);
    if (owner.paramInput(kInputIndex).isBound())
        request.index = roundIndex(owner.paramValue(kInputIndex, m_channel, 0.0));
    if (owner.paramInput(kInputFreq).isBound())
        request.freq = owner.paramValue(kInputFreq, m_channel, 0.0);
    if (owner.paramInput(kInputGain).isBound())
        request.gain = owner.paramValue(kInputGain, m_channel, 1.0);
    if (owner.paramInput(kInputBw).isBound())
        request.bw = owner.paramValue(kInputBw, m_channel, 1.0);
    return nullptr;
}

CErrorPtr CModFilterIIRModule::update(CAudioProcessTerminalBase& owner)
{
    const char* where = "CModFilterIIRModule::update";
    CAudioFilterRequest request;
    ZEL_TRY(makeRequest(owner, request), where);
    if (sameRequest(request, m_request))
        return nullptr;
    const CAudioFilterGen* gen = m_def->generator();
    if (gen == nullptr)
        return ZEL_ERROR(where, "zelstr_CModFilterIIRModule_update_NoGenerator",
                         "Filter generator '%1' not found.", {m_def->generatorPath().toUtf8()});
    // A failed design keeps the running filter.
    ZEL_TRY(gen->design(request, m_design), where);
    m_request = request;

    CDCDAWContextObject& ctx = owner.context();
    const bool inPlace =
        m_design.kind == EFilterDesignKind::kBiquad && m_chain.kind == EFilterDesignKind::kBiquad;
    const bool unchangedHalfBand = m_design.kind == EFilterDesignKind::kHalfBand &&
                                   m_chain.kind == EFilterDesignKind::kHalfBand &&
                                   m_design.halfBandOrder == m_chain.halfBandOrder &&
                                   m_design.halfBand == m_chain.halfBand;
    if (inPlace)
        return retuneBiquads(ctx, m_chain, m_design);
    if (unchangedHalfBand ||
        (m_design.kind == EFilterDesignKind::kNone && m_chain.kind == EFilterDesignKind::kNone))
        return nullptr;

    // A structural change: the running chain fades out while a fresh one fades in. A change
    // during a fade drops the oldest chain.
    releaseChain(ctx, m_oldChain);
    m_oldChain = m_chain;
    m_chain = CChain();
    ZEL_TRY(loadDesign(ctx, m_chain, m_design), where);
    ZEL_TRY(m_fade.start(ctx, m_fadeLength, m_sampleRate), where);
    return nullptr;
}

CErrorPtr CModFilterIIRModule::writeCoeffs(CDCDAWContextObject& ctx, const double* values,
                                           std::size_t count)
{
    double* record = ctx.data(m_coeffs);
    if (record == nullptr)
        return ZEL_ERROR("CModFilterIIRModule::writeCoeffs",
                         "zelstr_CModFilterIIRModule_writeCoeffs_NoRecord",
                         "The coefficient record is missing.", {});
    std::memcpy(record, values, count * sizeof(double));
    return nullptr;
}

CErrorPtr CModFilterIIRModule::addSection(CDCDAWContextObject& ctx, CChain& chain,
                                          const CBiquadSection& section)
{
    const char* where = "CModFilterIIRModule::addSection";
    CSection& s = chain.sections[chain.count];
    ZEL_TRY(ctx.takeBuffer(kStateBytes, s.state), where);
    ++chain.count;
    s.coeffs = section.coeffs;
    s.form = section.form;
    s.mixed = false;
    ZEL_TRY(writeCoeffs(ctx, s.coeffs.data(), s.coeffs.size()), where);
    ZEL_TRY(ctx.issue(*m_biqInit, 1, m_sampleRate, {s.state, m_coeffs}), where);
    return nullptr;
}

CErrorPtr CModFilterIIRModule::loadDesign(CDCDAWContextObject& ctx, CChain& chain,
                                          const CAudioFilterDesign& design)
{
    const char* where = "CModFilterIIRModule::loadDesign";
    chain.kind = design.kind;
    switch (design.kind)
    {
    case EFilterDesignKind::kNone:
        return nullptr;
    case EFilterDesignKind::kBiquad:
        for (std::size_t i = 0; i < design.sectionCount && i < design.sections.size(); ++i)
            ZEL_TRY(addSection(ctx, chain, design.sections[i]), where);
        return nullptr;
    case EFilterDesignKind::kHalfBand:
    {
        const std::size_t order = design.halfBandOrder;
        if (order < 2 || order > CAudioFilterDesign::kMaxHalfBandOrder || order % 2 != 0)
            return ZEL_ERROR(where, "zelstr_CModFilterIIRModule_loadDesign_HalfBandOrder",
                             "Unsupported half-band filter order %1.", {std::to_string(order)});
        const auto bytes =
            static_cast<std::uint32_t>(halfBandStateSize(static_cast<int>(order))) * 8u;
        ZEL_TRY(ctx.takeBuffer(bytes, chain.halfBandState), where);
        chain.halfBandOrder = order;
        chain.halfBand = design.halfBand;
        ZEL_TRY(writeCoeffs(ctx, design.halfBand.data(), order), where);
        ZEL_TRY(ctx.issue(*m_hbfInit[order / 2], 1, m_sampleRate, {chain.halfBandState, m_coeffs}),
                where);
        return nullptr;
    }
    case EFilterDesignKind::kFIR:
        break;
    }
    chain.kind = EFilterDesignKind::kNone;
    return ZEL_ERROR(where, "zelstr_CModFilterIIRModule_loadDesign_NotRecursive",
                     "Filter generator '%1' does not design a recursive filter.",
                     {m_def->generatorPath().toUtf8()});
}

CErrorPtr CModFilterIIRModule::retuneBiquads(CDCDAWContextObject& ctx, CChain& chain,
                                             const CAudioFilterDesign& design)
{
    const char* where = "CModFilterIIRModule::retuneBiquads";
    const std::size_t wanted = std::min(design.sectionCount, design.sections.size());
    // Stages the chain lacks start as identity sections and move to their target like the rest.
    while (chain.count < wanted)
    {
        CBiquadSection identity;
        identity.coeffs = kIdentity;
        identity.form = EBiquadForm::kCommon; // only the general shape is the identity
        ZEL_TRY(addSection(ctx, chain, identity), where);
    }
    for (std::size_t i = 0; i < chain.count; ++i)
    {
        CSection& s = chain.sections[i];
        std::array<double, 5> target = kIdentity;
        EBiquadForm form = EBiquadForm::kCommon;
        if (i < wanted)
        {
            target = design.sections[i].coeffs;
            form = design.sections[i].form;
        }
        if (target == s.coeffs)
            continue;
        if (s.skipped)
        {
            // A resting identity section was not run: restart it from silence so that the
            // new filter does not inherit a stale history.
            ZEL_TRY(writeCoeffs(ctx, kIdentity.data(), kIdentity.size()), where);
            ZEL_TRY(ctx.issue(*m_biqInit, 1, m_sampleRate, {s.state, m_coeffs}), where);
            s.skipped = false;
        }
        ZEL_TRY(writeCoeffs(ctx, target.data(), target.size()), where);
        ZEL_TRY(ctx.issue(*m_biqUpdate, 1, m_sampleRate, {s.state, m_coeffs}), where);
        if (form != s.form)
            s.mixed = true;
        s.coeffs = target;
        s.form = form;
    }
    return nullptr;
}

bool CModFilterIIRModule::sectionIdle(CDCDAWContextObject& ctx, const CSection& section) const
{
    const double* state = ctx.data(section.state);
    return state != nullptr && CDCDAWBiquadState::remaining(state) <= 0 &&
           state[CDCDAWBiquadState::kPending] == 0.0;
}

bool CModFilterIIRModule::isIdentity(CDCDAWContextObject& ctx, CChain& chain) const
{
    if (chain.kind == EFilterDesignKind::kHalfBand)
        return false;
    for (std::size_t i = 0; i < chain.count; ++i)
    {
        const CSection& s = chain.sections[i];
        if (s.coeffs != kIdentity || !sectionIdle(ctx, s))
            return false;
    }
    return true;
}

CErrorPtr CModFilterIIRModule::runChain(CDCDAWContextObject& ctx, CChain& chain, std::int32_t n,
                                        std::uint32_t out, std::uint32_t in, bool& issued)
{
    const char* where = "CModFilterIIRModule::runChain";
    issued = false;
    if (chain.kind == EFilterDesignKind::kHalfBand)
    {
        ZEL_TRY(
            ctx.issue(*m_hbfRun[chain.halfBandOrder / 2], n, 0.0, {out, chain.halfBandState, in}),
            where);
        issued = true;
        return nullptr;
    }
    for (std::size_t i = 0; i < chain.count; ++i)
    {
        CSection& s = chain.sections[i];
        const bool idle = sectionIdle(ctx, s);
        if (idle)
        {
            s.mixed = false;
            if (s.coeffs == kIdentity)
            {
                s.skipped = true; // an identity section at rest changes nothing
                continue;
            }
        }
        s.skipped = false;
        const EBiquadForm form = s.mixed ? EBiquadForm::kCommon : s.form;
        ZEL_TRY(ctx.issue(*m_biqRun[static_cast<std::size_t>(form)], n, 0.0,
                          {out, s.state, issued ? out : in}),
                where);
        issued = true;
    }
    return nullptr;
}

CErrorPtr CModFilterIIRModule::process(CAudioModuleBlock& block)
{
    const char* where = "CModFilterIIRModule::process";
    CDCDAWContextObject& ctx = block.context();
    const std::int32_t n = block.length();
    std::uint32_t in = block.input(0);
    if (!m_fade.isRunning() && in != CAudioProcessBase::kNoInput && isIdentity(ctx, m_chain))
    {
        for (std::size_t i = 0; i < m_chain.count; ++i)
            m_chain.sections[i].skipped = true;
        return block.passInput(0, 0);
    }

    std::uint32_t out = 0;
    ZEL_TRY(block.output(0, out), where);
    if (in == CAudioProcessBase::kNoInput)
    {
        // Nothing connected: the filter runs on silence (its tail rings out).
        ZEL_TRY(block.issue(*m_fill0, 0.0, {out}), where);
        in = out;
    }
    if (!m_fade.isRunning())
    {
        bool issued = false;
        ZEL_TRY(runChain(ctx, m_chain, n, out, in, issued), where);
        if (!issued && out != in)
            ZEL_TRY(ctx.issue(*m_copy, n, 0.0, {out, in}), where);
        return nullptr;
    }

    const auto bytes = static_cast<std::uint32_t>(n) * 8u;
    std::uint32_t fresh = CAudioProcessBase::kNoInput, old = CAudioProcessBase::kNoInput;
    ZEL_TRY(ctx.takeBuffer(bytes, fresh), where);
    CErrorPtr err = ctx.takeBuffer(bytes, old);
    if (err)
        old = CAudioProcessBase::kNoInput;
    bool issued = false;
    if (!err)
        err = runChain(ctx, m_chain, n, fresh, in, issued);
    if (!err && !issued)
        err = ctx.issue(*m_copy, n, 0.0, {fresh, in});
    if (!err)
        err = runChain(ctx, m_oldChain, n, old, in, issued);
    if (!err && !issued)
        err = ctx.issue(*m_copy, n, 0.0, {old, in});
    if (!err)
        err = m_fade.run(ctx, n, out, fresh, old);
    (void)ctx.releaseReference(fresh);
    if (old != CAudioProcessBase::kNoInput)
        (void)ctx.releaseReference(old);
    if (!err && !m_fade.isRunning())
        releaseChain(ctx, m_oldChain);
    ZEL_TRY(std::move(err), where);
    return nullptr;
}

void CModFilterIIRModule::releaseChain(CDCDAWContextObject& ctx, CChain& chain)
{
    for (std::size_t i = 0; i < chain.count; ++i)
        (void)ctx.releaseReference(chain.sections[i].state);
    if (chain.kind == EFilterDesignKind::kHalfBand && chain.halfBandOrder != 0)
        (void)ctx.releaseReference(chain.halfBandState);
    chain = CChain();
}

void CModFilterIIRModule::stop(CAudioProcessTerminalBase& owner)
{
    CDCDAWContextObject& ctx = owner.context();
    releaseChain(ctx, m_chain);
    releaseChain(ctx, m_oldChain);
    m_fade.release(ctx);
    if (m_hasCoeffs)
        (void)ctx.releaseReference(m_coeffs);
    m_hasCoeffs = false;
}

// ---- CModFilterIIR / CModFilterIIRDef ---------------------------------------------------------

void CModFilterIIR::registerClass(CClassInfo& info)
{
    CAudioProcessTerminalBase::registerClass(info);
}

void CModFilterIIRDef::registerClass(CClassInfo& info)
{
    CModFilterDefBase::registerClass(info);
}

CErrorPtr CModFilterIIRDef::makeProcess(TObjectPtr<CAudioProcessBase>& process) const
{
    process = CObject::make<CModFilterIIR>();
    return nullptr;
}

} // namespace zel
