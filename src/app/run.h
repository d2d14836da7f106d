// One run of the program, from process start-up to the exit status.
#pragma once

namespace rump::app {

// Runs the program and ends the process; it never returns.
[[noreturn]] void run();

} // namespace rump::app
