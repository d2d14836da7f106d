// One description of the IEEE 754 binary interchange formats: a sign bit, then a biased exponent
// field, then the fraction field, in a single unsigned integer. Arithmetic and decimal conversion
// read the fields of binary32, binary64 and binary128 values through this one description.
#pragma once

#include <cstdint>

namespace rump::fp {

// A 128-bit unsigned integer. Every compiler the program supports has one.
using UInt128 = unsigned __int128;

template <class StorageType, int ExponentWidth, int FractionWidth>
struct BinaryFormat {
    using Storage = StorageType;

    static constexpr int exponentWidth = ExponentWidth;
    static constexpr int fractionWidth = FractionWidth;
    static constexpr int significandWidth = FractionWidth + 1; // with the implicit leading bit
    static constexpr int totalWidth = 1 + ExponentWidth + FractionWidth;
    static_assert(totalWidth == 8 * sizeof(Storage));

    static constexpr int bias = (1 << (ExponentWidth - 1)) - 1;
    static constexpr int maxExponentField = (1 << ExponentWidth) - 1; // infinities and NaNs

    static constexpr Storage one = 1;
    static constexpr Storage signMask = one << (totalWidth - 1);
    static constexpr Storage implicitBit = one << FractionWidth;
    static constexpr Storage fractionMask = implicitBit - 1;
    static constexpr Storage exponentMask = ~(signMask | fractionMask);
    static constexpr Storage quietBit = one << (FractionWidth - 1);

    static constexpr bool sign(Storage bits) { return (bits & signMask) != 0; }
    static constexpr int exponentField(Storage bits) {
        return static_cast<int>((bits & exponentMask) >> FractionWidth);
    }
    static constexpr Storage fraction(Storage bits) { return bits & fractionMask; }
    static constexpr bool isNaN(Storage bits) { return (bits & ~signMask) > exponentMask; }
};

using Binary32Format = BinaryFormat<std::uint32_t, 8, 23>;
using Binary64Format = BinaryFormat<std::uint64_t, 11, 52>;
using Binary128Format = BinaryFormat<UInt128, 15, 112>;

enum class ValueClass { Zero, Subnormal, Normal, Infinity, NaN };

// A value taken apart: for finite values, (-1)^negative * significand * 2^exponent exactly.
template <class Format>
struct Decoded {
    ValueClass valueClass;
    bool negative;
    typename Format::Storage significand; // the implicit bit included for normal numbers
    int exponent;                         // of the significand's lowest bit
};

template <class Format>
constexpr Decoded<Format> decode(typename Format::Storage bits) {
    const bool negative = Format::sign(bits);
    const int field = Format::exponentField(bits);
    const typename Format::Storage fraction = Format::fraction(bits);
    constexpr int lowestExponent = 1 - Format::bias - Format::fractionWidth;
    if (field == Format::maxExponentField) {
        return {fraction == 0 ? ValueClass::Infinity : ValueClass::NaN, negative, fraction, 0};
    }
    if (field == 0) {
        return {fraction == 0 ? ValueClass::Zero : ValueClass::Subnormal, negative, fraction,
                lowestExponent};
    }
    return {ValueClass::Normal, negative, fraction | Format::implicitBit,
            lowestExponent + field - 1};
}

} // namespace rump::fp
