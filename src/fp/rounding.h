// The rounding direction in force for the calling thread. On x86 it lives in the rounding-control
// field of the x87 control word (bits 10 and 11); elsewhere in the C floating-point environment.
// Nothing else in the program knows where it lives.
#pragma once

#if !(defined(__x86_64__) || defined(__i386__))
#include <cfenv>
#endif

namespace rump::fp {

// In the order of the x87 rounding field's values 00, 01, 10 and 11.
enum class RoundingDirection { ToNearestEven, Downward, Upward, TowardZero };
static_assert(static_cast<int>(RoundingDirection::Downward) == 1 &&
              static_cast<int>(RoundingDirection::Upward) == 2 &&
              static_cast<int>(RoundingDirection::TowardZero) == 3);

inline RoundingDirection currentRoundingDirection() {
#if defined(__x86_64__) || defined(__i386__)
    unsigned short control;
    asm volatile("fnstcw %0" : "=m"(control));
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
