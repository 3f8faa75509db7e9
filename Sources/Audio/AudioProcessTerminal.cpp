#include "Audio/AudioProcessTerminal.h"

#include "Audio/AudioProcessDef.h"
#include "Audio/DCDAWContext.h"

#include <algorithm>

namespace zel
{

// ---- CAudioModuleBase ----

CErrorPtr CAudioModuleBase::start(CAudioProcessTerminalBase& owner, std::int32_t channel)
{
    (void)owner;
    (void)channel;
    return nullptr;
}

CErrorPtr CAudioModuleBase::update(CAudioProcessTerminalBase& owner)
{
    (void)owner;
    return nullptr;
}

void CAudioModuleBase::stop(CAudioProcessTerminalBase& owner)
{
    (void)owner;
}

bool CAudioModuleBase::isIdleWhenUnread() const
{
    return false;
}

bool CAudioModuleBase::isPairable() const
{
    return false;
}

// ---- CAudioModuleBlock ----

CDCDAWContextObject& CAudioModuleBlock::context() const
{
    return m_owner.context();
}

double CAudioModuleBlock::sampleRate() const
{
    return m_owner.sampleRate();
}

std::uint32_t CAudioModuleBlock::input(std::int32_t port, std::int32_t channel) const
{
    const std::size_t at = m_owner.slot(port, resolve(channel));
    return at < m_owner.m_inRefs.size() && port < m_owner.inputPortCount()
               ? m_owner.m_inRefs[at]
               : CAudioProcessBase::kNoInput;
}

CErrorPtr CAudioModuleBlock::output(std::int32_t port, std::uint32_t& ref, std::int32_t channel)
{
    ref = CAudioProcessBase::kNoInput;
    const std::int32_t c = resolve(channel);
    if (port < 0 || port >= m_owner.outputPortCount() || c < 0 || c >= m_owner.channelCount())
    {
        // Nobody reads that output: a scratch buffer released after the run.
        const auto bytes =
            static_cast<std::uint32_t>(std::max(m_length, m_owner.setup().maxBlockLength())) * 8u;
        ZEL_TRY(context().takeBuffer(bytes, ref), m_owner.fullName().toUtf8());
        m_owner.m_scratch.push_back(ref);
        return nullptr;
    }
    std::uint32_t& slot = m_owner.m_outRefs[m_owner.slot(port, c)];
    if (slot != CAudioProcessBase::kNoInput)
        (void)context().releaseReference(slot);
    const auto bytes =
        static_cast<std::uint32_t>(std::max(m_length, m_owner.setup().maxBlockLength())) * 8u;
    ZEL_TRY(context().takeBuffer(bytes, slot), m_owner.fullName().toUtf8());
    ref = slot;
    return nullptr;
}

CErrorPtr CAudioModuleBlock::passInput(std::int32_t inPort, std::int32_t outPort,
                                       std::int32_t channel)
{
    const std::int32_t c = resolve(channel);
    const std::uint32_t in = input(inPort, c);
    if (in == CAudioProcessBase::kNoInput || outPort < 0 || outPort >= m_owner.outputPortCount())
        return nullptr;
    std::uint32_t& slot = m_owner.m_outRefs[m_owner.slot(outPort, c)];
    if (slot != CAudioProcessBase::kNoInput)
        (void)context().releaseReference(slot);
    ZEL_TRY(context().addReference(in), m_owner.fullName().toUtf8());
    slot = in;
    return nullptr;
}

CErrorPtr CAudioModuleBlock::shareOutput(std::int32_t outPort, std::uint32_t ref,
                                         std::int32_t channel)
{
    const std::int32_t c = resolve(channel);
    if (outPort < 0 || outPort >= m_owner.outputPortCount() || c < 0 || c >= m_owner.channelCount())
        return nullptr;
    std::uint32_t& slot = m_owner.m_outRefs[m_owner.slot(outPort, c)];
    ZEL_TRY(context().addReference(ref), m_owner.fullName().toUtf8());
    if (slot != CAudioProcessBase::kNoInput)
        (void)context().releaseReference(slot);
    slot = ref;
    return nullptr;
}

CErrorPtr CAudioModuleBlock::issue(const CDCDAWKernel& kernel, double x,
                                   std::initializer_list<std::uint32_t> refs)
{
    return context().issue(kernel, m_length, x, refs);
}

// ---- CAudioProcessTerminalBase ----

CAudioProcessTerminalBase::~CAudioProcessTerminalBase()
{
    stopModules();
}

std::size_t CAudioProcessTerminalBase::slot(std::int32_t port, std::int32_t channel) const
{
    if (port < 0 || channel < 0 || channel >= channelCount())
        return static_cast<std::size_t>(-1);
    return static_cast<std::size_t>(port) * static_cast<std::size_t>(channelCount()) +
           static_cast<std::size_t>(channel);
}

CErrorPtr CAudioProcessTerminalBase::initFromDef(const CAudioProcessDefBase& def,
                                                 std::shared_ptr<const CAudioProcessSetup> setup,
                                                 const CText& instancePath)
{
    ZEL_TRY(CAudioProcessBase::initFromDef(def, std::move(setup), instancePath),
            fullName().toUtf8());
    m_whole = def.isTerminalWhole();
    (void)outputPort(0);
    m_scratch.reserve(16);
    ZEL_TRY(startModules(), fullName().toUtf8());
    return nullptr;
}

CErrorPtr CAudioProcessTerminalBase::startModules()
{
    stopModules();
    const std::int32_t count = m_whole ? 1 : channelCount();
    for (std::int32_t i = 0; i < count; ++i)
    {
        m_modules.push_back(makeModule());
        ZEL_TRY(m_modules.back()->start(*this, m_whole ? -1 : i), fullName().toUtf8());
    }
    return nullptr;
}

void CAudioProcessTerminalBase::stopModules()
{
    for (std::unique_ptr<CAudioModuleBase>& module : m_modules)
        module->stop(*this);
    m_modules.clear();
}

CErrorPtr CAudioProcessTerminalBase::updateBlock()
{
    if (!inputsChanged())
        return nullptr;
    clearInputsChanged();
    for (std::unique_ptr<CAudioModuleBase>& module : m_modules)
        ZEL_TRY(module->update(*this), fullName().toUtf8());
    return nullptr;
}

bool CAudioProcessTerminalBase::canSkipRun() const
{
    for (const CAudioOutputPort& port : m_outputs)
        for (const CAudioOutputChannel& channel : port.channels)
            for (const CAudioConnection* reader : channel.readers)
                if (reader->isWanted())
                    return false;
    for (const std::unique_ptr<CAudioModuleBase>& module : m_modules)
        if (!module->isIdleWhenUnread())
            return false;
    return true;
}

bool CAudioProcessTerminalBase::canPairRuns() const
{
    if (m_whole || m_modules.size() < 2 || context().inLanes())
        return false;
    for (const std::unique_ptr<CAudioModuleBase>& module : m_modules)
        if (!module->isPairable())
            return false;
    return true;
}

CErrorPtr CAudioProcessTerminalBase::runPair(std::size_t first, std::int32_t n)
{
    CDCDAWContextObject& ctx = context();
    CAudioModuleBlock a(*this, n, static_cast<std::int32_t>(first));
    CAudioModuleBlock b(*this, n, static_cast<std::int32_t>(first + 1));
    ctx.beginLane(0);
    CErrorPtr err = m_modules[first]->process(a);
    if (!err)
    {
        ctx.beginLane(1);
        err = m_modules[first + 1]->process(b);
    }
    // What was issued runs even after an error, as it would have without lanes.
    ctx.runLanes();
    return err;
}

CErrorPtr CAudioProcessTerminalBase::process(std::int32_t length)
{
    const auto channels = static_cast<std::size_t>(channelCount());
    m_inRefs.resize(m_inputs.size() * channels);
    m_inOwned.resize(m_inputs.size() * channels);
    m_outRefs.resize(m_outputs.size() * channels);
    // Tell the producers whether this run needs their samples before looking for them: a
    // reader that was skipped may have an empty input now.
    const bool skip = canSkipRun();
    for (CAudioInputPort& port : m_inputs)
        for (CAudioInputChannel& channel : port.channels)
            for (CAudioConnection* source : channel.sources)
                source->setWanted(!skip);
    while (true)
    {
        bool once = false;
        const std::int32_t n = nextRunLength(length, once);
        if (n == 0)
            return nullptr;
        if (skip)
        {
            // Nothing would see the result and the modules keep no state it would advance.
            consumeAllInputs(n);
            advance(n);
            if (once)
                return nullptr;
            continue;
        }
        for (std::size_t p = 0; p < m_inputs.size(); ++p)
            for (std::size_t c = 0; c < channels; ++c)
            {
                bool owned = false;
                ZEL_TRY(readChannel(m_inputs[p].channels[c], n, m_inRefs[p * channels + c], owned),
                        fullName().toUtf8());
                m_inOwned[p * channels + c] = owned ? 1 : 0;
            }
        std::fill(m_outRefs.begin(), m_outRefs.end(), kNoInput);

        CErrorPtr err;
        const bool paired = canPairRuns();
        for (std::size_t i = 0; i < m_modules.size() && !err; ++i)
        {
            if (paired && i + 1 < m_modules.size())
            {
                err = runPair(i, n);
                ++i;
                continue;
            }
            CAudioModuleBlock block(*this, n, m_whole ? -1 : static_cast<std::int32_t>(i));
            err = m_modules[i]->process(block);
        }
        for (std::size_t p = 0; p < m_outputs.size(); ++p)
            for (std::size_t c = 0; c < channels; ++c)
            {
                std::uint32_t& ref = m_outRefs[p * channels + c];
                if (ref == kNoInput)
                    continue;
                if (!err)
                    err = pushChannel(m_outputs[p].channels[c], ref, n);
                (void)context().releaseReference(ref);
                ref = kNoInput;
            }
        for (const std::uint32_t ref : m_scratch)
            (void)context().releaseReference(ref);
        m_scratch.clear();
        for (std::size_t i = 0; i < m_inRefs.size(); ++i)
            if (m_inOwned[i])
                (void)context().releaseReference(m_inRefs[i]);
        consumeAllInputs(n);
        advance(n);
        ZEL_TRY(std::move(err), fullName().toUtf8());
        if (once)
            return nullptr;
    }
}

} // namespace zel
