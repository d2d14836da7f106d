// The output units and their records, shared by the statements, the end of the run and the
// fatal report. Not part of the output layer's public interface.
#pragma once

#include "platform/platform.h"

#include <mutex>
#include <string>
#include <string_view>

namespace rump::output {

struct OutputUnit {
    enum class State { NotConnected, Open, Closed };

    int unitNumber = 0;
    std::string fileName; // shown in messages: the full path, or "CONOUT$" for the console
    platform::Handle handle = platform::invalidHandle;
    platform::DeviceKind deviceKind = platform::DeviceKind::Unknown;
    bool readOnly = false;        // opened for reading only: every statement is refused
    bool truncatePending = false; // a disk file is cut behind the first record written
    std::string_view terminator = "\r\n";
    std::string record; // the record being built; reused for every record of the unit
    bool atRecordStart = false;
    platform::SystemError savedError; // the system's error behind a failure, for the report
    State state = State::NotConnected;
    std::recursive_mutex lock; // held for a whole statement in the thread-safe locking mode
};

// The unit with this number (1, the report unit, or -1, the console unit).
OutputUnit& unitFor(int unitNumber);

// Holds a unit's lock for a whole statement when the locking mode asks for it.
class UnitLock {
public:
    explicit UnitLock(OutputUnit& unit);
    ~UnitLock();
    UnitLock(const UnitLock&) = delete;
    UnitLock& operator=(const UnitLock&) = delete;

private:
    OutputUnit& unit_;
    bool locked_;
};

// Begins a statement on a unit, with its lock held: connects the console unit at its first use
// and refuses a unit opened for reading only. False when the units are already closed (the run
// is ending on another thread): the statement then writes nothing.
bool beginStatement(OutputUnit& unit);

// Writes the record being built, with its terminator, in one request, and begins a new one.
void emitRecord(OutputUnit& unit);

// Closes every open unit. With reportFailures false a handle that cannot be closed is passed
// over: the run is already ending on another failure.
void closeUnits(bool reportFailures);

// Reports a failure of a unit (with the system's error the unit saved, if any) and ends the
// process with the message number as exit status.
[[noreturn]] void reportIoFailure(int message, OutputUnit& unit);

} // namespace rump::output
