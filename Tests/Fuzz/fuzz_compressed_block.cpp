// Arbitrary bytes through the compressed block reader and the text reader of a memory reader.
// The first byte picks the mode; in mode 1 the header check is made valid first, so that the
// fuzzer spends its time in the inflater rather than on the 32-bit check.
#include "Core/MemoryReader.h"

#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::uint8_t mode = data[0];
    std::vector<std::uint8_t> bytes(data + 1, data + size);
    if ((mode & 1) && bytes.size() >= 12)
    {
        const auto check = static_cast<std::uint32_t>(adler32(1L, bytes.data() + 4, 4));
        for (int i = 0; i < 4; ++i)
            bytes[8 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(check >> (8 * i));
    }
    std::uint32_t id = zel::makeBlockId("alst");
    if (bytes.size() >= 4)
        std::memcpy(&id, bytes.data(), 4); // any identifier is accepted here

    const auto readTexts = [](zel::CMemoryReader&& reader)
    {
        zel::CText text;
        while (!reader.readString(text))
        {
        }
    };
    zel::CMemoryReader reader(bytes.data(), bytes.size());
    zel::CByteBuffer plain;
    // Whatever followed the block, and the plain bytes themselves, as texts.
    if (!reader.readCompressedData(id, plain) && plain.size() > 0)
    {
        readTexts(std::move(reader));
        readTexts(zel::CMemoryReader(plain.data(), plain.size()));
    }
    readTexts(zel::CMemoryReader(bytes.data(), bytes.size()));
    return 0;
}
