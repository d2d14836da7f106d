// The processor's floating-point control settings: the x87 control word (precision and rounding
// control, exception masks) and the SSE control and status register (flush-to-zero,
// denormals-are-zero, exception masks). On a processor without them every call does nothing.
#pragma once

#include <cstdint>

namespace rump::fp {

// Requests of applyProcessorSettings.
inline constexpr unsigned requestFlushToZero = 1;
inline constexpr unsigned requestDenormalsAreZero = 2;

// Every exception masked, rounding to nearest; x87 precision 53 bits; flush-to-zero and
// denormals-are-zero clear.
void setDefaultEnvironment();

// Sets the requested flush-to-zero and denormals-are-zero bits of the SSE register on processors
// with SSE2; denormals-are-zero only where the processor supports it. Flags 0 change nothing.
void applyProcessorSettings(unsigned flags);

// Sets flush-to-zero in the SSE register.
void setFlushToZero();

// Replaces the x87 precision control with bits 8 and 9 of the request word (00 24 bits, 10 53
// bits, 11 64 bits; the reserved 01 means 64 bits); the other bits of the request are ignored
// and every other field of the control word is kept.
void setPrecisionControl(const std::uint16_t& request);

// The registers as they are now (0 where the processor has none), for checks.
std::uint16_t x87ControlWord();
std::uint32_t sseControlStatus();

} // namespace rump::fp
