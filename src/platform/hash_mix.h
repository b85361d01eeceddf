#pragma once

// Mixing of hash codes for tables that index by the low bits of a hash.
//
// Value hash codes of small integers are the integers themselves, so tables
// mix them before masking, and keys of several parts are accumulated in 64
// bits before they are folded to 32.

#include <cstdint>

namespace zephro {

// Spreads the bits of `h` over the low bits a power-of-two mask keeps.
inline std::uint32_t MixBits(std::uint32_t h) noexcept {
  h ^= h >> 16;
  h *= 0x45d9f3bu;
  h ^= h >> 16;
  return h;
}

// Accumulates the parts of a composite key; start from kHashSeed and end with
// FinishHash.
inline constexpr std::uint64_t kHashSeed = 0xcbf29ce484222325ull;

inline std::uint64_t AccumulateHash(std::uint64_t acc, std::int32_t part) noexcept {
  return (acc ^ static_cast<std::uint32_t>(part)) * 0x100000001b3ull;
}

inline std::int32_t FinishHash(std::uint64_t acc) noexcept {
  acc ^= acc >> 33;
  acc *= 0xff51afd7ed558ccdull;
  acc ^= acc >> 33;
  acc *= 0xc4ceb9fe1a85ec53ull;
  acc ^= acc >> 33;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(acc));
}

}  // namespace zephro
