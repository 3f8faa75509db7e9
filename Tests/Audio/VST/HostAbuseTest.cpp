// The built module driven through its AEffect record the way real hosts use and misuse it:
// calls in the wrong order, indices and pointers the interface does not allow, block sizes
// and sample rates outside the usual, oversampling switched during playback, every channel
// count, and many instances on several threads at once. Whatever the host does, the effect
// must answer sanely, keep its state when it refuses a call, and afterwards still pass a tone
// at its level. Buffers are sized exactly and pointer arrays are heap arrays of exactly the
// announced count, so that the address sanitiser sees any access past what the host gave.
#include "Audio/VST/VstTestHost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <numbers>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace ktest
{
namespace
{

constexpr std::int32_t kParams = 26;
constexpr std::int32_t kOversampling = 1; // "Oversmp": Auto, 1x, 2x, 4x, 8x
constexpr double kAmp = 0.25;
constexpr double kToneHz = 1000.0;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

using CChannels = std::vector<std::vector<float>>;
using CSizes = std::function<std::int32_t(std::size_t block)>;

// Plays `frames` of a 1 kHz tone on the first `toned` input channels (the others silent), in blocks
// whose sizes `sizes` gives, with exactly `ins` and `outs` channel pointers. Output samples start
// as NaN, so that a sample the effect leaves unwritten shows as not finite.
CChannels play(vst::AEffect* e, std::int32_t ins, std::int32_t outs, std::int64_t frames,
               double rate, const CSizes& sizes, std::int64_t first = 0, std::int32_t toned = 8)
{
    CChannels out(static_cast<std::size_t>(outs));
    std::int64_t pos = 0;
    for (std::size_t block = 0; pos < frames; ++block)
    {
        const auto n =
            static_cast<std::int32_t>(std::min<std::int64_t>(sizes(block), frames - pos));
        CChannels in(static_cast<std::size_t>(ins),
                     std::vector<float>(static_cast<std::size_t>(n)));
        for (std::size_t c = 0; c < std::min(in.size(), static_cast<std::size_t>(toned)); ++c)
            for (std::int32_t i = 0; i < n; ++i)
                in[c][static_cast<std::size_t>(i)] = static_cast<float>(
                    kAmp * std::sin(2.0 * std::numbers::pi * kToneHz *
                                    static_cast<double>(first + pos + i) / rate));
        CChannels to(static_cast<std::size_t>(outs),
                     std::vector<float>(static_cast<std::size_t>(n), kNaN));
        auto inPtr = std::make_unique<float*[]>(static_cast<std::size_t>(ins));
        auto outPtr = std::make_unique<float*[]>(static_cast<std::size_t>(outs));
        for (std::size_t c = 0; c < in.size(); ++c)
            inPtr[c] = in[c].data();
        for (std::size_t c = 0; c < to.size(); ++c)
            outPtr[c] = to[c].data();
        e->processReplacing(e, inPtr.get(), outPtr.get(), n);
        for (std::size_t c = 0; c < to.size(); ++c)
            out[c].insert(out[c].end(), to[c].begin(), to[c].end());
        pos += n;
    }
    return out;
}

CSizes fixed(std::int32_t n)
{
    return [n](std::size_t) { return n; };
}

bool allFinite(const CChannels& channels)
{
    for (const auto& channel : channels)
        for (float v : channel)
            if (!std::isfinite(v))
                return false;
    return true;
}

// Level of samples [from, end) relative to the tone's, in dB.
double levelDb(const std::vector<float>& x, std::size_t from)
{
    double sum = 0.0;
    for (std::size_t i = from; i < x.size(); ++i)
        sum += static_cast<double>(x[i]) * static_cast<double>(x[i]);
    const double rms =
        std::sqrt(sum / static_cast<double>(std::max<std::size_t>(x.size() - from, 1)));
    return 20.0 * std::log10(std::max(rms, 1e-12) / (kAmp / std::sqrt(2.0)));
}

void mains(vst::AEffect* e, bool on)
{
    CVstTestHost::dispatch(e, vst::effMainsChanged, 0, on ? 1 : 0);
}

void configure(vst::AEffect* e, float rate, std::int32_t block)
{
    CVstTestHost::dispatch(e, vst::effSetSampleRate, 0, 0, nullptr, rate);
    CVstTestHost::dispatch(e, vst::effSetBlockSize, 0, block);
}

using HostAbuseTest = CVstModuleTest;

// After each abuse the effect is suspended, set up as a host does and must pass a tone at its
// level with the latency of a clean instance; where the abuse was only refused calls, the
// whole bank is unchanged.
TEST_F(HostAbuseTest, CallsInTheWrongOrderOrOutOfRangeLeaveAWorkingEffect)
{
    const auto d = [](vst::AEffect* e, std::int32_t op, std::int32_t index = 0,
                      std::intptr_t value = 0, void* ptr = nullptr, float opt = 0.0f)
    { return CVstTestHost::dispatch(e, op, index, value, ptr, opt); };
    const std::int32_t badIndices[] = {-1, kParams, 1000, std::numeric_limits<std::int32_t>::min(),
                                       std::numeric_limits<std::int32_t>::max()};
    struct SCase
    {
        const char* what;
        bool refusalsOnly;
        std::function<void(vst::AEffect*)> abuse;
    };
    const SCase cases[] = {
        {"process before any set-up or resume", true,
         [](vst::AEffect* e)
         {
             for (std::int32_t n : {0, 1, 300, 1300})
                 EXPECT_TRUE(allFinite(play(e, 8, 8, n, 44100.0, fixed(n))));
         }},
        {"suspend twice, resume twice", true,
         [](vst::AEffect* e)
         {
             mains(e, false);
             mains(e, false);
             configure(e, 48000.0f, 512);
             mains(e, true);
             mains(e, true);
             EXPECT_TRUE(allFinite(play(e, 8, 8, 2048, 48000.0, fixed(512))));
         }},
        {"rate and block size changed while resumed", true,
         [](vst::AEffect* e)
         {
             configure(e, 44100.0f, 256);
             mains(e, true);
             EXPECT_TRUE(allFinite(play(e, 8, 8, 1024, 44100.0, fixed(256))));
             configure(e, 96000.0f, 64);
             EXPECT_TRUE(allFinite(play(e, 8, 8, 4096, 96000.0, fixed(1024))));
             mains(e, true);
             EXPECT_TRUE(allFinite(play(e, 8, 8, 4096, 96000.0, fixed(2048))));
         }},
        {"editor calls with no editor open", true,
         [d](vst::AEffect* e)
         {
             for (std::int32_t op :
                  {vst::effEditIdle, vst::effEditClose, vst::effEditKeyDown, vst::effEditKeyUp,
                   vst::effSetEditKnobMode, vst::effEditGetRect})
                 EXPECT_EQ(d(e, op, 'a', 1, nullptr, 1.0f), 0) << op;
         }},
        {"chunks between process calls", true,
         [d](vst::AEffect* e)
         {
             configure(e, 48000.0f, 512);
             mains(e, true);
             for (const bool preset : {false, true})
             {
                 std::vector<std::uint8_t> state = CVstTestHost::chunk(e, preset ? 1 : 0);
                 ASSERT_FALSE(state.empty());
                 EXPECT_TRUE(allFinite(play(e, 8, 8, 1024, 48000.0, fixed(512))));
                 EXPECT_EQ(d(e, vst::effSetChunk, preset, static_cast<std::intptr_t>(state.size()),
                             state.data()),
                           1);
                 EXPECT_TRUE(allFinite(play(e, 8, 8, 1024, 48000.0, fixed(512))));
             }
         }},
        {"indices out of range", true,
         [&](vst::AEffect* e)
         {
             const std::int32_t current = static_cast<std::int32_t>(d(e, vst::effGetProgram));
             for (const std::intptr_t program :
                  {std::intptr_t{e->numPrograms}, std::intptr_t{-1}, std::intptr_t{1} << 40,
                   -(std::intptr_t{1} << 32) + 1})
             {
                 d(e, vst::effSetProgram, 0, program);
                 EXPECT_EQ(d(e, vst::effGetProgram), current) << program;
             }
             for (const std::int32_t i : badIndices)
             {
                 SCOPED_TRACE(i);
                 for (std::int32_t op :
                      {vst::effGetParamName, vst::effGetParamLabel, vst::effGetParamDisplay})
                     EXPECT_EQ(CVstTestHost::text(e, op, i), "") << op;
                 EXPECT_EQ(CVstTestHost::text(e, vst::effGetProgramNameIndexed, i), "");
                 e->setParameter(e, i, 1.0f);
                 EXPECT_EQ(e->getParameter(e, i), 0.0f);
                 EXPECT_EQ(d(e, vst::effCanBeAutomated, i), 0);
                 char pin[256] = {};
                 EXPECT_EQ(d(e, vst::effGetInputProperties, i, 0, pin), 0);
                 EXPECT_EQ(d(e, vst::effGetOutputProperties, i, 0, pin), 0);
                 char value[] = "0.5";
                 EXPECT_EQ(d(e, vst::effString2Parameter, i, 0, value), 0);
             }
             EXPECT_EQ(CVstTestHost::text(e, vst::effGetProgramNameIndexed, e->numPrograms), "");
         }},
        {"null pointers", true,
         [d](vst::AEffect* e)
         {
             EXPECT_EQ(d(e, vst::effGetChunk, 0, 0, nullptr), 0);
             EXPECT_EQ(d(e, vst::effSetChunk, 0, 0, nullptr), 1); // empty: accepted, ignored
             EXPECT_EQ(d(e, vst::effSetChunk, 1, 100, nullptr), 0);
             vst::VstSpeakerArrangement two{};
             two.numChannels = 2;
             EXPECT_EQ(d(e, vst::effSetSpeakerArrangement, 0, 0, nullptr), 0);
             EXPECT_EQ(d(e, vst::effSetSpeakerArrangement, 0, 0, &two), 0);
             EXPECT_EQ(
                 d(e, vst::effSetSpeakerArrangement, 0, reinterpret_cast<std::intptr_t>(&two)), 0);
             EXPECT_EQ(d(e, vst::effGetSpeakerArrangement, 0, 0, nullptr), 0);
             for (std::int32_t op :
                  {vst::effSetProgramName, vst::effGetProgramName, vst::effGetParamName,
                   vst::effProcessEvents, vst::effCanDo, vst::effGetEffectName,
                   vst::effString2Parameter, vst::effGetProgramNameIndexed, vst::effVendorSpecific,
                   vst::effGetInputProperties, vst::effEditGetRect})
                 EXPECT_EQ(d(e, op, 0, 0, nullptr), 0) << op;
             configure(e, 48000.0f, 512);
             mains(e, true);
             std::vector<float> a(512, 0.5f), b(512, kNaN);
             float* some[8] = {a.data(), nullptr, a.data(), nullptr,
                               a.data(), nullptr, a.data(), nullptr};
             float* outs[8] = {b.data(), nullptr, nullptr, nullptr,
                               nullptr,  nullptr, nullptr, nullptr};
             e->processReplacing(e, nullptr, nullptr, 512);
             e->processReplacing(e, some, nullptr, 512);
             e->processReplacing(e, nullptr, outs, 512);
             EXPECT_TRUE(std::all_of(b.begin(), b.end(), [](float v) { return std::isfinite(v); }));
             e->processReplacing(e, some, outs, 512);
             e->processDoubleReplacing(e, nullptr, nullptr, 512);
             e->processReplacing(e, some, outs, -5);
         }},
        {"parameter values outside 0..1", false,
         [](vst::AEffect* e)
         {
             const std::vector<std::uint8_t> before = CVstTestHost::chunk(e, 0);
             for (std::int32_t i = 0; i < kParams; ++i)
             {
                 const float was = e->getParameter(e, i);
                 e->setParameter(e, i, kNaN);
                 EXPECT_NE(CVstTestHost::text(e, vst::effVendorSpecific, 7, i, kNaN), "");
                 EXPECT_EQ(e->getParameter(e, i), was) << i; // refused
                 for (const auto& [value, expected] :
                      {std::pair{-1.0f, 0.0f}, {2.0f, 1.0f}, {kInf, 1.0f}, {-kInf, 0.0f}})
                 {
                     e->setParameter(e, i, value);
                     EXPECT_EQ(e->getParameter(e, i), expected) << i << " " << value;
                     EXPECT_NE(CVstTestHost::text(e, vst::effGetParamDisplay, i), "") << i;
                     EXPECT_NE(CVstTestHost::text(e, vst::effVendorSpecific, 7, i, value), "");
                 }
             }
             configure(e, 48000.0f, 512);
             mains(e, true);
             EXPECT_TRUE(allFinite(play(e, 8, 8, 4096, 48000.0, fixed(512))));
             mains(e, false);
             EXPECT_EQ(CVstTestHost::dispatch(e, vst::effSetChunk, 0,
                                              static_cast<std::intptr_t>(before.size()),
                                              const_cast<std::uint8_t*>(before.data())),
                       1);
         }},
    };

    std::int32_t cleanDelay = 0;
    {
        vst::AEffect* e = host.createRunning(48000.0f, 512);
        ASSERT_NE(e, nullptr);
        cleanDelay = e->initialDelay;
        ASSERT_GT(cleanDelay, 0);
        host.close(e);
    }
    for (const SCase& c : cases)
    {
        SCOPED_TRACE(c.what);
        vst::AEffect* e = host.create();
        ASSERT_NE(e, nullptr);
        const std::vector<std::uint8_t> before = CVstTestHost::chunk(e, 0);
        c.abuse(e);
        if (c.refusalsOnly)
        {
            EXPECT_EQ(CVstTestHost::chunk(e, 0), before);
        }
        mains(e, false);
        configure(e, 48000.0f, 512);
        mains(e, true);
        EXPECT_EQ(e->initialDelay, cleanDelay);
        const CChannels out = play(e, 8, 8, 7200, 48000.0, fixed(512));
        EXPECT_TRUE(allFinite(out));
        EXPECT_NEAR(levelDb(out[0], 4800), 0.0, 0.5);
        host.close(e);
    }
    // Closed while resumed and processing: nothing leaks and nothing is left behind.
    vst::AEffect* e = host.createRunning();
    ASSERT_NE(e, nullptr);
    play(e, 8, 8, 1024, 48000.0, fixed(512));
    host.close(e);
}

double largestDifference(const CChannels& a, const CChannels& b)
{
    double worst = a.size() == b.size() ? 0.0 : 1e9;
    for (std::size_t c = 0; c < std::min(a.size(), b.size()); ++c)
    {
        if (a[c].size() != b[c].size())
            return 1e9;
        for (std::size_t i = 0; i < a[c].size(); ++i)
            worst = std::max(worst, std::fabs(static_cast<double>(a[c][i]) - b[c][i]));
    }
    return worst;
}

// However the host cuts the stream into blocks (empty ones, odd sizes, sizes changing every
// call, and blocks larger than the block size it declared), the output is that of one long
// block.
TEST_F(HostAbuseTest, BlockSizesDoNotChangeTheOutput)
{
    constexpr std::int64_t kFrames = 2 * 8192 + 1000;
    const std::vector<std::int32_t> series = {0,    1,    2,    3,    7,    8,    15,  16,  17,
                                              31,   63,   64,   65,   255,  511,  512, 513, 1000,
                                              1023, 2049, 4095, 4096, 4097, 8191, 8192};
    std::mt19937 rng(11);
    std::uniform_int_distribution<std::int32_t> any(0, 8192);
    std::vector<std::int32_t> random(200);
    for (auto& n : random)
        n = any(rng);
    const std::pair<const char*, CSizes> cases[] = {
        {"sizes 0 to 8192", [&](std::size_t b) { return series[b % series.size()]; }},
        {"random sizes", [&](std::size_t b) { return random[b % random.size()]; }},
        {"twice the declared size", fixed(16384)},
    };
    vst::AEffect* e = host.createRunning(48000.0f, 8192);
    ASSERT_NE(e, nullptr);
    const CChannels whole = play(e, 8, 8, kFrames, 48000.0, fixed(kFrames));
    host.close(e);
    ASSERT_TRUE(allFinite(whole));
    ASSERT_NEAR(levelDb(whole[0], 9600), 0.0, 0.5);
    for (const auto& [what, sizes] : cases)
    {
        e = host.createRunning(48000.0f, 8192);
        ASSERT_NE(e, nullptr);
        EXPECT_LT(largestDifference(play(e, 8, 8, kFrames, 48000.0, sizes), whole), 1e-6) << what;
        host.close(e);
    }
    // Whatever block size the host declares, the output is the same.
    CChannels start = whole;
    for (auto& channel : start)
        channel.resize(4096);
    for (const std::int32_t declared :
         {0, -1, 64, 1 << 20, std::numeric_limits<std::int32_t>::max()})
    {
        e = host.createRunning(48000.0f, declared);
        ASSERT_NE(e, nullptr);
        EXPECT_LT(largestDifference(play(e, 8, 8, 4096, 48000.0, fixed(1024)), start), 1e-6)
            << "declared " << declared;
        host.close(e);
    }
}

// Every usual rate passes the tone at its level with one latency per rate, whatever the
// oversampling. Odd rates are what a demanding host's test suite sends too: a rate that is
// not a positive number (0, -1, NaN, infinity) is refused and the rate before it stays; a
// positive rate outside 8 kHz..384 kHz is clamped into that range. Either way the instance
// keeps working with the latency the uniformer holds constant over all rates.
TEST_F(HostAbuseTest, SampleRates)
{
    vst::AEffect* e = host.createRunning(48000.0f, 512);
    ASSERT_NE(e, nullptr);
    const std::int32_t delay48 = e->initialDelay;
    EXPECT_GT(delay48, 0);
    for (const float rate : {8000.0f, 11025.0f, 22050.0f, 44100.0f, 48000.0f, 88200.0f, 96000.0f,
                             176400.0f, 192000.0f, 352800.0f, 384000.0f})
    {
        SCOPED_TRACE(rate);
        mains(e, false);
        configure(e, rate, 512);
        mains(e, true);
        const std::int32_t delay = e->initialDelay;
        const auto frames = static_cast<std::int64_t>(rate / 32) + delay;
        const CChannels out = play(e, 8, 8, frames, rate, fixed(512));
        EXPECT_TRUE(allFinite(out));
        EXPECT_NEAR(levelDb(out[0], static_cast<std::size_t>(frames + delay) / 2), 0.0, 0.5);
        for (const float oversampling : {0.0f, 0.25f, 0.5f, 0.75f, 1.0f})
        {
            e->setParameter(e, kOversampling, oversampling);
            play(e, 8, 8, 512, rate, fixed(512));
            mains(e, false);
            mains(e, true);
            EXPECT_EQ(e->initialDelay, delay) << oversampling;
        }
    }
    for (const float rate : {0.0f, -1.0f, kNaN, kInf, -kInf, 1.0f, 1000.0f, 1e6f, 1e30f, 44100.0f})
    {
        SCOPED_TRACE(rate);
        mains(e, false);
        configure(e, rate, 512);
        mains(e, true);
        EXPECT_EQ(e->initialDelay, delay48);
        const CChannels out = play(e, 8, 8, 2400, 44100.0, fixed(512));
        EXPECT_TRUE(allFinite(out));
        EXPECT_GT(levelDb(out[0], 1200), -6.0); // the tone still comes through
    }
}

// The oversampling factor switched during playback, block by block: every switch is a
// crossfade between paths of equal latency, so the tone never drops out for longer than a
// crossfade (15 ms) and the latency the host knows stays true.
TEST_F(HostAbuseTest, OversamplingSwitchedDuringPlayback)
{
    constexpr double kRate = 48000.0;
    constexpr std::size_t kCrossfade = 720;
    vst::AEffect* e = host.createRunning(static_cast<float>(kRate), 512);
    ASSERT_NE(e, nullptr);
    ASSERT_EQ(CVstTestHost::text(e, vst::effGetParamName, kOversampling), "Oversmp");
    const std::int32_t delay = e->initialDelay;
    const std::size_t ioChanged = host.count(vst::audioMasterIOChanged);
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> mode(0, 4);
    // Held for a while, then a new factor every block, then random factors.
    const std::vector<int> sequence = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
                                       1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4,
                                       0, 0, 0, 0, 1, 2, 3, 4, 0, 4, 3, 2, 1, 0, 2, 4, 1, 3};
    const auto switching = [&](std::size_t block)
    {
        const int m = block < sequence.size() ? sequence[block] : mode(rng);
        e->setParameter(e, kOversampling, static_cast<float>(m) / 4.0f);
        return 512;
    };
    const CChannels out = play(e, 8, 8, 512 * (sequence.size() + 40), kRate, switching);
    EXPECT_TRUE(allFinite(out));
    // The quietest stretch of one crossfade's length after the tone arrived.
    double quietest = 1.0;
    for (std::size_t from = 9600; from + kCrossfade <= out[0].size(); from += kCrossfade / 4)
    {
        double peak = 0.0;
        for (std::size_t i = from; i < from + kCrossfade; ++i)
            peak = std::max(peak, std::fabs(static_cast<double>(out[0][i])));
        quietest = std::min(quietest, peak);
    }
    EXPECT_GT(quietest, 0.5 * kAmp);
    EXPECT_EQ(host.count(vst::audioMasterIOChanged), ioChanged);
    mains(e, false);
    mains(e, true);
    EXPECT_EQ(e->initialDelay, delay);
}

// Every channel count the effect accepts, 1..8 in and out, set on one instance between a
// suspend and a resume as hosts do: the record announces the counts at once, and the effect
// reads and writes exactly that many host channels (all outputs: they start as NaN) and
// passes the tone on the first.
TEST_F(HostAbuseTest, EveryChannelCount)
{
    vst::AEffect* e = host.createRunning(48000.0f, 512);
    ASSERT_NE(e, nullptr);
    for (std::int32_t ins = 1; ins <= 8; ++ins)
        for (const std::int32_t outs : {ins, 1, 2})
        {
            SCOPED_TRACE(testing::Message() << ins << " in, " << outs << " out");
            mains(e, false);
            vst::VstSpeakerArrangement a{}, b{};
            a.numChannels = ins;
            b.numChannels = outs;
            ASSERT_EQ(CVstTestHost::dispatch(e, vst::effSetSpeakerArrangement, 0,
                                             reinterpret_cast<std::intptr_t>(&a), &b),
                      1);
            EXPECT_EQ(e->numInputs, ins);
            EXPECT_EQ(e->numOutputs, outs);
            mains(e, true);
            const CChannels out = play(e, ins, outs, 7200, 48000.0, fixed(512));
            EXPECT_TRUE(allFinite(out));
            EXPECT_NEAR(levelDb(out[0], 4800), 0.0, 0.5);
        }
}

// Instances are created, run and destroyed on several threads at once; the instance roots
// and the shared data are process-wide, yet every instance gives the output of an instance
// run alone.
TEST_F(HostAbuseTest, InstancesOnSeveralThreadsAtOnce)
{
    constexpr int kThreads = 4;
    constexpr int kInstances = 50;
    constexpr std::int64_t kFrames = 512;
    // A host callback that keeps no state, so that any thread may call it.
    const vst::HostCallback callback = [](vst::AEffect*, std::int32_t opcode, std::int32_t,
                                          std::intptr_t, void* ptr, float) -> std::intptr_t
    {
        if (opcode == vst::audioMasterVersion)
            return 2400;
        if (opcode == vst::audioMasterGetProductString || opcode == vst::audioMasterGetVendorString)
            std::strcpy(static_cast<char*>(ptr), "Thread Host");
        return 0;
    };
    const CVstTestHost::MainProc main = CVstTestHost::entry();
    ASSERT_NE(main, nullptr);
    const auto run = [&]() -> CChannels
    {
        vst::AEffect* e = main(callback);
        if (e == nullptr)
            return {};
        configure(e, 48000.0f, 512);
        mains(e, true);
        CChannels out = play(e, 8, 8, kFrames, 48000.0, fixed(512));
        mains(e, false);
        CVstTestHost::dispatch(e, vst::effClose);
        return out;
    };
    const CChannels alone = run();
    ASSERT_TRUE(allFinite(alone));
    std::vector<double> differences(kInstances, -1.0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back(
            [&, t]
            {
                for (int i = t; i < kInstances; i += kThreads)
                    differences[static_cast<std::size_t>(i)] = largestDifference(run(), alone);
            });
    for (auto& thread : threads)
        thread.join();
    for (int i = 0; i < kInstances; ++i)
        EXPECT_LT(differences[static_cast<std::size_t>(i)], 1e-6) << i;
}

// A stereo signal sounds the same through the Default program whether the effect runs with
// eight channels (six of them silent), with a 2-in/2-out arrangement, or with two channels
// because the host is older than 2.3.
TEST_F(HostAbuseTest, StereoSoundsAlikeInEveryTwoChannelSetup)
{
    const auto render = [](CVstTestHost& h, bool arrange)
    {
        vst::AEffect* e = h.create();
        EXPECT_NE(e, nullptr);
        if (e == nullptr)
            return CChannels{};
        if (arrange)
        {
            vst::VstSpeakerArrangement a{}, b{};
            a.numChannels = b.numChannels = 2;
            EXPECT_EQ(CVstTestHost::dispatch(e, vst::effSetSpeakerArrangement, 0,
                                             reinterpret_cast<std::intptr_t>(&a), &b),
                      1);
        }
        // A block before the resume, with only the pointers the record announces.
        EXPECT_TRUE(
            allFinite(play(e, e->numInputs, e->numOutputs, 512, 48000.0, fixed(512), 0, 2)));
        configure(e, 48000.0f, 512);
        mains(e, true);
        CChannels out = play(e, e->numInputs, e->numOutputs, 12000, 48000.0, fixed(512), 0, 2);
        EXPECT_TRUE(allFinite(out));
        out.resize(2);
        return out;
    };
    const CChannels eight = render(host, false);
    ASSERT_EQ(eight.size(), 2u);
    EXPECT_NEAR(levelDb(eight[0], 9600), 0.0, 0.5);
    EXPECT_LT(largestDifference(render(host, true), eight), 1e-6) << "2/2 arrangement";
    CVstTestHost old;
    old.version = 2200;
    EXPECT_LT(largestDifference(render(old, false), eight), 1e-6) << "host version 2200";
}

} // namespace
} // namespace ktest
