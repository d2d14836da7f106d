// Binary128 arithmetic on the cases that decide its correctness: signed zeros, infinities, NaNs,
// overflow and gradual underflow in every rounding direction, and the chain of 41 operations
// that evaluates the polynomial at a = 77617, b = 33096.
#include "fp/binary128.h"

#include <cfenv>
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

namespace rump::fp {
namespace {

// A bit pattern written as hexadecimal digits, bit 127 first, in groups of four: "4000 0000"
// is 2. Missing groups at the end are 0000.
Binary128 pattern(const std::string& text) {
    UInt128 bits = 0;
    int digits = 0;
    for (const char c : text) {
        if (c == ' ') {
            continue;
        }
        const int value = c <= '9' ? c - '0' : c - 'a' + 10;
        bits = bits << 4 | static_cast<unsigned>(value);
        ++digits;
    }
    return Binary128::fromBits(bits << (4 * (32 - digits)));
}

std::string hex(Binary128 x) {
    std::string text;
    for (int shift = 124; shift >= 0; shift -= 4) {
        text += "0123456789abcdef"[static_cast<unsigned>(x.bits() >> shift) & 0xF];
        if (shift % 16 == 0 && shift != 0) {
            text += ' ';
        }
    }
    return text;
}

Binary128 apply(char operation, Binary128 x, Binary128 y) {
    switch (operation) {
    case '*':
        return x * y;
    case '/':
        return x / y;
    case '+':
        return x + y;
    case '-':
        return x - y;
    }
    ADD_FAILURE() << "no operation " << operation;
    return {};
}

// Runs each case in a rounding direction and restores rounding to nearest afterwards.
class Binary128Arithmetic : public ::testing::Test {
protected:
    ~Binary128Arithmetic() override { std::fesetround(FE_TONEAREST); }
};

const char* const plusZero = "0000";
const char* const minusZero = "8000";
const char* const one = "3fff";
const char* const minusOne = "bfff";
const char* const half = "3ffe";
const char* const two = "4000";
const char* const plusInfinity = "7fff";
const char* const minusInfinity = "ffff";
const char* const defaultNaN = "ffff 8000";
const char* const largest = "7ffe ffff ffff ffff ffff ffff ffff ffff";
const char* const minusLargest = "fffe ffff ffff ffff ffff ffff ffff ffff";
const char* const smallestNormal = "0001";
const char* const smallestSubnormal = "0000 0000 0000 0000 0000 0000 0000 0001";
const char* const minusSmallestSubnormal = "8000 0000 0000 0000 0000 0000 0000 0001";

struct Case {
    int direction;
    const char* x;
    char operation;
    const char* y;
    const char* expected;
};

TEST_F(Binary128Arithmetic, SpecialValuesOverflowAndUnderflow) {
    const Case cases[] = {
        // The quotient a / 2b lies 0.533 units above ...c092: nearest rounds up, the
        // directions toward zero and toward minus infinity do not.
        {FE_TONEAREST, "400f 2f31", '/', "400f 0290", "3fff 2c2f c595 b06b eb74 a518 f018 c093"},
        {FE_TOWARDZERO, "400f 2f31", '/', "400f 0290", "3fff 2c2f c595 b06b eb74 a518 f018 c092"},
        {FE_DOWNWARD, "400f 2f31", '/', "400f 0290", "3fff 2c2f c595 b06b eb74 a518 f018 c092"},
        {FE_UPWARD, "400f 2f31", '/', "400f 0290", "3fff 2c2f c595 b06b eb74 a518 f018 c093"},
        {FE_DOWNWARD, "c00f 2f31", '/', "400f 0290", "bfff 2c2f c595 b06b eb74 a518 f018 c093"},
        // Exact cancellation is +0, or -0 rounding downward; zeros of one sign keep it.
        {FE_TONEAREST, one, '-', one, plusZero},
        {FE_TONEAREST, one, '+', minusOne, plusZero},
        {FE_UPWARD, one, '-', one, plusZero},
        {FE_TOWARDZERO, one, '-', one, plusZero},
        {FE_DOWNWARD, one, '-', one, minusZero},
        {FE_DOWNWARD, smallestSubnormal, '+', minusSmallestSubnormal, minusZero},
        {FE_TONEAREST, minusZero, '+', minusZero, minusZero},
        {FE_TONEAREST, minusZero, '-', plusZero, minusZero},
        {FE_TONEAREST, plusZero, '+', minusZero, plusZero},
        {FE_DOWNWARD, plusZero, '+', minusZero, minusZero},
        {FE_TONEAREST, minusZero, '+', one, one},
        // Products and quotients of zeros take the exclusive or of the signs.
        {FE_TONEAREST, plusZero, '*', minusOne, minusZero},
        {FE_TONEAREST, minusZero, '*', minusZero, plusZero},
        {FE_TONEAREST, minusZero, '/', one, minusZero},
        {FE_TONEAREST, one, '/', minusInfinity, minusZero},
        // Division by zero gives a signed infinity; invalid operations the default NaN.
        {FE_TONEAREST, one, '/', plusZero, plusInfinity},
        {FE_TONEAREST, minusOne, '/', plusZero, minusInfinity},
        {FE_TONEAREST, one, '/', minusZero, minusInfinity},
        {FE_TONEAREST, plusZero, '/', plusZero, defaultNaN},
        {FE_TONEAREST, plusInfinity, '/', minusInfinity, defaultNaN},
        {FE_TONEAREST, plusInfinity, '*', plusZero, defaultNaN},
        {FE_TONEAREST, minusZero, '*', minusInfinity, defaultNaN},
        {FE_TONEAREST, plusInfinity, '-', plusInfinity, defaultNaN},
        {FE_TONEAREST, plusInfinity, '+', minusInfinity, defaultNaN},
        {FE_TONEAREST, plusInfinity, '+', plusInfinity, plusInfinity},
        {FE_TONEAREST, minusInfinity, '-', largest, minusInfinity},
        {FE_TONEAREST, plusInfinity, '*', minusOne, minusInfinity},
        {FE_TONEAREST, plusInfinity, '/', largest, plusInfinity},
        // Overflow: an infinity, or the largest finite number where the direction points
        // toward zero.
        {FE_TONEAREST, largest, '*', two, plusInfinity},
        {FE_TOWARDZERO, largest, '*', two, largest},
        {FE_UPWARD, largest, '*', two, plusInfinity},
        {FE_DOWNWARD, largest, '*', two, largest},
        {FE_UPWARD, minusLargest, '*', two, minusLargest},
        {FE_DOWNWARD, minusLargest, '*', two, minusInfinity},
        {FE_TONEAREST, largest, '+', largest, plusInfinity},
        {FE_TOWARDZERO, largest, '/', half, largest},
        // Half a unit above the largest finite number is a tie that rounds to the even
        // neighbour, infinity; a hair less stays finite.
        {FE_TONEAREST, largest, '+', "7f8d", plusInfinity},
        {FE_TONEAREST, largest, '+', "7f8c ffff ffff ffff ffff ffff ffff ffff", largest},
        {FE_TOWARDZERO, largest, '+', "7f8d", largest},
        // Gradual underflow, with the tie rounded to the even neighbour, zero.
        {FE_TONEAREST, smallestNormal, '*', half, "0000 8000"},
        {FE_TONEAREST, smallestSubnormal, '*', half, plusZero},
        {FE_UPWARD, smallestSubnormal, '*', half, smallestSubnormal},
        {FE_TONEAREST, minusSmallestSubnormal, '*', half, minusZero},
        {FE_DOWNWARD, minusSmallestSubnormal, '*', half, minusSmallestSubnormal},
        {FE_TONEAREST, "0000 0000 0000 0000 0000 0000 0000 0003", '*', half,
         "0000 0000 0000 0000 0000 0000 0000 0002"},
        {FE_TONEAREST, smallestSubnormal, '/', two, plusZero},
        {FE_TONEAREST, smallestNormal, '-', "0000 ffff ffff ffff ffff ffff ffff ffff",
         smallestSubnormal},
        {FE_TONEAREST, "0000 ffff ffff ffff ffff ffff ffff ffff", '+', smallestSubnormal,
         smallestNormal},
        {FE_TONEAREST, smallestSubnormal, '*', "7ffe", "3f90"},
        {FE_TONEAREST, "3f90", '/', "7ffe", smallestSubnormal},
        {FE_TONEAREST, smallestNormal, '/', largest, plusZero},
        {FE_UPWARD, smallestNormal, '/', largest, smallestSubnormal},
        // Quotients whose first estimate is one too small and one too large.
        {FE_TONEAREST, "3fff 0000 0000 0000 0000 0000 0000 0001", '/',
         "3fff 0000 0000 0000 0080 0000 0000 0001", "3ffe ffff ffff ffff ff00 0000 0000 0001"},
        {FE_TONEAREST, one, '/', "3fff 0000 0000 0000 0000 0000 0000 0001",
         "3ffe ffff ffff ffff ffff ffff ffff fffe"},
        // Far-apart operands: only the sticky bit of the smaller one is left.
        {FE_TONEAREST, one, '+', smallestSubnormal, one},
        {FE_UPWARD, one, '+', smallestSubnormal, "3fff 0000 0000 0000 0000 0000 0000 0001"},
        {FE_TOWARDZERO, one, '-', smallestSubnormal, "3ffe ffff ffff ffff ffff ffff ffff ffff"},
        {FE_TONEAREST, one, '-', smallestSubnormal, one},
    };
    for (const Case& c : cases) {
        std::fesetround(c.direction);
        const Binary128 result = apply(c.operation, pattern(c.x), pattern(c.y));
        std::fesetround(FE_TONEAREST);
        EXPECT_EQ(hex(result), hex(pattern(c.expected)))
            << c.x << ' ' << c.operation << ' ' << c.y << " in direction " << c.direction;
    }
}

#if defined(__x86_64__) || defined(__i386__)
// The direction is the x87 rounding field alone, whatever the SSE register's field says.
TEST_F(Binary128Arithmetic, DirectionIsTheX87RoundingFieldAlone) {
    const auto setFields = [](unsigned x87, unsigned sse) {
        std::uint16_t control;
        asm volatile("fnstcw %0" : "=m"(control));
        control = static_cast<std::uint16_t>((control & ~0x0C00u) | x87 << 10);
        asm volatile("fldcw %0" : : "m"(control));
        std::uint32_t status;
        asm volatile("stmxcsr %0" : "=m"(status));
        status = (status & ~0x6000u) | sse << 13;
        asm volatile("ldmxcsr %0" : : "m"(status));
    };
    // a / 2b lies 0.533 units above a pattern ending in c092. Per x87 field (nearest, down, up,
    // toward zero): the last group of a / 2b and of -a / 2b.
    const char* const lastGroups[4][2] = {
        {"c093", "c093"}, {"c092", "c093"}, {"c093", "c092"}, {"c092", "c092"}};
    const Binary128 a = pattern("400f 2f31"), twoB = pattern("400f 0290");
    for (unsigned x87 = 0; x87 < 4; ++x87) {
        for (unsigned sse = 0; sse < 4; ++sse) {
            setFields(x87, sse);
            const Binary128 quotients[] = {a / twoB, -a / twoB};
            setFields(0, 0);
            for (int sign = 0; sign < 2; ++sign) {
                EXPECT_EQ(hex(quotients[sign]).substr(35), lastGroups[x87][sign])
                    << "x87 field " << x87 << ", SSE field " << sse << (sign ? ", negative" : "");
            }
        }
    }
}
#endif

TEST_F(Binary128Arithmetic, NaNOperandsComeBackQuietened) {
    const char* const quiet = "7fff 8000 0000 0000 0000 0000 0000 0005";
    const char* const quietLarger = "7fff 8000 0000 0000 0000 0000 0000 0009";
    const char* const minusQuiet = "ffff 8000 0000 0000 0000 0000 0000 0005";
    const char* const signalling = "7fff 0000 0000 0000 0000 0000 0000 0007";
    const char* const signallingQuietened = "7fff 8000 0000 0000 0000 0000 0000 0007";
    const char* const minusSignalling = "ffff 4000";
    const char* const minusSignallingQuietened = "ffff c000";
    const Case cases[] = {
        {FE_TONEAREST, quiet, '+', one, quiet},
        {FE_TONEAREST, one, '*', quiet, quiet},
        {FE_TONEAREST, plusZero, '/', minusQuiet, minusQuiet},
        // Subtraction hands a NaN back with its own sign, not the inverted one.
        {FE_TONEAREST, one, '-', minusQuiet, minusQuiet},
        {FE_TONEAREST, one, '-', quiet, quiet},
        {FE_TONEAREST, signalling, '*', one, signallingQuietened},
        {FE_TONEAREST, plusInfinity, '-', minusSignalling, minusSignallingQuietened},
        {FE_TONEAREST, plusZero, '*', signalling, signallingQuietened},
        // A quiet NaN before a signalling one, then the larger fraction, then the negative one.
        {FE_TONEAREST, signalling, '+', quiet, quiet},
        {FE_TONEAREST, quiet, '/', signalling, quiet},
        {FE_TONEAREST, quiet, '*', quietLarger, quietLarger},
        {FE_TONEAREST, quietLarger, '-', quiet, quietLarger},
        {FE_TONEAREST, quiet, '+', minusQuiet, minusQuiet},
        {FE_TONEAREST, minusQuiet, '/', quiet, minusQuiet},
        {FE_TONEAREST, quiet, '-', minusQuiet, minusQuiet},
        {FE_TONEAREST, signalling, '*', minusSignalling, minusSignallingQuietened},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(hex(apply(c.operation, pattern(c.x), pattern(c.y))), hex(pattern(c.expected)))
            << c.x << ' ' << c.operation << ' ' << c.y;
    }
}

TEST_F(Binary128Arithmetic, NegationInvertsOnlyTheSignBit) {
    const char* const values[] = {
        plusZero,         minusZero,  one,
        plusInfinity,     defaultNaN, "7fff 0000 0000 0000 0000 0000 0000 0001",
        smallestSubnormal};
    for (const char* value : values) {
        const Binary128 x = pattern(value);
        EXPECT_EQ((-x).bits(), x.bits() ^ Binary128Format::signMask) << value;
    }
    std::fesetround(FE_UPWARD);
    EXPECT_EQ(hex(-pattern(largest)), hex(pattern(minusLargest)));
}

// The 41 operations that evaluate the polynomial, each on the results of earlier ones.
TEST_F(Binary128Arithmetic, PolynomialStepsGiveTheirExactBits) {
    const Binary128 constants[] = {pattern("4000"),      pattern("4002 4000"),
                                   pattern("4003 5000"), pattern("4004 b800"),
                                   pattern("400e 0290"), pattern("400f 2f31")};
    // Operands: 'k' picks constants[index] (2, 10, 21, 55, b, a), 's' the result of step index.
    struct Operand {
        char kind;
        int index;
    };
    constexpr Operand c2{'k', 0}, c10{'k', 1}, c21{'k', 2}, c55{'k', 3}, b{'k', 4}, a{'k', 5};
    constexpr auto s = [](int step) { return Operand{'s', step}; };
    struct Step {
        Operand x;
        char operation; // 'n' negates x
        Operand y;
        const char* expected;
    };
    const char* const q = "3fff 2c2f c595 b06b eb74 a518 f018 c093";
    const char* const rp = "bffe a7a0 74d4 9f28 2916 b5ce 1fce 7eda";
    const Step steps[] = {
        /* 1 */ {c21, '*', b, "4012 535d"},
        /* 2 */ {s(1), '*', b, "4021 56c2 9e50"},
        /* 3 */ {c2, '*', a, "4010 2f31"},
        /* 4 */ {s(3), '*', a, "4020 6715 0761"},
        /* 5 */ {s(2), '-', s(4), "4020 4670 353f"},
        /* 6 */ {c55, '*', b, "4013 bc67 8000"},
        /* 7 */ {s(6), '*', b, "4022 c0da 4938"},
        /* 8 */ {s(7), '*', b, "4031 c558 7893 9f80"},
        /* 9 */ {s(8), '*', b, "4040 c9e2 2b48 99c8 b800"},
        /* 10 */ {s(5), '+', s(9), "4040 c9e2 2b49 e038 ed3f"},
        /* 11 */ {c10, '*', a, "4012 7afd 4000"},
        /* 12 */ {s(11), '*', a, "4022 c0da 4939 4000"},
        /* 13 */ {s(12), '*', b, "4031 c558 7894 e2b4"},
        /* 14 */ {s(13), '*', b, "4040 c9e2 2b49 e038 ed40"},
        /* 15 */ {s(10), '-', s(14), "c000"},
        /* 16 */ {c2, '*', b, "400f 0290"},
        /* 17 */ {a, '/', s(16), q},
        /* 18 */ {s(15), '+', s(17), rp},
        /* 19 */ {c21, '*', b, "4012 535d"},
        /* 20 */ {s(19), '*', b, "4021 56c2 9e50"},
        /* 21 */ {c2, '*', a, "4010 2f31"},
        /* 22 */ {s(21), '*', a, "4020 6715 0761"},
        /* 23 */ {s(22), 'n', s(22), "c020 6715 0761"},
        /* 24 */ {c55, '*', b, "4013 bc67 8000"},
        /* 25 */ {s(24), '*', b, "4022 c0da 4938"},
        /* 26 */ {s(25), '*', b, "4031 c558 7893 9f80"},
        /* 27 */ {s(26), '*', b, "4040 c9e2 2b48 99c8 b800"},
        /* 28 */ {c10, '*', a, "4012 7afd 4000"},
        /* 29 */ {s(28), '*', a, "4022 c0da 4939 4000"},
        /* 30 */ {s(29), '*', b, "4031 c558 7894 e2b4"},
        /* 31 */ {s(30), '*', b, "4040 c9e2 2b49 e038 ed40"},
        /* 32 */ {s(31), 'n', s(31), "c040 c9e2 2b49 e038 ed40"},
        /* 33 */ {s(20), '+', s(23), "4020 4670 353f"},
        /* 34 */ {s(33), '+', s(27), "4040 c9e2 2b49 e038 ed3f"},
        /* 35 */ {s(34), '+', s(32), "c000"},
        /* 36 */ {s(32), '+', s(27), "c020 4670 3540"},
        /* 37 */ {s(36), '+', s(23), "c021 56c2 9e50 8000"},
        /* 38 */ {s(37), '+', s(20), "c000"},
        /* 39 */ {c2, '*', b, "400f 0290"},
        /* 40 */ {a, '/', s(39), q},
        /* 41 */ {s(40), '-', c2, rp},
    };
    Binary128 results[std::size(steps) + 1];
    const auto value = [&](Operand o) {
        return o.kind == 'k' ? constants[o.index] : results[o.index];
    };
    for (int step = 1; step <= static_cast<int>(std::size(steps)); ++step) {
        const Step& st = steps[step - 1];
        results[step] =
            st.operation == 'n' ? -value(st.x) : apply(st.operation, value(st.x), value(st.y));
        EXPECT_EQ(hex(results[step]), hex(pattern(st.expected))) << "step " << step;
    }
}

} // namespace
} // namespace rump::fp
