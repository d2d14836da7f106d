// Record-oriented output: units, output statements, the end of the run, and the key test.
//
// Every statement writes whole records, each ending with CR LF and written to its unit in one
// request as soon as it is complete. Statements have no error results: a failure is reported on
// standard error and ends the process with the message number as its exit status.
#pragma once

#include <span>
#include <string_view>

namespace rump::output {

// The unit of the report file, opened by openUnit.
inline constexpr int reportUnit = 1;
// The default output unit, connected to standard output at its first use.
inline constexpr int consoleUnit = -1;

// One item of an output statement: a character item, every blank of it counted.
struct Item {
    std::string_view characters;
};

// One item of a record format.
struct FormatItem {
    enum class Kind {
        Slash, // ends the current record, even an empty one, and begins a new one
        A,     // appends the next character item whole
    };
    Kind kind;
};

inline constexpr FormatItem slash{FormatItem::Kind::Slash};
inline constexpr FormatItem editA{FormatItem::Kind::A};

using RecordFormat = std::span<const FormatItem>;

// Locking modes: 2 serialises every unit operation so that another thread can close the units
// while a statement runs; 3 only asks for the mode in force. Returns the previous mode.
inline constexpr int threadSafeLocking = 2;
inline constexpr int queryLocking = 3;
int setLockingMode(int mode);

// Connects a unit to a file, created when absent and kept as it is when present; the first
// record written cuts the file behind itself. Status and form are compared without case and
// trailing blanks; this layer knows status "UNKNOWN" and form "FORMATTED".
void openUnit(int unitNumber, std::string_view fileName, std::string_view status,
              std::string_view form);

// A list-directed statement: one record, a blank followed by the items' characters.
void writeListDirected(int unitNumber, std::span<const Item> items);

// A formatted statement: the format applied to the items, left to right.
void writeFormatted(int unitNumber, RecordFormat format, std::span<const Item> items);

// The end of the run: closes every open unit and returns the exit status, 0.
int closeAllUnits();

// Whether a key press waits on the console, without reading or removing it.
bool keyPending();

// Whether the process has a console whose keys the key test can see. False when it was started
// without a controlling terminal, or once that terminal has been hung up.
bool consoleInputAvailable();

// Reports message `number` on standard error. Severe messages close every unit and end the
// process with the number as exit status; the others return.
struct MessageFields {
    int unitNumber = 0;
    std::string_view text;
};
void reportMessage(int number, MessageFields fields);

} // namespace rump::output
