#pragma once
// CAudioEnv ("audio:audio-env"): the audio environment of one plug-in instance: sample rate,
// maximum block length, latency of the graph in samples, stream time in seconds, the active
// flag, and the graph lock that guards them (a critical section with spin count 4000). The
// host boundary holds the graph lock while it processes, resumes or suspends; the editor link
// takes it to read or change these values. Attribute "viz-fps": the frame rate of the
// visualisation exchange (default 30).
//
// The accessors do not lock: callers that are not already inside the graph lock take it.

#include "Core/Object.h"
#include "Platform/CriticalSection.h"

#include <cstdint>

namespace zel
{

class CAudioEnv : public CObject
{
public:
    static void registerClass(CClassInfo& info);
    CErrorPtr onVizFps(const CText& value);

    CCriticalSection& graphLock() const { return m_lock; }

    double sampleRate() const { return m_sampleRate; }
    void setSampleRate(double rate) { m_sampleRate = rate; }
    std::int32_t maxBlockLength() const { return m_maxBlockLength; }
    void setMaxBlockLength(std::int32_t length) { m_maxBlockLength = length; }
    std::int32_t latency() const { return m_latency; }
    void setLatency(std::int32_t samples) { m_latency = samples; }
    double streamTime() const { return m_streamTime; }
    void setStreamTime(double seconds) { m_streamTime = seconds; }
    bool isActive() const { return m_active; }
    void setActive(bool active) { m_active = active; }
    double vizFps() const { return m_vizFps; }
    // Set once the instance's graph state is built (the wrapper's init).
    bool isPrepared() const { return m_prepared; }
    void setPrepared(bool prepared) { m_prepared = prepared; }

private:
    mutable CCriticalSection m_lock{4000};
    double m_sampleRate = 44100.0;
    std::int32_t m_maxBlockLength = 512;
    std::int32_t m_latency = 0;
    double m_streamTime = 0.0;
    bool m_active = false;
    bool m_prepared = false;
    double m_vizFps = 30.0;
};

} // namespace zel
