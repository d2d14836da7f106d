// Reports on standard error: the message table, the message line, and the end of the run that
// follows a severe message.
#include "output/output.h"
#include "output/unit.h"

#include <array>
#include <string>

namespace rump::output {

namespace {

enum class Severity { None, Info, Warning, Error, Severe };

struct Message {
    int number;
    Severity severity;
    std::string_view text; // "%d" takes a unit number, "%s" a file name or another text
};

// The messages this program can raise.
constexpr std::array messages{
    Message{9, Severity::Severe, "permission to access file denied, unit %d, file %s"},
    Message{28, Severity::Severe, "CLOSE error, unit %d, file %s"},
    Message{29, Severity::Severe, "file not found, unit %d, file %s"},
    Message{30, Severity::Severe, "open failure, unit %d, file %s"},
    Message{38, Severity::Severe, "error during write, unit %d, file %s"},
    Message{41, Severity::Severe, "insufficient virtual memory"},
    Message{42, Severity::Severe, "no such device, unit %d, file %s"},
    Message{43, Severity::Severe, "file name specification error, unit %d, file %s"},
    Message{47, Severity::Severe, "write to READONLY file, unit %d, file %s"},
    Message{200, Severity::Error, "program aborting due to %s event"},
};

// A report is composed in a buffer of this size; what does not fit is cut off.
constexpr std::size_t reportRoom = 16384;

std::string_view prefixFor(Severity severity) {
    switch (severity) {
    case Severity::Info:
        return "zebrun: info (%i): ";
    case Severity::Warning:
        return "zebrun: warning (%i): ";
    case Severity::Error:
        return "zebrun: error (%i): ";
    case Severity::Severe:
        return "zebrun: severe (%i): ";
    case Severity::None:
        break;
    }
    return "zebrun: ";
}

const Message& messageFor(int number) {
    for (const Message& message : messages) {
        if (message.number == number) {
            return message;
        }
    }
    // Only the numbers above are ever raised; an unknown one is reported as an open failure
    // rather than lost.
    return messages[3];
}

// Copies a template, putting `number` for "%i", the unit for "%d" and the text for "%s".
void fill(std::string& out, std::string_view pattern, int number, const MessageFields& fields) {
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size()) {
            const char field = pattern[i + 1];
            if (field == 'i' || field == 'd' || field == 's') {
                out += field == 'i'   ? std::to_string(number)
                       : field == 'd' ? std::to_string(fields.unitNumber)
                                      : std::string(fields.text);
                ++i;
                continue;
            }
        }
        out += pattern[i];
    }
}

// The line that tells what the system said about the error behind a failure.
void reportSystemError(int code) {
    std::string line = "zebrun: ";
    const std::string description = platform::describeError(code);
    if (description.empty()) {
        // No line end of its own: the message line follows on the same line.
        fill(line, "FormatMessage failed for sysmem message number %i", code, {});
    } else {
        line += description;
        line += "\r\n";
    }
    platform::writeStandardError(line);
}

} // namespace

void reportMessage(int number, MessageFields fields) {
    const Message& message = messageFor(number);
    std::string report;
    report.reserve(reportRoom);
    fill(report, prefixFor(message.severity), message.number, fields);
    fill(report, message.text, message.number, fields);
    report += "\r\n";
    if (report.size() > reportRoom) {
        report.resize(reportRoom);
    }
    platform::writeStandardError(report);
    if (message.severity == Severity::Severe) {
        closeUnits(false);
        platform::exitProcess(message.number);
    }
}

void reportIoFailure(int message, OutputUnit& unit) {
    if (unit.savedError) {
        reportSystemError(unit.savedError.code);
        unit.savedError = {};
    }
    reportMessage(message, {unit.unitNumber, unit.fileName});
    // Every message raised for a unit is severe: reportMessage has ended the process.
    platform::exitProcess(message);
}

} // namespace rump::output
