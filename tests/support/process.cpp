#include "support/process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace rump::testing {

namespace {

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

void check(bool ok, const char* what) {
    if (!ok) {
        fail(what);
    }
}

void closeOnExec(int fd) {
    check(fcntl(fd, F_SETFD, FD_CLOEXEC) == 0, "fcntl");
}

void makePipe(int ends[2]) {
    check(pipe(ends) == 0, "pipe");
    closeOnExec(ends[0]);
    closeOnExec(ends[1]);
}

int statusOf(int waitStatus) {
    if (WIFEXITED(waitStatus)) {
        return WEXITSTATUS(waitStatus);
    }
    if (WIFSIGNALED(waitStatus)) {
        return 128 + WTERMSIG(waitStatus);
    }
    return -1;
}

// Waits for a child until `limit`, then kills it. Returns its status.
int waitFor(int pid, Milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int waitStatus = 0;
    while (waitpid(pid, &waitStatus, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &waitStatus, 0);
            return statusOf(waitStatus);
        }
        std::this_thread::sleep_for(5ms);
    }
    return statusOf(waitStatus);
}

// Reads from fd into `out` until end of file or the time is up.
void drain(int fd, std::string& out, Milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    char buffer[4096];
    for (;;) {
        const auto left =
            std::chrono::duration_cast<Milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return;
        }
        pollfd watch{fd, POLLIN, 0};
        if (poll(&watch, 1, int(left.count())) <= 0) {
            return;
        }
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got <= 0) {
            return;
        }
        out.append(buffer, std::size_t(got));
    }
}

std::vector<char*> argv(const std::string& program, const std::vector<std::string>& arguments) {
    std::vector<char*> result{const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments) {
        result.push_back(const_cast<char*>(argument.c_str()));
    }
    result.push_back(nullptr);
    return result;
}

// In the child: the default signal handling and an empty signal mask, as a shell gives them.
void resetSignals() {
    for (int signal : {SIGINT, SIGQUIT, SIGHUP, SIGPIPE, SIGTTOU, SIGTTIN, SIGTSTP}) {
        std::signal(signal, SIG_DFL);
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
}

// In the foreground helper of a background run: starts the program in a process group of its
// own, checks that it is neither stopped, nor ended, nor changing the terminal's mode while in
// the background, then gives it the foreground and passes on its exit status.
[[noreturn]] void runInBackground(char* const* arguments) {
    termios before{};
    tcgetattr(STDIN_FILENO, &before);
    const pid_t program = fork();
    if (program == 0) {
        setpgid(0, 0);
        execv(arguments[0], arguments);
        _exit(127);
    }
    setpgid(program, program);
    std::this_thread::sleep_for(1s);
    int waitStatus = 0;
    const pid_t seen = waitpid(program, &waitStatus, WNOHANG | WUNTRACED);
    termios during{};
    tcgetattr(STDIN_FILENO, &during);
    int verdict = 0;
    if (seen == program) {
        verdict = WIFSTOPPED(waitStatus) ? backgroundRunStopped : backgroundRunEndedEarly;
    } else if (!sameMode(before, during)) {
        verdict = backgroundRunChangedMode;
    }
    if (verdict != 0) {
        kill(program, SIGKILL);
        _exit(verdict);
    }
    tcsetpgrp(STDIN_FILENO, program);
    waitpid(program, &waitStatus, WUNTRACED);
    if (WIFSTOPPED(waitStatus)) {
        kill(program, SIGKILL);
        _exit(backgroundRunStopped);
    }
    _exit(statusOf(waitStatus));
}

} // namespace

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "rump-test-XXXXXX").string();
    check(mkdtemp(pattern.data()) != nullptr, "mkdtemp");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return "<absent>";
    }
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void writeFile(const std::string& path, std::string_view content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), std::streamsize(content.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

std::string programPath() {
    return RUMP_PROGRAM;
}

bool sameMode(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

TerminalRun::TerminalRun(const Options& options) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    check(master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0, "posix_openpt");
    closeOnExec(master_);
    const std::string name = ptsname(master_);
    slave_ = open(name.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    check(slave_ >= 0, "open terminal");

    termios mode{};
    check(tcgetattr(slave_, &mode) == 0, "tcgetattr");
    mode.c_oflag &= ~tcflag_t(OPOST);
    mode.c_lflag |= ICANON | ISIG | ECHO;
    check(tcsetattr(slave_, TCSANOW, &mode) == 0, "tcsetattr");
    check(tcgetattr(slave_, &modeAtStart_) == 0, "tcgetattr");
    type(options.typedBeforeStart);

    int errorPipe[2];
    makePipe(errorPipe);
    const std::string program = programPath();
    std::vector<char*> arguments = argv(program, options.arguments);

    pid_ = fork();
    check(pid_ >= 0, "fork");
    if (pid_ == 0) {
        resetSignals();
        setsid();
        const int terminal = open(name.c_str(), O_RDWR);
        if (terminal < 0 || ioctl(terminal, TIOCSCTTY, 0) != 0 ||
            chdir(options.directory.c_str()) != 0) {
            _exit(126);
        }
        dup2(terminal, STDIN_FILENO);
        dup2(terminal, STDOUT_FILENO);
        dup2(errorPipe[1], STDERR_FILENO);
        if (options.hangUpIgnored) {
            std::signal(SIGHUP, SIG_IGN);
        }
        if (options.background) {
            runInBackground(arguments.data());
        }
        execv(arguments[0], arguments.data());
        _exit(127);
    }
    close(errorPipe[1]);
    errors_ = errorPipe[0];
}

TerminalRun::~TerminalRun() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    for (int fd : {master_, slave_, errors_}) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

std::string TerminalRun::readConsoleUntil(std::string_view expected, Milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    char buffer[4096];
    while (console_.size() < expected.size() && master_ >= 0) {
        const auto left =
            std::chrono::duration_cast<Milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd watch{master_, POLLIN, 0};
        if (left.count() <= 0 || poll(&watch, 1, int(left.count())) <= 0) {
            break;
        }
        const ssize_t got = read(master_, buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        console_.append(buffer, std::size_t(got));
    }
    return console_;
}

void TerminalRun::type(std::string_view bytes) {
    if (!bytes.empty()) {
        check(write(master_, bytes.data(), bytes.size()) == ssize_t(bytes.size()), "type");
    }
}

bool TerminalRun::stillRunningAfter(Milliseconds period) {
    std::this_thread::sleep_for(period);
    siginfo_t info{};
    return waitid(P_PID, id_t(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
}

void TerminalRun::hangUp() {
    close(master_);
    master_ = -1;
}

Outcome TerminalRun::wait(Milliseconds limit) {
    Outcome outcome;
    outcome.status = waitFor(pid_, limit);
    pid_ = -1;
    drain(errors_, outcome.errors, 2s);
    if (master_ >= 0) {
        drain(master_, console_, 100ms);
    }
    outcome.console = console_;
    return outcome;
}

termios TerminalRun::modeNow() const {
    termios mode{};
    tcgetattr(slave_, &mode);
    return mode;
}

std::string TerminalRun::unreadInput() {
    termios mode = modeNow();
    mode.c_lflag &= ~tcflag_t(ICANON);
    mode.c_cc[VMIN] = 0;
    mode.c_cc[VTIME] = 0;
    tcsetattr(slave_, TCSANOW, &mode);
    std::string input;
    char buffer[256];
    ssize_t got;
    while ((got = read(slave_, buffer, sizeof buffer)) > 0) {
        input.append(buffer, std::size_t(got));
    }
    return input;
}

Outcome runWithoutTerminal(const std::string& directory, StandardOutput output,
                           Milliseconds limit) {
    int outputPipe[2];
    int errorPipe[2];
    makePipe(outputPipe);
    makePipe(errorPipe);
    if (output == StandardOutput::PipeWithoutReader) {
        // Gone before the program starts: its first console write meets no reader.
        close(outputPipe[0]);
        outputPipe[0] = open("/dev/null", O_RDONLY | O_CLOEXEC);
    }
    const std::string program = programPath();
    std::vector<char*> arguments = argv(program, {});
    const pid_t pid = fork();
    check(pid >= 0, "fork");
    if (pid == 0) {
        resetSignals();
        setsid();
        const int nothing = open("/dev/null", O_RDONLY);
        if (nothing < 0 || chdir(directory.c_str()) != 0) {
            _exit(126);
        }
        dup2(nothing, STDIN_FILENO);
        if (output == StandardOutput::Closed) {
            close(STDOUT_FILENO);
        } else if (output == StandardOutput::ReadOnly) {
            dup2(nothing, STDOUT_FILENO);
        } else {
            dup2(outputPipe[1], STDOUT_FILENO);
        }
        dup2(errorPipe[1], STDERR_FILENO);
        execv(arguments[0], arguments.data());
        _exit(127);
    }
    close(outputPipe[1]);
    close(errorPipe[1]);
    Outcome outcome;
    drain(outputPipe[0], outcome.console, limit);
    drain(errorPipe[0], outcome.errors, limit);
    outcome.status = waitFor(pid, limit);
    close(outputPipe[0]);
    close(errorPipe[0]);
    return outcome;
}

} // namespace rump::testing
