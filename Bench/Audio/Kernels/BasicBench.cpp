// The basic kernel family at n = 512, each kernel called directly through its descriptor;
// the counter "ns/sample" is the time per processed sample. One more case measures a whole
// take / issue / release round trip through the kernel context.
#include "Audio/DCDAWContext.h"
#include "Audio/Kernels/BasicKernels.h"
#include "Audio/Kernels/DCDAWKernel.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace
{

constexpr std::int32_t kN = 512;

void setPerSample(benchmark::State& state, std::int32_t samples)
{
    state.counters["ns/sample"] = benchmark::Counter(static_cast<double>(samples),
                                                     benchmark::Counter::kIsIterationInvariantRate |
                                                         benchmark::Counter::kInvert);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * samples);
}

// Five argument buffers: room for interp2's 2n outputs and the largest state record, inputs
// kept away from zero.
struct CBuffers
{
    CBuffers()
    {
        std::mt19937 gen(5);
        std::uniform_real_distribution<double> dist(0.25, 1.0);
        for (auto& b : args)
        {
            b.resize(2 * kN + 256);
            for (double& v : b)
                v = dist(gen);
        }
    }
    std::vector<double> args[zel::CDCDAWCall::kMaxArgs];
};

void prepareState(const std::string& name, CBuffers& buffers, double rate)
{
    auto call = [&](const char* init, double* state)
    {
        zel::CDCDAWCall c;
        c.kernel = zel::findDCDAWKernel(init);
        c.n = 1;
        c.x = rate;
        c.data[0] = state;
        c.kernel->function(&c);
    };
    double* st = buffers.args[1].data();
    if (name == "DCDAW_xfade")
    {
        st[zel::CDCDAWXfadeState::kLength] = 1e9; // never ends while measured
        call("DCDAW_xfadei", st);
    }
    else if (name == "DCDAW_denorm" || name == "DCDAW_denormn")
    {
        zel::CDCDAWDenormState::setSeed(st, 1234u);
    }
    else if (name == "DCDAW_sine")
    {
        st[zel::CDCDAWSineState::kFrequency] = 1000.0;
        st[zel::CDCDAWSineState::kAmplitude] = 1.0;
        call("DCDAW_sinei", st);
    }
    else if (name == "DCDAW_fltnoise")
    {
        zel::CDCDAWFltNoiseState::setSeed(st, 4711);
        st[zel::CDCDAWFltNoiseState::kAmplitude] = 1.0;
        st[zel::CDCDAWFltNoiseState::kFrequency] = 5000.0;
        call("DCDAW_fltnoisei", st);
    }
}

void BM_BasicKernel(benchmark::State& state, const zel::CDCDAWKernel* kernel)
{
    CBuffers buffers;
    const std::string name = kernel->name;
    prepareState(name, buffers, 48000.0);
    zel::CDCDAWCall call;
    call.kernel = kernel;
    call.n = kN;
    call.x = 1.0; // keeps the accumulating kernels away from overflow and subnormals
    for (int i = 0; i < zel::CDCDAWCall::kMaxArgs; ++i)
        call.data[i] = buffers.args[i].data();
    for (auto _ : state)
    {
        kernel->function(&call);
        benchmark::DoNotOptimize(call.data[0]);
        benchmark::ClobberMemory();
    }
    setPerSample(state, kN);
}

// A module's block: take two buffers, fill one, copy it to the other, release both.
void BM_ContextRoundTrip(benchmark::State& state)
{
    auto ctx = zel::CObject::make<zel::CDCDAWContextObject>();
    const zel::CDCDAWKernel& fill = *zel::findDCDAWKernel("DCDAW_fillc");
    const zel::CDCDAWKernel& copy = *zel::findDCDAWKernel("DCDAW_copy");
    for (auto _ : state)
    {
        std::uint32_t a = 0, b = 0;
        (void)ctx->takeBuffer(kN * 8, a);
        (void)ctx->takeBuffer(kN * 8, b);
        (void)ctx->issue(fill, kN, 0.5, {a});
        (void)ctx->issue(copy, kN, 0.0, {b, a});
        (void)ctx->releaseReference(a);
        (void)ctx->releaseReference(b);
    }
    setPerSample(state, 2 * kN);
}
BENCHMARK(BM_ContextRoundTrip);

const bool g_registered = []
{
    for (const zel::CDCDAWKernel& k : zel::dcdawBasicKernels())
    {
        const std::string name = k.name;
        if (name.back() == 'i' && name != "DCDAW_mulci" && name != "DCDAW_add2i" &&
            name != "DCDAW_mul2addi" && name != "DCDAW_msmodinl")
            continue; // initialisers run once per parameter change, not per sample
        benchmark::RegisterBenchmark(("BM_BasicKernel/" + name.substr(6)).c_str(), &BM_BasicKernel,
                                     &k);
    }
    return true;
}();

} // namespace
