// The processor's floating-point control settings.
#include "fp/control.h"

#include <gtest/gtest.h>

namespace rump::fp {
namespace {

#if defined(__x86_64__)

// Puts the processor's control registers back as they were, whatever a test did to them.
class ControlRegisters : public ::testing::Test {
protected:
    ~ControlRegisters() override {
        asm volatile("fldcw %0" : : "m"(x87_));
        asm volatile("ldmxcsr %0" : : "m"(sse_));
    }
    std::uint16_t x87_ = x87ControlWord();
    std::uint32_t sse_ = sseControlStatus();
};

TEST_F(ControlRegisters, DefaultEnvironmentMasksAllRoundsToNearestWith53Bits) {
    setFlushToZero();
    setDefaultEnvironment();
    EXPECT_EQ(x87ControlWord() & 0x0F3F, 0x023F);
    EXPECT_EQ(sseControlStatus() & 0xFFC0, 0x1F80u);
}

TEST_F(ControlRegisters, PrecisionRequestReplacesOnlyThePrecisionField) {
    struct Case {
        std::uint16_t request;
        std::uint16_t expected;
    };
    const Case cases[] = {
        {0x0000, 0x007F}, {0x0200, 0x027F}, {0x0300, 0x037F}, {0x0100, 0x037F}, {0xFFFF, 0x037F},
    };
    for (const Case& c : cases) {
        setDefaultEnvironment();
        ASSERT_EQ(x87ControlWord() & 0x1FFF, 0x027F);
        setPrecisionControl(c.request);
        EXPECT_EQ(x87ControlWord() & 0x1FFF, c.expected) << std::hex << c.request;
    }
}

TEST_F(ControlRegisters, ProcessorSettingsSetOnlyWhatIsRequested) {
    setDefaultEnvironment();
    applyProcessorSettings(0);
    EXPECT_EQ(sseControlStatus() & 0xFFC0, 0x1F80u);
    applyProcessorSettings(requestFlushToZero);
    EXPECT_EQ(sseControlStatus() & 0xFFC0, 0x9F80u);
    setDefaultEnvironment();
    setFlushToZero();
    EXPECT_EQ(sseControlStatus() & 0xFFC0, 0x9F80u);
}

#else

TEST(ControlRegisters, NothingToSetOnThisProcessor) {
    setDefaultEnvironment();
    setPrecisionControl(0x0300);
    EXPECT_EQ(x87ControlWord(), 0);
}

#endif

} // namespace
} // namespace rump::fp
