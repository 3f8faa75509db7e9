// Arbitrary bytes through the visualisation readers. The first byte picks the reader: a batch of
// records, or a whole "viz-data" block. Whatever reads without error must write and read back
// to the same bytes.
#include "Audio/AudioVizData.h"
#include "Core/MemoryReader.h"
#include "Core/MemoryWriteBuffer.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace
{

std::vector<std::uint8_t> writeAll(const zel::CAudioVizDataList& records)
{
    zel::CMemoryWriteBuffer out;
    for (const zel::CAudioVizDataPtr& record : records)
        if (record->write(out))
            std::abort();
    return out.toVector();
}

// Records written once and read back must write the same bytes again.
void checkRoundTrip(const zel::CAudioVizDataList& records)
{
    const std::vector<std::uint8_t> first = writeAll(records);
    zel::CAudioVizDataList again;
    if (zel::readVizDataBatch(first.data(), first.size(), again) || again.size() != records.size())
        std::abort();
    if (writeAll(again) != first)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    if (data[0] % 2 == 0)
    {
        zel::CAudioVizDataList records;
        if (!zel::readVizDataBatch(data + 1, size - 1, records))
            checkRoundTrip(records);
        return 0;
    }
    zel::CMemoryReader in(data + 1, size - 1);
    double time = 0;
    std::vector<zel::CAudioVizEntry> entries;
    if (!zel::readVizDataBlock(in, time, entries))
    {
        if (in.remaining() != 0)
            std::abort();
        for (const zel::CAudioVizEntry& entry : entries)
            checkRoundTrip(entry.records);
    }
    return 0;
}
