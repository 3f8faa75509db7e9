#include "Audio/AudioProcessBase.h"

#include "Audio/AudioEnv.h"
#include "Audio/AudioParam.h"
#include "Audio/AudioParamBinding.h"
#include "Audio/AudioParamCollector.h"
#include "Audio/AudioParamDef.h"
#include "Audio/AudioProcessDef.h"
#include "Audio/AudioProcessReplica.h"
#include "Audio/DCDAWContext.h"
#include "Audio/ParamFilters/AudioParamFilter.h"

#include <algorithm>
#include <cmath>

namespace zel
{

namespace
{
const CDCDAWKernel& kernel(const char* name)
{
    // The basic family always holds these; a missing one is a build error of the table.
    return *findDCDAWKernel(name);
}
} // namespace

// ---- CAudioProcessSetup ----

double CAudioProcessSetup::sampleRate() const
{
    const double rate = env != nullptr ? env->sampleRate() : fallbackSampleRate;
    return (rate > 0.0 ? rate : fallbackSampleRate) * rateFactor;
}

std::int32_t CAudioProcessSetup::maxBlockLength() const
{
    const std::int32_t length = env != nullptr ? env->maxBlockLength() : fallbackMaxBlock;
    return (length > 0 ? length : fallbackMaxBlock) * rateFactor;
}

std::int32_t CAudioProcessSetup::groupOf(std::int32_t channel) const
{
    if (channel < 0 || static_cast<std::size_t>(channel) >= channelGroups.size())
        return 0;
    return channelGroups[static_cast<std::size_t>(channel)];
}

// ---- Construction ----

CAudioProcessBase::CAudioProcessBase() = default;

CAudioProcessBase::~CAudioProcessBase()
{
    // The filters stop writing before the parameters they write go.
    m_filters.clear();
    if (m_setup && m_setup->collector != nullptr)
    {
        if (m_sinkBound)
            m_setup->collector->unbindSink(*this);
        for (const CText& path : m_paramPaths)
            m_setup->collector->removeParam(path);
    }
    releaseQueue();
    if (m_silence != kNoInput)
        (void)context().releaseReference(m_silence);
    // Only the connections this process owns: those in its ports may belong to an enclosing
    // container, which is destroyed first (children go after their parent's destructor).
    m_ownedConnections.clear();
}

void CAudioProcessBase::registerClass(CClassInfo& info)
{
    CObject::registerClass(info);
}

CErrorPtr CAudioProcessBase::instantiate(const CAudioProcessDefBase& def, CObject& parent,
                                         const CText& name,
                                         std::shared_ptr<const CAudioProcessSetup> setup,
                                         const CText& instancePath, CAudioProcessBase*& process)
{
    process = nullptr;
    TObjectPtr<CAudioProcessBase> made;
    ZEL_TRY(def.makeProcess(made), def.fullName().toUtf8());
    CAudioProcessBase* raw = made.get();
    ZEL_TRY(parent.addChild(std::move(made), name), def.fullName().toUtf8());
    ZEL_TRY(raw->initFromDef(def, std::move(setup), instancePath), def.fullName().toUtf8());
    process = raw;
    return nullptr;
}

CDCDAWContextObject& CAudioProcessBase::context() const
{
    return *m_setup->context;
}

double CAudioProcessBase::processTime() const
{
    return static_cast<double>(m_position) / sampleRate();
}

std::int64_t CAudioProcessBase::stampPosition(double seconds, double sampleRate)
{
    // A small margin absorbs the rounding of positions converted to seconds and back.
    return static_cast<std::int64_t>(std::ceil(seconds * sampleRate - 1e-6));
}

// ---- Initialisation ----

CErrorPtr CAudioProcessBase::initFromDef(const CAudioProcessDefBase& def,
                                         std::shared_ptr<const CAudioProcessSetup> setup,
                                         const CText& instancePath)
{
    ZEL_TRY(initCommon(def, std::move(setup), instancePath), fullName().toUtf8());
    ZEL_TRY(bindParamInputs(), fullName().toUtf8());
    return nullptr;
}

CErrorPtr CAudioProcessBase::initCommon(const CAudioProcessDefBase& def,
                                        std::shared_ptr<const CAudioProcessSetup> setup,
                                        const CText& instancePath)
{
    if (!setup || setup->context == nullptr)
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioProcessBase_init_NoContext",
                         "No kernel context supplied.");
    m_def = &def;
    m_setup = std::move(setup);
    m_instancePath = instancePath;
    m_elementOffset = inheritedElementOffset();
    m_queue.reserve(64);
    CAudioParamCollector* collector = m_setup->collector;
    if (collector == nullptr)
        return nullptr;
    for (CObject* child : childrenInDeclarationOrder(def))
    {
        const auto* paramDef = dynamic_cast<const CAudioParamDef*>(child);
        if (paramDef == nullptr)
            continue;
        auto param = std::make_unique<CAudioParam>(paramDef->sharedInfo(), m_setup->groupCount);
        const CText path = m_instancePath + CText(".") + paramDef->plainName();
        ZEL_TRY(collector->addParam(path, *param), fullName().toUtf8());
        m_params.push_back(std::move(param));
        m_paramPaths.push_back(path);
    }
    ZEL_TRY(connectFilters(def), fullName().toUtf8());
    return nullptr;
}

std::int32_t CAudioProcessBase::inheritedElementOffset() const
{
    for (const CObject* at = parent(); at != nullptr; at = at->parent())
    {
        if (const auto* replica = dynamic_cast<const CAudioProcessReplica*>(at))
        {
            if (replica->elementOffset() >= 0)
                return replica->elementOffset();
        }
        else if (const auto* process = dynamic_cast<const CAudioProcessBase*>(at))
            return process->elementOffset();
    }
    return 0;
}

CErrorPtr CAudioProcessBase::connectFilters(const CAudioProcessDefBase& def)
{
    // The definition's filter objects are shared by every instance of it; each instance runs
    // a copy made from the same tag and attributes, connected to its own parameters.
    for (CObject* child : childrenInDeclarationOrder(def))
    {
        const auto* model = dynamic_cast<const CAudioParamFilter*>(child);
        if (model == nullptr)
            continue;
        CObjectPtr made;
        ZEL_TRY(CObject::createRoot(model->tag(), model->plainName(), made), fullName().toUtf8());
        for (const auto& [name, value] : model->attributes())
            ZEL_TRY(made->setAttribute(name, value.text()), fullName().toUtf8());
        ZEL_TRY(made->init(), fullName().toUtf8());
        auto* filter = dynamic_cast<CAudioParamFilter*>(made.get());
        if (filter == nullptr)
            return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioProcessBase_init_FilterClass",
                             "Parameter filter '%1' could not be copied.",
                             {model->plainName().toUtf8()});
        ZEL_TRY(filter->connect(*m_setup->collector, m_instancePath), fullName().toUtf8());
        m_filters.push_back(std::move(made));
    }
    return nullptr;
}

CAudioParam* CAudioProcessBase::resolveParam(const CText& requested, CText& path,
                                             std::int32_t& id) const
{
    CAudioParamCollector* collector = m_setup ? m_setup->collector : nullptr;
    if (collector == nullptr)
        return nullptr;
    // The nearest remap of the name, looking outwards from this definition.
    CText name = requested;
    bool remapped = false;
    for (const CObject* scope = m_def; scope != nullptr && !remapped; scope = scope->parent())
        for (CObject* child : scope->childList())
        {
            const auto* remap = dynamic_cast<const CAudioParamRemapDef*>(child);
            if (remap != nullptr && remap->origName() == name)
            {
                name = remap->newName();
                remapped = true;
                break;
            }
        }
    const auto lookup = [&](const CText& candidate) -> CAudioParam*
    {
        CAudioParam* param = collector->findParam(candidate);
        if (param != nullptr)
        {
            path = candidate;
            id = collector->paramId(candidate);
        }
        return param;
    };
    if (name.startsWith("/"))
        return lookup(name.substr(1));
    // Relative: this process's own parameters first, then each enclosing process's.
    CText scope = m_instancePath;
    while (!scope.empty())
    {
        if (CAudioParam* param = lookup(scope + CText(".") + name))
            return param;
        const std::size_t dot = scope.rfind(u'.');
        if (dot == CText::npos)
            break;
        scope = scope.substr(0, dot);
    }
    return lookup(name);
}

CErrorPtr CAudioProcessBase::bindInput(CAudioParamInput& input, const CText& name)
{
    CText path;
    std::int32_t id = -1;
    CAudioParam* param = resolveParam(name, path, id);
    if (param == nullptr)
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioProcessBase_bindParamInputs_NotFound",
                         "Audio parameter '%1' not found.", {name.toUtf8()});
    input.bind(*param, id, path);
    m_setup->collector->bindSink(id, *this);
    m_sinkBound = true;
    return nullptr;
}

CErrorPtr CAudioProcessBase::bindParamInputs()
{
    if (m_setup->collector == nullptr)
        return nullptr;
    for (CObject* child : childrenInDeclarationOrder(*m_def))
    {
        const auto* alloc = dynamic_cast<const CAudioParamAllocDef*>(child);
        if (alloc == nullptr)
            continue;
        if (alloc->index() < 0)
            return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioProcessBase_bindParamInputs_Index",
                             "Invalid parameter index '%1'.", {std::to_string(alloc->index())});
        const auto index = static_cast<std::size_t>(alloc->index());
        if (m_inputsIn.size() <= index)
            m_inputsIn.resize(index + 1);
        CAudioParamInput& input = m_inputsIn[index];
        ZEL_TRY(bindInput(input, alloc->paramName()), fullName().toUtf8());
        input.group0 = m_def->isGroup0();
        input.element0 = m_def->isElement0();
        input.allGroups = alloc->useAllGroups() || m_def->useAllParamGroups();
        input.allElements = alloc->useAllElements() || m_def->useAllParamElements();
        // The nearest scope object naming the parameter restricts it further.
        bool scoped = false;
        for (const CObject* scope = m_def; scope != nullptr && !scoped; scope = scope->parent())
            for (CObject* other : scope->childList())
            {
                const auto* restrict = dynamic_cast<const CAudioParamScopeDef*>(other);
                if (restrict != nullptr&& restrict->paramName() == alloc->paramName())
                {
                    input.group0 = input.group0 || restrict->isGroup0();
                    input.element0 = input.element0 || restrict->isElement0();
                    scoped = true;
                    break;
                }
            }
    }
    return nullptr;
}

const CAudioParamInput& CAudioProcessBase::paramInput(std::int32_t index) const
{
    static const CAudioParamInput kUnbound;
    if (index < 0 || static_cast<std::size_t>(index) >= m_inputsIn.size())
        return kUnbound;
    return m_inputsIn[static_cast<std::size_t>(index)];
}

double CAudioProcessBase::paramValue(std::int32_t index, std::int32_t channel, double fallback,
                                     std::int32_t element, std::int32_t valueIndex) const
{
    const CAudioParamInput& input = paramInput(index);
    if (!input.isBound())
        return fallback;
    const std::int32_t group = m_setup->groupOf(channel);
    // A list of one element is a single value and serves every offset.
    if (input.followsElementOffset() && input.elementCount(group) > 1)
        element += m_elementOffset;
    return input.value(group, element, valueIndex, fallback);
}

// ---- Change queue ----

void CAudioProcessBase::queueParamChange(CAudioParamChange& change)
{
    change.addRef();
    m_queue.push_back(&change);
}

CAudioParamChange* CAudioProcessBase::takeDueChange(std::int64_t position)
{
    if (m_queueHead >= m_queue.size())
        return nullptr;
    CAudioParamChange* change = m_queue[m_queueHead];
    if (stampPosition(change->time(), sampleRate()) > position)
        return nullptr;
    if (++m_queueHead == m_queue.size())
    {
        m_queue.clear(); // keeps its capacity
        m_queueHead = 0;
    }
    return change;
}

std::int64_t CAudioProcessBase::pendingChangePosition() const
{
    if (m_queueHead >= m_queue.size())
        return kNoChange;
    return stampPosition(m_queue[m_queueHead]->time(), sampleRate());
}

void CAudioProcessBase::releaseQueue()
{
    for (std::size_t i = m_queueHead; i < m_queue.size(); ++i)
        m_queue[i]->release();
    m_queue.clear();
    m_queueHead = 0;
}

CErrorPtr CAudioProcessBase::applyParamChanges(std::int64_t position)
{
    while (CAudioParamChange* change = takeDueChange(position))
    {
        for (CAudioParamInput& input : m_inputsIn)
            if (input.apply(*change))
                m_inputsChanged = true;
        change->release();
    }
    return nullptr;
}

// ---- Ports ----

CAudioInputPort& CAudioProcessBase::grow(std::vector<CAudioInputPort>& ports, std::int32_t port,
                                         std::int32_t channels)
{
    if (ports.size() <= static_cast<std::size_t>(port))
        ports.resize(static_cast<std::size_t>(port) + 1);
    CAudioInputPort& made = ports[static_cast<std::size_t>(port)];
    made.channels.resize(static_cast<std::size_t>(std::max(channels, 0)));
    return made;
}

CAudioOutputPort& CAudioProcessBase::grow(std::vector<CAudioOutputPort>& ports, std::int32_t port,
                                          std::int32_t channels)
{
    if (ports.size() <= static_cast<std::size_t>(port))
        ports.resize(static_cast<std::size_t>(port) + 1);
    CAudioOutputPort& made = ports[static_cast<std::size_t>(port)];
    made.channels.resize(static_cast<std::size_t>(std::max(channels, 0)));
    return made;
}

CAudioInputPort& CAudioProcessBase::inputPort(std::int32_t port)
{
    return grow(m_inputs, port, channelCount());
}

CAudioOutputPort& CAudioProcessBase::outputPort(std::int32_t port)
{
    return grow(m_outputs, port, channelCount());
}

CAudioConnection& CAudioProcessBase::makeConnection(CAudioOutputChannel& from,
                                                    CAudioInputChannel& to)
{
    m_ownedConnections.push_back(std::make_unique<CAudioConnection>(context()));
    CAudioConnection* made = m_ownedConnections.back().get();
    from.readers.push_back(made);
    to.sources.push_back(made);
    return *made;
}

CAudioConnection& CAudioProcessBase::feedInput(std::int32_t port, std::int32_t channel)
{
    CAudioInputChannel& to = inputPort(port).channels.at(static_cast<std::size_t>(channel));
    m_ownedConnections.push_back(std::make_unique<CAudioConnection>(context()));
    CAudioConnection* made = m_ownedConnections.back().get();
    to.sources.push_back(made);
    return *made;
}

CAudioConnection& CAudioProcessBase::tapOutput(std::int32_t port, std::int32_t channel)
{
    CAudioOutputChannel& from = outputPort(port).channels.at(static_cast<std::size_t>(channel));
    m_ownedConnections.push_back(std::make_unique<CAudioConnection>(context()));
    CAudioConnection* made = m_ownedConnections.back().get();
    from.readers.push_back(made);
    return *made;
}

void CAudioProcessBase::clearPorts(std::vector<CAudioInputPort>& inputs,
                                   std::vector<CAudioOutputPort>& outputs)
{
    for (CAudioInputPort& port : inputs)
        for (CAudioInputChannel& channel : port.channels)
            for (CAudioConnection* source : channel.sources)
                source->clear();
    for (CAudioOutputPort& port : outputs)
        for (CAudioOutputChannel& channel : port.channels)
            for (CAudioConnection* reader : channel.readers)
                reader->clear();
}

void CAudioProcessBase::clearPorts()
{
    clearPorts(m_inputs, m_outputs);
}

void CAudioProcessBase::flush()
{
    clearPorts();
}

CErrorPtr CAudioProcessBase::connect()
{
    return nullptr;
}

CErrorPtr CAudioProcessBase::updateBlock()
{
    return nullptr;
}

// ---- Reading and writing segments ----

std::int32_t CAudioProcessBase::availableIn(const CAudioInputChannel& channel)
{
    std::int32_t n = kUnlimited;
    for (const CAudioConnection* source : channel.sources)
        if (source->isActive())
            n = std::min(n, source->frontLength());
    return n;
}

std::int32_t CAudioProcessBase::nextRunLength(std::int32_t length, bool& once) const
{
    std::int32_t n = availableInput();
    once = n == kUnlimited;
    if (once)
        n = length;
    return n <= 0 || n == kUnlimited ? 0 : n;
}

std::int32_t CAudioProcessBase::nextSubBlock(std::int32_t length, bool& once) const
{
    std::int32_t n = nextRunLength(length, once);
    const std::int64_t start = position();
    const std::int64_t pending = pendingChangePosition();
    if (n > 0 && pending > start && pending - start < n)
        n = static_cast<std::int32_t>(pending - start);
    return n;
}

CErrorPtr CAudioProcessBase::drainChannel(CAudioInputChannel& from, CAudioOutputChannel* to,
                                          std::int32_t n)
{
    std::int32_t k = availableIn(from);
    if (k == kUnlimited)
    {
        if (to != nullptr)
            ZEL_TRY(forwardChannel(from, *to, n), fullName().toUtf8()); // silence
        return nullptr;
    }
    while (k > 0)
    {
        if (to != nullptr)
            ZEL_TRY(forwardChannel(from, *to, k), fullName().toUtf8());
        else
            consumeChannel(from, k);
        k = availableIn(from);
    }
    return nullptr;
}

CErrorPtr CAudioProcessBase::silence(std::int32_t n, std::uint32_t& ref, std::int32_t capacity)
{
    static const CDCDAWKernel& fill0 = kernel("DCDAW_fill0");
    if (m_silence == kNoInput)
    {
        const auto bytes =
            static_cast<std::uint32_t>(std::max({n, capacity, m_setup->maxBlockLength()})) * 8u;
        ZEL_TRY(context().takeBuffer(bytes, m_silence), fullName().toUtf8());
    }
    ZEL_TRY(context().issue(fill0, n, 0.0, {m_silence}), fullName().toUtf8());
    ref = m_silence;
    return nullptr;
}

std::int32_t CAudioProcessBase::availableInput() const
{
    std::int32_t n = kUnlimited;
    for (const CAudioInputPort& port : m_inputs)
        for (const CAudioInputChannel& channel : port.channels)
            n = std::min(n, availableIn(channel));
    return n;
}

CErrorPtr CAudioProcessBase::readChannel(const CAudioInputChannel& channel, std::int32_t n,
                                         std::uint32_t& ref, bool& owned)
{
    ref = kNoInput;
    owned = false;
    // Several sources are summed in source order, s = ((s0 + s1) + s2) + ..., with up to
    // three sources added per pass (add4 in place adds left to right, as repeated add2i).
    static const CDCDAWKernel& add2 = kernel("DCDAW_add2");
    static const CDCDAWKernel& add2i = kernel("DCDAW_add2i");
    static const CDCDAWKernel& add3 = kernel("DCDAW_add3");
    static const CDCDAWKernel& add4 = kernel("DCDAW_add4");
    std::uint32_t pending[3] = {};
    std::size_t pendingCount = 0;
    const auto flush = [&]() -> CErrorPtr
    {
        CErrorPtr err;
        if (pendingCount == 3)
            err = context().issue(add4, n, 0.0, {ref, ref, pending[0], pending[1], pending[2]});
        else if (pendingCount == 2)
            err = context().issue(add3, n, 0.0, {ref, ref, pending[0], pending[1]});
        else if (pendingCount == 1)
            err = context().issue(add2i, n, 0.0, {ref, pending[0]});
        pendingCount = 0;
        return err;
    };
    for (const CAudioConnection* source : channel.sources)
    {
        // A source holding fewer samples than asked for (a producer that fell behind) counts
        // as silence: its front reference would lead a kernel past the segment's buffer.
        if (!source->isActive() || source->frontLength() < n)
            continue;
        if (ref == kNoInput)
        {
            ref = source->frontRef();
            continue;
        }
        if (!owned)
        {
            std::uint32_t sum = 0;
            const auto bytes =
                static_cast<std::uint32_t>(std::max(n, m_setup->maxBlockLength())) * 8u;
            ZEL_TRY(context().takeBuffer(bytes, sum), fullName().toUtf8());
            CErrorPtr err = context().issue(add2, n, 0.0, {sum, ref, source->frontRef()});
            ref = sum;
            owned = true;
            ZEL_TRY(std::move(err), fullName().toUtf8());
            continue;
        }
        pending[pendingCount++] = source->frontRef();
        if (pendingCount == 3)
            ZEL_TRY(flush(), fullName().toUtf8());
    }
    ZEL_TRY(flush(), fullName().toUtf8());
    return nullptr;
}

void CAudioProcessBase::consumeChannel(CAudioInputChannel& channel, std::int32_t n)
{
    for (CAudioConnection* source : channel.sources)
        if (source->isActive())
            source->consume(n);
}

void CAudioProcessBase::consumeAllInputs(std::int32_t n)
{
    for (CAudioInputPort& port : m_inputs)
        for (CAudioInputChannel& channel : port.channels)
            consumeChannel(channel, n);
}

CErrorPtr CAudioProcessBase::pushChannel(CAudioOutputChannel& channel, std::uint32_t ref,
                                         std::int32_t n)
{
    for (CAudioConnection* reader : channel.readers)
        if (reader->isActive())
            ZEL_TRY(reader->push(ref, 0, n), "CAudioProcessBase");
    return nullptr;
}

CErrorPtr CAudioProcessBase::forwardChannel(CAudioInputChannel& from, CAudioOutputChannel& to,
                                            std::int32_t n)
{
    bool anyReader = false;
    for (const CAudioConnection* reader : to.readers)
        anyReader = anyReader || reader->isActive();
    if (anyReader)
    {
        std::uint32_t ref = kNoInput;
        bool owned = false;
        ZEL_TRY(readChannel(from, n, ref, owned), fullName().toUtf8());
        if (ref == kNoInput)
        {
            // Nothing connected: the readers get silence.
            const auto bytes =
                static_cast<std::uint32_t>(std::max(n, m_setup->maxBlockLength())) * 8u;
            ZEL_TRY(context().takeBuffer(bytes, ref), fullName().toUtf8());
            ZEL_TRY(context().issue(kernel("DCDAW_fill0"), n, 0.0, {ref}), fullName().toUtf8());
            owned = true;
        }
        CErrorPtr err = pushChannel(to, ref, n);
        if (owned)
            (void)context().releaseReference(ref);
        ZEL_TRY(std::move(err), fullName().toUtf8());
    }
    consumeChannel(from, n);
    return nullptr;
}

// ---- Running ----

CErrorPtr CAudioProcessBase::process(std::int32_t length)
{
    (void)length;
    while (true)
    {
        const std::int32_t n = availableInput();
        if (n <= 0 || n == kUnlimited)
            return nullptr;
        for (std::size_t p = 0; p < m_inputs.size(); ++p)
            for (std::size_t c = 0; c < m_inputs[p].channels.size(); ++c)
            {
                if (p < m_outputs.size() && c < m_outputs[p].channels.size())
                    ZEL_TRY(forwardChannel(m_inputs[p].channels[c], m_outputs[p].channels[c], n),
                            fullName().toUtf8());
                else
                    consumeChannel(m_inputs[p].channels[c], n);
            }
        advance(n);
    }
}

CErrorPtr CAudioProcessBase::bypass(std::int32_t port)
{
    while (true)
    {
        const std::int32_t n = availableInput();
        if (n <= 0 || n == kUnlimited)
            return nullptr;
        for (std::size_t p = 0; p < m_inputs.size(); ++p)
            for (std::size_t c = 0; c < m_inputs[p].channels.size(); ++c)
            {
                const bool passes = static_cast<std::int32_t>(p) == port && !m_outputs.empty() &&
                                    c < m_outputs[0].channels.size();
                if (passes)
                    ZEL_TRY(forwardChannel(m_inputs[p].channels[c], m_outputs[0].channels[c], n),
                            fullName().toUtf8());
                else
                    consumeChannel(m_inputs[p].channels[c], n);
            }
        advance(n);
    }
}

} // namespace zel
