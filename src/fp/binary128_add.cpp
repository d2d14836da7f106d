// Binary128 addition and subtraction: the smaller magnitude is aligned to the larger, the two
// are added or subtracted exactly (bits shifted out leave a sticky bit), and the sum is rounded
// once.
#include "fp/binary128_rounding.h"

namespace rump::fp {

namespace {

using namespace binary128;

// The operand with the larger magnitude and the other one, without a branch: random operands
// would mispredict it half the time.
struct Ordered {
    UInt128 larger;
    UInt128 smaller;
};
inline Ordered byMagnitude(UInt128 x, UInt128 y) {
    const UInt128 swap = -UInt128{isBelow(magnitude(x), magnitude(y))};
    const UInt128 difference = (x ^ y) & swap;
    return {x ^ difference, y ^ difference};
}

// A significand aligned below a larger one: shifted right by count, with a 1 in bit 0 when a
// nonzero bit was shifted out, which is when count exceeds the number of trailing zeros. The
// value is below 2^127, so a count of 127 shifts it all out as well as any larger count does.
inline UInt128 alignSticky(UInt128 value, int count) {
    if (value == 0) {
        return 0;
    }
    const auto low = static_cast<std::uint64_t>(value);
    const int trailingZeros = low != 0
                                  ? __builtin_ctzll(low)
                                  : 64 + __builtin_ctzll(static_cast<std::uint64_t>(value >> 64));
    count = count < 127 ? count : 127;
    return value >> count | UInt128{count > trailingZeros};
}

// A finite operand's significand with the leading one of a normal number at bit 126, leaving bit
// 127 for a carry and 14 bits below the last fraction bit for alignment, and its exponent field.
// A subnormal has no leading one and the exponent of the lowest normal binade.
struct Addend {
    UInt128 significand;
    int exponent;
};
inline Addend addend(UInt128 operand) {
    const int field = Format::exponentField(operand);
    return {(Format::fraction(operand) | (field != 0 ? Format::implicitBit : 0)) << (extraBits - 1),
            field + (field == 0)};
}

// x + y when x or y is an infinity or a NaN.
Binary128 addSpecial(UInt128 x, UInt128 y, UInt128 yAsGiven) {
    if (Format::isNaN(x) || Format::isNaN(y)) {
        return propagateNaN(x, yAsGiven);
    }
    if (magnitude(x) == infinity && magnitude(y) == infinity && x != y) {
        return Binary128::fromBits(defaultNaN); // infinities of opposite signs
    }
    return Binary128::fromBits(magnitude(x) == infinity ? x : y);
}

// x + y, where y already carries the sign it is added with. yAsGiven is y before a subtraction
// inverted its sign: a NaN operand comes back with its own sign.
Binary128 add(UInt128 x, UInt128 y, UInt128 yAsGiven) {
    if (Format::exponentField(x) == maxField || Format::exponentField(y) == maxField) {
        return addSpecial(x, y, yAsGiven);
    }
    // From here on a zero operand needs no case of its own: it aligns to nothing.
    const auto [larger, smaller] = byMagnitude(x, y);
    const bool negative = Format::sign(larger);
    const unsigned subtract = static_cast<unsigned>((larger ^ smaller) >> 127);

    const Addend large = addend(larger), small = addend(smaller);
    const UInt128 aligned = alignSticky(small.significand, large.exponent - small.exponent);

    // large - aligned is large + ~aligned + 1.
    const UInt128 invert = -UInt128{subtract};
    const UInt128 sum = large.significand + ((aligned ^ invert) + subtract);
    if (sum == 0) {
        // Exact cancellation gives +0, or -0 when rounding downward; two zeros of one sign
        // keep it.
        const bool negativeZero =
            subtract != 0 ? currentRoundingDirection() == RoundingDirection::Downward : negative;
        return signedZero(negativeZero);
    }
    // When bits were shifted out, the two magnitudes differ by more than a factor of two and the
    // sum loses at most one leading bit, so the sticky bit stays below the rounding position.
    const int shift = leadingZeros(sum);
    return roundAndPack(negative, large.exponent + 1 - shift, sum << shift);
}

} // namespace

Binary128 operator+(Binary128 x, Binary128 y) {
    return add(x.bits(), y.bits(), y.bits());
}

Binary128 operator-(Binary128 x, Binary128 y) {
    return add(x.bits(), y.bits() ^ Format::signMask, y.bits());
}

} // namespace rump::fp
