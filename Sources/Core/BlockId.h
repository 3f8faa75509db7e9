#pragma once
// makeBlockId: the 32-bit identifier of a compressed block ("aprs", "abnk", "alst", ...) from its
// four characters. The identifier is stored as those characters in reading order, so it is the
// little-endian integer of the four bytes. Changing this breaks every stored block.

#include <cstdint>

namespace zel
{

constexpr std::uint32_t makeBlockId(const char (&tag)[5])
{
    return static_cast<std::uint32_t>(static_cast<unsigned char>(tag[0])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(tag[1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(tag[2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(tag[3])) << 24;
}

static_assert(makeBlockId("abnk") == 0x6B6E6261u);

} // namespace zel
