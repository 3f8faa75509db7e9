#pragma once
// Assembles expected stored bytes field by field, independently of the stream encoders.

#include <cstdint>
#include <string>
#include <vector>

namespace kelvtest
{

struct CRecordBytes
{
    std::vector<std::uint8_t> bytes;

    CRecordBytes& i32(std::int32_t value)
    {
        const auto u = static_cast<std::uint32_t>(value);
        for (int shift = 0; shift < 32; shift += 8)
            bytes.push_back(static_cast<std::uint8_t>((u >> shift) & 0xFF));
        return *this;
    }
    // A double given by its IEEE bit pattern (0.0 is 0, 1.0 is 0x3FF0000000000000).
    CRecordBytes& f64bits(std::uint64_t bits)
    {
        for (int shift = 0; shift < 64; shift += 8)
            bytes.push_back(static_cast<std::uint8_t>((bits >> shift) & 0xFF));
        return *this;
    }
    CRecordBytes& str(const std::string& ascii)
    {
        i32(static_cast<std::int32_t>(ascii.size()));
        bytes.insert(bytes.end(), ascii.begin(), ascii.end());
        return *this;
    }
    CRecordBytes& raw(const std::vector<std::uint8_t>& more)
    {
        bytes.insert(bytes.end(), more.begin(), more.end());
        return *this;
    }
};

} // namespace kelvtest
