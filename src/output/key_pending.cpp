// The key test: whether a key press waits on the console, without reading it.
//
// The console is the controlling terminal, never standard input, so a redirected standard input
// changes nothing. On a terminal every key that yields a character or a function, cursor or
// editing key sends bytes, and a modifier pressed alone sends none, so "a key press waits" is
// "at least one byte waits in the terminal's input". The bytes stay there for the next reader.
#include "output/output.h"
#include "platform/platform.h"

#include <mutex>

namespace rump::output {

namespace {

enum class ConsoleState { NotOpened, Open, Failed };

struct ConsoleInput {
    std::mutex lock; // the process's console-input lock, held for each whole test
    ConsoleState state = ConsoleState::NotOpened;
    platform::Handle handle = platform::invalidHandle;
};

ConsoleInput& consoleInput() {
    static ConsoleInput input;
    return input;
}

// Opens the console input at the first use; a failed open is never tried again.
bool ensureOpen(ConsoleInput& input) {
    if (input.state == ConsoleState::NotOpened) {
        input.handle = platform::openConsoleInput();
        input.state =
            input.handle == platform::invalidHandle ? ConsoleState::Failed : ConsoleState::Open;
    }
    return input.state == ConsoleState::Open;
}

} // namespace

bool keyPending() {
    ConsoleInput& input = consoleInput();
    const std::lock_guard lock(input.lock);
    if (!ensureOpen(input)) {
        return false;
    }
    const long pending = platform::pendingConsoleInput(input.handle);
    if (pending < 0) {
        // The terminal is gone (hung up): no key can arrive on it any more.
        input.state = ConsoleState::Failed;
        return false;
    }
    return pending > 0;
}

bool consoleInputAvailable() {
    ConsoleInput& input = consoleInput();
    const std::lock_guard lock(input.lock);
    return ensureOpen(input);
}

} // namespace rump::output
