// Writing and reading a compressed block of 64 KiB of state-like data (numbers and texts).
#include "Core/MemoryReader.h"
#include "Core/MemoryWriteBuffer.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace
{

std::vector<std::uint8_t> statePayload()
{
    zel::CMemoryWriteBuffer b;
    for (int i = 0; b.length() < 65536; ++i)
    {
        b.writeString(zel::CText("param-" + std::to_string(i % 26)));
        b.writeDouble(0.001 * i);
        b.writeInt(i);
    }
    std::vector<std::uint8_t> bytes = b.toVector();
    bytes.resize(65536);
    return bytes;
}

void BM_WriteCompressedBlock(benchmark::State& state)
{
    const std::vector<std::uint8_t> plain = statePayload();
    for (auto _ : state)
    {
        zel::CMemoryWriteBuffer out;
        benchmark::DoNotOptimize(
            out.writeCompressedData(zel::makeBlockId("abnk"), plain.data(), plain.size()));
        benchmark::DoNotOptimize(out.length());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 65536);
}
BENCHMARK(BM_WriteCompressedBlock);

void BM_ReadCompressedBlock(benchmark::State& state)
{
    const std::vector<std::uint8_t> plain = statePayload();
    zel::CMemoryWriteBuffer out;
    out.writeCompressedData(zel::makeBlockId("abnk"), plain.data(), plain.size());
    const std::vector<std::uint8_t> block = out.toVector();
    for (auto _ : state)
    {
        zel::CMemoryReader reader(block.data(), block.size());
        zel::CByteBuffer back;
        benchmark::DoNotOptimize(reader.readCompressedData(zel::makeBlockId("abnk"), back));
        benchmark::DoNotOptimize(back.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 65536);
}
BENCHMARK(BM_ReadCompressedBlock);

} // namespace
