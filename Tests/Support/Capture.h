#pragma once
// Captures, for its lifetime, the lines of the diagnostic log and the error windows shown (each
// as "title|details"), from any thread. Not a fixture: a test or fixture holds one.

#include "Core/Log.h"
#include "Platform/ErrorWindow.h"

#include <mutex>
#include <string>
#include <vector>

namespace kelvtest
{

class CCapture
{
public:
    CCapture()
        : m_previousSink(zel::setDiagLogSink([this](std::string_view line) { add(m_log, line); })),
          m_previousHook(zel::platform::setErrorWindowHook(
              [this](std::string_view title, std::string_view, std::string_view details)
              { add(m_windows, std::string(title) + "|" + std::string(details)); }))
    {
    }
    ~CCapture()
    {
        zel::platform::setErrorWindowHook(m_previousHook);
        zel::setDiagLogSink(m_previousSink);
    }
    CCapture(const CCapture&) = delete;
    CCapture& operator=(const CCapture&) = delete;

    std::vector<std::string> log() { return copy(m_log); }
    std::vector<std::string> windows() { return copy(m_windows); }

private:
    void add(std::vector<std::string>& to, std::string_view line)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        to.emplace_back(line);
    }
    std::vector<std::string> copy(const std::vector<std::string>& from)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return from;
    }

    std::mutex m_mutex;
    std::vector<std::string> m_log;
    std::vector<std::string> m_windows;
    zel::CLogSink m_previousSink;
    zel::platform::ErrorWindowHook m_previousHook;
};

} // namespace kelvtest
