// Binary128 division. The quotient of the significands is found by long division in two steps
// of 57 bits each, every step estimated with a 64-bit reciprocal of the divisor and then
// corrected against the exact remainder, so the quotient and the remainder are always exact.
// Integer multiplications only: no hardware division, whose latency dominates otherwise.
#include "fp/binary128_rounding.h"

#include <array>

namespace rump::fp {

namespace {

using namespace binary128;
using Int128 = __int128;

// 1/x on 256 equal intervals of x in [1/2, 1), scaled by 2^31: the value at the start of each
// interval (2^40 / (256 + i), the first one held just below 2^32) and its drop across the
// interval. The chord between them is within about 2^-17 of 1/x.
struct Chord {
    std::uint32_t start;
    std::uint32_t drop;
};
constexpr std::array<Chord, 256> reciprocalChords = [] {
    constexpr auto at = [](std::uint64_t i) {
        const std::uint64_t value = (std::uint64_t{1} << 40) / (256 + i);
        return value < (std::uint64_t{1} << 32) ? value : (std::uint64_t{1} << 32) - 1;
    };
    std::array<Chord, 256> chords{};
    for (std::uint64_t i = 0; i < chords.size(); ++i) {
        chords[i] = {static_cast<std::uint32_t>(at(i)),
                     static_cast<std::uint32_t>(at(i) - at(i + 1))};
    }
    return chords;
}();

// The high 64 bits of the signed 128-bit product of v and e, from one unsigned multiplication.
std::int64_t multiplyHigh(std::uint64_t v, std::int64_t e) {
    UInt128 product = UInt128{v} * static_cast<std::uint64_t>(e);
    if (e < 0) {
        product -= UInt128{v} << 64; // e read as unsigned was e + 2^64
    }
    return static_cast<std::int64_t>(product >> 64);
}

// An approximation of 2^126 / d for 2^63 <= d < 2^64, within -1 to +2 of floor(2^126 / d)
// (which lies in (2^62, 2^63]): the chord through the interval of d's top 8 fraction bits gives 17
// bits, and two Newton steps v' = v + v(1 - dv/2^126), each doubling the number of correct bits,
// give the rest.
std::uint64_t reciprocal(std::uint64_t d) {
    const Chord& chord = reciprocalChords[(d >> 55) & 0xFF];
    const auto offset = static_cast<std::uint32_t>(d >> 23); // d's place within the interval
    std::uint64_t v = (chord.start - ((std::uint64_t{chord.drop} * offset) >> 32)) << 31;
    for (int step = 0; step < 2; ++step) {
        // 2^62 * (1 - dv/2^126), of either sign: below 2^45 in magnitude after the chord.
        const auto error = static_cast<std::int64_t>(
            (std::uint64_t{1} << 62) - static_cast<std::uint64_t>((UInt128{d} * v) >> 64));
        // v * error / 2^62, from the high word of v * (4 * error).
        v += static_cast<std::uint64_t>(multiplyHigh(v, error * 4));
    }
    return v;
}

struct Quotient {
    UInt128 quotient;
    bool remainderNonzero;
};

// Moves an estimated quotient digit to the exact one: afterwards 0 <= remainder < divisor.
// With the reciprocal within a few units, an estimate is at most one or two off the exact digit,
// so the remainder of the estimate, exact modulo 2^128, lies within a few divisors of zero (below
// 2^116 in magnitude) and reads correctly as a signed number.
// Each step goes the way the remainder asks for: two plain counting loops would be compiled
// into a 128-bit division call, the very instruction this code avoids.
void correct(std::uint64_t& digit, Int128& remainder, UInt128 divisor) {
    for (;;) {
        const bool tooLarge = remainder < 0;
        if (!tooLarge && remainder < Int128(divisor)) {
            return;
        }
        digit = tooLarge ? digit - 1 : digit + 1;
        remainder += tooLarge ? Int128(divisor) : -Int128(divisor);
    }
}

// floor(dividend * 2^113 / divisor) and whether the division leaves a remainder, for a divisor
// in [2^112, 2^113) and a dividend in [divisor, 2 * divisor): the quotient lies in
// [2^113, 2^114).
Quotient divideSignificands(UInt128 dividend, UInt128 divisor) {
    const auto top = static_cast<std::uint64_t>(divisor >> 49); // in [2^63, 2^64)
    const std::uint64_t inverse = reciprocal(top);

    // The first 57 bits: floor(dividend * 2^56 / divisor).
    const auto dividendTop = static_cast<std::uint64_t>(dividend >> 50);
    auto first = static_cast<std::uint64_t>((UInt128{dividendTop} * inverse) >> 69);
    Int128 remainder = Int128((dividend << 56) - first * divisor);
    correct(first, remainder, divisor);

    // The other 57 bits: floor(remainder * 2^57 / divisor).
    const auto remainderTop = static_cast<std::uint64_t>(UInt128(remainder) >> 49);
    auto second = static_cast<std::uint64_t>((UInt128{remainderTop} * inverse) >> 69);
    remainder = Int128((UInt128(remainder) << 57) - second * divisor);
    correct(second, remainder, divisor);

    return {(UInt128{first} << 57) + second, remainder != 0};
}

Binary128 divideSpecial(UInt128 x, UInt128 y) {
    if (Format::isNaN(x) || Format::isNaN(y)) {
        return propagateNaN(x, y);
    }
    const bool negative = Format::sign(x) != Format::sign(y);
    const bool xInfinite = magnitude(x) == infinity, yInfinite = magnitude(y) == infinity;
    const bool xZero = magnitude(x) == 0, yZero = magnitude(y) == 0;
    if ((xInfinite && yInfinite) || (xZero && yZero)) {
        return Binary128::fromBits(defaultNaN);
    }
    return xInfinite || yZero ? signedInfinity(negative) : signedZero(negative);
}

} // namespace

Binary128 operator/(Binary128 x, Binary128 y) {
    const UInt128 a = x.bits(), b = y.bits();
    if (hasZeroInfinityOrNaN(a, b)) {
        return divideSpecial(a, b);
    }
    const bool negative = Format::sign(a) != Format::sign(b);
    Significand dividend = normalizedSignificand(a);
    const Significand divisor = normalizedSignificand(b);
    // A dividend below the divisor is doubled, without a branch that random operands would
    // mispredict half the time.
    const unsigned below = isBelow(dividend.bits, divisor.bits);
    dividend.bits += dividend.bits & -UInt128{below};
    const int exponent =
        dividend.exponent - divisor.exponent + Format::bias - static_cast<int>(below);
    const Quotient q = divideSignificands(dividend.bits, divisor.bits);
    // The quotient's leading one moves from bit 113 to bit 127.
    return roundAndPack(negative, exponent, q.quotient << 14 | UInt128{q.remainderNonzero});
}

} // namespace rump::fp
