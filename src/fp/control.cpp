// Floating-point control on x86 processors; elsewhere the settings do nothing, since no value
// the program prints depends on them.
#include "fp/control.h"

#if defined(__x86_64__) || (defined(__i386__) && defined(__SSE2__))
#define RUMP_X86_CONTROL 1
#include <xmmintrin.h>
#endif

namespace rump::fp {

namespace {

constexpr std::uint16_t precisionField = 0x0300;
constexpr std::uint16_t reservedPrecision = 0x0100;

#ifdef RUMP_X86_CONTROL
constexpr std::uint16_t x87Default = 0x027F; // all masked, 53-bit, to nearest
constexpr std::uint32_t sseDefault = 0x1F80; // all masked, to nearest, no FTZ, no DAZ
constexpr std::uint32_t sseDenormalsAreZero = 0x0040;
constexpr std::uint32_t sseFlushToZero = 0x8000;

void loadX87(std::uint16_t word) {
    asm volatile("fldcw %0" : : "m"(word));
}

// The SSE bits this processor implements, as FXSAVE reports them; 0xFFBF (no DAZ) when it
// reports none.
std::uint32_t sseSupportedBits() {
    alignas(16) unsigned char area[512] = {};
    asm volatile("fxsave %0" : "=m"(area));
    const std::uint32_t mask = std::uint32_t(area[28]) | std::uint32_t(area[29]) << 8 |
                               std::uint32_t(area[30]) << 16 | std::uint32_t(area[31]) << 24;
    return mask != 0 ? mask : 0xFFBF;
}
#endif

} // namespace

std::uint16_t x87ControlWord() {
#ifdef RUMP_X86_CONTROL
    std::uint16_t word = 0;
    asm volatile("fnstcw %0" : "=m"(word));
    return word;
#else
    return 0;
#endif
}

std::uint32_t sseControlStatus() {
#ifdef RUMP_X86_CONTROL
    return _mm_getcsr();
#else
    return 0;
#endif
}

void setDefaultEnvironment() {
#ifdef RUMP_X86_CONTROL
    loadX87(x87Default);
    _mm_setcsr(sseDefault);
#endif
}

void applyProcessorSettings(unsigned flags) {
#ifdef RUMP_X86_CONTROL
    // Every processor this code runs on has SSE2, the mark of the optimised code paths.
    std::uint32_t bits = 0;
    if ((flags & requestFlushToZero) != 0) {
        bits |= sseFlushToZero;
    }
    if ((flags & requestDenormalsAreZero) != 0 && (sseSupportedBits() & sseDenormalsAreZero) != 0) {
        bits |= sseDenormalsAreZero;
    }
    if (bits != 0) {
        _mm_setcsr(_mm_getcsr() | bits);
    }
#else
    (void)flags;
#endif
}

void setFlushToZero() {
#ifdef RUMP_X86_CONTROL
    _mm_setcsr(_mm_getcsr() | sseFlushToZero);
#endif
}

void setPrecisionControl(const std::uint16_t& request) {
    std::uint16_t precision = request & precisionField;
    if (precision == reservedPrecision) {
        precision = precisionField;
    }
#ifdef RUMP_X86_CONTROL
    loadX87(std::uint16_t((x87ControlWord() & ~precisionField) | precision));
#else
    (void)precision;
#endif
}

} // namespace rump::fp
