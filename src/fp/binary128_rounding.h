// What the binary128 operations share: taking operands apart, rounding an exact result once to a
// binary128 value in the rounding direction in force, and the results for special operands.
#pragma once

#include "fp/binary128.h"
#include "fp/rounding.h"

namespace rump::fp::binary128 {

using Format = Binary128Format;

inline constexpr int maxField = Format::maxExponentField;
inline constexpr UInt128 infinity = Format::exponentMask;
inline constexpr UInt128 largestFinite = infinity - 1;
inline constexpr UInt128 defaultNaN = Format::signMask | infinity | Format::quietBit;

// Bits below a rounded significand whose leading one is at bit 127.
inline constexpr int extraBits = 127 - Format::fractionWidth;
inline constexpr unsigned extraMask = (1u << extraBits) - 1;
inline constexpr unsigned halfUnit = 1u << (extraBits - 1);

inline constexpr UInt128 signOf(bool negative) {
    return negative ? Format::signMask : 0;
}
inline constexpr UInt128 magnitude(UInt128 bits) {
    return bits & ~Format::signMask;
}

inline int leadingZeros(UInt128 value) { // value != 0
    const auto high = static_cast<std::uint64_t>(value >> 64);
    return high != 0 ? __builtin_clzll(high)
                     : 64 + __builtin_clzll(static_cast<std::uint64_t>(value));
}

// For a and b below 2^127: 1 when a < b, else 0, read off the sign of a - b rather than a
// comparison, which compilers tend to turn into a branch.
inline unsigned isBelow(UInt128 a, UInt128 b) {
    return static_cast<unsigned>((a - b) >> 127);
}

// value >> count, with a 1 in bit 0 when any 1 was shifted out, so that the result still tells
// an exact value from an inexact one.
inline UInt128 shiftRightSticky(UInt128 value, int count) {
    if (count == 0) {
        return value;
    }
    if (count >= 128) {
        return value != 0;
    }
    return value >> count | UInt128{(value << (128 - count)) != 0};
}

// The significand of a finite nonzero operand with its leading one moved to bit 112, and the
// exponent field it would have if the format had no lower limit. Subnormals get a field below 1.
struct Significand {
    UInt128 bits;
    int exponent;
};
inline Significand normalizedSignificand(UInt128 operand) {
    const int field = Format::exponentField(operand);
    const UInt128 fraction = Format::fraction(operand);
    if (field != 0) {
        return {fraction | Format::implicitBit, field};
    }
    const int shift = leadingZeros(fraction) - extraBits;
    return {fraction << shift, 1 - shift};
}

// Whether x or y is a zero, an infinity or a NaN: the operands a product or a quotient does not
// compute. The first test, true only for those and for subnormals, is the cheap one.
inline bool hasZeroInfinityOrNaN(UInt128 x, UInt128 y) {
    // Fields 0 and maxField map to the two ends of the unsigned range.
    const auto outsideNormal = [](UInt128 operand) {
        return static_cast<unsigned>(Format::exponentField(operand) - 1) >= maxField - 1;
    };
    return (outsideNormal(x) || outsideNormal(y)) &&
           (Format::exponentField(x) == maxField || Format::exponentField(y) == maxField ||
            magnitude(x) == 0 || magnitude(y) == 0);
}

// Whether an inexact result rounds away from the truncated significand.
inline unsigned roundsUp(bool negative, unsigned extra, unsigned odd) {
    switch (currentRoundingDirection()) {
    case RoundingDirection::ToNearestEven:
        // Above half a unit, or exactly half with an odd last bit; no branch on random bits.
        return extra + odd > halfUnit;
    case RoundingDirection::Downward:
        return negative;
    case RoundingDirection::Upward:
        return !negative;
    case RoundingDirection::TowardZero:
        break;
    }
    return false;
}

// A result beyond the largest finite number: an infinity, or the largest finite number when the
// rounding direction points back toward zero.
inline Binary128 overflow(bool negative) {
    const RoundingDirection direction = currentRoundingDirection();
    const bool toInfinity =
        direction == RoundingDirection::ToNearestEven ||
        direction == (negative ? RoundingDirection::Downward : RoundingDirection::Upward);
    return Binary128::fromBits(signOf(negative) | (toInfinity ? infinity : largestFinite));
}

// The binary128 value nearest, in the rounding direction in force, to
// (-1)^negative * significand / 2^127 * 2^(exponent - bias), where significand has its leading one
// at bit 127 and a 1 in bit 0 if anything nonzero lies below it. The exponent may lie outside the
// format's range: below it the result is subnormal or zero, above it an overflow.
inline Binary128 roundAndPack(bool negative, int exponent, UInt128 significand) {
    if (exponent >= maxField) {
        return overflow(negative);
    }
    if (exponent <= 0) {
        significand = shiftRightSticky(significand, 1 - exponent);
        exponent = 1;
    }
    // The leading one lands on the lowest exponent bit, adding 1 to exponent - 1; a subnormal
    // has no leading one there and keeps field 0. A carry out of the fraction moves the value to
    // the next binade, or to infinity.
    UInt128 result = (UInt128(exponent - 1) << Format::fractionWidth) + (significand >> extraBits);
    const unsigned extra = static_cast<unsigned>(significand) & extraMask;
    if (extra != 0) {
        result += roundsUp(negative, extra, static_cast<unsigned>(result) & 1);
    }
    return Binary128::fromBits(signOf(negative) | result);
}

inline Binary128 signedZero(bool negative) {
    return Binary128::fromBits(signOf(negative));
}
inline Binary128 signedInfinity(bool negative) {
    return Binary128::fromBits(signOf(negative) | infinity);
}

// The result when x or y is a NaN: a quiet NaN before a signalling one, then the larger
// fraction, then the negative one; quietened.
inline Binary128 propagateNaN(UInt128 x, UInt128 y) {
    UInt128 chosen;
    if (!Format::isNaN(y)) {
        chosen = x;
    } else if (!Format::isNaN(x)) {
        chosen = y;
    } else if ((x & Format::quietBit) != (y & Format::quietBit)) {
        chosen = (x & Format::quietBit) != 0 ? x : y;
    } else if (Format::fraction(x) != Format::fraction(y)) {
        chosen = Format::fraction(x) > Format::fraction(y) ? x : y;
    } else {
        chosen = Format::sign(x) ? x : y;
    }
    return Binary128::fromBits(chosen | Format::quietBit);
}

} // namespace rump::fp::binary128
