#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <set>
#include <vector>

#include "foundation/LogUnit.h"
#include "foundation/Timestamp.h"
#include "platform/windows/Win32Machine.h"
#include "support/WinTestSupport.h"

namespace {

const char* const kWriterSwitch = "--log-writer";
std::string linkFixture; // a Unix folder with links in it, from the command line
const char* const kBusySwitch = "--busy-loop";
constexpr int kLinesPerWriter = 150;
constexpr int kChildWriters = 3; // and the test itself
constexpr int kBusyLoops = 2;

void WriteLines(const std::string& folder, const std::string& name);

// What Windows itself shows for the local time in the user's formats.
std::string WindowsRendering(const SYSTEMTIME& t) {
    char date[128];
    char time[128];
    ::GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &t, nullptr, date, sizeof date);
    ::GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &t, nullptr, time, sizeof time);
    return std::string(date) + " " + time;
}

// The names in a folder, sorted; what a link's target holds when nothing came through.
std::vector<std::string> NamesIn(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    const HANDLE search = ::FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            names.push_back(found.cFileName);
        } while (::FindNextFileA(search, &found));
        ::FindClose(search);
    }
    std::sort(names.begin(), names.end());
    return names;
}
const std::vector<std::string> kUntouched = {".", "..", "target.txt"};

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
            // The second turned over during the write: try again in an empty file, once the
            // idle log has let it go (late on a busy machine).
            ASSERT_TRUE(wintest::WaitUntil(
                [this] { return ::DeleteFileA(LogFile().c_str()) != FALSE; }, 10000));
            continue;
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

TEST_F(LogWinTest, TheFoldersTheLogCreatesGrantNothingToEveryone) {
    // A folder created the ordinary way lets everyone read it (Wine keeps the mode).
    EXPECT_NE(wintest::DaclText(temp.path()).find(";;;WD)"), std::string::npos)
        << wintest::DaclText(temp.path());
    TLog log("Driveward client");
    log.LogPath = temp.path() + "\\new";
    log.Add("one");
    log.LogPath.clear();
    EXPECT_EQ(
        wintest::LogTexts(temp.path() + "\\new\\Driveward client\\" + wintest::TodaysLogFileName()),
        (std::vector<std::string>{"one"}));
    for (const char* created : {"\\new", "\\new\\Driveward client"}) {
        const std::string dacl = wintest::DaclText(temp.path() + created);
        EXPECT_EQ(dacl.find(";;;WD)"), std::string::npos) << created << " " << dacl;
        EXPECT_EQ(dacl.find(";;;BU)"), std::string::npos) << created << " " << dacl;
        EXPECT_NE(dacl.find("(A;OICI;FA;;;SY)"), std::string::npos) << created << " " << dacl;
    }
}

TEST_F(LogWinTest, ATodaysFileWithASecondNameReceivesNothing) {
    ASSERT_TRUE(::CreateDirectoryA((temp.path() + "\\Driveward client").c_str(), nullptr));
    const std::string elsewhere = temp.path() + "\\elsewhere.txt";
    wintest::WriteFile(elsewhere, "precious\r\n");
    ASSERT_TRUE(::CreateHardLinkA(LogFile().c_str(), elsewhere.c_str(), nullptr));
    TLog log("Driveward client");
    log.LogPath = temp.path();
    log.Add("lost");
    log.LogPath.clear();
    EXPECT_EQ(wintest::ReadFile(elsewhere), "precious\r\n");
}

// The links are made by the test run on the Unix side (scripts/log-links.sh), as a user
// could make them on Windows; Wine shows them as reparse points.
TEST_F(LogWinTest, LinksInThePathReceiveNothing) {
    if (linkFixture.empty()) {
        GTEST_SKIP() << "no link fixture given";
    }
    const std::string root = wintest::WindowsPath(linkFixture);
    for (const std::string& logPath : {root + "\\folder-link", root + "\\root"}) {
        TLog log("Driveward client");
        log.LogPath = logPath;
        log.Add("lost");
        log.LogPath.clear();
    }
    // Today's file as a link to a file elsewhere.
    {
        TLog log("Driveward client");
        log.LogPath = root + "\\files";
        log.Add("lost");
        log.LogPath.clear();
    }
    for (const char* target : {"\\elsewhere", "\\elsewhere2", "\\elsewhere3"}) {
        EXPECT_EQ(NamesIn(root + target), kUntouched) << target;
        EXPECT_EQ(wintest::ReadFile(root + target + "\\target.txt"), "untouched\n") << target;
    }
}

// A central log on a share that everyone may write to: the trust rule is for this
// machine's folders, so the share gets the whole log; a link planted in the share still
// gets nothing, and so does a local folder that everyone may write to. Wine serves
// \\drivewardsrv\logs from its dosdevices (scripts/log-links.sh).
TEST_F(LogWinTest, AShareOthersMayWriteToGetsTheLogButNoLinkOrOpenLocalFolderDoes) {
    if (linkFixture.empty()) {
        GTEST_SKIP() << "no link fixture given";
    }
    const std::string root = wintest::WindowsPath(linkFixture);
    const std::string share = "\\\\drivewardsrv\\logs";
    ASSERT_NE(::GetFileAttributesA((share + "\\central").c_str()), INVALID_FILE_ATTRIBUTES);
    for (int round = 0; round < 2; ++round) {
        for (const std::string& logPath :
             {share + "\\central", share + "\\planted", root + "\\open"}) {
            TLog log("Driveward client");
            log.LogPath = logPath;
            log.Add("Start logging");
            log.Add("round " + std::to_string(round));
        }
    }
    EXPECT_EQ(wintest::LogTexts(root + "\\share\\central\\Driveward client\\" +
                                wintest::TodaysLogFileName()),
              (std::vector<std::string>{"Start logging", "round 0", "Stopped logging",
                                        "Start logging", "round 1", "Stopped logging"}));
    EXPECT_EQ(NamesIn(root + "\\elsewhere5"), kUntouched);
    EXPECT_EQ(NamesIn(root + "\\open\\Driveward client"), (std::vector<std::string>{".", ".."}));
}

// The log folder is held between lines, yet an administrator may move it away while the
// log runs; the next line goes to LogPath again, into a folder made anew.
TEST_F(LogWinTest, TheLogFolderCanBeMovedWhileTheLogRuns) {
    TLog log("Driveward client");
    log.LogPath = temp.path();
    const std::string folder = temp.path() + "\\Driveward client";
    for (int round = 0; round < 2; ++round) {
        log.Add("before " + std::to_string(round));
        ::Sleep(1000); // the day's file is closed once the log is idle
        const std::string moved = temp.path() + "\\moved" + std::to_string(round);
        // On a busy machine the idle close may come late: until then the folder stays.
        ASSERT_TRUE(wintest::WaitUntil(
            [&] { return ::MoveFileA(folder.c_str(), moved.c_str()) != FALSE; }, 10000));
        log.Add("after " + std::to_string(round));
        ::Sleep(1000);
        EXPECT_EQ(wintest::LogTexts(moved + "\\" + wintest::TodaysLogFileName()),
                  std::vector<std::string>{"before " + std::to_string(round)});
        EXPECT_EQ(wintest::LogTexts(LogFile()),
                  std::vector<std::string>{"after " + std::to_string(round)});
        ASSERT_TRUE(
            wintest::WaitUntil([&] { return ::DeleteFileA(LogFile().c_str()) != FALSE; }, 10000));
    }
    log.LogPath.clear();
}

// While the log writes, the log folder is swapped for a link to another folder and back,
// over and over, as a user could do below a LogPath that users may change. The swapping is
// done on the Unix side (scripts/log-links.sh): Wine cannot move a link itself.
TEST_F(LogWinTest, AFolderSwappedForALinkInALoopReceivesNothingThroughIt) {
    if (linkFixture.empty()) {
        GTEST_SKIP() << "no link fixture given";
    }
    const std::string root = wintest::WindowsPath(linkFixture);
    wintest::WriteFile(root + "\\go", "");
    // A log object resolves its folder at its first line and then holds it: a new one
    // every 20 lines walks the path again and again while the swapper swaps, for 4 s at
    // least (a line now costs so little that 2,000 would be done before the first swap).
    const DWORD start = ::GetTickCount();
    for (int i = 0; i < 2000 || ::GetTickCount() - start < 4000; i += 20) {
        TLog log("Driveward client");
        log.LogPath = root + "\\swap";
        for (int j = i; j < i + 20; ++j) {
            log.Add("line " + std::to_string(j));
        }
        log.LogPath.clear();
    }
    wintest::WriteFile(root + "\\stop", "");
    ASSERT_TRUE(wintest::WaitUntil([&] {
        return ::GetFileAttributesA((root + "\\swaps").c_str()) != INVALID_FILE_ATTRIBUTES;
    }));
    EXPECT_GT(std::atoi(wintest::ReadFile(root + "\\swaps").c_str()), 0);
    EXPECT_EQ(NamesIn(root + "\\elsewhere4"), kUntouched);
}

// A pipe named as LogPath: whoever serves it could act as the writer (SYSTEM) once we
// connect. The log never even opens it.
TEST_F(LogWinTest, APipeNamedAsLogPathSeesNoClient) {
    const std::string name =
        "\\\\.\\pipe\\driveward-log-" + std::to_string(::GetCurrentProcessId());
    const HANDLE pipe = ::CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX,
                                           PIPE_TYPE_BYTE | PIPE_NOWAIT, 1, 4096, 4096, 0, nullptr);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    for (const std::string& logPath : {name, "\\\\?\\pipe\\" + name.substr(9), name + "\\logs"}) {
        TLog log("Driveward client");
        log.LogPath = logPath;
        log.Add("never");
        log.LogPath.clear();
    }
    // Listening still: no client has connected, not even for a moment.
    EXPECT_FALSE(::ConnectNamedPipe(pipe, nullptr));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_PIPE_LISTENING));
    ::CloseHandle(pipe);
}

TEST_F(LogWinTest, SeveralProcessesWritingAtOnceOnABusyMachineLoseAndTearNoLine) {
    char self[MAX_PATH];
    ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    const std::string suffix = std::to_string(::GetCurrentProcessId());
    // Busy loops beside the writers, so that they are preempted in the middle of a write.
    const std::string stopName = "DrivewardLogBusyStop" + suffix;
    const HANDLE stop = ::CreateEventA(nullptr, TRUE, FALSE, stopName.c_str());
    std::vector<wintest::Process> busy;
    for (int i = 0; i < kBusyLoops; ++i) {
        busy.push_back(wintest::Start(self, std::string(kBusySwitch) + " " + stopName));
    }
    std::multiset<std::string> expected;
    for (int round = 0; round < 2; ++round) {
        const std::string goName = "DrivewardLogGo" + suffix + "_" + std::to_string(round);
        const HANDLE go = ::CreateEventA(nullptr, TRUE, FALSE, goName.c_str());
        std::vector<wintest::Process> writers;
        for (int w = 0; w < kChildWriters; ++w) {
            const std::string name = "r" + std::to_string(round) + "w" + std::to_string(w);
            writers.push_back(wintest::Start(self, std::string(kWriterSwitch) + " \"" +
                                                       temp.path() + "\" " + goName + " " + name));
            for (int i = 0; i < kLinesPerWriter; ++i) {
                expected.insert(name + " line " + std::to_string(i));
            }
        }
        ::Sleep(1000); // the writers wait for the go
        ::SetEvent(go);
        const std::string parent = "r" + std::to_string(round) + "parent";
        WriteLines(temp.path(), parent);
        for (int i = 0; i < kLinesPerWriter; ++i) {
            expected.insert(parent + " line " + std::to_string(i));
        }
        for (auto& writer : writers) {
            EXPECT_EQ(wintest::WaitForExit(writer, 60000), 0);
        }
        ::CloseHandle(go);
    }
    ::SetEvent(stop);
    for (auto& loop : busy) {
        wintest::WaitForExit(loop);
    }
    ::CloseHandle(stop);

    // Every line once, whole: a torn line would show as texts that were never written.
    const auto texts = wintest::LogTexts(LogFile());
    const std::multiset<std::string> written(texts.begin(), texts.end());
    EXPECT_EQ(written.size(), expected.size());
    std::vector<std::string> missing;
    std::set_difference(expected.begin(), expected.end(), written.begin(), written.end(),
                        std::back_inserter(missing));
    std::vector<std::string> unexpected;
    std::set_difference(written.begin(), written.end(), expected.begin(), expected.end(),
                        std::back_inserter(unexpected));
    EXPECT_TRUE(missing.empty()) << missing.size() << " lost, first: " << missing.front();
    EXPECT_TRUE(unexpected.empty()) << unexpected.size() << " torn, first: " << unexpected.front();
}

void WriteLines(const std::string& folder, const std::string& name) {
    TLog log("Driveward client");
    log.LogPath = folder;
    for (int i = 0; i < kLinesPerWriter; ++i) {
        log.Add(name + " line " + std::to_string(i));
    }
    log.LogPath.clear(); // "Stopped logging" stays out of the count
}

int RunLogWriter(const std::string& folder, const std::string& goName, const std::string& name) {
    platform::windows::Win32Machine win32;
    platform::ScopedMachine installed(win32.machine());
    const HANDLE go = ::OpenEventA(SYNCHRONIZE, FALSE, goName.c_str());
    if (go == nullptr || ::WaitForSingleObject(go, 30000) != WAIT_OBJECT_0) {
        return 1;
    }
    ::CloseHandle(go);
    WriteLines(folder, name);
    return 0;
}

int RunBusyLoop(const std::string& stopName) {
    const HANDLE stop = ::OpenEventA(SYNCHRONIZE, FALSE, stopName.c_str());
    const DWORD start = ::GetTickCount();
    volatile unsigned spin = 0;
    while (stop != nullptr && ::WaitForSingleObject(stop, 0) == WAIT_TIMEOUT &&
           ::GetTickCount() - start < 120000) {
        for (int i = 0; i < 100000; ++i) {
            spin = spin + 1;
        }
    }
    return 0;
}

} // namespace

// The same executable doubles as the second writer of the two-process test.
int main(int argc, char** argv) {
    if (argc == 5 && std::string(argv[1]) == kWriterSwitch) {
        return RunLogWriter(argv[2], argv[3], argv[4]);
    }
    if (argc == 3 && std::string(argv[1]) == kBusySwitch) {
        return RunBusyLoop(argv[2]);
    }
    ::testing::InitGoogleTest(&argc, argv);
    if (argc > 1) {
        linkFixture = argv[1];
    }
    return RUN_ALL_TESTS();
}
