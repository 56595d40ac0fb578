#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <set>

#include "SimulatedMachineTest.h"
#include "foundation/LogUnit.h"

namespace {

const char* const kTodaysFile = "D:\\Logs\\Driveward client\\20110315.txt";

class LogTest : public SimulatedMachineTest {
protected:
    LogTest() {
        sim.directories.insert("D:");
        sim.directories.insert("D:\\Logs");
        sim.now = {2011, 3, 15, 2, 10, 38, 48};
    }
    std::vector<std::string> Lines(const std::string& path = kTodaysFile) {
        return sim.LinesOf(path);
    }
};

TEST_F(LogTest, EachLineIsTimestampSeparatorAndTextEndingInCrLf) {
    TLog log("Driveward client");
    log.LogPath = "D:\\Logs";
    log.Add("hello");
    log.Add("");
    EXPECT_EQ(sim.files[kTodaysFile], "15-3-2011 10:38:48 - hello\r\n15-3-2011 10:38:48 - \r\n");
}

TEST_F(LogTest, PrefixesAndDebugMarkers) {
    TLog log("Driveward client");
    log.LogPath = "D:\\Logs";
    log.Info("i");
    log.Error("e");
    log.Warning("w");
    log.DebugBegin();
    log.DebugEnd();
    log.AddFmt("Drive info: %s", {"E:"});
    const std::vector<std::string> expected = {
        "15-3-2011 10:38:48 - Info: i",          "15-3-2011 10:38:48 - Error: e",
        "15-3-2011 10:38:48 - Warning: w",       "15-3-2011 10:38:48 - --- DEBUG ------",
        "15-3-2011 10:38:48 - ----------------", "15-3-2011 10:38:48 - Drive info: E:",
    };
    EXPECT_EQ(Lines(), expected);
}

TEST_F(LogTest, AMismatchedFormatWritesOneCompleteLine) {
    TLog log("Driveward client");
    log.LogPath = "D:\\Logs";
    log.AddFmt("DevInst = %d", {"not a number"});
    log.AddFmt("%s %s", {"only one"});
    const std::vector<std::string> expected = {
        "15-3-2011 10:38:48 - Invalid log format: DevInst = %d",
        "15-3-2011 10:38:48 - Invalid log format: %s %s",
    };
    EXPECT_EQ(Lines(), expected);
}

TEST_F(LogTest, TrailingBackslashAndBlanksAroundLogPathLeadToTheSameFile) {
    for (const char* logPath :
         {"D:\\Logs", "D:\\Logs\\", "  D:\\Logs  ", "\tD:\\Logs\\ ", "D:/Logs", "D:/Logs/"}) {
        sim.files.clear();
        TLog log("Driveward client");
        log.LogPath = logPath;
        log.Add("x");
        ASSERT_EQ(sim.files.size(), 1u) << logPath;
        EXPECT_EQ(sim.files.begin()->first, kTodaysFile) << logPath;
        log.LogPath.clear(); // keep "Stopped logging" out of the next round
    }
}

TEST_F(LogTest, ForwardSlashesSeparateTheMissingFoldersToo) {
    TLog log("Driveward client");
    log.LogPath = "D:/Logs/a/b";
    log.Add("x");
    EXPECT_EQ(Lines("D:\\Logs\\a\\b\\Driveward client\\20110315.txt").size(), 1u);
    log.LogPath.clear();
}

TEST_F(LogTest, MissingFolderChainIsCreatedAndAnExistingFileIsAppendedTo) {
    sim.files["D:\\Logs\\a\\b\\Driveward client\\20110315.txt"] = "old\r\n";
    sim.directories.insert("D:\\Logs\\a");
    sim.directories.insert("D:\\Logs\\a\\b");
    sim.directories.insert("D:\\Logs\\a\\b\\Driveward client");
    {
        TLog log("Driveward client");
        log.LogPath = "D:\\Logs\\a\\b";
        log.Add("new");
        log.LogPath = "D:\\Logs\\x\\y";
        log.Add("elsewhere");
        log.LogPath.clear();
    }
    EXPECT_EQ(Lines("D:\\Logs\\a\\b\\Driveward client\\20110315.txt"),
              (std::vector<std::string>{"old", "15-3-2011 10:38:48 - new"}));
    EXPECT_TRUE(sim.directories.count("D:\\Logs\\x\\y\\Driveward client"));
    EXPECT_EQ(Lines("D:\\Logs\\x\\y\\Driveward client\\20110315.txt"),
              (std::vector<std::string>{"15-3-2011 10:38:48 - elsewhere"}));
}

TEST_F(LogTest, ALineStampedBeforeMidnightButWrittenAfterItGoesToTheNewDaysFile) {
    TLog log("Driveward client");
    log.LogPath = "D:\\Logs";
    // The first reading stamps the line, the second names the file.
    sim.upcomingTimes = {{2011, 3, 15, 2, 23, 59, 59}, {2011, 3, 16, 3, 0, 0, 0}};
    log.Add("late");
    EXPECT_EQ(Lines("D:\\Logs\\Driveward client\\20110316.txt"),
              (std::vector<std::string>{"15-3-2011 23:59:59 - late"}));
    EXPECT_TRUE(Lines().empty());
    log.LogPath.clear();
}

TEST_F(LogTest, ALineAtExactlyMidnightCarriesTheDateAlone) {
    TLog log("Driveward client");
    log.LogPath = "D:\\Logs";
    sim.now = {2011, 3, 15, 2, 0, 0, 0};
    log.Add("midnight");
    EXPECT_EQ(Lines(), (std::vector<std::string>{"15-3-2011 - midnight"}));
    log.LogPath.clear();
}

TEST_F(LogTest, LinesAddedBeforeLogPathAreWrittenFirstWithTheirOwnTimestamps) {
    TLog log("Driveward client");
    sim.now = {2011, 3, 15, 2, 10, 0, 1};
    log.Add("first");
    sim.now = {2011, 3, 15, 2, 10, 0, 2};
    log.Add("second");
    EXPECT_TRUE(sim.files.empty());
    EXPECT_EQ(log.PendingLineCount(), 2u);
    log.LogPath = "D:\\Logs";
    sim.now = {2011, 3, 15, 2, 10, 0, 3};
    log.Add("third");
    EXPECT_EQ(Lines(),
              (std::vector<std::string>{"15-3-2011 10:00:01 - first", "15-3-2011 10:00:02 - second",
                                        "15-3-2011 10:00:03 - third"}));
    EXPECT_EQ(log.PendingLineCount(), 0u);
    log.LogPath.clear();
}

TEST_F(LogTest, AnUnwritablePathLosesLinesSilentlyAndKeepsNoBacklog) {
    sim.unwritableFolders.insert("D:\\Logs");
    sim.directories.insert("D:\\Logs\\Driveward client");
    TLog log("Driveward client");
    log.LogPath = "D:\\Logs";
    for (int i = 0; i < 100; ++i) {
        log.Add("lost");
    }
    EXPECT_EQ(log.PendingLineCount(), 0u);
    EXPECT_TRUE(sim.files.empty());
    EXPECT_EQ(sim.appendAttempts, 100); // no retries for anything but a sharing violation
    sim.unwritableFolders.clear();
    log.Add("back");
    EXPECT_EQ(Lines(), (std::vector<std::string>{"15-3-2011 10:38:48 - back"}));
    log.LogPath.clear();
}

TEST_F(LogTest, NothingGoesThroughALinkOrIntoAFolderOthersMayChange) {
    using platform::AccessEntry;
    using platform::Trustee;
    const std::string folder = "D:\\Logs\\Driveward client";
    const AccessEntry system{Trustee::System, 0x1F01FF, "S-1-5-18"};
    const AccessEntry users{Trustee::Other, 0x1200A9, "S-1-5-32-545"}; // read and list
    struct Case {
        std::string what;
        std::set<std::string> links;
        std::optional<platform::AccessList> access; // nullopt: unreadable
        bool written;
    };
    const auto list = [&](std::vector<AccessEntry> entries, Trustee owner) {
        return std::optional(platform::AccessList{true, std::move(entries), owner, "S-1-5-21-7"});
    };
    std::vector<Case> cases = {
        {"LogPath a link", {"D:\\Logs"}, list({system}, Trustee::System), false},
        {"drive part a link",
         {"D:\\Logs\\Driveward client"},
         list({system}, Trustee::System),
         false},
        {"today's file a link",
         {folder + "\\20110315.txt"},
         list({system}, Trustee::System),
         false},
        {"users may read", {}, list({system, users}, Trustee::Administrators), true},
        {"TrustedInstaller owns it", {}, list({system}, Trustee::TrustedInstaller), true},
        {"a user owns it", {}, list({system}, Trustee::Other), false},
        {"no DACL", {}, platform::AccessList{false, {}, Trustee::System, "S-1-5-18"}, false},
        {"unreadable", {}, std::nullopt, false},
    };
    // Users may add a file, add a folder, delete a child, change the attributes, delete,
    // change the permissions or the owner, or hold generic all or generic write.
    for (const std::uint32_t right :
         {0x2u, 0x4u, 0x40u, 0x100u, 0x10000u, 0x40000u, 0x80000u, 0x10000000u, 0x40000000u}) {
        char what[32];
        std::snprintf(what, sizeof what, "users hold 0x%X", right);
        cases.push_back({what,
                         {},
                         list({system, {Trustee::Other, right, "S-1-5-32-545"}}, Trustee::System),
                         false});
    }
    for (const auto& c : cases) {
        sim.files.clear();
        sim.links = c.links;
        sim.directories.insert(folder);
        sim.folderAccess.clear();
        sim.unreadableAccess.clear();
        if (c.access) {
            sim.folderAccess[folder] = *c.access;
        } else {
            sim.unreadableAccess.insert(folder);
        }
        TLog log("Driveward client");
        log.LogPath = "D:\\Logs";
        log.Add("x");
        EXPECT_EQ(sim.files.size(), c.written ? 1u : 0u) << c.what;
        EXPECT_EQ(log.PendingLineCount(), 0u) << c.what;
        log.LogPath.clear();
    }
    // Nothing is opened for a path that names no plain folder, and no folder stays held.
    for (const char* path : {"\\\\.\\pipe\\logs", "\\\\?\\D:\\Logs", "D:\\Logs\\NUL"}) {
        sim.directories.insert(folder);
        TLog log("Driveward client");
        log.LogPath = path;
        log.Add("x");
        EXPECT_TRUE(sim.files.empty()) << path;
        EXPECT_EQ(sim.directories.count("D:\\Logs\\NUL"), 0u);
        log.LogPath.clear();
    }
    EXPECT_EQ(sim.heldFolders, 0);
    // No folder is created below a link.
    sim.directories.erase(folder);
    sim.links = {"D:\\Logs"};
    TLog log("Driveward client");
    log.LogPath = "D:\\Logs\\new";
    log.Add("x");
    EXPECT_EQ(sim.directories.count("D:\\Logs\\new"), 0u);
    log.LogPath.clear();
}

TEST_F(LogTest, AFileHeldOpenByAnotherDrivewardIsRetriedBriefly) {
    TLog log("Driveward client");
    log.LogPath = "D:\\Logs";
    sim.sharingViolationsLeft = 2;
    log.Add("kept");
    EXPECT_EQ(Lines(), (std::vector<std::string>{"15-3-2011 10:38:48 - kept"}));
    EXPECT_EQ(sim.appendAttempts, 3);
    EXPECT_EQ(sim.sleeps, (std::vector<std::uint32_t>{20, 20}));
    log.LogPath.clear();
}

TEST_F(LogTest, AFileHeldOpenTooLongLosesTheLineWithinAFifthOfASecond) {
    TLog log("Driveward client");
    log.LogPath = "D:\\Logs";
    sim.sharingViolationsLeft = 1000;
    log.Add("lost");
    EXPECT_EQ(sim.appendAttempts, kLogSharingAttempts);
    std::uint32_t waited = 0;
    for (auto ms : sim.sleeps) {
        waited += ms;
    }
    EXPECT_LE(waited, 200u);
    EXPECT_EQ(log.PendingLineCount(), 0u);
    log.LogPath.clear();
}

TEST_F(LogTest, DestroyingTheLogWritesStoppedLoggingLast) {
    {
        TLog log("Driveward client");
        log.LogPath = "D:\\Logs";
        log.Add("work");
    }
    const auto lines = Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines.back(), "15-3-2011 10:38:48 - Stopped logging");
}

TEST_F(LogTest, ComputerNameIsTheNameAloneOrEmpty) {
    sim.computerName = "PC-42";
    EXPECT_EQ(ComputerName(), "PC-42");
    sim.computerName.reset();
    EXPECT_EQ(ComputerName(), "");
}

} // namespace
