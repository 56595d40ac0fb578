#include <gtest/gtest.h>

#include <windows.h>

#include <set>

#include "foundation/LogUnit.h"
#include "foundation/Timestamp.h"
#include "platform/windows/Win32Machine.h"
#include "support/WinTestSupport.h"

namespace {

const char* const kWriterSwitch = "--log-writer";
constexpr int kLinesPerWriter = 150;

// What Windows itself shows for the local time in the user's formats.
std::string WindowsRendering(const SYSTEMTIME& t) {
    char date[128];
    char time[128];
    ::GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &t, nullptr, date, sizeof date);
    ::GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &t, nullptr, time, sizeof time);
    return std::string(date) + " " + time;
}

class LogWinTest : public ::testing::Test {
protected:
    platform::windows::Win32Machine win32;
    platform::ScopedMachine installed{win32.machine()};
    wintest::TempFolder temp;
    std::string LogFile() const {
        return temp.path() + "\\Driveward client\\" + wintest::TodaysLogFileName();
    }
};

TEST_F(LogWinTest, TheTimestampIsWhatWindowsShowsForTheUsersFormats) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        SYSTEMTIME before;
        ::GetLocalTime(&before);
        TLog log("Driveward client");
        log.LogPath = temp.path();
        log.Add("hello");
        SYSTEMTIME after;
        ::GetLocalTime(&after);
        log.LogPath.clear();
        if (before.wSecond != after.wSecond) {
            ::DeleteFileA(LogFile().c_str());
            continue; // the second turned over during the write: try again
        }
        EXPECT_EQ(wintest::ReadFile(LogFile()), WindowsRendering(before) + " - hello\r\n");
        return;
    }
    FAIL() << "the clock kept turning over";
}

TEST_F(LogWinTest, AFileIsCreatedWithItsFolderChainThenAppendedTo) {
    const std::string deep = temp.path() + "\\a\\b c\\";
    {
        TLog log("Driveward client");
        log.LogPath = deep;
        log.Add("one");
    }
    {
        TLog log("Driveward client");
        log.LogPath = "  " + deep + " ";
        log.Add("two");
    }
    const auto texts =
        wintest::LogTexts(deep + "Driveward client\\" + wintest::TodaysLogFileName());
    EXPECT_EQ(texts,
              (std::vector<std::string>{"one", "Stopped logging", "two", "Stopped logging"}));
}

TEST_F(LogWinTest, AnUnwritableLogPathLosesLinesQuietly) {
    TLog log("Driveward client");
    log.LogPath = "Q:\\no such drive";
    log.Add("lost");
    EXPECT_EQ(log.PendingLineCount(), 0u);
    log.LogPath.clear();
}

TEST_F(LogWinTest, TwoProcessesWritingAtOnceLoseNoLine) {
    char self[MAX_PATH];
    ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    const std::string ready = "DrivewardLogWriterReady" + std::to_string(::GetCurrentProcessId());
    const HANDLE readyEvent = ::CreateEventA(nullptr, TRUE, FALSE, ready.c_str());
    auto child =
        wintest::Start(self, std::string(kWriterSwitch) + " \"" + temp.path() + "\" " + ready);
    ASSERT_NE(child.handle, nullptr);
    // Start together: the child signals once it is about to write.
    ASSERT_EQ(::WaitForSingleObject(readyEvent, 30000), WAIT_OBJECT_0);
    ::CloseHandle(readyEvent);
    {
        TLog log("Driveward client");
        log.LogPath = temp.path();
        for (int i = 0; i < kLinesPerWriter; ++i) {
            log.Add("parent " + std::to_string(i));
        }
        log.LogPath.clear();
    }
    ASSERT_EQ(wintest::WaitForExit(child), 0);

    std::set<std::string> texts;
    for (const auto& text : wintest::LogTexts(LogFile())) {
        texts.insert(text);
    }
    for (int i = 0; i < kLinesPerWriter; ++i) {
        EXPECT_TRUE(texts.count("parent " + std::to_string(i))) << "parent " << i;
        EXPECT_TRUE(texts.count("child " + std::to_string(i))) << "child " << i;
    }
    EXPECT_EQ(texts.size(), 2u * kLinesPerWriter);
}

int RunLogWriter(const std::string& folder, const std::string& readyEventName) {
    platform::windows::Win32Machine win32;
    platform::ScopedMachine installed(win32.machine());
    TLog log("Driveward client");
    log.LogPath = folder;
    const HANDLE readyEvent = ::OpenEventA(EVENT_MODIFY_STATE, FALSE, readyEventName.c_str());
    ::SetEvent(readyEvent);
    ::CloseHandle(readyEvent);
    for (int i = 0; i < kLinesPerWriter; ++i) {
        log.Add("child " + std::to_string(i));
    }
    log.LogPath.clear();
    return 0;
}

} // namespace

// The same executable doubles as the second writer of the two-process test.
int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == kWriterSwitch) {
        return RunLogWriter(argv[2], argv[3]);
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
