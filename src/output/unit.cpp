// Units: connecting them to files and to standard output, writing records, closing them.
#include "output/unit.h"
#include "output/output.h"

#include <algorithm>
#include <atomic>
#include <cctype>

namespace rump::output {

namespace {

using platform::ErrorKind;

constexpr std::size_t maxFileNameLength = 256;

// Room reserved for a record when its unit is connected; records rarely need more.
constexpr std::size_t recordRoom = 512;

std::atomic<int> lockingMode{0};

struct UnitTable {
    OutputUnit report;
    OutputUnit console;
    UnitTable() {
        report.unitNumber = reportUnit;
        console.unitNumber = consoleUnit;
    }
};

UnitTable& units() {
    static UnitTable table;
    return table;
}

std::string_view trimBlanks(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// Compares a status or form value with a keyword, without case and trailing blanks.
bool sameKeyword(std::string_view value, std::string_view keyword) {
    const auto end = value.find_last_not_of(' ');
    value = value.substr(0, end == std::string_view::npos ? 0 : end + 1);
    return std::equal(
        value.begin(), value.end(), keyword.begin(), keyword.end(),
        [](char a, char b) { return std::toupper(static_cast<unsigned char>(a)) == b; });
}

// The message for an open that failed, by the kind of the system's error. Only the catch-all
// keeps the system's error code for the report: the others say all there is to say.
struct OpenFailure {
    int message;
    bool keepsSystemError;
};

OpenFailure openFailureFor(ErrorKind kind) {
    switch (kind) {
    case ErrorKind::FileNotFound:
    case ErrorKind::PathNotFound:
        return {29, false};
    case ErrorKind::AccessDenied:
    case ErrorKind::WriteProtected:
        return {9, false};
    case ErrorKind::NoSuchDevice:
        return {42, false};
    case ErrorKind::InvalidName:
    case ErrorKind::NameTooLong:
        return {43, false};
    case ErrorKind::TooManyOpenFiles:
        return {30, false};
    default:
        return {30, true};
    }
}

void connect(OutputUnit& unit, platform::Handle handle) {
    unit.handle = handle;
    unit.deviceKind = platform::deviceKind(handle);
    unit.truncatePending = unit.deviceKind == platform::DeviceKind::DiskFile;
    unit.terminator = "\r\n";
    unit.record.clear();
    unit.record.reserve(recordRoom);
    unit.state = OutputUnit::State::Open;
}

// Opens the report file read-write, sharing it with readers only. When that is refused, a
// read-only open is tried, which can only succeed on a file that exists; a unit opened so
// refuses every statement. A retry that finds no file leaves the first refusal as the reason.
void openReportFile(OutputUnit& unit, std::string_view name) {
    using platform::Access;
    using platform::Sharing;
    platform::OpenResult opened =
        platform::openFile(name, Access::ReadWrite, Sharing::OthersMayRead);
    const auto retry = [&opened, name](Sharing sharing) {
        const platform::OpenResult again = platform::openFile(name, Access::ReadOnly, sharing);
        if (again.error.kind != ErrorKind::FileNotFound) {
            opened = again;
        }
    };
    const ErrorKind first = opened.error.kind;
    if (first == ErrorKind::AccessDenied || first == ErrorKind::WriteProtected) {
        retry(Sharing::OthersMayRead);
    }
    if (opened.error.kind == ErrorKind::SharingViolation) {
        retry(Sharing::OthersMayReadAndWrite);
    }
    if (opened.error) {
        const OpenFailure failure = openFailureFor(opened.error.kind);
        if (failure.keepsSystemError) {
            unit.savedError = opened.error;
        }
        reportIoFailure(failure.message, unit);
    }
    connect(unit, opened.handle);
    unit.readOnly = first != ErrorKind::None;
}

// The console unit takes over standard output at the first statement on it.
void openConsole(OutputUnit& unit) {
    unit.fileName = "CONOUT$";
    unit.readOnly = false;
    connect(unit, platform::standardOutput());
}

} // namespace

OutputUnit& unitFor(int unitNumber) {
    return unitNumber == reportUnit ? units().report : units().console;
}

UnitLock::UnitLock(OutputUnit& unit)
    : unit_(unit), locked_(lockingMode.load() == threadSafeLocking) {
    if (locked_) {
        unit_.lock.lock();
    }
}

UnitLock::~UnitLock() {
    if (locked_) {
        unit_.lock.unlock();
    }
}

int setLockingMode(int mode) {
    if (mode == queryLocking) {
        return lockingMode.load();
    }
    return lockingMode.exchange(mode);
}

void openUnit(int unitNumber, std::string_view fileName, std::string_view status,
              std::string_view form) {
    OutputUnit& unit = unitFor(unitNumber);
    const UnitLock lock(unit);
    // The program opens only the report file, with status "unknown" and form "formatted"; other
    // statuses and forms have no meaning here.
    const std::string_view name = trimBlanks(fileName);
    unit.fileName = platform::fullPath(name, maxFileNameLength);
    unit.savedError = {};
    if (unitNumber != reportUnit || !sameKeyword(status, "UNKNOWN") ||
        !sameKeyword(form, "FORMATTED")) {
        reportIoFailure(30, unit);
    }
    // Opening a connected unit again connects it anew.
    if (unit.state == OutputUnit::State::Open) {
        platform::closeHandle(unit.handle);
        unit.state = OutputUnit::State::Closed;
    }
    openReportFile(unit, name);
}

// Opens the console unit when a statement first uses it, and refuses a statement on a unit
// that was opened for reading only. Call with the unit's lock held.
bool beginStatement(OutputUnit& unit) {
    if (unit.state == OutputUnit::State::NotConnected && unit.unitNumber == consoleUnit) {
        openConsole(unit);
    }
    if (unit.state != OutputUnit::State::Open) {
        // The end of the run has closed the units (a console event on another thread): the
        // process is about to end, and nothing more is written.
        return false;
    }
    if (unit.readOnly) {
        reportIoFailure(47, unit);
    }
    unit.record.clear();
    return true;
}

void emitRecord(OutputUnit& unit) {
    unit.record += unit.terminator;
    // A process started without standard output loses its console records silently.
    if (unit.handle == platform::invalidHandle) {
        unit.record.clear();
        return;
    }
    platform::SystemError error = platform::writeAll(unit.handle, unit.record);
    unit.record.clear();
    if (!error && unit.truncatePending) {
        error = platform::cutAtCurrentPosition(unit.handle);
        unit.truncatePending = false;
    }
    if (error) {
        unit.savedError = error;
        reportIoFailure(38, unit);
    }
}

void closeUnits(bool reportFailures) {
    for (OutputUnit* unit : {&units().report, &units().console}) {
        const UnitLock lock(*unit);
        if (unit->state != OutputUnit::State::Open) {
            // A console never used is closed too: nothing may reach it once the run ends.
            if (unit->unitNumber == consoleUnit) {
                unit->state = OutputUnit::State::Closed;
            }
            continue;
        }
        unit->state = OutputUnit::State::Closed;
        // Standard output belongs to the process and stays open.
        if (unit->unitNumber == consoleUnit || unit->handle == platform::invalidHandle) {
            continue;
        }
        const platform::SystemError error = platform::closeHandle(unit->handle);
        unit->handle = platform::invalidHandle;
        if (error && reportFailures) {
            reportIoFailure(28, *unit);
        }
    }
}

int closeAllUnits() {
    closeUnits(true);
    return 0;
}

} // namespace rump::output
