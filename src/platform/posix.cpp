// The operating-system layer on POSIX systems (Linux and the BSDs).
#include "platform/platform.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace rump::platform {

namespace {

bool standardOutputAbsent = false;

// Whether a hang-up of the terminal reaches the console event handler (it was not ignored).
std::atomic<bool> hangUpRouted{false};

// Whether control-C and the like reach the console event handler, which gives the terminal its
// mode back. Without it they would end the process with the terminal left without echo, so the
// key test then leaves the terminal's mode alone.
std::atomic<bool> consoleEventsHandled{false};

// Moves a descriptor above the standard streams, so that nothing this process opens can ever
// stand in for one of them.
int aboveStandardStreams(int fd) {
    if (fd < 0 || fd > STDERR_FILENO) {
        return fd;
    }
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    const int error = errno;
    close(fd);
    errno = error;
    return moved;
}

// The kinds of failure of the system's error codes; a code not listed is ErrorKind::Other.
struct CodeKind {
    int code;
    ErrorKind kind;
};

constexpr CodeKind codeKinds[] = {
    {ENOENT, ErrorKind::FileNotFound},      {ENOTDIR, ErrorKind::PathNotFound},
    {EACCES, ErrorKind::AccessDenied},      {EPERM, ErrorKind::AccessDenied},
    {EISDIR, ErrorKind::AccessDenied},      {EROFS, ErrorKind::WriteProtected},
    {ETXTBSY, ErrorKind::WriteProtected},   {EWOULDBLOCK, ErrorKind::SharingViolation},
    {ENODEV, ErrorKind::NoSuchDevice},      {ENXIO, ErrorKind::NoSuchDevice},
    {EINVAL, ErrorKind::InvalidName},       {ELOOP, ErrorKind::InvalidName},
    {ENAMETOOLONG, ErrorKind::NameTooLong}, {EMFILE, ErrorKind::TooManyOpenFiles},
    {ENFILE, ErrorKind::TooManyOpenFiles},
};

SystemError errorFromErrno(int code) {
    for (const CodeKind& known : codeKinds) {
        if (known.code == code) {
            return {known.kind, code};
        }
    }
    return {ErrorKind::Other, code};
}

SystemError lastError() {
    return errorFromErrno(errno);
}

// The terminal the key test watches, and the mode it had before the key test changed it. The
// mutex is shared by the key test and the end of the process, so that the mode is never changed
// again once the process has begun to end.
struct TerminalState {
    std::mutex mutex;
    Handle fd = invalidHandle;
    bool modeChanged = false;
    termios original{};
};

TerminalState& terminal() {
    static TerminalState state;
    return state;
}

bool inForeground(Handle fd) {
    return tcgetpgrp(fd) == getpgrp();
}

// Non-canonical mode without echo: a key press becomes countable at once, and nothing the user
// types is shown. Signal characters (control-C, control-\) keep their meaning.
bool passKeysAtOnce(TerminalState& state) {
    termios mode{};
    if (tcgetattr(state.fd, &mode) != 0) {
        return false;
    }
    if (!state.modeChanged) {
        state.original = mode;
    }
    if ((mode.c_lflag & (ICANON | ECHO)) != 0) {
        mode.c_lflag &= ~tcflag_t(ICANON | ECHO);
        // TCSANOW keeps whatever is already typed. Between the foreground check and this call
        // the job may have been sent to the background (control-Z, then bg); the change then
        // stops it until it is brought back, where it carries on.
        if (tcsetattr(state.fd, TCSANOW, &mode) != 0) {
            return false;
        }
        state.modeChanged = true;
    }
    return true;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Process

void prepareProcess() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            standardOutputAbsent = standardOutputAbsent || fd == STDOUT_FILENO;
            // Reserved with the null device; open() returns the lowest free descriptor.
            open("/dev/null", O_RDWR);
        }
    }
    std::signal(SIGPIPE, SIG_IGN);
}

void exitProcess(int status) {
    TerminalState& state = terminal();
    // Never unlocked: the key test must not change the mode again while the process ends.
    state.mutex.lock();
    // From the background the shell owns the terminal's mode, and a change would stop us.
    if (state.modeChanged && inForeground(state.fd)) {
        tcsetattr(state.fd, TCSANOW, &state.original);
    }
    _exit(status);
}

// ---------------------------------------------------------------------------------------------
// Files

OpenResult openFile(std::string_view name, Access access, Sharing sharing) {
    const std::string path(name);
    // O_NONBLOCK keeps the open itself from waiting (a FIFO of that name); it is cleared below.
    // Only a writer creates the file: a reader opens what is there.
    int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    flags |= access == Access::ReadWrite ? O_RDWR | O_CREAT : O_RDONLY;
    const int fd = aboveStandardStreams(open(path.c_str(), flags, 0666));
    if (fd < 0) {
        return {invalidHandle, lastError()};
    }
    struct stat info {};
    const int status = fcntl(fd, F_GETFL);
    if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode) || status == -1 ||
        fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
        const SystemError error = S_ISDIR(info.st_mode) ? errorFromErrno(EISDIR) : lastError();
        close(fd);
        return {invalidHandle, error};
    }
    if (sharing == Sharing::OthersMayRead) {
        // A writer holds the file exclusively and a reader shares it with readers only, so a
        // second writer, or a reader that forbids writers, is refused while one is there.
        const int lock = access == Access::ReadWrite ? LOCK_EX : LOCK_SH;
        if (flock(fd, lock | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
            close(fd);
            return {invalidHandle, {ErrorKind::SharingViolation, EWOULDBLOCK}};
        }
        // Any other locking failure means the file system keeps no locks: open unlocked.
    }
    return {fd, {}};
}

std::string fullPath(std::string_view name, std::size_t maxLength) {
    std::string directory(256, '\0');
    while (getcwd(directory.data(), directory.size()) == nullptr) {
        if (errno != ERANGE) {
            return std::string(name);
        }
        directory.resize(directory.size() * 2);
    }
    directory.resize(std::strlen(directory.c_str()));
    std::string path = directory;
    if (path.empty() || path.back() != '/') {
        path += '/';
    }
    path += name;
    return path.size() <= maxLength ? path : std::string(name);
}

DeviceKind deviceKind(Handle handle) {
    struct stat info {};
    if (handle < 0 || fstat(handle, &info) != 0) {
        return DeviceKind::Unknown;
    }
    if (S_ISREG(info.st_mode)) {
        return DeviceKind::DiskFile;
    }
    if (S_ISCHR(info.st_mode)) {
        return DeviceKind::CharacterDevice;
    }
    if (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode)) {
        return DeviceKind::Pipe;
    }
    return DeviceKind::Unknown;
}

Handle standardOutput() {
    return standardOutputAbsent ? invalidHandle : STDOUT_FILENO;
}

SystemError writeAll(Handle handle, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = write(handle, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return lastError();
        }
        if (written == 0) {
            return errorFromErrno(EIO);
        }
        bytes.remove_prefix(std::size_t(written));
    }
    return {};
}

SystemError cutAtCurrentPosition(Handle handle) {
    const off_t position = lseek(handle, 0, SEEK_CUR);
    if (position < 0 || ftruncate(handle, position) != 0) {
        return lastError();
    }
    return {};
}

SystemError closeHandle(Handle handle) {
    // On EINTR the descriptor is released all the same (Linux, the BSDs): not a failure.
    if (close(handle) != 0 && errno != EINTR) {
        return lastError();
    }
    return {};
}

void writeStandardError(std::string_view text) {
    writeAll(STDERR_FILENO, text);
}

std::string describeError(int code) {
    char buffer[256];
#if defined(__GLIBC__) && defined(_GNU_SOURCE)
    const char* text = strerror_r(code, buffer, sizeof buffer);
#else
    const char* text = strerror_r(code, buffer, sizeof buffer) == 0 ? buffer : "";
#endif
    // What C libraries say of a code they do not know is no description.
    const std::string_view description = text == nullptr ? "" : text;
    if (description.starts_with("Unknown error") || description == "No error information") {
        return {};
    }
    return std::string(description);
}

// ---------------------------------------------------------------------------------------------
// Console events

void installConsoleEventHandler(ConsoleEventHandler handler) {
    struct Route {
        int signal;
        ConsoleEvent event;
    };
    static constexpr Route routes[] = {
        {SIGINT, ConsoleEvent::ControlC},
        {SIGQUIT, ConsoleEvent::ControlBreak},
        {SIGHUP, ConsoleEvent::WindowClose},
    };
    sigset_t signals;
    sigemptyset(&signals);
    for (const Route& route : routes) {
        struct sigaction current {};
        sigaction(route.signal, nullptr, &current);
        // A signal ignored from the start (nohup, a background job without job control) stays
        // ignored, as the one who started us asked.
        if (current.sa_handler != SIG_IGN) {
            sigaddset(&signals, route.signal);
            hangUpRouted = hangUpRouted || route.signal == SIGHUP;
        }
    }
    // Blocked here, before any other thread exists, so every thread inherits the block and the
    // signals reach only the waiting thread below.
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    try {
        std::thread([signals, handler] {
            for (;;) {
                int signal = 0;
                if (sigwait(&signals, &signal) != 0) {
                    continue;
                }
                for (const Route& route : routes) {
                    if (route.signal == signal) {
                        handler(route.event);
                    }
                }
            }
        }).detach();
        consoleEventsHandled = true;
    } catch (const std::system_error&) {
        // No thread to receive them: the signals keep their default effect and end the process.
        hangUpRouted = false;
        pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
    }
}

// ---------------------------------------------------------------------------------------------
// Console input

Handle openConsoleInput() {
    const int fd = aboveStandardStreams(open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (fd >= 0) {
        const std::lock_guard lock(terminal().mutex);
        terminal().fd = fd;
    }
    return fd;
}

namespace {

// The terminal was hung up: its window was closed. The hang-up signal may reach the event thread
// only after the key test has seen the terminal gone; the event is delivered here so that it is
// not lost in a run that would otherwise end normally, and the event thread ends the process.
long terminalHungUp(std::unique_lock<std::mutex>& lock) {
    if (hangUpRouted) {
        lock.unlock();
        kill(getpid(), SIGHUP);
        for (;;) {
            pause();
        }
    }
    return -1;
}

} // namespace

long pendingConsoleInput(Handle console) {
    TerminalState& state = terminal();
    std::unique_lock lock(state.mutex);
    const pid_t foreground = tcgetpgrp(console);
    if (foreground < 0) {
        return terminalHungUp(lock);
    }
    if (foreground != getpgrp() || (consoleEventsHandled && !passKeysAtOnce(state))) {
        return 0;
    }
    int pending = 0;
    if (ioctl(console, FIONREAD, &pending) != 0) {
        return terminalHungUp(lock);
    }
    return pending;
}

} // namespace rump::platform
