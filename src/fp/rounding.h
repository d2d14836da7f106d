// The rounding direction in force for the calling thread. On x86 it lives in the rounding-control
// field of the x87 control word (bits 10 and 11); elsewhere in the C floating-point environment.
// Nothing else in the program knows where it lives.
#pragma once

#if !(defined(__x86_64__) || defined(__i386__))
#include <cfenv>
#endif

namespace rump::fp {

enum class RoundingDirection { ToNearestEven, Downward, Upward, TowardZero };

inline RoundingDirection currentRoundingDirection() {
#if defined(__x86_64__) || defined(__i386__)
    unsigned short control;
    asm volatile("fnstcw %0" : "=m"(control));
    // The field's four values are, in order, the four enumerators.
    return static_cast<RoundingDirection>((control >> 10) & 3);
#else
    switch (std::fegetround()) {
#ifdef FE_DOWNWARD
    case FE_DOWNWARD:
        return RoundingDirection::Downward;
#endif
#ifdef FE_UPWARD
    case FE_UPWARD:
        return RoundingDirection::Upward;
#endif
#ifdef FE_TOWARDZERO
    case FE_TOWARDZERO:
        return RoundingDirection::TowardZero;
#endif
    default:
        return RoundingDirection::ToNearestEven;
    }
#endif
}

} // namespace rump::fp
