// Binary128 multiplication: the exact 226-bit product of the significands, rounded once.
#include "fp/binary128_rounding.h"

namespace rump::fp {

namespace {

using namespace binary128;

struct Wide {
    UInt128 high;
    UInt128 low;
};

// The 256-bit product of two 128-bit numbers, from four 64-by-64-bit products.
Wide multiplyWide(UInt128 a, UInt128 b) {
    const auto a1 = static_cast<std::uint64_t>(a >> 64), a0 = static_cast<std::uint64_t>(a);
    const auto b1 = static_cast<std::uint64_t>(b >> 64), b0 = static_cast<std::uint64_t>(b);
    const UInt128 p00 = UInt128{a0} * b0, p01 = UInt128{a0} * b1;
    const UInt128 p10 = UInt128{a1} * b0, p11 = UInt128{a1} * b1;
    const UInt128 middle = (p00 >> 64) + static_cast<std::uint64_t>(p01) +
                           static_cast<std::uint64_t>(p10); // below 3 * 2^64
    return {p11 + (p01 >> 64) + (p10 >> 64) + (middle >> 64),
            middle << 64 | static_cast<std::uint64_t>(p00)};
}

Binary128 multiplySpecial(UInt128 x, UInt128 y) {
    if (Format::isNaN(x) || Format::isNaN(y)) {
        return propagateNaN(x, y);
    }
    const bool negative = Format::sign(x) != Format::sign(y);
    const bool xZero = magnitude(x) == 0, yZero = magnitude(y) == 0;
    if (magnitude(x) == infinity || magnitude(y) == infinity) {
        return xZero || yZero ? Binary128::fromBits(defaultNaN) : signedInfinity(negative);
    }
    return signedZero(negative); // only reached with a zero operand
}

} // namespace

Binary128 operator*(Binary128 x, Binary128 y) {
    const UInt128 a = x.bits(), b = y.bits();
    if (hasZeroInfinityOrNaN(a, b)) {
        return multiplySpecial(a, b);
    }
    const bool negative = Format::sign(a) != Format::sign(b);
    const Significand sa = normalizedSignificand(a), sb = normalizedSignificand(b);

    // Both significands with their leading one at bit 127: the product's leading one is at bit
    // 255 or 254 of the wide product.
    const Wide product = multiplyWide(sa.bits << extraBits, sb.bits << extraBits);
    // Half the products need one more bit of normalization. Shifting by 0 or 1 as arithmetic,
    // x << s being x + (x & -s), costs less than a variable 128-bit shift or a mispredicted branch.
    const UInt128 shift = 1 - (product.high >> 127);
    const UInt128 high = product.high + (product.high & -shift) + ((product.low >> 127) & shift);
    const int exponent = sa.exponent + sb.exponent - Format::bias + 1 - static_cast<int>(shift);
    // A bit of low moved into high lands where the sticky bit goes, so counting it again is
    // harmless.
    return roundAndPack(negative, exponent, high | UInt128{product.low != 0});
}

} // namespace rump::fp
