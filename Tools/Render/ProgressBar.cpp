#include "ProgressBar.h"

#include <algorithm>
#include <cstdio>

namespace kelvtools
{

CProgressBar::CProgressBar(std::int64_t totalFrames, double sampleRate, bool enabled)
    : m_total(totalFrames), m_rate(sampleRate), m_enabled(enabled), m_start(Clock::now()),
      m_last(m_start)
{
}

std::string CProgressBar::line(std::int64_t doneFrames, std::int64_t totalFrames, double sampleRate,
                               double seconds)
{
    constexpr int kWidth = 30;
    const double fraction =
        totalFrames > 0
            ? std::clamp(static_cast<double>(doneFrames) / static_cast<double>(totalFrames), 0.0,
                         1.0)
            : 1.0;
    const int filled = static_cast<int>(fraction * kWidth);
    std::string bar(static_cast<std::size_t>(kWidth + 2), '-');
    bar.front() = '[';
    bar.back() = ']';
    for (int i = 0; i < filled; ++i)
        bar[static_cast<std::size_t>(i + 1)] = '#';
    const double audioSeconds = static_cast<double>(doneFrames) / sampleRate;
    const double speed = seconds > 0.0 ? audioSeconds / seconds : 0.0;
    char text[128];
    if (speed > 0.0)
    {
        const double left = static_cast<double>(totalFrames - doneFrames) / sampleRate / speed;
        const int leftSeconds = static_cast<int>(left + 0.5);
        std::snprintf(text, sizeof(text), " %3d%%  %6.1fx realtime  %d:%02d left",
                      static_cast<int>(fraction * 100.0), speed, leftSeconds / 60,
                      leftSeconds % 60);
    }
    else
        std::snprintf(text, sizeof(text), " %3d%%", static_cast<int>(fraction * 100.0));
    bar.append(text);
    return bar;
}

void CProgressBar::update(std::int64_t doneFrames)
{
    if (!m_enabled)
        return;
    const Clock::time_point now = Clock::now();
    if (m_drawn && now - m_last < std::chrono::milliseconds(100))
        return;
    m_last = now;
    m_drawn = true;
    const double seconds = std::chrono::duration<double>(now - m_start).count();
    std::fprintf(stderr, "\r%s", line(doneFrames, m_total, m_rate, seconds).c_str());
    std::fflush(stderr);
}

void CProgressBar::finish()
{
    if (!m_enabled || !m_drawn)
        return;
    // Clears the bar: the summary follows on a clean line.
    std::fprintf(stderr, "\r%s\r", std::string(80, ' ').c_str());
    std::fflush(stderr);
    m_drawn = false;
}

} // namespace kelvtools
