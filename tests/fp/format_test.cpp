// One description of the binary formats takes binary32, binary64 and binary128 values apart.
#include "fp/format.h"

#include <bit>
#include <cstring>

#include <gtest/gtest.h>

namespace rump::fp {
namespace {

template <class Format>
struct Expected {
    typename Format::Storage bits;
    ValueClass valueClass;
    bool negative;
    typename Format::Storage significand;
    int exponent;
};

template <class Format, std::size_t N>
void expectDecoded(const Expected<Format> (&cases)[N]) {
    for (const Expected<Format>& c : cases) {
        SCOPED_TRACE(::testing::Message() << "case " << &c - cases);
        const Decoded<Format> d = decode<Format>(c.bits);
        EXPECT_EQ(d.valueClass, c.valueClass);
        EXPECT_EQ(d.negative, c.negative);
        EXPECT_TRUE(d.significand == c.significand);
        EXPECT_EQ(d.exponent, c.exponent);
    }
}

TEST(BinaryFormat, DecodesEveryClassOfTheThreeFormats) {
    const Expected<Binary32Format> single[] = {
        {std::bit_cast<std::uint32_t>(1.17260396480560302734375f), ValueClass::Normal, false,
         0x9617e3, -23},
        {0x80000001, ValueClass::Subnormal, true, 1, -149},
        {0x00000000, ValueClass::Zero, false, 0, -149},
        {0xff800000, ValueClass::Infinity, true, 0, 0},
        {0x7fc00000, ValueClass::NaN, false, 0x400000, 0},
    };
    const Expected<Binary64Format> double_[] = {
        {std::bit_cast<std::uint64_t>(2686.0), ValueClass::Normal, false, 2686ull << 41, -41},
        {0x000fffffffffffff, ValueClass::Subnormal, false, 0x000fffffffffffff, -1074},
        {0x8000000000000000, ValueClass::Zero, true, 0, -1074},
    };
    const UInt128 two = UInt128{0x4000} << 112;
    const Expected<Binary128Format> quad[] = {
        {two, ValueClass::Normal, false, UInt128{1} << 112, -111},
        {1, ValueClass::Subnormal, false, 1, -16494},
        {UInt128{0x7fff} << 112, ValueClass::Infinity, false, 0, 0},
    };
    expectDecoded(single);
    expectDecoded(double_);
    expectDecoded(quad);
    EXPECT_EQ(Binary128Format::bias, 16383);
    EXPECT_EQ(Binary64Format::bias, 1023);
    EXPECT_EQ(Binary32Format::bias, 127);
}

} // namespace
} // namespace rump::fp
