#pragma once
// CDemoMix: the project's demo clip, synthesised from nothing but arithmetic so that it carries
// no third-party audio: a few bars of a small mix at 120 beats per minute, with drums (kick,
// snare, hi-hat), a bass line and a pad of chords, stereo, with the dynamics of an unmastered
// mix (loud transients over a quieter bed). The same length and rate give the same samples on
// every machine. It only synthesises; writing the file is the tool's business.

#include <cstdint>
#include <vector>

namespace kelvtools
{

class CDemoMix
{
public:
    // Interleaved stereo frames in [-1, 1].
    static std::vector<double> render(double seconds, std::int32_t sampleRate);
};

} // namespace kelvtools
