#include "DemoMix.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace kelvtools
{
namespace
{

constexpr double kPi = 3.141592653589793;
constexpr double kBeat = 0.5; // seconds, 120 beats per minute

// A fixed noise source: the same sequence everywhere.
class CNoise
{
public:
    double next()
    {
        m_state = m_state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<double>(m_state >> 11) * 0x1.0p-52 - 1.0;
    }

private:
    std::uint64_t m_state = 0x4B454C56ull;
};

double midiHz(int note)
{
    return 440.0 * std::pow(2.0, (note - 69) / 12.0);
}

// A band-limited-enough sawtooth: the first harmonics of a saw summed.
double saw(double phase, int harmonics)
{
    double sum = 0.0;
    for (int k = 1; k <= harmonics; ++k)
        sum += std::sin(2.0 * kPi * k * phase) / k;
    return sum * (2.0 / kPi);
}

} // namespace

std::vector<double> CDemoMix::render(double seconds, std::int32_t sampleRate)
{
    const auto frames = static_cast<std::int64_t>(seconds * sampleRate);
    const double fs = static_cast<double>(sampleRate);
    std::vector<double> out(static_cast<std::size_t>(frames) * 2, 0.0);
    CNoise noise;

    // One chord a bar (four beats): A minor, F major, C major, G major; bass on the roots.
    const std::array<std::array<int, 3>, 4> chords = {
        {{57, 60, 64}, {53, 57, 60}, {48, 52, 55}, {55, 59, 62}}};
    const std::array<int, 4> roots = {33, 29, 36, 31};

    double hatState = 0.0;
    double snareLp = 0.0;
    double padLp[2] = {0.0, 0.0};
    for (std::int64_t n = 0; n < frames; ++n)
    {
        const double t = static_cast<double>(n) / fs;
        const double beatPos = t / kBeat;
        const auto beat = static_cast<std::int64_t>(beatPos);
        const double inBeat = (beatPos - static_cast<double>(beat)) * kBeat; // seconds
        const auto bar = static_cast<std::size_t>((beat / 4) % 4);
        const std::int64_t beatInBar = beat % 4;

        // Kick on every beat: a sine falling from 155 Hz to 45 Hz (the phase is the integral of
        // that frequency), with a fast decay, accented on the downbeat.
        const double kickPhase = 45.0 * inBeat + 110.0 * (1.0 - std::exp(-inBeat * 30.0)) / 30.0;
        const double kick = std::sin(2.0 * kPi * kickPhase) * std::exp(-inBeat * 7.0) *
                            (beatInBar == 0 ? 0.95 : 0.75);

        // Snare on beats 2 and 4: a tone and low-passed noise.
        double snare = 0.0;
        const double white = noise.next();
        snareLp += (white - snareLp) * 0.45;
        if (beatInBar == 1 || beatInBar == 3)
            snare = (0.35 * std::sin(2.0 * kPi * 190.0 * inBeat) * std::exp(-inBeat * 25.0) +
                     0.55 * snareLp * std::exp(-inBeat * 14.0));

        // Hi-hat on every eighth: high-passed noise, a short tick.
        const double eighth = std::fmod(t, kBeat / 2.0);
        const double hatNoise = white - hatState;
        hatState = white;
        const double hat = 0.22 * hatNoise * std::exp(-eighth * 60.0);

        // Bass: the root on every beat, plucked, with a few harmonics.
        const double bassHz = midiHz(roots[bar]);
        const double bass = 0.38 * saw(bassHz * inBeat, 6) * std::exp(-inBeat * 3.0) *
                            std::min(1.0, inBeat * 400.0);

        // Pad: the bar's chord on slightly detuned saws, soft attack, darker in the left.
        const double barTime = std::fmod(t, 4.0 * kBeat);
        const double swell =
            std::min(1.0, barTime / 0.6) * (0.85 + 0.15 * std::sin(2.0 * kPi * 0.5 * t));
        double padL = 0.0;
        double padR = 0.0;
        for (int note : chords[bar])
        {
            const double hz = midiHz(note);
            padL += saw(hz * 0.998 * t, 8);
            padR += saw(hz * 1.002 * t, 8);
        }
        padLp[0] += (padL - padLp[0]) * 0.08;
        padLp[1] += (padR - padLp[1]) * 0.12;
        const double padGain = 0.07 * swell;

        // The first two bars are a quieter intro without kick and snare; the full mix follows.
        const double drums = beat < 8 ? 0.0 : 1.0;
        const double centre = drums * (0.8 * kick + 0.55 * snare) + (beat < 8 ? 0.45 : 0.7) * bass;
        const double left = centre + 0.9 * hat + padGain * padLp[0];
        const double right = centre + 0.6 * hat + padGain * padLp[1];
        // Ends faded in and out over 10 ms so the clip starts and stops without clicks.
        const double edge = std::min({1.0, t / 0.01, (seconds - t) / 0.01});
        out[static_cast<std::size_t>(n) * 2] = std::clamp(0.5 * left * edge, -1.0, 1.0);
        out[static_cast<std::size_t>(n) * 2 + 1] = std::clamp(0.5 * right * edge, -1.0, 1.0);
    }
    return out;
}

} // namespace kelvtools
