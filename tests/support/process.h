// Test support: temporary directories, files, and runs of the program as a child process, on a
// pseudo-terminal of the test's own (the test plays the terminal) or without any terminal.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include <termios.h>

namespace rump::testing {

using namespace std::chrono_literals;
using Milliseconds = std::chrono::milliseconds;

// A fresh directory, removed with its content at the end of its scope.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(std::string_view name) const { return path_ + "/" + std::string(name); }

private:
    std::string path_;
};

// The whole content of a file; "<absent>" when it does not exist.
std::string readFile(const std::string& path);
void writeFile(const std::string& path, std::string_view content);

// The path of the program under test.
std::string programPath();

struct Outcome {
    int status = -1;     // the exit status, or 128 + the signal that ended the process
    std::string console; // what arrived on standard output (or the terminal)
    std::string errors;  // what arrived on standard error
};

// The program on a new pseudo-terminal that is its controlling terminal, its standard input and
// its standard output; standard error goes to a pipe. The terminal is in its usual line mode with
// echo, except that it passes output through unchanged (no CR inserted before LF), so the console
// bytes are exactly the program's and what the terminal echoes.
class TerminalRun {
public:
    struct Options {
        std::string directory{};
        std::vector<std::string> arguments{};
        std::string typedBeforeStart{}; // bytes waiting in the terminal's input at the start
        // Run the program in a background process group of the terminal's session; a helper
        // process stays in the foreground and reports what it saw (see runInBackground).
        bool background = false;
        bool hangUpIgnored = false; // started as by nohup
    };

    explicit TerminalRun(const Options& options);
    ~TerminalRun();
    TerminalRun(const TerminalRun&) = delete;
    TerminalRun& operator=(const TerminalRun&) = delete;

    // Reads the terminal until `expected` has arrived in full or the time is up; returns all
    // that arrived so far.
    std::string readConsoleUntil(std::string_view expected, Milliseconds limit = 10s);

    // Types bytes at the terminal.
    void type(std::string_view bytes);

    // True when the program is still running after `period`.
    bool stillRunningAfter(Milliseconds period);

    // Closes the terminal (as when its window is closed).
    void hangUp();

    // Waits for the end of the program (killing it after `limit`) and collects standard error.
    Outcome wait(Milliseconds limit = 10s);

    // The terminal's mode now, and its mode when the program started.
    termios modeNow() const;
    const termios& modeAtStart() const { return modeAtStart_; }

    // The bytes still waiting in the terminal's input, read without waiting.
    std::string unreadInput();

private:
    int master_ = -1;
    int slave_ = -1; // the test's own hold on the terminal, to inspect it
    int errors_ = -1;
    int pid_ = -1;
    termios modeAtStart_{};
    std::string console_;
};

// Exit statuses of the foreground helper of a background run.
inline constexpr int backgroundRunStopped = 90;     // the program was stopped by the terminal
inline constexpr int backgroundRunEndedEarly = 91;  // it ended while still in the background
inline constexpr int backgroundRunChangedMode = 92; // it changed the terminal's mode

// What happens to standard output in a run without terminal.
enum class StandardOutput { Pipe, PipeWithoutReader, ReadOnly, Closed };

// The program in a new session without a controlling terminal, standard input from /dev/null.
Outcome runWithoutTerminal(const std::string& directory, StandardOutput output,
                           Milliseconds limit = 10s);

// True when two terminal modes agree in every flag and control character.
bool sameMode(const termios& a, const termios& b);

} // namespace rump::testing
