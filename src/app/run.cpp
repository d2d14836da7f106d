// The program's flow: set up the floating-point environment, write the report, tell the user
// where it is, wait for a key, end.
#include "app/run.h"

#include "fp/control.h"
#include "output/output.h"
#include "platform/platform.h"

#include <array>
#include <cstdint>
#include <string_view>

namespace rump::app {

namespace {

using output::FormatItem;
using output::Item;

constexpr std::string_view reportFileName = "rump II.rez";
constexpr std::string_view consoleNotice = " Output File: \"rump II.rez\"";
constexpr std::string_view keyPrompt = "Apasa orice tasta";

// The x87 precision asked for from the extended section on: a 64-bit significand.
constexpr std::uint16_t extendedPrecisionRequest = 0x0300;

struct EventExit {
    platform::ConsoleEvent event;
    std::string_view text;
    int status;
};

constexpr std::array eventExits{
    EventExit{platform::ConsoleEvent::ControlC, "control-C", 0},
    EventExit{platform::ConsoleEvent::ControlBreak, "control-BREAK", 1},
    EventExit{platform::ConsoleEvent::WindowClose, "window-CLOSE", 2},
};

// Runs on the thread that receives console events: tells why the run ends, closes the units (a
// statement in progress finishes first, so the report keeps every record written) and ends.
void onConsoleEvent(platform::ConsoleEvent event) {
    for (const EventExit& exit : eventExits) {
        if (exit.event == event) {
            output::reportMessage(200, {0, exit.text});
            output::closeAllUnits();
            platform::exitProcess(exit.status);
        }
    }
}

void tellWhereTheReportIs() {
    const Item notice[] = {{consoleNotice}};
    output::writeListDirected(output::consoleUnit, notice);
    static constexpr FormatItem promptFormat[] = {output::slash, output::editA};
    const Item prompt[] = {{keyPrompt}};
    output::writeFormatted(output::consoleUnit, promptFormat, prompt);
}

// Waits, polling without pause, until a key press is pending. Without a console to press a key
// on (no controlling terminal, or one that was hung up) no key can ever come, and the wait ends.
void waitForKey() {
    while (output::consoleInputAvailable() && !output::keyPending()) {
    }
}

} // namespace

void run() {
    fp::applyProcessorSettings(0);
    platform::installConsoleEventHandler(onConsoleEvent);
    fp::setDefaultEnvironment();

    fp::applyProcessorSettings(fp::requestFlushToZero | fp::requestDenormalsAreZero);
    fp::setFlushToZero();
    output::setLockingMode(output::threadSafeLocking);
    output::openUnit(output::reportUnit, reportFileName, "unknown", "formatted");
    // The report's title block and its single and double sections will be written here.
    fp::setPrecisionControl(extendedPrecisionRequest);
    // And here its extended and quadruple sections and its closing block.

    tellWhereTheReportIs();
    waitForKey();
    platform::exitProcess(output::closeAllUnits());
}

} // namespace rump::app
