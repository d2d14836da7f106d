// Whole runs of the program, on a terminal the test plays, and without a terminal.
#include "support/process.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace rump::testing {
namespace {

// The console records: the notice (a list-directed record of a text that begins with a blank),
// an empty record, the prompt.
const std::string consoleRecords = "  Output File: \"rump II.rez\"\r\n"
                                   "\r\n"
                                   "Apasa orice tasta\r\n";

constexpr std::string_view reportName = "rump II.rez";

TEST(Run, ShowsNoticeAndPromptThenWaitsForOneKey) {
    TempDir dir;
    TerminalRun run({.directory = dir.path()});
    EXPECT_EQ(run.readConsoleUntil(consoleRecords), consoleRecords);
    EXPECT_TRUE(run.stillRunningAfter(500ms)) << "no key pressed yet";
    EXPECT_EQ(run.modeNow().c_lflag & (ICANON | ECHO), 0u) << "a key shows at once, unechoed";
    run.type("x");
    const Outcome outcome = run.wait();
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.errors, "");
    EXPECT_EQ(outcome.console, consoleRecords) << "the key is not echoed";
    EXPECT_TRUE(sameMode(run.modeNow(), run.modeAtStart())) << "the terminal's mode is restored";
    EXPECT_EQ(run.unreadInput(), "x") << "the key stays for the next reader";
    EXPECT_EQ(readFile(dir.file(reportName)), "") << "the report file is created";
}

TEST(Run, KeyTypedBeforeThePromptEndsTheWaitAtOnce) {
    TempDir dir;
    TerminalRun run({.directory = dir.path(), .typedBeforeStart = "k"});
    const Outcome outcome = run.wait(5s);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.console, "k" + consoleRecords) << "echoed by the terminal before the run";
    EXPECT_EQ(run.unreadInput(), "k");
}

TEST(Run, ArgumentsChangeNothing) {
    TempDir dir;
    TerminalRun run({.directory = dir.path(), .arguments = {"--help", "-v", "rump II.rez"}});
    EXPECT_EQ(run.readConsoleUntil(consoleRecords), consoleRecords);
    EXPECT_TRUE(run.stillRunningAfter(200ms));
    run.type("\r");
    EXPECT_EQ(run.wait().status, 0);
    EXPECT_EQ(readFile(dir.file(reportName)), "");
}

TEST(Run, ConsoleEventsEndTheRunWithMessage200) {
    struct Case {
        const char* keys; // typed at the terminal; none means the terminal is closed
        const char* event;
        int status;
    };
    const Case cases[] = {
        {"\x03", "control-C", 0},
        {"\x1c", "control-BREAK", 1},
        {nullptr, "window-CLOSE", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.event);
        TempDir dir;
        writeFile(dir.file(reportName), "old report");
        TerminalRun run({.directory = dir.path()});
        ASSERT_EQ(run.readConsoleUntil(consoleRecords), consoleRecords);
        ASSERT_TRUE(run.stillRunningAfter(100ms));
        if (c.keys != nullptr) {
            run.type(c.keys);
        } else {
            run.hangUp();
        }
        const Outcome outcome = run.wait();
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.errors.substr(0, outcome.errors.find('\n') + 1),
                  std::string("zebrun: error (200): program aborting due to ") + c.event +
                      " event\r\n");
        EXPECT_EQ(readFile(dir.file(reportName)), "old report");
        if (c.keys != nullptr) {
            EXPECT_TRUE(sameMode(run.modeNow(), run.modeAtStart()));
        }
    }
}

TEST(Run, HangUpIgnoredFromTheStartEndsTheWaitInsteadOfPollingForever) {
    TempDir dir;
    TerminalRun run({.directory = dir.path(), .hangUpIgnored = true});
    ASSERT_EQ(run.readConsoleUntil(consoleRecords), consoleRecords);
    run.hangUp();
    const Outcome outcome = run.wait(5s);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.errors, "");
}

TEST(Run, InTheBackgroundLeavesTheTerminalAloneUntilBroughtToTheForeground) {
    TempDir dir;
    // A whole line waits in the terminal's input from the start: it belongs to the foreground
    // job, and ends the wait only once the program is in the foreground.
    TerminalRun run({.directory = dir.path(), .typedBeforeStart = "x\r", .background = true});
    const Outcome outcome = run.wait(15s);
    EXPECT_NE(outcome.status, backgroundRunStopped) << "stopped by the terminal";
    EXPECT_NE(outcome.status, backgroundRunEndedEarly) << "took the foreground job's key";
    EXPECT_NE(outcome.status, backgroundRunChangedMode) << "changed the terminal's mode";
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.console, "x\n" + consoleRecords) << "the line echoed before the run";
    EXPECT_TRUE(sameMode(run.modeNow(), run.modeAtStart()));
}

TEST(Run, WithoutTerminalCompletesWithoutWaiting) {
    TempDir dir;
    const Outcome outcome = runWithoutTerminal(dir.path(), StandardOutput::Pipe, 5s);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.console, consoleRecords);
    EXPECT_EQ(outcome.errors, "");
}

TEST(Run, ClosedStandardOutputLosesTheConsoleRecordsSilently) {
    TempDir dir;
    const Outcome outcome = runWithoutTerminal(dir.path(), StandardOutput::Closed, 5s);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.errors, "");
    EXPECT_EQ(readFile(dir.file(reportName)), "") << "console records went to the report file";
}

TEST(Run, StandardOutputThatCannotBeWrittenIsAWriteFailure) {
    struct Case {
        StandardOutput output;
        const char* systemText;
    };
    const Case cases[] = {
        {StandardOutput::PipeWithoutReader, "Broken pipe"}, // and not a kill by SIGPIPE
        {StandardOutput::ReadOnly, "Bad file descriptor"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const Outcome outcome = runWithoutTerminal(dir.path(), c.output, 5s);
        EXPECT_EQ(outcome.status, 38) << c.systemText;
        EXPECT_EQ(outcome.errors,
                  std::string("zebrun: ") + c.systemText +
                      "\r\nzebrun: severe (38): error during write, unit -1, file CONOUT$\r\n");
    }
}

TEST(Run, ReportThatCannotBeOpenedEndsTheRunBeforeTheConsole) {
    TempDir dir;
    std::filesystem::create_directory(dir.file(reportName));
    const Outcome outcome = runWithoutTerminal(dir.path(), StandardOutput::Pipe, 5s);
    EXPECT_EQ(outcome.status, 9);
    EXPECT_EQ(outcome.console, "");
    EXPECT_EQ(outcome.errors,
              "zebrun: severe (9): permission to access file denied, unit 1, file " +
                  dir.file(reportName) + "\r\n");
}

} // namespace
} // namespace rump::testing
