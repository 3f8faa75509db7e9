// kelvatrone-render through the real executable and the real plug-in module: files are built
// and read back byte by byte here (not with the audio library the renderer uses), the
// executable runs as a child process, and its exit status, messages and files are checked.
#include "AudioFile.h"
#include "ProgressBar.h"
#include "RenderOptions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace
{

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Channels = std::vector<std::vector<double>>;

void put16(Bytes& b, std::uint32_t v)
{
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}

void put32(Bytes& b, std::uint32_t v)
{
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

void putTag(Bytes& b, const char* tag)
{
    b.insert(b.end(), tag, tag + 4);
}

// A WAV file assembled by hand: format tag 3 (float) or 1 (integer PCM).
Bytes wavFile(const Channels& channels, std::uint32_t rate, std::uint16_t bits, bool isFloat)
{
    const auto count = static_cast<std::uint16_t>(channels.size());
    const std::size_t frames = channels.empty() ? 0 : channels[0].size();
    Bytes data;
    for (std::size_t i = 0; i < frames; ++i)
        for (const auto& channel : channels)
        {
            if (isFloat)
            {
                const float f = static_cast<float>(channel[i]);
                std::uint32_t u = 0;
                std::memcpy(&u, &f, 4);
                put32(data, u);
            }
            else
            {
                const double scale = std::ldexp(1.0, bits - 1);
                const auto v = static_cast<std::int32_t>(std::lround(channel[i] * (scale - 1)));
                for (int k = 0; k < bits / 8; ++k)
                    data.push_back(
                        static_cast<std::uint8_t>(static_cast<std::uint32_t>(v) >> (8 * k)));
            }
        }
    Bytes b;
    putTag(b, "RIFF");
    put32(b, static_cast<std::uint32_t>(36 + data.size()));
    putTag(b, "WAVE");
    putTag(b, "fmt ");
    put32(b, 16);
    put16(b, isFloat ? 3 : 1);
    put16(b, count);
    put32(b, rate);
    put32(b, rate * count * bits / 8);
    put16(b, static_cast<std::uint16_t>(count * bits / 8));
    put16(b, bits);
    putTag(b, "data");
    put32(b, static_cast<std::uint32_t>(data.size()));
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

void writeFile(const fs::path& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

Bytes readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::uint32_t get32(const Bytes& b, std::size_t at)
{
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
           static_cast<std::uint32_t>(b[at + 2]) << 16 |
           static_cast<std::uint32_t>(b[at + 3]) << 24;
}

// Reads a WAV file's float or 16/24-bit samples by walking its chunks.
Channels readWav(const fs::path& path)
{
    const Bytes b = readFile(path);
    if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) != 0)
        return {};
    std::uint16_t tag = 0;
    std::uint16_t count = 0;
    std::uint16_t bits = 0;
    for (std::size_t at = 12; at + 8 <= b.size();)
    {
        const std::uint32_t size = get32(b, at + 4);
        if (std::memcmp(&b[at], "fmt ", 4) == 0)
        {
            tag = static_cast<std::uint16_t>(b[at + 8] | b[at + 9] << 8);
            count = static_cast<std::uint16_t>(b[at + 10] | b[at + 11] << 8);
            bits = static_cast<std::uint16_t>(b[at + 22] | b[at + 23] << 8);
        }
        else if (std::memcmp(&b[at], "data", 4) == 0 && count > 0)
        {
            const std::size_t width = bits / 8u;
            const std::size_t frames = size / (width * count);
            Channels out(count, std::vector<double>(frames));
            for (std::size_t i = 0; i < frames; ++i)
                for (std::size_t c = 0; c < count; ++c)
                {
                    const std::size_t p = at + 8 + (i * count + c) * width;
                    if (tag == 3 || (tag == 0xFFFE && bits == 32))
                    {
                        const std::uint32_t u = get32(b, p);
                        float f = 0;
                        std::memcpy(&f, &u, 4);
                        out[c][i] = f;
                    }
                    else
                    {
                        std::int32_t v = 0;
                        for (std::size_t k = 0; k < width; ++k)
                            v |= static_cast<std::int32_t>(b[p + k]) << (8 * k + (32 - bits));
                        out[c][i] =
                            static_cast<double>(v >> (32 - bits)) / std::ldexp(1.0, bits - 1);
                    }
                }
            return out;
        }
        at += 8 + size + (size & 1);
    }
    return {};
}

// Deterministic stereo noise whose level alternates between loud and quiet every 0.25 s.
Channels dynamicNoise(std::size_t frames, double loud, double quiet)
{
    Channels s(2, std::vector<double>(frames));
    std::uint32_t state = 2024;
    for (std::size_t i = 0; i < frames; ++i)
        for (auto& channel : s)
        {
            state = state * 1664525u + 1013904223u;
            const double u = static_cast<double>(state) / 4294967296.0 * 2.0 - 1.0;
            channel[i] = u * ((i / 11025) % 2 == 0 ? loud : quiet);
        }
    return s;
}

double rms(const std::vector<double>& x, std::size_t from = 0)
{
    double sum = 0.0;
    for (std::size_t i = from; i < x.size(); ++i)
        sum += x[i] * x[i];
    return std::sqrt(sum / static_cast<double>(x.size() - from));
}

class RenderTest : public ::testing::Test
{
protected:
    fs::path dir;

    void SetUp() override
    {
#ifndef KELV_RENDER_PATH
        GTEST_SKIP() << "the renderer is not built in this configuration";
#endif
        dir = fs::temp_directory_path() /
              ("kelv-render-" +
               std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override
    {
        if (!dir.empty())
            fs::remove_all(dir);
    }

    struct SRun
    {
        int status;
        std::string out;
        std::string err;
    };

    // Runs the renderer with the arguments (each quoted) and collects its output streams.
    SRun run(const std::vector<std::string>& args)
    {
#ifdef KELV_RENDER_PATH
        std::string command = std::string("\"") + KELV_RENDER_PATH + "\"";
        for (const std::string& a : args)
            command += " \"" + a + "\"";
        const fs::path out = dir / "stdout.txt";
        const fs::path err = dir / "stderr.txt";
        command += " >\"" + out.string() + "\" 2>\"" + err.string() + "\"";
        const int status = std::system(command.c_str());
        const Bytes o = readFile(out);
        const Bytes e = readFile(err);
        fs::remove(out);
        fs::remove(err);
        return {status, std::string(o.begin(), o.end()), std::string(e.begin(), e.end())};
#else
        (void)args;
        return {-1, "", ""};
#endif
    }

    std::string path(const char* name) const
    {
        return (dir / name).string();
    }
};

// The default program is close to transparent: the band split sums back to the input, so a
// null test against the input leaves a small residual. Measured about -21 dB on this noise
// (the band filters' phase); a broken chain (silence, one sample of misalignment, a flipped
// polarity) leaves 0 dB or more.
TEST_F(RenderTest, DefaultProgramNullsAgainstTheInput)
{
    const Channels input = dynamicNoise(44100 * 2, 0.3, 0.05);
    writeFile(path("in.wav"), wavFile(input, 44100, 32, true));
    const SRun r = run({"--quiet", path("in.wav"), path("out.wav")});
    ASSERT_EQ(r.status, 0) << r.err;
    const Channels output = readWav(path("out.wav"));
    ASSERT_EQ(output.size(), 2u);
    for (std::size_t c = 0; c < 2; ++c)
    {
        ASSERT_EQ(output[c].size(), input[c].size());
        std::vector<double> residual(input[c].size());
        for (std::size_t i = 0; i < residual.size(); ++i)
            residual[i] = output[c][i] - input[c][i];
        // The first 0.1 s holds the band filters' settling.
        const double db = 20.0 * std::log10(rms(residual, 4410) / rms(input[c], 4410));
        EXPECT_LT(db, -18.0) << "channel " << c;
    }
}

// A click lands on the same sample in input and output, whatever the block size and precision;
// with the latency kept it lands the reported latency later.
TEST_F(RenderTest, LatencyIsAlignedUnlessKept)
{
    constexpr std::size_t kClick = 10000;
    Channels input(2, std::vector<double>(30000, 0.0));
    input[0][kClick] = 0.8;
    input[1][kClick] = 0.8;
    writeFile(path("click.wav"), wavFile(input, 44100, 32, true));
    const struct
    {
        std::vector<std::string> options;
        std::size_t expected;
    } cases[] = {
        {{}, kClick},
        {{"--block", "100"}, kClick},
        {{"--precision", "32", "--block", "4096"}, kClick},
        {{"--keep-latency"}, kClick + 502},
    };
    for (const auto& c : cases)
    {
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {"--quiet", path("click.wav"), path("out.wav")});
        const SRun r = run(args);
        ASSERT_EQ(r.status, 0) << r.err;
        const Channels output = readWav(path("out.wav"));
        ASSERT_EQ(output.size(), 2u);
        ASSERT_EQ(output[0].size(), input[0].size());
        std::size_t at = 0;
        for (std::size_t i = 0; i < output[0].size(); ++i)
            if (std::fabs(output[0][i]) > std::fabs(output[0][at]))
                at = i;
        EXPECT_EQ(at, c.expected) << ::testing::PrintToString(c.options);
    }
}

// The program saved after the settings reproduces the same output bit for bit when it is
// loaded again as a preset file; and the settings did change the output.
TEST_F(RenderTest, SavedPresetReproducesTheRender)
{
    writeFile(path("in.wav"), wavFile(dynamicNoise(22050, 0.3, 0.05), 44100, 24, false));
    const SRun a = run({"--quiet", "--set", "1OGain=-6", "--set", "1ISlope=3", "--save-preset",
                        path("p.cpf"), path("in.wav"), path("a.wav")});
    ASSERT_EQ(a.status, 0) << a.err;
    const SRun b = run({"--quiet", "--preset-file", path("p.cpf"), path("in.wav"), path("b.wav")});
    ASSERT_EQ(b.status, 0) << b.err;
    const SRun plain = run({"--quiet", path("in.wav"), path("c.wav")});
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(readFile(path("a.wav")), readFile(path("b.wav")));
    EXPECT_NE(readFile(path("a.wav")), readFile(path("c.wav")));
    // -6 dB of output gain, measured past the settling.
    const double ratio =
        rms(readWav(path("a.wav"))[0], 4410) / rms(readWav(path("c.wav"))[0], 4410);
    EXPECT_NEAR(20.0 * std::log10(ratio), -6.0, 0.2);
}

// "Mastering Compression" narrows the level difference between the loud and the quiet passages
// of a signal that swings between them (0.25 s each, 28 dB apart), measured over the second
// half of each passage, once the detector has settled. (The crest factor of this material
// barely moves: the preset's attack lets each loud passage's onset through.) Measured: 28.0 dB
// in, 24.4 dB out.
TEST_F(RenderTest, MasteringCompressionNarrowsTheDynamics)
{
    const Channels input = dynamicNoise(44100 * 3, 0.5, 0.02);
    writeFile(path("in.wav"), wavFile(input, 44100, 32, true));
    const SRun r =
        run({"--quiet", "--preset", "Mastering Compression", path("in.wav"), path("out.wav")});
    ASSERT_EQ(r.status, 0) << r.err;
    const Channels output = readWav(path("out.wav"));
    ASSERT_EQ(output.size(), 2u);
    // The level of the passages that start at `first` and every 22050 frames after it.
    const auto level = [](const std::vector<double>& x, std::size_t first)
    {
        double sum = 0.0;
        std::size_t n = 0;
        for (std::size_t start = first; start + 11025 <= x.size(); start += 22050)
            for (std::size_t i = start + 5512; i < start + 11025; ++i, ++n)
                sum += x[i] * x[i];
        return std::sqrt(sum / static_cast<double>(n));
    };
    const double spanIn = 20.0 * std::log10(level(input[0], 0) / level(input[0], 11025));
    const double spanOut = 20.0 * std::log10(level(output[0], 0) / level(output[0], 11025));
    EXPECT_LT(spanOut, spanIn - 2.5) << spanIn << " dB in, " << spanOut << " dB out";
}

// Every bad input fails with a non-zero status and one clear line, and leaves no file.
TEST_F(RenderTest, BadInputFailsWithoutOutput)
{
    writeFile(path("in.wav"), wavFile(dynamicNoise(4410, 0.3, 0.05), 44100, 16, false));
    writeFile(path("text.wav"), Bytes{'h', 'e', 'l', 'l', 'o', '\n'});
    writeFile(path("u8.wav"), wavFile(Channels(2, std::vector<double>(100, 0.1)), 44100, 8, false));
    writeFile(path("nine.wav"),
              wavFile(Channels(9, std::vector<double>(100, 0.1)), 44100, 32, true));
    writeFile(path("bad.cpf"), Bytes{'a', 'p', 'r', 's', 1, 2, 3, 4, 5, 6, 7, 8});
    writeFile(path("bad.cbf"), Bytes{0, 0, 0, 0});
    const std::string in = path("in.wav");
    const struct
    {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{path("missing.wav")}, "does not exist"},
        {{path("text.wav")}, "Cannot read"},
        {{path("u8.wav")}, "Unsupported sample format"},
        {{path("nine.wav")}, "1 to 8 channels"},
        {{"--preset", "No Such Preset", in}, "Valid presets: Default, Tape Compression"},
        {{"--set", "Nothing=1", in}, "Unknown parameter 'Nothing'"},
        {{"--set", "1OGain=99", in}, "out of range"},
        {{"--set", "1OGain=@1.5", in}, "out of range"},
        {{"--set", "Bypass=Maybe", in}, "Valid values: Off, On"},
        {{"--oversampling", "3x", in}, "Auto, 1x, 2x, 4x or 8x"},
        {{"--preset-file", path("bad.cpf"), in}, "Cannot load the preset file"},
        {{"--bank-file", path("bad.cbf"), in}, "Cannot load the bank file"},
        {{"--plugin", path("no-module.so"), in}, "Cannot load the plug-in library"},
    };
    for (const auto& c : cases)
    {
        std::vector<std::string> args = c.args;
        args.push_back(path("out.wav"));
        const SRun r = run(args);
        EXPECT_NE(r.status, 0) << c.message;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_FALSE(fs::exists(path("out.wav"))) << c.message;
        for (const auto& entry : fs::directory_iterator(dir))
            EXPECT_EQ(entry.path().string().find(".partial"), std::string::npos);
    }
}

// The output takes the input's file and sample format unless the options name others.
TEST_F(RenderTest, OutputFormatFollowsTheInputUnlessAsked)
{
    writeFile(path("in16.wav"), wavFile(dynamicNoise(4410, 0.3, 0.05), 44100, 16, false));
    const struct
    {
        std::vector<std::string> options;
        const char* magic;
        std::uint16_t tag;
        std::uint16_t bits;
    } cases[] = {
        {{}, "RIFF", 1, 16},
        {{"--bits", "24"}, "RIFF", 1, 24},
        {{"--bits", "float"}, "RIFF", 3, 32},
        {{"--format", "aiff"}, "FORM", 0, 0},
        {{"--format", "flac"}, "fLaC", 0, 0},
    };
    for (const auto& c : cases)
    {
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {"--quiet", path("in16.wav"), path("out.bin")});
        const SRun r = run(args);
        ASSERT_EQ(r.status, 0) << r.err;
        const Bytes b = readFile(path("out.bin"));
        ASSERT_GT(b.size(), 36u);
        EXPECT_EQ(std::string(b.begin(), b.begin() + 4), c.magic);
        if (c.tag != 0)
        {
            EXPECT_EQ(b[20] | b[21] << 8, c.tag) << ::testing::PrintToString(c.options);
            EXPECT_EQ(b[34] | b[35] << 8, c.bits) << ::testing::PrintToString(c.options);
        }
        fs::remove(path("out.bin"));
    }
}

// Names and state texts are matched ignoring case; listings show programs and parameters.
TEST_F(RenderTest, ListsAndMatchesNamesIgnoringCase)
{
    const SRun presets = run({"--preset", "mastering COMPRESSION", "--list-presets"});
    ASSERT_EQ(presets.status, 0) << presets.err;
    EXPECT_NE(presets.out.find("*  5  Mastering Compression"), std::string::npos) << presets.out;
    EXPECT_NE(presets.out.find("12  Flatter Bass"), std::string::npos);
    const SRun params = run({"--set", "bypass=on", "--oversampling", "4X", "--list-params"});
    ASSERT_EQ(params.status, 0) << params.err;
    EXPECT_NE(params.out.find(" 0  Bypass   On"), std::string::npos) << params.out;
    EXPECT_NE(params.out.find(" 1  Oversmp  4x"), std::string::npos) << params.out;
    EXPECT_NE(params.out.find("25  4OGain   0.0      dB"), std::string::npos) << params.out;
}

// ---- Pieces of the renderer, without the module ----

// Integer output is quantised by the writer: exact rounding without dither, at most one step
// of TPDF noise with it, clipping counted.
TEST(RenderAudioFile, QuantisesWithAndWithoutDither)
{
    const fs::path dir = fs::temp_directory_path() / "kelv-render-quantise";
    fs::create_directories(dir);
    std::vector<double> ramp;
    for (int i = 0; i < 2000; ++i)
        ramp.push_back(-0.9 + 1.8 * i / 1999.0 + 1e-7 * (i % 7));
    ramp.push_back(1.5); // beyond full scale
    for (const bool dither : {false, true})
    {
        kelvtools::SAudioFileInfo info;
        info.format = kelvtools::EFileFormat::wav;
        info.sample = kelvtools::ESampleFormat::int16;
        info.channels = 1;
        info.sampleRate = 44100;
        const fs::path file = dir / (dither ? "d.wav" : "n.wav");
        kelvtools::CAudioFileWriter writer;
        ASSERT_EQ(writer.open(file.string(), info, dither), nullptr);
        EXPECT_FALSE(fs::exists(file)) << "written in place before the commit";
        ASSERT_EQ(writer.write(ramp.data(), static_cast<std::int64_t>(ramp.size())), nullptr);
        ASSERT_EQ(writer.commit(), nullptr);
        EXPECT_EQ(writer.clippedSamples(), 1);
        const Channels read = readWav(file);
        ASSERT_EQ(read.size(), 1u);
        ASSERT_EQ(read[0].size(), ramp.size());
        double worst = 0.0;
        double sum = 0.0;
        for (std::size_t i = 0; i + 1 < ramp.size(); ++i)
        {
            const double steps = read[0][i] * 32768.0;
            const double want = ramp[i] * 32768.0;
            if (!dither)
            {
                EXPECT_EQ(steps, std::floor(want + 0.5)) << i;
            }
            worst = std::max(worst, std::fabs(steps - want));
            sum += steps - want;
        }
        EXPECT_LE(worst, dither ? 1.5 : 0.5);
        if (dither)
        {
            EXPECT_GT(worst, 0.6) << "no dither noise";
            EXPECT_LT(std::fabs(sum / 2000.0), 0.1) << "dither is biased";
        }
        EXPECT_EQ(read[0].back(), 32767.0 / 32768.0);
    }
    fs::remove_all(dir);
}

TEST(RenderAudioFile, UncommittedOutputLeavesNothing)
{
    const fs::path dir = fs::temp_directory_path() / "kelv-render-discard";
    fs::create_directories(dir);
    {
        kelvtools::SAudioFileInfo info;
        info.channels = 2;
        info.sampleRate = 48000;
        kelvtools::CAudioFileWriter writer;
        ASSERT_EQ(writer.open((dir / "x.wav").string(), info, true), nullptr);
        const double frame[2] = {0.1, 0.2};
        ASSERT_EQ(writer.write(frame, 1), nullptr);
    }
    EXPECT_TRUE(fs::is_empty(dir));
    fs::remove_all(dir);
}

// Percent, speed and time left follow from frames done, frames in all and the time taken.
TEST(RenderProgress, ShowsPercentSpeedAndTimeLeft)
{
    const struct
    {
        std::int64_t done;
        std::int64_t total;
        double seconds;
        const char* expected;
    } cases[] = {
        {0, 441000, 0.0, "[------------------------------]   0%"},
        {220500, 441000, 1.25,
         "[###############---------------]  50%     4.0x realtime  0:01 left"},
        {441000, 441000, 2.0, "[##############################] 100%     5.0x realtime  0:00 left"},
        {44100, 44100 * 600, 2.0,
         "[------------------------------]   0%     0.5x realtime  19:58 left"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(kelvtools::CProgressBar::line(c.done, c.total, 44100.0, c.seconds), c.expected);
}

TEST(RenderOptions, ParsesAndRefusesCommandLines)
{
    using kelvtools::CRenderOptions;
    kelvtools::SRenderOptions o;
    ASSERT_EQ(
        CRenderOptions::parse({"--set", "1OGain=-3", "--set=Bypass=On", "--block=64", "--precision",
                               "32", "--bits", "16", "--format", "FLAC", "in.wav", "out.flac"},
                              o),
        nullptr);
    ASSERT_EQ(o.params.size(), 2u);
    EXPECT_EQ(o.params[0].first, "1OGain");
    EXPECT_EQ(o.params[0].second, "-3");
    EXPECT_EQ(o.params[1].first, "Bypass");
    EXPECT_EQ(o.blockSize, 64);
    EXPECT_FALSE(o.use64);
    EXPECT_EQ(o.bits, kelvtools::EOutputBits::int16);
    EXPECT_EQ(o.format, kelvtools::EOutputFormat::flac);
    EXPECT_EQ(o.input, "in.wav");
    EXPECT_EQ(o.output, "out.flac");
    ASSERT_EQ(CRenderOptions::parse({"--list-presets"}, o), nullptr);
    EXPECT_FALSE(o.renders());

    const std::vector<std::vector<std::string>> refused = {
        {"in.wav"},
        {"--block", "0", "a", "b"},
        {"--block", "12x", "a", "b"},
        {"--precision", "16", "a", "b"},
        {"--set", "NoValue", "a", "b"},
        {"--set", "=3", "a", "b"},
        {"--preset", "Default", "--preset-file", "p.cpf", "a", "b"},
        {"--format", "flac", "--bits", "float", "a", "b"},
        {"--frobnicate", "a", "b"},
        {"--preset"},
    };
    for (const auto& args : refused)
        EXPECT_NE(CRenderOptions::parse(args, o), nullptr) << ::testing::PrintToString(args);
}

} // namespace
