// The binary128 arithmetic against GCC's own __float128 arithmetic, used here as the oracle only:
// for each operation and rounding direction, over a million operand pairs drawn mostly from the
// cases where rounding goes wrong (cancellation, ties, gradual underflow, overflow, long runs of
// equal bits, special values), every result must agree bit for bit. A NaN result is checked
// against our own propagation rule instead of the oracle's NaN, which follows another rule.
#include "fp/binary128.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cfenv>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <utility>

namespace rump::fp {
namespace {

using Format = Binary128Format;

constexpr UInt128 one = 1;
constexpr int minNormalExponent = 1 - Format::bias;                             // -16382
constexpr int maxExponent = Format::bias;                                       // 16383
constexpr int minSubnormalExponent = minNormalExponent - Format::fractionWidth; // -16494

constexpr UInt128 bitsOf(std::uint64_t high, std::uint64_t low) {
    return UInt128{high} << 64 | low;
}
constexpr UInt128 defaultNaN = bitsOf(0xffff800000000000, 0);
constexpr UInt128 quietNaN = bitsOf(0x7fff800000000000, 0);
constexpr UInt128 signallingNaN = bitsOf(0x7fff000000000000, 1);

enum class Op { Multiply, Divide, Add, Subtract };

class Random {
public:
    explicit Random(std::uint64_t seed) : engine_(seed) {}
    UInt128 bits() { return UInt128{engine_()} << 64 | engine_(); }
    int between(int low, int high) {
        return low + static_cast<int>(engine_() % static_cast<std::uint64_t>(high - low + 1));
    }
    bool coin() { return (engine_() & 1) != 0; }
    template <class T, std::size_t N>
    const T& pick(const T (&table)[N]) {
        return table[engine_() % N];
    }

private:
    std::mt19937_64 engine_;
};

// The number of bits of `value` up to its highest one.
int widthOf(UInt128 value) {
    const auto high = static_cast<std::uint64_t>(value >> 64);
    return high != 0 ? 64 + std::bit_width(high)
                     : std::bit_width(static_cast<std::uint64_t>(value));
}

// The value of ±magnitude × 2^exponent (magnitude not 0) with its significand truncated to 113
// bits; beyond the largest finite number it is that number, below the smallest subnormal that one.
UInt128 make(bool negative, UInt128 magnitude, int exponent) {
    const int width = widthOf(magnitude);
    if (width > Format::significandWidth) {
        magnitude >>= width - Format::significandWidth;
    } else {
        magnitude <<= Format::significandWidth - width;
    }
    int field = exponent + width - 1 + Format::bias;
    if (field >= Format::maxExponentField) {
        field = Format::maxExponentField - 1;
        magnitude = ~UInt128{0};
    } else if (field <= 0) {
        const int shift = 1 - field;
        magnitude = shift > Format::fractionWidth ? 1 : std::max(magnitude >> shift, one);
        field = 0;
    }
    return (negative ? Format::signMask : 0) | UInt128(field) << Format::fractionWidth |
           (magnitude & Format::fractionMask);
}

// ±magnitude scaled so that its leading bit is worth 2^leading.
UInt128 scaled(bool negative, UInt128 magnitude, int leading) {
    return make(negative, magnitude, leading + 1 - widthOf(magnitude));
}

// The exact 256-bit product a × b shifted right by `shift` (0 < shift < 128), for factors small
// enough that the result fits in 128 bits.
UInt128 productShifted(UInt128 a, UInt128 b, int shift) {
    const std::uint64_t a0 = static_cast<std::uint64_t>(a),
                        a1 = static_cast<std::uint64_t>(a >> 64);
    const std::uint64_t b0 = static_cast<std::uint64_t>(b),
                        b1 = static_cast<std::uint64_t>(b >> 64);
    const UInt128 low = UInt128{a0} * b0, cross1 = UInt128{a0} * b1, cross2 = UInt128{a1} * b0;
    const UInt128 middle =
        (low >> 64) + static_cast<std::uint64_t>(cross1) + static_cast<std::uint64_t>(cross2);
    const UInt128 high = UInt128{a1} * b1 + (cross1 >> 64) + (cross2 >> 64) + (middle >> 64);
    const UInt128 bottom = middle << 64 | static_cast<std::uint64_t>(low);
    return high << (128 - shift) | bottom >> shift;
}

// A 113-bit significand (bit 112 set) of one of the shapes that trouble rounding: random, long
// runs of ones and zeros, a few ones among zeros (a power of two among them) or a few zeros among
// ones (all ones among them).
UInt128 significand(Random& random) {
    UInt128 fraction = 0;
    switch (random.between(0, 3)) {
    case 0:
        fraction = random.bits();
        break;
    case 1:
        for (int position = 0, bit = random.coin(); position < Format::fractionWidth; bit ^= 1) {
            const int length = random.between(1, random.coin() ? 8 : Format::fractionWidth);
            if (bit) {
                fraction |= ((one << length) - 1) << position;
            }
            position += length;
        }
        break;
    default:
        for (int n = random.between(0, 4); n > 0; --n) {
            fraction |= one << random.between(0, Format::fractionWidth - 1);
        }
        if (random.coin()) {
            fraction = ~fraction;
        }
    }
    return Format::implicitBit | (fraction & Format::fractionMask);
}

// An exponent for a result or operand: anywhere, around the smallest normal number, or at the top.
int someExponent(Random& random) {
    switch (random.between(0, 3)) {
    case 0:
        return minNormalExponent + random.between(-116, 2);
    case 1:
        return maxExponent + random.between(-2, 1);
    default:
        return random.between(minSubnormalExponent, maxExponent);
    }
}

UInt128 finite(Random& random, int leading) {
    return scaled(random.coin(), significand(random), leading);
}

// Leading-bit exponents of x and y for which x op y has its leading bit at about 2^target.
std::pair<int, int> aimedAt(Random& random, Op op, int target) {
    switch (op) {
    case Op::Multiply: {
        const int x = random.between(std::max(minSubnormalExponent, target - maxExponent),
                                     std::min(maxExponent, target - minSubnormalExponent));
        return {x, target - x};
    }
    case Op::Divide: {
        const int x = random.between(std::max(minSubnormalExponent, target + minSubnormalExponent),
                                     std::min(maxExponent, target + maxExponent));
        return {x, x - target};
    }
    default: {
        const int x = std::min(target, maxExponent);
        return {x, x - random.between(0, random.coin() ? 3 : 120)};
    }
    }
}

struct Pair {
    UInt128 x, y;
};

Pair aimed(Random& random, Op op, int target) {
    const auto [x, y] = aimedAt(random, op, target);
    return {finite(random, x), finite(random, y)};
}

// Each generator draws one operand pair for the operation; the table below mixes them evenly.
using Generator = Pair (*)(Random&, Op);

Pair anyBits(Random& random, Op) {
    return {random.bits(), random.bits()};
}

Pair anyShapes(Random& random, Op) {
    return {finite(random, someExponent(random)), finite(random, someExponent(random))};
}

Pair moderate(Random& random, Op op) {
    return aimed(random, op, random.between(-300, 300));
}

Pair underflow(Random& random, Op op) {
    return aimed(random, op, minNormalExponent + random.between(-116, 2));
}

Pair overflow(Random& random, Op op) {
    return aimed(random, op, maxExponent + random.between(-2, 1));
}

// Zeros, infinities, NaNs and the extreme finite numbers, against each other or anything.
Pair specials(Random& random, Op) {
    static constexpr UInt128 values[] = {
        0,                            // zero
        Format::exponentMask,         // infinity
        quietNaN,                     // with no payload
        signallingNaN,                // with the least payload
        1,                            // smallest subnormal
        Format::implicitBit - 1,      // largest subnormal
        Format::implicitBit,          // smallest normal
        Format::exponentMask - 1,     // largest finite
        bitsOf(0x3fff000000000000, 0) // one
    };
    const auto special = [&] {
        return random.pick(values) | (random.coin() ? Format::signMask : 0);
    };
    return {special(), random.coin() ? special() : finite(random, someExponent(random))};
}

// NaNs of either kind and sign with various payloads, against NaNs that differ only in sign or
// kind, against unrelated NaNs, or against anything else.
Pair nans(Random& random, Op) {
    const auto nan = [&] {
        const UInt128 payload = significand(random) & (Format::quietBit - 1);
        return (random.coin() ? Format::signMask : 0) | Format::exponentMask |
               (random.coin() ? Format::quietBit : 0) | std::max(payload, one);
    };
    const UInt128 x = nan();
    switch (random.between(0, 3)) {
    case 0:
        return {x, x ^ Format::signMask};
    case 1:
        return {x, x ^ Format::quietBit ^ (random.coin() ? Format::signMask : 0)};
    case 2:
        return {x, nan()};
    default:
        return {x, random.coin() ? random.bits() : finite(random, someExponent(random))};
    }
}

// Equal or nearly equal magnitudes: x with a few low bits changed, sometimes with the exponent
// one off. Sums and differences get opposite effective signs, for exact and massive cancellation;
// quotients come out near one, squares anywhere from underflow to overflow.
Pair nearlyEqual(Random& random, Op op) {
    const int leading = someExponent(random);
    const UInt128 x = finite(random, op == Op::Multiply ? leading / 2 : leading);
    UInt128 y = x ^ (random.bits() & ((one << random.between(0, 12)) - 1));
    const int field = Format::exponentField(y);
    if (random.between(0, 3) == 0 && field > 0 && field < Format::maxExponentField - 1) {
        y += random.coin() ? Format::implicitBit : -Format::implicitBit;
    }
    const bool opposite = op == Op::Add ? true : op == Op::Subtract ? false : random.coin();
    return {x, (y & ~Format::signMask) | (Format::sign(x) != opposite ? Format::signMask : 0)};
}

// A significand whose lowest one is bit `lowest`.
UInt128 endingAt(Random& random, int lowest) {
    return (significand(random) & ~((one << lowest) - 1)) | one << lowest;
}

// Exact results, ties and results a hair away from either. Sums: y half an ulp of x, or about
// that. Products: significands whose product has 112 to 116 significant bits, 114 making a tie.
// Quotients cannot tie; x = a·b (truncated) over b gives exact and nearly exact quotients, and
// x = (m·y + r) / 2^114 over y a quotient within r / (y·2^114) of m / 2^114, where m, fixed by y
// and r, is odd when r is: a midpoint when m has 114 bits, else a representable number.
Pair roundingBoundaries(Random& random, Op op) {
    if (op == Op::Add || op == Op::Subtract) {
        // y's lowest one is worth half an ulp of x, or a few binades off that.
        const int leading = someExponent(random);
        const int yLowest =
            Format::fractionWidth - random.between(0, random.coin() ? 2 : Format::fractionWidth);
        const int offset = random.coin() ? 0 : random.between(-3, 3);
        return {finite(random, leading),
                scaled(random.coin(), endingAt(random, yLowest), leading - 1 - yLowest + offset)};
    }
    const auto [xLeading, yLeading] = aimedAt(random, op, someExponent(random));
    if (op == Op::Divide && random.coin()) {
        const UInt128 y = significand(random) | 1;
        UInt128 inverse = y; // y·y ≡ 1 mod 8; each Newton step doubles the bits that are right
        for (int i = 0; i < 6; ++i) {
            inverse *= 2 - y * inverse;
        }
        const int remainder = random.pick({-3, -2, -1, 1, 2, 3});
        const UInt128 m = (UInt128(-remainder) * inverse) & ((one << 114) - 1);
        const UInt128 x = productShifted(m, y, 114) + (remainder > 0 ? 1 : 0);
        return {scaled(random.coin(), std::max(x, one), xLeading),
                scaled(random.coin(), y, yLeading)};
    }
    const int lowestSum = random.between(110, 113);
    const int aLowest = random.between(std::max(0, lowestSum - 112), std::min(112, lowestSum));
    const UInt128 a = endingAt(random, aLowest), b = endingAt(random, lowestSum - aLowest);
    const UInt128 x = op == Op::Multiply ? a : productShifted(a, b, 112);
    return {scaled(random.coin(), x, xLeading), scaled(random.coin(), b, yLeading)};
}

constexpr Generator generators[] = {anyBits,  anyShapes, moderate,    underflow,         overflow,
                                    specials, nans,      nearlyEqual, roundingBoundaries};

Pair draw(Random& random, Op op) {
    const Pair pair = random.pick(generators)(random, op);
    return op != Op::Divide && random.coin() ? Pair{pair.y, pair.x} : pair;
}

// What our operation must give when the oracle's result is a NaN: the default NaN when no operand
// is one (an invalid operation), else the NaN operand, quietened; of two, the quiet one, then the
// one with the larger fraction, then the negative one.
UInt128 expectedNaN(UInt128 x, UInt128 y) {
    const bool xNaN = Format::isNaN(x), yNaN = Format::isNaN(y);
    if (!xNaN && !yNaN) {
        return defaultNaN;
    }
    UInt128 chosen = xNaN ? x : y;
    if (xNaN && yNaN) {
        const bool xQuiet = (x & Format::quietBit) != 0, yQuiet = (y & Format::quietBit) != 0;
        if (xQuiet != yQuiet) {
            chosen = xQuiet ? x : y;
        } else if (Format::fraction(x) != Format::fraction(y)) {
            chosen = Format::fraction(x) > Format::fraction(y) ? x : y;
        } else {
            chosen = Format::sign(x) ? x : y;
        }
    }
    return chosen | Format::quietBit;
}

// The oracle's operands go through memory the compiler cannot see into, so none of its operations
// can be evaluated ahead of the change of rounding direction.
void hide(__float128& x, __float128& y) {
    asm volatile("" : "+m"(x), "+m"(y));
}

__float128 oracleAdd(__float128 x, __float128 y) {
    hide(x, y);
    return x + y;
}

struct Operation {
    const char* name;
    Op op;
    Binary128 (*ours)(Binary128, Binary128);
    __float128 (*oracle)(__float128, __float128);
};

constexpr Operation operations[] = {
    {"Multiply", Op::Multiply, [](Binary128 x, Binary128 y) { return x * y; },
     [](__float128 x, __float128 y) {
         hide(x, y);
         return x * y;
     }},
    {"Divide", Op::Divide, [](Binary128 x, Binary128 y) { return x / y; },
     [](__float128 x, __float128 y) {
         hide(x, y);
         return x / y;
     }},
    {"Add", Op::Add, [](Binary128 x, Binary128 y) { return x + y; }, oracleAdd},
    {"Subtract", Op::Subtract, [](Binary128 x, Binary128 y) { return x - y; },
     [](__float128 x, __float128 y) {
         hide(x, y);
         return x - y;
     }},
};

// Each direction with the results 1 + 5/8 ulp and -(1 + 5/8 ulp) round to: away from 1 or not.
struct Direction {
    const char* name;
    int mode;
    bool positiveAway, negativeAway;
};

constexpr Direction directions[] = {
    {"ToNearest", FE_TONEAREST, true, true},
    {"Downward", FE_DOWNWARD, false, true},
    {"Upward", FE_UPWARD, true, false},
    {"TowardZero", FE_TOWARDZERO, false, false},
};

__float128 toFloat128(UInt128 bits) {
    __float128 value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

UInt128 bitsOf(__float128 value) {
    UInt128 bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

std::string hex(UInt128 bits) {
    char text[33];
    std::snprintf(text, sizeof text, "%016llx%016llx", static_cast<unsigned long long>(bits >> 64),
                  static_cast<unsigned long long>(bits));
    return text;
}

// Test names for failure messages, in place of the parameters' bytes.
void PrintTo(const Operation& operation, std::ostream* out) {
    *out << operation.name;
}
void PrintTo(const Direction& direction, std::ostream* out) {
    *out << direction.name;
}

constexpr int pairsPerRun = 1 << 20;
constexpr int mismatchesShown = 10;

class Binary128Oracle : public ::testing::TestWithParam<std::tuple<Operation, Direction>> {
protected:
    ~Binary128Oracle() override { std::fesetround(FE_TONEAREST); }
};

TEST_P(Binary128Oracle, AgreesBitForBit) {
    const auto& [operation, direction] = GetParam();
    ASSERT_EQ(std::fesetround(direction.mode), 0);

    // Agreement proves nothing unless the oracle itself follows the direction.
    const UInt128 unit = bitsOf(0x3fff000000000000, 0), fiveEighthsUlp = make(false, 5, -115);
    const auto sum = [](UInt128 x, UInt128 y) {
        return bitsOf(oracleAdd(toFloat128(x), toFloat128(y)));
    };
    ASSERT_EQ(sum(unit, fiveEighthsUlp), unit + direction.positiveAway);
    ASSERT_EQ(sum(unit | Format::signMask, fiveEighthsUlp | Format::signMask),
              (unit | Format::signMask) + direction.negativeAway);

    Random random(0x6a09e667f3bcc908 + static_cast<std::uint64_t>(operation.op));
    long mismatches = 0;
    std::string shown;
    for (int i = 0; i < pairsPerRun; ++i) {
        const Pair pair = draw(random, operation.op);
        const UInt128 oracle = bitsOf(operation.oracle(toFloat128(pair.x), toFloat128(pair.y)));
        const UInt128 ours =
            operation.ours(Binary128::fromBits(pair.x), Binary128::fromBits(pair.y)).bits();
        const UInt128 expected = Format::isNaN(oracle) ? expectedNaN(pair.x, pair.y) : oracle;
        if (ours != expected && ++mismatches <= mismatchesShown) {
            shown += std::string(operation.name) + " " + direction.name + ": x " + hex(pair.x) +
                     " y " + hex(pair.y) + " expected " + hex(expected) + " (oracle " +
                     hex(oracle) + ") got " + hex(ours) + "\n";
        }
    }
    EXPECT_EQ(mismatches, 0) << shown;
}

INSTANTIATE_TEST_SUITE_P(AllOperationsAndDirections, Binary128Oracle,
                         ::testing::Combine(::testing::ValuesIn(operations),
                                            ::testing::ValuesIn(directions)),
                         [](const ::testing::TestParamInfo<Binary128Oracle::ParamType>& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    std::get<1>(info.param).name;
                         });

} // namespace
} // namespace rump::fp
