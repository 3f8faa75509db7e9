#include "Audio/Processes/ModResampler.h"

#include "Audio/AudioProcess.h"
#include "Audio/AudioProcessTerminal.h"
#include "Audio/DCDAWContext.h"
#include "Audio/Kernels/DCDAWKernel.h"
#include "Audio/Processes/ModDecimator.h"
#include "Audio/Processes/ModFilterFIR.h"
#include "Audio/Processes/ModFilterIIR.h"
#include "Audio/Processes/ModProcessSwitch.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace zel
{

namespace
{

constexpr const char* kUpStep = "modUpsamplerInterpolator";
constexpr const char* kDownStep = "modDownsamplerDecimator";
constexpr const char* kSteep = "modResamplerFilterSteep";
constexpr const char* kSoft = "modResamplerFilterSoft";

// Group delay at DC, in samples, of the second-order allpass y = c (x - y[-2]) + x[-2].
double allpassDelay(double c)
{
    return 2.0 * (1.0 - c) / (1.0 + c);
}

// Group delay at DC of a half-band allpass pair 0.5 (A(z) + z^-1 B(z)): the two branches are
// in phase there, so the pair's phase is the mean of theirs.
double halfBandDelay(const CAudioFilterDesign& design)
{
    const std::size_t half = design.halfBandOrder / 2;
    double a = 0.0;
    double b = 1.0;
    for (std::size_t i = 0; i < half; ++i)
    {
        a += allpassDelay(design.halfBand[i]);
        b += allpassDelay(design.halfBand[half + i]);
    }
    return 0.5 * (a + b);
}

// Every process below object, parents before children. Plain objects in between are walked
// through: the bands and stack copies of replicating processes are processes held by a
// replica object, not by the replicating process itself.
template <class F>
void forEachProcessBelow(CObject& object, F& visit)
{
    for (CObject* child : object.childList())
    {
        if (auto* inner = dynamic_cast<CAudioProcessBase*>(child))
            visit(*inner);
        forEachProcessBelow(*child, visit);
    }
}

// Every process in the subtree of process, itself first.
template <class F>
void forEachProcess(CAudioProcessBase& process, F&& visit)
{
    visit(process);
    forEachProcessBelow(process, visit);
}

} // namespace

// ---- CModResamplerDef ----

void CModResamplerDef::registerClass(CClassInfo& info)
{
    CAudioProcessDefBase::registerClass(info);
    info.flag<&CModResamplerDef::m_upsampler>("is-upsampler");
}

CErrorPtr CModResamplerDef::makeProcess(TObjectPtr<CAudioProcessBase>& process) const
{
    process = CObject::make<CModResampler>();
    return nullptr;
}

// ---- CModResampler ----

CModResampler::~CModResampler()
{
    if (definition() == nullptr)
        return;
    // The stage children may be gone already (a tree is released bottom-up): only this
    // process's own ends of the wires are touched.
    for (CWire& w : m_wires)
    {
        for (CAudioOutputChannel& own : m_feed.channels)
            std::erase(own.readers, w.connection.get());
        for (CAudioInputChannel& own : m_collect.channels)
            std::erase(own.sources, w.connection.get());
    }
    m_wires.clear();
    m_stages.clear();
    m_order.clear();
    for (CAudioCrossfade& fade : m_fades)
        fade.release(context());
}

void CModResampler::registerClass(CClassInfo& info)
{
    CAudioProcessBase::registerClass(info);
}

CErrorPtr CModResampler::initFromDef(const CAudioProcessDefBase& def,
                                     std::shared_ptr<const CAudioProcessSetup> setup,
                                     const CText& instancePath)
{
    m_def = dynamic_cast<const CModResamplerDef*>(&def);
    if (m_def == nullptr)
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CModResampler_init_InvalidDef",
                         "Audio process def of invalid class supplied.", {});
    ZEL_TRY(CAudioProcessBase::initFromDef(def, std::move(setup), instancePath),
            fullName().toUtf8());
    (void)inputPort(0);
    (void)outputPort(0);
    m_upsampler = m_def->isUpsampler();
    const auto prototype = [&](const char* path, const CAudioProcessDefBase*& out) -> CErrorPtr
    {
        out = nullptr;
        for (const CObject* scope = def.parent(); scope != nullptr && out == nullptr;
             scope = scope->parent())
            out = dynamic_cast<const CAudioProcessDefBase*>(scope->findChild(CText(path)));
        if (out == nullptr)
            return ZEL_ERROR(fullName().toUtf8(), "zelstr_CModResampler_init_NoPrototype",
                             "Resampler prototype '%1' not found.", {path});
        return nullptr;
    };
    ZEL_TRY(prototype(m_upsampler ? kUpStep : kDownStep, m_stepProto), fullName().toUtf8());
    ZEL_TRY(prototype(kSteep, m_steepProto), fullName().toUtf8());
    ZEL_TRY(prototype(kSoft, m_softProto), fullName().toUtf8());

    const auto channels = static_cast<std::size_t>(channelCount());
    m_feed.channels.resize(channels);
    m_collect.channels.resize(channels);
    m_fades.resize(channels);
    m_fadeLength = CAudioCrossfade::lengthOf(def);
    m_stages.reserve(kMaxStages);
    m_order.reserve(2 * kMaxStages);
    m_wires.reserve((2 * kMaxStages + 1) * channels);
    ZEL_TRY(resize(requestedStages()), fullName().toUtf8());
    return nullptr;
}

std::int32_t CModResampler::requestedStages() const
{
    const double mode = paramInput(kInputMode).isBound() ? paramValue(kInputMode, 0, 1.0) : 1.0;
    const double index = std::isfinite(mode) ? std::clamp(std::round(mode), 0.0, 4.0) : 1.0;
    if (index >= 1.0)
        return static_cast<std::int32_t>(index) - 1;
    const double host = paramValue(kInputHostMode, 0, 0.0);
    const double stages = std::isfinite(host) ? std::round(host) : 0.0;
    return static_cast<std::int32_t>(std::clamp(stages, 0.0, double{kMaxStages}));
}

std::shared_ptr<const CAudioProcessSetup> CModResampler::setupAt(std::int32_t factor) const
{
    auto raised = std::make_shared<CAudioProcessSetup>(setup());
    raised->rateFactor = factor;
    return raised;
}

CErrorPtr CModResampler::measureDelays(CStage& stage, double rate) const
{
    const char* where = "CModResampler::measureDelays";
    stage.delays.clear();
    for (const CAudioProcessBase* choice : stage.filter->processes())
    {
        double delay = 0.0;
        CAudioFilterDesign design;
        if (const auto* fir = dynamic_cast<const CModFilterFIRDef*>(choice->definition()))
        {
            ZEL_TRY(fir->designTaps(rate, design), where);
            delay = fir->latencySamples(rate) + 0.5 * static_cast<double>(design.taps.size() - 1);
        }
        else if (const auto* iir = dynamic_cast<const CModFilterIIRDef*>(choice->definition()))
        {
            const CAudioFilterGen* gen = iir->generator();
            if (gen != nullptr && !gen->design(iir->baseRequest(rate), design) &&
                design.kind == EFilterDesignKind::kHalfBand)
                delay = halfBandDelay(design);
        }
        stage.delays.push_back(delay);
    }
    return nullptr;
}

CErrorPtr CModResampler::addStage()
{
    const char* where = "CModResampler::addStage";
    const auto j = static_cast<std::int32_t>(m_stages.size());
    const std::int32_t factor = setup().rateFactor << (j + 1);
    const std::shared_ptr<const CAudioProcessSetup> raised = setupAt(factor);
    const std::string suffix = j == 0 ? std::string() : std::to_string(j + 1);
    const std::size_t before = childList().size();
    CStage stage;
    CErrorPtr err = instantiate(*m_stepProto, *this, CText("modInterpDecim"), raised,
                                instancePath() + CText(".modInterpDecim" + suffix), stage.step);
    CAudioProcessBase* filter = nullptr;
    const CAudioProcessDefBase& filterProto = j == 0 ? *m_steepProto : *m_softProto;
    if (!err)
        err = instantiate(filterProto, *this, CText("modFilter"), raised,
                          instancePath() + CText(".modFilter" + suffix), filter);
    stage.filter = dynamic_cast<CModProcessSwitch*>(filter);
    if (!err && stage.filter == nullptr)
        err = ZEL_ERROR(where, "zelstr_CModResampler_addStage_NoSwitch",
                        "Resampler filter prototype '%1' is not a process switch.",
                        {filterProto.fullName().toUtf8()});
    const bool isDecimator = dynamic_cast<CModDecimator*>(stage.step) != nullptr;
    if (!err && isDecimator == m_upsampler)
        err = ZEL_ERROR(where, "zelstr_CModResampler_addStage_WrongStep",
                        "Resampler step prototype '%1' has the wrong class.",
                        {m_stepProto->fullName().toUtf8()});
    if (!err)
        err = stage.step->connect();
    if (!err)
        err = stage.filter->connect();
    if (!err)
        err = measureDelays(stage, sampleRate() * static_cast<double>(1 << (j + 1)));
    if (err)
    {
        // Whatever this stage attached goes again.
        std::vector<CObject*> children = childList();
        for (std::size_t i = children.size(); i > before; --i)
            children[i - 1]->destroy();
        return ZEL_PASS(std::move(err), where);
    }
    m_stages.push_back(std::move(stage));
    return nullptr;
}

void CModResampler::removeStage()
{
    CStage& stage = m_stages.back();
    stage.step->destroy();
    stage.filter->destroy();
    m_stages.pop_back();
}

void CModResampler::wire(CAudioOutputChannel& from, CAudioInputChannel& to)
{
    CWire made{std::make_unique<CAudioConnection>(context()), &from, &to};
    from.readers.push_back(made.connection.get());
    to.sources.push_back(made.connection.get());
    m_wires.push_back(std::move(made));
}

void CModResampler::unwire()
{
    for (CWire& w : m_wires)
    {
        std::erase(w.from->readers, w.connection.get());
        std::erase(w.to->sources, w.connection.get());
    }
    m_wires.clear();
}

void CModResampler::rewire()
{
    unwire();
    m_order.clear();
    for (std::size_t j = 0; j < m_stages.size(); ++j)
    {
        const CStage& stage = m_upsampler ? m_stages[j] : m_stages[m_stages.size() - 1 - j];
        if (m_upsampler)
            m_order.insert(m_order.end(), {stage.step, stage.filter});
        else
            m_order.insert(m_order.end(), {stage.filter, stage.step});
    }
    CAudioOutputPort* from = &m_feed;
    for (CAudioProcessBase* child : m_order)
    {
        CAudioInputPort& to = child->inputPort(0);
        for (std::size_t c = 0; c < m_feed.channels.size(); ++c)
            wire(from->channels[c], to.channels[c]);
        from = &child->outputPort(0);
    }
    for (std::size_t c = 0; c < m_feed.channels.size(); ++c)
        wire(from->channels[c], m_collect.channels[c]);
}

CErrorPtr CModResampler::resize(std::int32_t count)
{
    const char* where = "CModResampler::resize";
    count = std::clamp(count, 0, kMaxStages);
    unwire();
    CErrorPtr err;
    while (!err && stageCount() < count)
        err = addStage();
    while (stageCount() > count)
        removeStage();
    rewire();
    updateLatency();
    return err ? ZEL_PASS(std::move(err), where) : nullptr;
}

void CModResampler::updateLatency()
{
    m_latency = 0;
    if (m_upsampler)
        return;
    // From the innermost stage out: the round trip inside each, at its high rate.
    double inner = 0.0;
    for (std::size_t j = m_stages.size(); j-- > 0;)
    {
        const CStage& stage = m_stages[j];
        const std::int32_t chosen = stage.filter->selected();
        const double filter = chosen >= 0 && static_cast<std::size_t>(chosen) < stage.delays.size()
                                  ? stage.delays[static_cast<std::size_t>(chosen)]
                                  : 0.0;
        const double trip = inner + 2.0 * filter;
        const bool odd = (static_cast<std::int64_t>(std::llround(trip)) & 1) != 0;
        static_cast<CModDecimator*>(stage.step)->setOddPhase(odd);
        inner = (trip - (odd ? 1.0 : 0.0)) / 2.0;
    }
    m_latency = static_cast<std::int32_t>(std::llround(inner));
}

CErrorPtr CModResampler::connect()
{
    m_between.clear();
    if (!m_upsampler)
        return nullptr;
    const auto* container = dynamic_cast<const CAudioProcess*>(parent());
    if (container == nullptr)
        return nullptr;
    std::vector<std::pair<std::int32_t, std::int32_t>> edges;
    processEdges(*container, edges);
    const auto& children = container->processes();
    std::vector<char> seen(children.size(), 0);
    std::vector<std::int32_t> queue;
    for (std::size_t i = 0; i < children.size(); ++i)
        if (children[i] == this)
        {
            seen[i] = 1;
            queue.push_back(static_cast<std::int32_t>(i));
        }
    for (std::size_t k = 0; k < queue.size(); ++k)
        for (const auto& [src, dst] : edges)
        {
            if (src != queue[k] || dst < 0 || seen[static_cast<std::size_t>(dst)])
                continue;
            seen[static_cast<std::size_t>(dst)] = 1;
            CAudioProcessBase* next = children[static_cast<std::size_t>(dst)];
            const auto* resampler = dynamic_cast<const CModResampler*>(next);
            if (resampler != nullptr && !resampler->isUpsampler())
                continue; // the way back down: the raised region ends here
            m_between.push_back(next);
            queue.push_back(dst);
        }
    if (stageCount() > 0)
        ZEL_TRY(rebaseBetween(), fullName().toUtf8());
    return nullptr;
}

CErrorPtr CModResampler::rebaseBetween()
{
    const char* where = "CModResampler::rebaseBetween";
    const std::int32_t factor = setup().rateFactor << stageCount();
    // One raised copy per distinct setup met.
    std::vector<std::pair<const CAudioProcessSetup*, std::shared_ptr<const CAudioProcessSetup>>>
        made;
    for (CAudioProcessBase* top : m_between)
    {
        if (top->setup().rateFactor == factor)
            continue;
        top->flush();
        forEachProcess(*top,
                       [&](CAudioProcessBase& process)
                       {
                           const CAudioProcessSetup* old = &process.setup();
                           auto found = std::find_if(made.begin(), made.end(),
                                                     [&](const auto& p) { return p.first == old; });
                           if (found == made.end())
                           {
                               auto raised = std::make_shared<CAudioProcessSetup>(*old);
                               raised->rateFactor = factor;
                               made.emplace_back(old, std::move(raised));
                               found = made.end() - 1;
                           }
                           process.rebaseSetup(found->second);
                       });
        CErrorPtr err;
        forEachProcess(*top,
                       [&](CAudioProcessBase& process)
                       {
                           if (auto* terminal = dynamic_cast<CAudioProcessTerminalBase*>(&process);
                               terminal != nullptr && !err)
                               err = terminal->startModules();
                       });
        ZEL_TRY(std::move(err), where);
    }
    return nullptr;
}

CErrorPtr CModResampler::updateBlock()
{
    if (!inputsChanged())
        return nullptr;
    clearInputsChanged();
    const std::int32_t count = requestedStages();
    if (count == stageCount())
        return nullptr;
    ZEL_TRY(resize(count), fullName().toUtf8());
    if (m_upsampler)
        ZEL_TRY(rebaseBetween(), fullName().toUtf8());
    else
    {
        for (CAudioCrossfade& fade : m_fades)
            ZEL_TRY(fade.start(context(), m_fadeLength, sampleRate()), fullName().toUtf8());
        m_fading = !m_fades.empty();
    }
    return nullptr;
}

std::int64_t CModResampler::pendingChangePosition() const
{
    std::int64_t earliest = CAudioProcessBase::pendingChangePosition();
    for (const CAudioProcessBase* child : m_order)
    {
        earliest = std::min(earliest, positionFrom(child->pendingChangePosition(), *child));
    }
    return earliest;
}

void CModResampler::flush()
{
    for (CAudioProcessBase* child : m_order)
        child->flush();
    for (CWire& w : m_wires)
        w.connection->clear();
    CAudioProcessBase::flush();
}

CErrorPtr CModResampler::process(std::int32_t length)
{
    const char* where = "CModResampler::process";
    CDCDAWContextObject& ctx = context();
    const auto channels = m_feed.channels.size();
    while (true)
    {
        bool once = false;
        const std::int32_t n = nextRunLength(length, once);
        if (n == 0)
            return nullptr;
        const std::int64_t start = position();
        CErrorPtr err;
        for (std::size_t c = 0; c < channels && !err; ++c)
        {
            std::uint32_t in = kNoInput;
            bool owned = false;
            err = readChannel(m_inputs[0].channels[c], n, in, owned);
            std::uint32_t feed = in;
            if (!err && feed == kNoInput)
            {
                err = silence(n, feed, setup().maxBlockLength() << kMaxStages);
            }
            if (!err)
                err = pushChannel(m_feed.channels[c], feed, n);
            if (owned)
                (void)ctx.releaseReference(in);
        }
        consumeAllInputs(n);
        // The up-sampler's output and the down-sampler's input run at the raised rate; this
        // process's position counts samples at its own rate.
        const std::int32_t m = m_upsampler ? n << stageCount() : n >> stageCount();
        advance(m_upsampler ? n : m);
        ZEL_TRY(std::move(err), where);

        for (CAudioProcessBase* child : m_order)
        {
            ZEL_TRY(child->applyParamChanges(child->positionFrom(start, *this)), where);
            ZEL_TRY(child->updateBlock(), where);
        }
        updateLatency();
        for (CAudioProcessBase* child : m_order)
            ZEL_TRY(child->process(n), where);

        bool running = false;
        for (std::size_t c = 0; c < channels && !err; ++c)
        {
            std::uint32_t fresh = kNoInput;
            bool owned = false;
            err = readChannel(m_collect.channels[c], m, fresh, owned);
            if (!err && fresh == kNoInput)
                err = silence(m, fresh, setup().maxBlockLength() << kMaxStages);
            if (!err && !m_fading)
                err = pushChannel(m_outputs[0].channels[c], fresh, m);
            else if (!err)
            {
                std::uint32_t out = kNoInput;
                std::uint32_t quiet = kNoInput;
                const auto bytes =
                    static_cast<std::uint32_t>(std::max(m, setup().maxBlockLength())) * 8u;
                err = ctx.takeBuffer(bytes, out);
                if (!err)
                    err = silence(m, quiet, setup().maxBlockLength() << kMaxStages);
                if (!err)
                    err = m_fades[c].run(ctx, m, out, fresh, quiet);
                if (!err)
                    err = pushChannel(m_outputs[0].channels[c], out, m);
                if (out != kNoInput)
                    (void)ctx.releaseReference(out);
                running = running || m_fades[c].isRunning();
            }
            if (owned)
                (void)ctx.releaseReference(fresh);
            consumeChannel(m_collect.channels[c], m);
        }
        if (m_fading && !err)
            m_fading = running;
        ZEL_TRY(std::move(err), where);
        if (once)
            return nullptr;
    }
}

} // namespace zel
