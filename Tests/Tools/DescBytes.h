#pragma once
// A little-endian byte builder for compiled object descriptions assembled by hand in the tests.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace kelvtest
{

struct CDescBytes
{
    std::vector<std::uint8_t> b;
    CDescBytes& u8(unsigned v)
    {
        b.push_back(static_cast<std::uint8_t>(v));
        return *this;
    }
    CDescBytes& u16(unsigned v) { return u8(v & 0xFF).u8(v >> 8); }
    CDescBytes& u32(unsigned v) { return u16(v & 0xFFFF).u16(v >> 16); }
    CDescBytes& u16s(std::initializer_list<unsigned> values)
    {
        for (const unsigned v : values)
            u16(v);
        return *this;
    }
    // N, L, the offsets and the pool of a string table that keeps its strings in index order.
    CDescBytes& table(const std::vector<std::string>& strings)
    {
        const auto n = static_cast<unsigned>(strings.size());
        CDescBytes offsets;
        std::vector<std::uint8_t> pool;
        for (const std::string& s : strings)
        {
            offsets.u32(4 * n + static_cast<unsigned>(pool.size()));
            pool.insert(pool.end(), s.c_str(), s.c_str() + s.size() + 1);
        }
        u32(n).u32(4 * n + static_cast<unsigned>(pool.size()));
        b.insert(b.end(), offsets.b.begin(), offsets.b.end());
        b.insert(b.end(), pool.begin(), pool.end());
        return *this;
    }
};

} // namespace kelvtest
