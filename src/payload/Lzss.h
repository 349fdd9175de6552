// The LZSS stream of an archive entry, as every reader and writer of it must see it: a ring of
// 4096 bytes whose positions 0..4077 start as 0x00 for every entry, written from position 4078;
// groups of one flag byte (bit 1 = literal, least significant bit first) and up to eight items;
// a back-reference is two bytes holding an absolute 12-bit ring position and a length of 3..18.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Lzss {

constexpr unsigned RingSize = 4096;
constexpr unsigned RingMask = RingSize - 1;
constexpr unsigned MinMatch = 3; // lengths are stored minus this
constexpr unsigned MaxMatch = 18;
constexpr unsigned StartPosition = RingSize - MaxMatch; // 4078: the first write position
constexpr uint8_t FillByte = 0x00;                      // of ring positions 0..StartPosition-1
// A group is a flag byte and at most eight items of at most two bytes, which decode to at most
// eight copies of MaxMatch bytes: no stream yields more than GroupOutput bytes per GroupInput.
constexpr std::size_t GroupInput = 1 + 8 * 2;
constexpr std::size_t GroupOutput = 8 * MaxMatch;

// The two bytes of a back-reference.
constexpr unsigned Position(unsigned B1, unsigned B2) noexcept { return B1 | ((B2 & 0xF0) << 4); }
constexpr unsigned Length(unsigned B2) noexcept { return (B2 & 0x0F) + MinMatch; }

} // namespace Lzss
