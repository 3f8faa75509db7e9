// kelv-demo-mix: writes the project's demo clip (see CDemoMix) as a 24-bit stereo WAV file.
// Usage: kelv-demo-mix OUTPUT.wav [SECONDS] [RATE]   (default 8 s at 44100 Hz)

#include "DemoMix.h"

#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 4)
    {
        std::fprintf(stderr, "usage: kelv-demo-mix OUTPUT.wav [SECONDS] [RATE]\n");
        return 2;
    }
    const double seconds = argc > 2 ? std::atof(argv[2]) : 8.0;
    const int rate = argc > 3 ? std::atoi(argv[3]) : 44100;
    if (!(seconds > 0.0 && seconds <= 600.0) || rate < 8000 || rate > 384000)
    {
        std::fprintf(stderr, "kelv-demo-mix: 0 to 600 seconds at 8000 to 384000 Hz\n");
        return 2;
    }
    const std::vector<double> mix = kelvtools::CDemoMix::render(seconds, rate);
    // Quantised here (rounded, no dither) so that the clip is the same file everywhere.
    std::vector<int> samples(mix.size());
    for (std::size_t i = 0; i < mix.size(); ++i)
    {
        const double v = std::floor(mix[i] * 8388608.0 + 0.5);
        const double clipped = v > 8388607.0 ? 8388607.0 : (v < -8388608.0 ? -8388608.0 : v);
        samples[i] = static_cast<int>(static_cast<unsigned>(static_cast<int>(clipped)) << 8);
    }
    SF_INFO info{};
    info.channels = 2;
    info.samplerate = rate;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
    SNDFILE* file = sf_open(argv[1], SFM_WRITE, &info);
    if (file == nullptr)
    {
        std::fprintf(stderr, "kelv-demo-mix: cannot write %s: %s\n", argv[1], sf_strerror(nullptr));
        return 1;
    }
    const sf_count_t frames = static_cast<sf_count_t>(samples.size() / 2);
    const bool ok = sf_writef_int(file, samples.data(), frames) == frames;
    sf_close(file);
    if (!ok)
    {
        std::fprintf(stderr, "kelv-demo-mix: cannot write %s\n", argv[1]);
        std::remove(argv[1]);
        return 1;
    }
    return 0;
}
