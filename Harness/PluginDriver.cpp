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
    m_wrapper.reset();
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
    m_wrapper = std::make_unique<CTestWrapper>(m_channels);
    m_wrapper->setSampleRate(m_rate);
    m_wrapper->setMaxBlockLength(kMaxPiece);
    ZEL_TRY(m_wrapper->init(), kOwner);
    ZEL_TRY(m_wrapper->postInit(), kOwner);
    ZEL_TRY(m_wrapper->resume(), kOwner);

    const zel::CAudioParamDef* grouping = nullptr;
    ZEL_TRY(findTyped(m_wrapper->plugin(), "shared::audio.modMain.io-params.grouping", grouping),
            kOwner);
    const std::vector<double>& assign = grouping->sharedInfo()->defaultSets.at(0);
    std::int32_t used = 1;
    for (std::int32_t c = 0; c < m_channels; ++c)
    {
        const auto index = static_cast<std::size_t>(c);
        const std::int32_t g = index < assign.size() ? static_cast<std::int32_t>(assign[index]) : 0;
        m_groups.push_back(g);
        used = std::max(used, g + 1);
    }
    ZEL_TRY(set("plugin.modMain.modKelvatrone.group-count", 0, 0, used), kOwner);
    m_outPtrs.resize(static_cast<std::size_t>(m_channels));
    m_inPtrs.resize(static_cast<std::size_t>(m_channels));
    return nullptr;
}

double CPluginDriver::streamTime() const
{
    return m_wrapper->streamTime();
}

zel::CAudioParamRegistry* CPluginDriver::registry(const char* name) const
{
    return dynamic_cast<zel::CAudioParamRegistry*>(plugin().findChild(name));
}

zel::CAudioParam* CPluginDriver::param(const std::string& path) const
{
    return collector().findParam(zel::CText(path));
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

zel::CErrorPtr CPluginDriver::processInto(const std::vector<const double*>& in, std::int32_t frames,
                                          const std::vector<double*>& out)
{
    for (std::size_t c = 0; c < m_inPtrs.size(); ++c)
    {
        m_inPtrs[c] = c < in.size() ? in[c] : nullptr;
        m_outPtrs[c] = c < out.size() ? out[c] : nullptr;
    }
    ZEL_TRY(m_wrapper->process(m_inPtrs.data(), m_outPtrs.data(), frames, true, true), kOwner);
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
        inPtrs.push_back(c < in.size() ? in[c].data() : nullptr);
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
    return m_wrapper != nullptr ? m_wrapper->latency() : 0;
}

void CPluginDriver::processSilence(std::int32_t frames)
{
    // Null inputs are silence; null outputs are not written.
    if (zel::CErrorPtr err = m_wrapper->process(nullptr, nullptr, frames, true, true))
        m_error = std::move(err);
}

} // namespace kelvtest
