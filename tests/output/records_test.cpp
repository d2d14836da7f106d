// The records that output statements write to a file, byte for byte, and how the file is opened.
#include "output/output.h"
#include "output/unit.h"
#include "support/process.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace rump::output {
namespace {

using testing::readFile;
using testing::TempDir;
using testing::writeFile;

constexpr std::string_view reportName = "rump II.rez";

// Each test works in a fresh current directory, where the report unit is opened.
class ReportUnit : public ::testing::Test {
protected:
    ReportUnit() : previous_(std::filesystem::current_path()) {
        std::filesystem::current_path(dir_.path());
    }
    ~ReportUnit() override { std::filesystem::current_path(previous_); }

    static void open() { openUnit(1, reportName, "unknown", "formatted"); }
    std::string report() const { return readFile(dir_.file(reportName)); }

    TempDir dir_;
    std::filesystem::path previous_;
};

constexpr FormatItem formatA[] = {editA};
constexpr FormatItem formatSlashA[] = {slash, editA};
constexpr FormatItem formatSlashSlashA[] = {slash, slash, editA};
constexpr FormatItem formatTwoTexts[] = {slash, slash, editA, slash, editA};
constexpr FormatItem formatSlash[] = {slash};

const std::string equation = " f(a,b) = 21.*b*b - 2.*a*a +55.*b*b*b*b -10.*a*a*b*b +a/(2*b)";

struct StatementCase {
    const char* name;
    std::function<void()> statement;
    std::string bytes;
};

const StatementCase statementCases[] = {
    {"list-directed text gets one leading blank",
     [] {
         const Item items[] = {{"Rump's Polynomial #2 (2010)"}};
         writeListDirected(1, items);
     },
     " Rump's Polynomial #2 (2010)\r\n"},
    {"list-directed text keeps its own leading blank",
     [] {
         const Item items[] = {{" Output File: \"rump II.rez\""}};
         writeListDirected(1, items);
     },
     "  Output File: \"rump II.rez\"\r\n"},
    {"list-directed without items writes one blank", [] { writeListDirected(1, {}); }, " \r\n"},
    {"(A) writes the text alone",
     [] {
         const Item items[] = {{equation}};
         writeFormatted(1, formatA, items);
     },
     equation + "\r\n"},
    {"(/, A) writes an empty record first",
     [] {
         const Item items[] = {{"Apasa orice tasta"}};
         writeFormatted(1, formatSlashA, items);
     },
     "\r\nApasa orice tasta\r\n"},
    {"(/, /, A) writes two empty records first",
     [] {
         const Item items[] = {{"  text  "}};
         writeFormatted(1, formatSlashSlashA, items);
     },
     "\r\n\r\n  text  \r\n"},
    {"(/, /, A, /, A) writes two texts on two records",
     [] {
         const Item items[] = {{"first"}, {"second"}};
         writeFormatted(1, formatTwoTexts, items);
     },
     "\r\n\r\nfirst\r\nsecond\r\n"},
    {"(/) writes two empty records", [] { writeFormatted(1, formatSlash, {}); }, "\r\n\r\n"},
    {"(/, A) without items ends at A with an empty record",
     [] { writeFormatted(1, formatSlashA, {}); }, "\r\n\r\n"},
};

TEST_F(ReportUnit, EachStatementWritesItsRecords) {
    for (const StatementCase& c : statementCases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(reportName);
        open();
        c.statement();
        closeAllUnits();
        EXPECT_EQ(report(), c.bytes);
    }
}

TEST_F(ReportUnit, StatementsFollowEachOther) {
    open();
    const Item title[] = {{"title"}};
    writeListDirected(1, title);
    writeListDirected(1, {});
    writeFormatted(1, formatSlashA, title);
    EXPECT_EQ(report(), " title\r\n \r\n\r\ntitle\r\n") << "every record is on disk at once";
    closeAllUnits();
}

TEST_F(ReportUnit, LongerOldFileIsCutBehindTheFirstRecord) {
    writeFile(dir_.file(reportName), std::string(5000, 'x') + "\r\nold tail\r\n");
    open();
    const Item title[] = {{"new"}};
    writeListDirected(1, title);
    EXPECT_EQ(report(), " new\r\n");
    writeListDirected(1, title);
    closeAllUnits();
    EXPECT_EQ(report(), " new\r\n new\r\n");
}

TEST_F(ReportUnit, OpenWithoutRecordsLeavesAnOldFileAsItWas) {
    const std::string old = "an older report\r\nwith two records\r\n";
    writeFile(dir_.file(reportName), old);
    open();
    closeAllUnits();
    EXPECT_EQ(report(), old);
}

TEST_F(ReportUnit, OpenCreatesAnEmptyFile) {
    open();
    closeAllUnits();
    EXPECT_EQ(report(), "");
}

TEST_F(ReportUnit, StatusAndFormAreComparedWithoutCaseAndTrailingBlanks) {
    openUnit(1, "  rump II.rez  ", "Unknown  ", "formatted ");
    writeListDirected(1, {});
    closeAllUnits();
    EXPECT_EQ(report(), " \r\n");
}

TEST_F(ReportUnit, DirectoryOfThatNameIsRefusedAsPermissionDenied) {
    std::filesystem::create_directory(reportName);
    const std::string message =
        "^zebrun: severe \\(9\\): permission to access file denied, unit 1, "
        "file " +
        dir_.file(reportName) + "\r\n";
    EXPECT_EXIT(open(), ::testing::ExitedWithCode(9), message);
}

TEST_F(ReportUnit, FileHeldByAnotherRunIsOpenedReadOnlyAndRefusesTheFirstStatement) {
    writeFile(dir_.file(reportName), "the other run's report\r\n");
    const int holder = ::open(reportName.data(), O_RDWR);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    const std::string message =
        "^zebrun: severe \\(47\\): write to READONLY file, unit 1, file " + dir_.file(reportName);
    EXPECT_EXIT(
        {
            open();
            writeListDirected(1, {});
        },
        ::testing::ExitedWithCode(47), message);
    ::close(holder);
    EXPECT_EQ(report(), "the other run's report\r\n");
}

TEST_F(ReportUnit, CloseFromAnotherThreadWaitsForTheStatementInProgress) {
    const int before = setLockingMode(threadSafeLocking);
    open();
    std::atomic<bool> closed{false};
    std::thread closer;
    {
        // A statement in progress on this thread, as when a console event comes mid-statement.
        const UnitLock statement(unitFor(1));
        closer = std::thread([&closed] {
            closeAllUnits();
            closed = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_FALSE(closed) << "closed under a statement in progress";
        writeListDirected(1, {});
    }
    closer.join();
    EXPECT_TRUE(closed);
    writeListDirected(1, {}); // the units are closed: the run is ending, nothing is written
    EXPECT_EQ(report(), " \r\n");
    setLockingMode(before);
}

TEST(LockingMode, ThreeOnlyQueriesTheMode) {
    const int before = setLockingMode(threadSafeLocking);
    EXPECT_EQ(setLockingMode(queryLocking), threadSafeLocking);
    EXPECT_EQ(setLockingMode(queryLocking), threadSafeLocking);
    EXPECT_EQ(setLockingMode(before), threadSafeLocking);
}

} // namespace
} // namespace rump::output
