#include "Harness/PluginDriver.h"

#include "Audio/AudioConnection.h"
#include "Audio/AudioEnv.h"
#include "Audio/AudioParamDef.h"
#include "Audio/AudioParamRegistry.h"
#include "Audio/AudioProcessDef.h"
#include "Audio/DCDAWContext.h"
#include "Audio/Processes/ModOutput.h"

#include <algorithm>

namespace kelvtest
{
namespace
{
const char* const kOwner = "CPluginDriver";

template <class T>
zel::CErrorPtr findTyped(const zel::CObject& from, const char* path, T*& out)
{
    out = dynamic_cast<T*>(from.findObject(path));
    if (out == nullptr)
        return ZEL_ERROR(kOwner, "test_CPluginDriver_find", "Object '%1' missing or of wrong type.",
                         {path});
    return nullptr;
}
} // namespace

CPluginDriver::CPluginDriver(double sampleRate, std::int32_t channels)
    : m_rate(sampleRate), m_channels(channels)
{
    m_error = build();
}

CPluginDriver::~CPluginDriver()
{
    // The processes hold kernel context buffers: they go before the context.
    if (m_output != nullptr)
        m_output->destroy();
    if (m_main != nullptr)
        m_main->destroy();
    m_root.reset();
    if (m_ownsApplication)
        zel::CApplication::destroySharedObject();
}

zel::CErrorPtr CPluginDriver::build()
{
    if (zel::CApplication::instance() == nullptr)
    {
        ZEL_TRY(zel::CApplication::initSharedObject(), kOwner);
        m_ownsApplication = true;
    }
    ZEL_TRY(zel::CApplication::initRootObject(zel::CText(), m_root), kOwner);
    const zel::CObject* audio = m_root->findObject("shared::audio");
    if (audio == nullptr)
        return ZEL_ERROR(kOwner, "test_CPluginDriver_audio", "No shared audio object.");
    ZEL_TRY(
        m_root->createChild(audio->attribute("plugin-tag"), zel::CText("plugin"), true, m_plugin),
        kOwner);
    // The lifecycle the description loader runs on an element: the template's children are
    // created by initTemplateChilds.
    ZEL_TRY(m_plugin->init(), kOwner);
    ZEL_TRY(m_plugin->initTemplateChilds(), kOwner);
    ZEL_TRY(m_plugin->initChilds(), kOwner);
    m_plugin->setState(zel::kStateLoaded);
    ZEL_TRY(findTyped(*m_root, "plugin.dcdaw-context", m_context), kOwner);
    ZEL_TRY(findTyped(*m_root, "plugin.audio-env", m_env), kOwner);
    ZEL_TRY(findTyped(*m_root, "plugin.param-collector", m_collector), kOwner);
    const zel::CAudioProcessDefBase* mainDef = nullptr;
    const zel::CAudioProcessDefBase* outDef = nullptr;
    ZEL_TRY(findTyped(*m_root, "shared::audio.modMain", mainDef), kOwner);
    ZEL_TRY(findTyped(*m_root, "shared::audio.modOutput", outDef), kOwner);
    const zel::CAudioParamDef* grouping = nullptr;
    ZEL_TRY(findTyped(*m_root, "shared::audio.modMain.io-params.grouping", grouping), kOwner);

    m_env->setSampleRate(m_rate);
    m_env->setMaxBlockLength(kMaxPiece);
    m_env->setStreamTime(0.0);

    const std::vector<double>& assign = grouping->sharedInfo()->defaultSets.at(0);
    std::int32_t used = 1;
    for (std::int32_t c = 0; c < m_channels; ++c)
    {
        const auto index = static_cast<std::size_t>(c);
        const std::int32_t g = index < assign.size() ? static_cast<std::int32_t>(assign[index]) : 0;
        m_groups.push_back(g);
        used = std::max(used, g + 1);
    }
    const zel::CObject* project = m_root->findObject("shared::project");
    std::int32_t groupCount = 8;
    if (project != nullptr)
        groupCount = std::stoi(project->attribute("plugin-group-count", zel::CText("8")).toUtf8());

    m_setup = std::make_shared<zel::CAudioProcessSetup>();
    m_setup->context = m_context;
    m_setup->env = m_env;
    m_setup->collector = m_collector;
    m_setup->channelCount = m_channels;
    m_setup->groupCount = groupCount;
    m_setup->channelGroups = m_groups;

    ZEL_TRY(zel::CAudioProcessBase::instantiate(*mainDef, *m_plugin, zel::CText("modMain"), m_setup,
                                                zel::CText("plugin.modMain"), m_main),
            kOwner);
    for (std::int32_t c = 0; c < m_channels; ++c)
        m_feeds.push_back(&m_main->feedInput(0, c));
    ZEL_TRY(m_main->connect(), kOwner);
    zel::CAudioProcessBase* out = nullptr;
    ZEL_TRY(zel::CAudioProcessBase::instantiate(*outDef, *m_plugin, zel::CText("modOutput"),
                                                m_setup, zel::CText("plugin.modOutput"), out),
            kOwner);
    m_output = dynamic_cast<zel::CModOutput*>(out);
    if (m_output == nullptr)
        return ZEL_ERROR(kOwner, "test_CPluginDriver_output", "Output process of wrong type.");
    ZEL_TRY(m_output->attachSource(*m_main), kOwner);
    m_output->setOutputFormat(true, false, m_channels);

    ZEL_TRY(set("plugin.modMain.modKelvatrone.group-count", 0, 0, used), kOwner);
    // The parameters are registered: the registries apply their default presets now, as the
    // host boundary has them do before the first block.
    for (zel::CObject* child : m_plugin->childList())
        if (auto* registry = dynamic_cast<zel::CAudioParamRegistry*>(child))
            registry->parametersReady();
    m_outPtrs.resize(static_cast<std::size_t>(m_channels));
    m_inPtrs.resize(static_cast<std::size_t>(m_channels));
    m_silence.assign(kMaxPiece, 0.0);
    return nullptr;
}

double CPluginDriver::streamTime() const
{
    return m_env->streamTime();
}

zel::CAudioParamRegistry* CPluginDriver::registry(const char* name) const
{
    return dynamic_cast<zel::CAudioParamRegistry*>(m_plugin->findChild(name));
}

zel::CAudioParam* CPluginDriver::param(const std::string& path) const
{
    return m_collector->findParam(zel::CText(path));
}

zel::CErrorPtr CPluginDriver::set(const std::string& path, std::int32_t group, std::int32_t element,
                                  double value, std::int32_t valueIndex)
{
    zel::CAudioParam* p = param(path);
    if (p == nullptr)
        return ZEL_ERROR(kOwner, "test_CPluginDriver_set", "No parameter '%1'.", {path});
    return p->setValue(group, element, valueIndex, value);
}

zel::CErrorPtr CPluginDriver::setText(const std::string& path, std::int32_t group,
                                      std::int32_t element, const std::string& text,
                                      std::int32_t valueIndex)
{
    zel::CAudioParam* p = param(path);
    if (p == nullptr)
        return ZEL_ERROR(kOwner, "test_CPluginDriver_setText", "No parameter '%1'.", {path});
    bool ok = true;
    ZEL_TRY(p->setText(group, element, valueIndex, zel::CText(text), &ok), kOwner);
    if (!ok)
        return ZEL_ERROR(kOwner, "test_CPluginDriver_setText", "Text '%1' not accepted.", {text});
    return nullptr;
}

zel::CErrorPtr CPluginDriver::setElements(const std::string& path, std::int32_t group,
                                          std::vector<double> values)
{
    zel::CAudioParam* p = param(path);
    if (p == nullptr)
        return ZEL_ERROR(kOwner, "test_CPluginDriver_setElements", "No parameter '%1'.", {path});
    return p->setElements(group, std::move(values));
}

zel::CErrorPtr CPluginDriver::routeAllChannels()
{
    for (std::int32_t c = 0; c < m_channels; ++c)
    {
        ZEL_TRY(set("plugin.modMain.io-params.in-routing", 0, c, c + 1), kOwner);
        ZEL_TRY(set("plugin.modMain.io-params.out-routing", 0, c, c + 1), kOwner);
    }
    return nullptr;
}

double CPluginDriver::kelv(const std::string& name, std::int32_t element, std::int32_t group) const
{
    const zel::CAudioParam* p = param(kKelv + name);
    return p != nullptr ? p->value(group, element, 0) : -1e300;
}

zel::CErrorPtr CPluginDriver::runPiece(const std::vector<const double*>& in, std::int32_t offset,
                                       std::int32_t n, const std::vector<double*>& out)
{
    (void)m_collector->takeIn(m_env->streamTime() + m_stampOffset);
    m_stampOffset = 0.0;
    const auto bytes = static_cast<std::uint32_t>(n) * 8u;
    for (std::size_t c = 0; c < m_feeds.size(); ++c)
    {
        std::uint32_t ref = 0;
        ZEL_TRY(m_context->takeBuffer(bytes, ref), kOwner);
        double* data = m_context->data(ref);
        std::copy(in[c] + offset, in[c] + offset + n, data);
        zel::CErrorPtr err = m_feeds[c]->push(ref, 0, n);
        (void)m_context->releaseReference(ref);
        ZEL_TRY(std::move(err), kOwner);
    }
    for (std::size_t c = 0; c < m_outPtrs.size(); ++c)
        m_outPtrs[c] = c < out.size() && out[c] != nullptr ? out[c] + offset : nullptr;
    ZEL_TRY(m_output->render(m_main, n, reinterpret_cast<void* const*>(m_outPtrs.data()), 0),
            kOwner);
    m_env->setStreamTime(m_env->streamTime() + static_cast<double>(n) / m_rate);
    return nullptr;
}

zel::CErrorPtr CPluginDriver::processInto(const std::vector<const double*>& in, std::int32_t frames,
                                          const std::vector<double*>& out)
{
    for (std::int32_t at = 0; at < frames; at += kMaxPiece)
        ZEL_TRY(runPiece(in, at, std::min(kMaxPiece, frames - at), out), kOwner);
    return nullptr;
}

std::vector<std::vector<double>> CPluginDriver::process(const std::vector<std::vector<double>>& in)
{
    const auto frames = static_cast<std::int32_t>(in.empty() ? 0 : in[0].size());
    std::vector<std::vector<double>> out(static_cast<std::size_t>(m_channels),
                                         std::vector<double>(static_cast<std::size_t>(frames)));
    std::vector<const double*> inPtrs;
    std::vector<double*> outPtrs;
    for (std::size_t c = 0; c < out.size(); ++c)
    {
        inPtrs.push_back(c < in.size() ? in[c].data() : m_silence.data());
        outPtrs.push_back(out[c].data());
    }
    m_error = processInto(inPtrs, frames, outPtrs);
    return out;
}

std::vector<std::vector<double>>
CPluginDriver::processAligned(const std::vector<std::vector<double>>& in)
{
    const auto delay = static_cast<std::size_t>(std::max(0, latency()));
    std::vector<std::vector<double>> padded = in;
    for (std::vector<double>& channel : padded)
        channel.resize(channel.size() + delay, 0.0);
    std::vector<std::vector<double>> out = process(padded);
    for (std::vector<double>& channel : out)
        channel.erase(channel.begin(), channel.begin() + static_cast<std::ptrdiff_t>(delay));
    return out;
}

std::int32_t CPluginDriver::latency() const
{
    return m_env != nullptr ? m_env->latency() : 0;
}

void CPluginDriver::processSilence(std::int32_t frames)
{
    std::fill(m_inPtrs.begin(), m_inPtrs.end(), m_silence.data());
    for (std::int32_t at = 0; at < frames; at += kMaxPiece)
    {
        const std::int32_t n = std::min(kMaxPiece, frames - at);
        // Each piece reads the silence from its start.
        if (zel::CErrorPtr err = runPiece(m_inPtrs, 0, n, {}))
        {
            m_error = std::move(err);
            return;
        }
    }
}

} // namespace kelvtest
