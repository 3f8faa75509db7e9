#pragma once
// CProgressBar: one line on standard error that shows how far a render is: percent done, the
// speed as a multiple of real time, and the time left. It draws only when enabled and at most
// ten times a second; finish() ends the line. It measures wall time itself; it does not know
// what is being rendered.

#include <chrono>
#include <cstdint>
#include <string>

namespace kelvtools
{

class CProgressBar
{
public:
    CProgressBar(std::int64_t totalFrames, double sampleRate, bool enabled);

    void update(std::int64_t doneFrames);
    void finish();

    // The text of the bar for a state, as drawn (without the carriage return).
    static std::string line(std::int64_t doneFrames, std::int64_t totalFrames, double sampleRate,
                            double seconds);

private:
    using Clock = std::chrono::steady_clock;

    std::int64_t m_total;
    double m_rate;
    bool m_enabled;
    bool m_drawn = false;
    Clock::time_point m_start;
    Clock::time_point m_last;
};

} // namespace kelvtools
