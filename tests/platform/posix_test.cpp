// The operating-system layer: opening the report file, sharing it, paths and error texts.
#include "platform/platform.h"
#include "support/process.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

namespace rump::platform {
namespace {

using testing::TempDir;

class Files : public ::testing::Test {
protected:
    std::string file(std::string_view name = "rump II.rez") const { return dir_.file(name); }
    TempDir dir_;
};

TEST_F(Files, OpenCreatesAbsentFileAndKeepsPresentOne) {
    OpenResult created = openFile(file(), Access::ReadWrite, Sharing::OthersMayRead);
    ASSERT_FALSE(created.error);
    EXPECT_EQ(deviceKind(created.handle), DeviceKind::DiskFile);
    EXPECT_FALSE(writeAll(created.handle, "first\r\n"));
    closeHandle(created.handle);

    OpenResult again = openFile(file(), Access::ReadWrite, Sharing::OthersMayRead);
    ASSERT_FALSE(again.error);
    EXPECT_FALSE(writeAll(again.handle, "X"));
    closeHandle(again.handle);
    EXPECT_EQ(testing::readFile(file()), "Xirst\r\n") << "kept, and written from its start";
}

TEST_F(Files, CutEndsTheFileAtTheCurrentPosition) {
    testing::writeFile(file(), "a long old content");
    OpenResult opened = openFile(file(), Access::ReadWrite, Sharing::OthersMayRead);
    ASSERT_FALSE(opened.error);
    EXPECT_FALSE(writeAll(opened.handle, "new"));
    EXPECT_FALSE(cutAtCurrentPosition(opened.handle));
    closeHandle(opened.handle);
    EXPECT_EQ(testing::readFile(file()), "new");
}

TEST_F(Files, DirectoryNeverOpens) {
    std::filesystem::create_directory(file());
    for (Access access : {Access::ReadWrite, Access::ReadOnly}) {
        const OpenResult opened = openFile(file(), access, Sharing::OthersMayRead);
        EXPECT_EQ(opened.handle, invalidHandle);
        EXPECT_EQ(opened.error.kind, ErrorKind::AccessDenied);
    }
}

TEST_F(Files, SharingFollowsWhatTheHolderAllows) {
    struct Case {
        Access holder;
        Access requester;
        Sharing requesterSharing;
        ErrorKind expected;
    };
    const Case cases[] = {
        {Access::ReadWrite, Access::ReadWrite, Sharing::OthersMayRead, ErrorKind::SharingViolation},
        {Access::ReadWrite, Access::ReadOnly, Sharing::OthersMayRead, ErrorKind::SharingViolation},
        {Access::ReadWrite, Access::ReadOnly, Sharing::OthersMayReadAndWrite, ErrorKind::None},
        {Access::ReadOnly, Access::ReadWrite, Sharing::OthersMayRead, ErrorKind::SharingViolation},
        {Access::ReadOnly, Access::ReadOnly, Sharing::OthersMayRead, ErrorKind::None},
    };
    for (const Case& c : cases) {
        const OpenResult held = openFile(file(), c.holder, Sharing::OthersMayRead);
        ASSERT_FALSE(held.error);
        const OpenResult second = openFile(file(), c.requester, c.requesterSharing);
        EXPECT_EQ(second.error.kind, c.expected)
            << "holder " << int(c.holder) << ", requester " << int(c.requester);
        if (!second.error) {
            closeHandle(second.handle);
        }
        closeHandle(held.handle);
    }
}

TEST_F(Files, FailuresAreClassified) {
    testing::writeFile(file("plain"), "");
    struct Case {
        std::string name;
        ErrorKind expected;
    };
    const Case cases[] = {
        {file("no such directory/rump II.rez"), ErrorKind::FileNotFound},
        {file("plain/rump II.rez"), ErrorKind::PathNotFound},
        {file(std::string(300, 'n')), ErrorKind::NameTooLong},
    };
    for (const Case& c : cases) {
        const OpenResult opened = openFile(c.name, Access::ReadWrite, Sharing::OthersMayRead);
        EXPECT_EQ(opened.error.kind, c.expected) << c.name;
        EXPECT_NE(opened.error.code, 0);
    }
}

TEST(FullPath, JoinsTheCurrentDirectoryUnlessTooLong) {
    const std::string directory = std::filesystem::current_path().string();
    EXPECT_EQ(fullPath("rump II.rez", 256).substr(0, directory.size() + 1), directory + "/");
    EXPECT_EQ(fullPath("rump II.rez", directory.size() + 12), directory + "/rump II.rez");
    EXPECT_EQ(fullPath("rump II.rez", directory.size() + 11), "rump II.rez");
}

TEST(DescribeError, GivesTheSystemTextOrNothing) {
    EXPECT_EQ(describeError(ENOSPC), "No space left on device");
    EXPECT_EQ(describeError(987654), "");
}

} // namespace
} // namespace rump::platform
