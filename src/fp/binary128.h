// IEEE 754 binary128 numbers and their arithmetic, in software: every operation delivers the
// exact result rounded once to binary128 in the rounding direction in force, with gradual
// underflow, IEEE 754 overflow, signed zeros and quiet NaN propagation.
#pragma once

#include <cstdint>

#include "fp/format.h"

namespace rump::fp {

// One binary128 value. `high` holds the sign, the 15-bit exponent field and the top 48 fraction
// bits; `low` the other 64 fraction bits. On a little-endian processor the 16 bytes of the object
// are the bytes of the 128-bit pattern, least significant first.
struct Binary128 {
    // Low word first, as in memory; fromWords takes them high first, as the pattern is written.
    std::uint64_t low = 0;
    std::uint64_t high = 0;

    static constexpr Binary128 fromBits(UInt128 bits) {
        return {static_cast<std::uint64_t>(bits), static_cast<std::uint64_t>(bits >> 64)};
    }
    static constexpr Binary128 fromWords(std::uint64_t high, std::uint64_t low) {
        return {low, high};
    }
    constexpr UInt128 bits() const { return UInt128{high} << 64 | low; }
};

// The four arithmetic operations; none fails and none reports anything. NaN operands: a quiet
// one is returned as it is, a signalling one quietened; of two NaNs the quiet one wins, then the
// larger fraction, then the negative one. Invalid operations give the default NaN ffff 8000 ….
Binary128 operator*(Binary128 x, Binary128 y);
Binary128 operator/(Binary128 x, Binary128 y); // x is the dividend
Binary128 operator+(Binary128 x, Binary128 y);
Binary128 operator-(Binary128 x, Binary128 y); // x is the minuend

// Negation inverts the sign bit of any value, NaNs included; it never rounds.
constexpr Binary128 operator-(Binary128 x) {
    return {x.low, x.high ^ (std::uint64_t{1} << 63)};
}

} // namespace rump::fp
