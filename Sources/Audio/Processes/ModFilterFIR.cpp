#include "Audio/Processes/ModFilterFIR.h"

#include "Audio/DCDAWContext.h"
#include "Audio/Kernels/DCDAWRealDFT.h"
#include "Core/Numbers.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace zel
{

// ---- CModFilterFIRModule ----------------------------------------------------------------------

CErrorPtr CModFilterFIRModule::take(CDCDAWContextObject& ctx, std::int32_t doubles,
                                    std::uint32_t& ref)
{
    ZEL_TRY(ctx.takeBuffer(static_cast<std::uint32_t>(doubles) * 8u, ref),
            "CModFilterFIRModule::take");
    m_owned.push_back(ref);
    // Reused storage keeps what its last holder wrote.
    return ctx.issue(*m_fill0, doubles, 0.0, {ref});
}

CErrorPtr CModFilterFIRModule::start(CAudioProcessTerminalBase& owner, std::int32_t channel)
{
    (void)channel;
    const char* where = "CModFilterFIRModule::start";
    const auto* def = dynamic_cast<const CModFilterFIRDef*>(owner.definition());
    if (def == nullptr)
        return ZEL_ERROR(where, "zelstr_CModFilterFIRModule_start_InvalidDef",
                         "Audio process def of invalid class supplied.", {});
    m_acquire = findDCDAWKernel("DCDAW_convacquire");
    m_mult = findDCDAWKernel("DCDAW_convmult");
    m_multAdd = findDCDAWKernel("DCDAW_convmultadd");
    m_forward = findDCDAWKernel("DCDAW_rdftf");
    m_inverse = findDCDAWKernel("DCDAW_rdfti");
    m_copy = findDCDAWKernel("DCDAW_copy");
    m_fill0 = findDCDAWKernel("DCDAW_fill0");
    if (!m_acquire || !m_mult || !m_multAdd || !m_forward || !m_inverse || !m_copy || !m_fill0)
        return ZEL_ERROR(where, "zelstr_CModFilterFIRModule_start_NoKernel",
                         "The convolution kernels are missing.", {});

    CAudioFilterDesign design;
    ZEL_TRY(def->designTaps(owner.sampleRate(), design), where);
    const std::vector<double>& taps = design.taps;
    m_log2Half = def->partitionLog2(taps.size());
    m_half = std::int32_t{1} << m_log2Half;
    const std::int32_t frame = 2 * m_half;
    const auto half = static_cast<std::size_t>(m_half);
    const std::size_t partitions = (taps.size() + half - 1) / half;

    CDCDAWContextObject& ctx = owner.context();
    CDCDAWContextWorkspace* found = nullptr;
    ZEL_TRY(ctx.findOrCreateWorkspace(
                CDCDAWRealDFTWorkspace::kKey,
                [] { return std::make_unique<CDCDAWRealDFTWorkspace>(); }, found),
            where);
    auto* dft = dynamic_cast<CDCDAWRealDFTWorkspace*>(found);
    if (dft == nullptr)
        return ZEL_ERROR(where, "zelstr_CModFilterFIRModule_start_Workspace",
                         "The real DFT workspace has another class.", {});
    std::span<const double> tables;
    ZEL_TRY(dft->setup(m_log2Half + 1, tables), where);

    m_owned.reserve(5 + 2 * partitions);
    ZEL_TRY(take(ctx, static_cast<std::int32_t>(tables.size()), m_setup), where);
    std::memcpy(ctx.data(m_setup), tables.data(), tables.size() * sizeof(double));
    ZEL_TRY(take(ctx, frame, m_work), where);
    ZEL_TRY(take(ctx, m_half, m_input), where);
    ZEL_TRY(take(ctx, m_half, m_history), where);
    ZEL_TRY(take(ctx, frame, m_result), where);
    m_spectra.assign(partitions, 0);
    m_taps.assign(partitions, 0);
    for (std::size_t p = 0; p < partitions; ++p)
    {
        ZEL_TRY(take(ctx, frame, m_spectra[p]), where);
        ZEL_TRY(take(ctx, frame, m_taps[p]), where);
        // Partition p: taps [pB, pB + B) followed by B zeros, transformed once.
        const std::size_t first = p * half;
        const std::size_t count = std::min(half, taps.size() - first);
        std::memcpy(ctx.data(m_taps[p]), taps.data() + first, count * sizeof(double));
        ZEL_TRY(ctx.issue(*m_forward, frame, 0.0, {m_taps[p], m_setup, m_work}), where);
    }
    m_fill = 0;
    m_ring = 0;
    return nullptr;
}

CErrorPtr CModFilterFIRModule::convolveFrame(CDCDAWContextObject& ctx)
{
    const char* where = "CModFilterFIRModule::convolveFrame";
    const std::int32_t frame = 2 * m_half;
    const std::uint32_t spectrum = m_spectra[m_ring];
    ZEL_TRY(ctx.issue(*m_acquire, CDCDAWCall::packConvolutionCount(m_half, m_log2Half), 1.0,
                      {spectrum, m_history, m_input}),
            where);
    ZEL_TRY(ctx.issue(*m_forward, frame, 0.0, {spectrum, m_setup, m_work}), where);
    const std::int32_t bins = CDCDAWCall::packConvolutionCount(m_half + 1, m_log2Half);
    const std::size_t count = m_spectra.size();
    for (std::size_t p = 0; p < count; ++p)
    {
        // Partition p meets the frame p frames back.
        const std::uint32_t past = m_spectra[(m_ring + count - p) % count];
        ZEL_TRY(ctx.issue(p == 0 ? *m_mult : *m_multAdd, bins, 0.0, {m_result, past, m_taps[p]}),
                where);
    }
    ZEL_TRY(ctx.issue(*m_inverse, frame, 0.0, {m_result, m_setup, m_work}), where);
    m_ring = (m_ring + 1) % count;
    return nullptr;
}

CErrorPtr CModFilterFIRModule::process(CAudioModuleBlock& block)
{
    const char* where = "CModFilterFIRModule::process";
    CDCDAWContextObject& ctx = block.context();
    const std::int32_t n = block.length();
    std::uint32_t out = 0;
    ZEL_TRY(block.output(0, out), where);
    std::uint32_t in = block.input(0);
    if (in == CAudioProcessBase::kNoInput)
    {
        ZEL_TRY(block.issue(*m_fill0, 0.0, {out}), where);
        in = out;
    }
    using C = CDCDAWContextObject;
    for (std::int32_t at = 0; at < n;)
    {
        const std::int32_t k = std::min(m_half - m_fill, n - at);
        const auto from = static_cast<std::uint32_t>(at);
        const auto fill = static_cast<std::uint32_t>(m_fill);
        // In first, then out: when nothing is connected both are the same buffer.
        ZEL_TRY(ctx.issue(*m_copy, k, 0.0,
                          {C::offsetReference(m_input, fill), C::offsetReference(in, from)}),
                where);
        ZEL_TRY(ctx.issue(*m_copy, k, 0.0,
                          {C::offsetReference(out, from), C::offsetReference(m_result, fill)}),
                where);
        m_fill += k;
        at += k;
        if (m_fill == m_half)
        {
            ZEL_TRY(convolveFrame(ctx), where);
            m_fill = 0;
        }
    }
    return nullptr;
}

void CModFilterFIRModule::stop(CAudioProcessTerminalBase& owner)
{
    CDCDAWContextObject& ctx = owner.context();
    for (const std::uint32_t ref : m_owned)
        (void)ctx.releaseReference(ref);
    m_owned.clear();
    m_spectra.clear();
    m_taps.clear();
}

// ---- CModFilterFIR / CModFilterFIRDef ---------------------------------------------------------

void CModFilterFIR::registerClass(CClassInfo& info)
{
    CAudioProcessTerminalBase::registerClass(info);
}

void CModFilterFIRDef::registerClass(CClassInfo& info)
{
    CModFilterDefBase::registerClass(info);
    info.attribute<&CModFilterFIRDef::onLatency>("latency");
    info.flag<&CModFilterFIRDef::m_fixedRate>("fixsr");
}

CErrorPtr CModFilterFIRDef::makeProcess(TObjectPtr<CAudioProcessBase>& process) const
{
    process = CObject::make<CModFilterFIR>();
    return nullptr;
}

CErrorPtr CModFilterFIRDef::onLatency(const CText& value)
{
    std::int32_t log2 = 0;
    if (!parseInteger32(value, log2) || log2 < 1 || log2 > kMaxLog2)
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CModFilterFIRDef_onLatency_Invalid",
                         "Invalid latency '%1' specified.", {value.toUtf8()});
    m_log2 = log2;
    return nullptr;
}

CErrorPtr CModFilterFIRDef::designTaps(double sampleRate, CAudioFilterDesign& out) const
{
    const char* where = "CModFilterFIRDef::designTaps";
    const CAudioFilterGen* gen = generator();
    if (gen == nullptr)
        return ZEL_ERROR(where, "zelstr_CModFilterFIRDef_designTaps_NoGenerator",
                         "Filter generator '%1' not found.", {generatorPath().toUtf8()});
    ZEL_TRY(gen->design(baseRequest(m_fixedRate ? kFixedRate : sampleRate), out), where);
    if (out.kind != EFilterDesignKind::kFIR || out.taps.empty())
        return ZEL_ERROR(where, "zelstr_CModFilterFIRDef_designTaps_NotFIR",
                         "Filter generator '%1' does not design FIR taps.",
                         {generatorPath().toUtf8()});
    return nullptr;
}

std::int32_t CModFilterFIRDef::partitionLog2(std::size_t tapCount) const
{
    if (m_log2 > 0)
        return m_log2;
    std::int32_t log2 = kMinLog2;
    while (log2 < kMaxDefaultLog2 && (std::size_t{1} << log2) < tapCount)
        ++log2;
    return log2;
}

std::int32_t CModFilterFIRDef::latencySamples(double sampleRate) const
{
    if (m_log2 > 0)
        return std::int32_t{1} << m_log2;
    CAudioFilterDesign design;
    if (designTaps(sampleRate, design))
        return 0;
    return std::int32_t{1} << partitionLog2(design.taps.size());
}

} // namespace zel
