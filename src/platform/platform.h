// The operating-system layer: the few services the rest of the program needs from the system,
// described by their effect. Nothing outside this folder includes a system header.
#pragma once

#include <string>
#include <string_view>

namespace rump::platform {

// An open file, terminal or pipe. Negative means "no handle".
using Handle = int;
inline constexpr Handle invalidHandle = -1;

// What kind of failure the system reported, in the terms the output layer turns into messages.
enum class ErrorKind {
    None,
    FileNotFound,
    PathNotFound,
    AccessDenied,
    WriteProtected,
    SharingViolation,
    NoSuchDevice,
    InvalidName,
    NameTooLong,
    TooManyOpenFiles,
    Other,
};

// A failure as the system reported it: its kind and the system's own error code.
struct SystemError {
    ErrorKind kind = ErrorKind::None;
    int code = 0;

    explicit operator bool() const { return kind != ErrorKind::None; }
};

// ---------------------------------------------------------------------------------------------
// Process

// Makes the process safe to run with any of standard input, output or error closed: a closed
// standard stream is reserved (so no file opened later can take its place and receive records
// meant for the console) and remembered as absent. Also makes a write to a pipe whose reader has
// gone fail with an error instead of killing the process. Call first, before any other thread.
void prepareProcess();

// Ends the process at once with the given status, after giving the terminal back the mode it had
// before the key test changed it. No buffered data is pending: every record was written whole.
[[noreturn]] void exitProcess(int status);

// ---------------------------------------------------------------------------------------------
// Files

enum class DeviceKind { DiskFile, CharacterDevice, Pipe, Unknown };

// Access asked for when opening the report file, and what other openers may do meanwhile.
enum class Access { ReadWrite, ReadOnly };
enum class Sharing { OthersMayRead, OthersMayReadAndWrite };

struct OpenResult {
    Handle handle = invalidHandle;
    SystemError error;
};

// Opens a file, creating it when absent; an existing file keeps its content and is read from and
// written to from its start. A directory never opens. Sharing is enforced among cooperating
// openers: a file held by another opener in a way the request does not allow is refused with
// ErrorKind::SharingViolation.
OpenResult openFile(std::string_view name, Access access, Sharing sharing);

// The full path of a name relative to the current directory, or the name itself when the full
// path is longer than maxLength characters or cannot be found out.
std::string fullPath(std::string_view name, std::size_t maxLength);

DeviceKind deviceKind(Handle handle);

// The process's standard output, or invalidHandle when the process was started without one.
Handle standardOutput();

// Writes all the bytes in one request.
SystemError writeAll(Handle handle, std::string_view bytes);

// Makes the file end at its current position.
SystemError cutAtCurrentPosition(Handle handle);

SystemError closeHandle(Handle handle);

// Writes to standard error; a failure is ignored, since there is nowhere left to report it.
void writeStandardError(std::string_view text);

// The system's own description of an error code; empty when it has none.
std::string describeError(int code);

// ---------------------------------------------------------------------------------------------
// Console events

enum class ConsoleEvent { ControlC, ControlBreak, WindowClose };

using ConsoleEventHandler = void (*)(ConsoleEvent);

// Routes the console events (interrupt, quit and hang-up) to the handler, which runs on a thread
// of its own, as the console delivers them. The handler is expected to end the process. An event
// the process was started with orders to ignore stays ignored. Call before any other thread.
void installConsoleEventHandler(ConsoleEventHandler handler);

// ---------------------------------------------------------------------------------------------
// Console input

// Opens the controlling terminal for the key test; invalidHandle when the process has none.
Handle openConsoleInput();

// How many bytes of key presses wait in the terminal's input, without reading them. When the
// terminal has been hung up, the console event handler receives the window-close event (the call
// then never returns), or, when hang-ups are ignored, the answer is -1. While the process runs in
// the foreground the terminal is kept in a mode that passes each key press on at once, without
// echo; in the background the keys belong to the foreground job, the terminal's mode is not
// touched, and the answer is 0.
long pendingConsoleInput(Handle console);

} // namespace rump::platform
