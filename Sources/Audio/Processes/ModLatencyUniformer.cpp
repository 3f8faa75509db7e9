#include "Audio/Processes/ModLatencyUniformer.h"

#include "Audio/AudioEnv.h"
#include "Audio/DCDAWContext.h"
#include "Core/Log.h"
#include "Core/Numbers.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace zel
{

namespace
{

std::string trimmedPart(const std::string& text)
{
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return std::string();
    const std::size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

} // namespace

// ---- CModLatencyUniformerModule ----

CErrorPtr CModLatencyUniformerModule::start(CAudioProcessTerminalBase& owner, std::int32_t channel)
{
    (void)owner;
    (void)channel;
    m_copy = findDCDAWKernel("DCDAW_copy");
    m_fill0 = findDCDAWKernel("DCDAW_fill0");
    if (m_copy == nullptr || m_fill0 == nullptr)
        return ZEL_ERROR("CModLatencyUniformerModule::start",
                         "zelstr_CModLatencyUniformerModule_start_NoKernel",
                         "The delay kernels are missing.", {});
    return nullptr;
}

CErrorPtr CModLatencyUniformerModule::setDelay(CDCDAWContextObject& ctx, std::int32_t delay,
                                               std::int32_t blockLength)
{
    const char* where = "CModLatencyUniformerModule::setDelay";
    m_delay = std::max(delay, 0);
    if (m_delay == 0)
        return nullptr;
    const std::int32_t block = std::max(blockLength, 1);
    const std::int32_t needed = m_delay + CModLatencyUniformer::kHeadroom;
    const std::int32_t size = (needed + block - 1) / block * block;
    if (m_hasRing && m_size >= needed)
        return nullptr;
    if (m_hasRing)
        (void)ctx.releaseReference(m_ring);
    m_hasRing = false;
    ZEL_TRY(ctx.takeBuffer(static_cast<std::uint32_t>(size) * 8u, m_ring), where);
    m_hasRing = true;
    m_size = size;
    m_write = 0;
    ZEL_TRY(ctx.issue(*m_fill0, size, 0.0, {m_ring}), where);
    return nullptr;
}

CErrorPtr CModLatencyUniformerModule::process(CAudioModuleBlock& block)
{
    const char* where = "CModLatencyUniformerModule::process";
    const std::uint32_t in = block.input(0);
    if (m_delay == 0 || !m_hasRing)
    {
        if (in != CAudioProcessBase::kNoInput)
            return block.passInput(0, 0);
        std::uint32_t out = 0;
        ZEL_TRY(block.output(0, out), where);
        return block.issue(*m_fill0, 0.0, {out});
    }
    CDCDAWContextObject& ctx = block.context();
    std::uint32_t out = 0;
    ZEL_TRY(block.output(0, out), where);
    using C = CDCDAWContextObject;
    const auto ring = [&](std::int32_t at)
    { return C::offsetReference(m_ring, static_cast<std::uint32_t>(at)); };
    const auto at = [](std::uint32_t ref, std::int32_t i)
    { return C::offsetReference(ref, static_cast<std::uint32_t>(i)); };
    // Pieces of at most size - delay samples: what a piece writes never covers what it reads.
    const std::int32_t piece = m_size - m_delay;
    const std::int32_t n = block.length();
    for (std::int32_t done = 0; done < n;)
    {
        std::int32_t k = std::min({piece, n - done, m_size - m_write});
        const std::int32_t read = (m_write - m_delay + m_size) % m_size;
        k = std::min(k, m_size - read);
        if (in == CAudioProcessBase::kNoInput)
            ZEL_TRY(ctx.issue(*m_fill0, k, 0.0, {ring(m_write)}), where);
        else
            ZEL_TRY(ctx.issue(*m_copy, k, 0.0, {ring(m_write), at(in, done)}), where);
        ZEL_TRY(ctx.issue(*m_copy, k, 0.0, {at(out, done), ring(read)}), where);
        m_write = (m_write + k) % m_size;
        done += k;
    }
    return nullptr;
}

void CModLatencyUniformerModule::stop(CAudioProcessTerminalBase& owner)
{
    if (m_hasRing)
        (void)owner.context().releaseReference(m_ring);
    m_hasRing = false;
    m_size = 0;
}

// ---- CModLatencyUniformer ----

void CModLatencyUniformer::registerClass(CClassInfo& info)
{
    CAudioProcessTerminalBase::registerClass(info);
}

CErrorPtr CModLatencyUniformer::connect()
{
    ZEL_TRY(CAudioProcessTerminalBase::connect(), fullName().toUtf8());
    m_plan.build(*this);
    // The environment holds the latency to report before the first block runs.
    const double rate = sampleRate();
    return apply(rate, static_cast<std::int32_t>(std::llround(m_plan.seconds() * rate)));
}

CErrorPtr CModLatencyUniformer::updateBlock()
{
    ZEL_TRY(CAudioProcessTerminalBase::updateBlock(), fullName().toUtf8());
    const double rate = sampleRate();
    const auto graph = static_cast<std::int32_t>(std::llround(m_plan.seconds() * rate));
    if (rate == m_rate && graph == m_graphLatency)
        return nullptr;
    return apply(rate, graph);
}

CErrorPtr CModLatencyUniformer::apply(double rate, std::int32_t graph)
{
    m_rate = rate;
    m_graphLatency = graph;
    const auto* def = static_cast<const CModLatencyUniformerDef*>(definition());
    const CModLatencyUniformerDef::CEntry* entry = def->entryFor(rate);
    char line[160];
    std::int32_t delay = 0;
    std::int32_t reported = graph;
    if (entry == nullptr || entry->latency == CModLatencyUniformerDef::kUndefined)
    {
        std::snprintf(line, sizeof line, "Unsupported sample rate %f in LatencyUniformer", rate);
        diagLog(line);
    }
    else if (graph > entry->latency)
    {
        std::snprintf(line, sizeof line,
                      "Too high latency %i at sample rate %f in LatencyUniformer", graph, rate);
        diagLog(line);
    }
    else
    {
        delay = entry->latency - graph;
        reported = entry->latency;
    }
    m_delay = delay;
    m_reported = reported;
    if (setup().env != nullptr)
        setup().env->setLatency(reported);
    for (std::size_t i = 0; i < moduleCount(); ++i)
        ZEL_TRY(module(i).setDelay(context(), delay, setup().maxBlockLength()),
                fullName().toUtf8());
    return nullptr;
}

// ---- CModLatencyUniformerDef ----

void CModLatencyUniformerDef::registerClass(CClassInfo& info)
{
    CAudioProcessDefBase::registerClass(info);
    info.attribute<&CModLatencyUniformerDef::onLatencies>("latencies");
}

CErrorPtr CModLatencyUniformerDef::makeProcess(TObjectPtr<CAudioProcessBase>& process) const
{
    process = CObject::make<CModLatencyUniformer>();
    return nullptr;
}

CErrorPtr CModLatencyUniformerDef::onLatencies(const CText& value)
{
    m_entries.clear();
    const std::string text = value.toUtf8();
    std::size_t pos = 0;
    while (pos <= text.size())
    {
        std::size_t end = text.find(';', pos);
        if (end == std::string::npos)
            end = text.size();
        const std::string item = trimmedPart(text.substr(pos, end - pos));
        pos = end + 1;
        if (item.empty())
            continue;
        const std::size_t eq = item.find('=');
        CEntry entry;
        bool ok = eq != std::string::npos &&
                  parseInteger(CText(trimmedPart(item.substr(0, eq))), entry.rate) &&
                  entry.rate > 0;
        if (ok)
        {
            const std::string latency = trimmedPart(item.substr(eq + 1));
            if (latency == "undefined")
                entry.latency = kUndefined;
            else
                ok = parseInteger32(CText(latency), entry.latency) && entry.latency >= 0;
        }
        if (!ok)
            return ZEL_ERROR(fullName().toUtf8(),
                             "zelstr_CModLatencyUniformerDef_onLatencies_Invalid",
                             "Invalid latency entry '%1' specified.", {item});
        m_entries.push_back(entry);
    }
    return nullptr;
}

const CModLatencyUniformerDef::CEntry* CModLatencyUniformerDef::entryFor(double sampleRate) const
{
    const double rounded = std::round(sampleRate); // half away from zero
    for (const CEntry& entry : m_entries)
        if (static_cast<double>(entry.rate) >= rounded)
            return &entry;
    return nullptr;
}

} // namespace zel
