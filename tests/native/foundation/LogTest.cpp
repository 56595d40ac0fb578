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

// Who writes where: the trust rule binds elevated writers on this machine only; nobody
// writes through a link; a writer without elevation falls back to its own folder. Each
// reason for lost lines is told once per log object, with the log folder.
TEST_F(LogTest, TheTrustRuleSharesAndTheUnelevatedWritersOwnFolder) {
    using enum LogLossReason;
    const std::string share = "\\\\server\\share\\Logs";
    const std::string own = "C:\\Users\\pat\\AppData\\Local\\Driveward\\Driveward client";
    const std::string lines = "one|two|";
    struct Case {
        bool elevated;
        std::string logPath;
        std::string fault;     // "open ", "link " or "unwritable " and a path, or ""
        std::string writtenTo; // the folder of the day's file, "" for none
        std::string text;      // its lines, "|" after each
        std::optional<LogLossReason> told;
    };
    const std::vector<Case> cases = {
        {true, "D:\\Logs\\new", "", "D:\\Logs\\new\\Driveward client", lines, {}},
        {true, "D:\\Logs", "open D:\\Logs\\Driveward client", "", "", FolderRefused},
        {true,
         share,
         "open " + share + "\\Driveward client",
         share + "\\Driveward client",
         lines,
         {}},
        {true, share, "link " + share + "\\Driveward client", "", "", FolderRefused},
        {true, share, "link " + share + "\\Driveward client\\20110315.txt", "", "", FileRefused},
        {true, "Q:\\Logs", "", "", "", FolderMissing},
        {true, "D:\\Logs", "unwritable D:\\Logs", "", "", FolderUnwritable},
        {false,
         "D:\\Logs",
         "open D:\\Logs\\Driveward client",
         "D:\\Logs\\Driveward client",
         lines,
         {}},
        {false,
         "D:\\Logs",
         "link D:\\Logs\\Driveward client",
         own,
         "Warning: Logging here instead of D:\\Logs\\Driveward client: the folder is a link, "
         "or others may change it|" +
             lines,
         {}},
        {false,
         "D:\\Logs",
         "unwritable D:\\Logs",
         own,
         "Warning: Logging here instead of D:\\Logs\\Driveward client: the folder cannot be "
         "created or written into|" +
             lines,
         {}},
        {false, "D:\\Logs", "unwritable C:\\Users", "", "", FolderUnwritable},
    };
    for (const auto& c : cases) {
        const std::string what = c.logPath + " " + c.fault + (c.elevated ? " elevated" : "");
        sim.files.clear();
        sim.directories = {"D:",
                           "D:\\Logs",
                           "C:",
                           "C:\\Users",
                           "C:\\Users\\pat",
                           "C:\\Users\\pat\\AppData",
                           "C:\\Users\\pat\\AppData\\Local",
                           "\\\\server\\share",
                           share,
                           share + "\\Driveward client"};
        sim.createdFolders.clear();
        sim.folderAccess.clear();
        sim.links.clear();
        sim.unwritableFolders.clear();
        const std::string path = c.fault.substr(c.fault.find(' ') + 1);
        if (c.fault.rfind("open ", 0) == 0) {
            sim.directories.insert(path);
            sim.folderAccess[path] = platform::AccessList{
                true,
                {{platform::Trustee::Other, 0x1301BF, "S-1-5-32-545"}}, // users modify
                platform::Trustee::Administrators,
                "S-1-5-32-544"};
        } else if (c.fault.rfind("link ", 0) == 0) {
            sim.links.insert(path);
        } else if (!c.fault.empty()) {
            sim.unwritableFolders = {path, "D:\\Logs"};
        }
        std::vector<std::pair<std::string, LogLossReason>> told;
        {
            TLog log("Driveward client");
            log.WriterElevated = c.elevated;
            log.LinesLost = [&](const std::string& folder, LogLossReason reason) {
                told.emplace_back(folder, reason);
            };
            log.LogPath = c.logPath;
            log.Add("one");
            log.Add("two");
            log.LogPath.clear();
        }
        std::string text;
        for (const auto& entry : LogEntries(c.writtenTo + "\\20110315.txt")) {
            text += entry + "|";
        }
        EXPECT_EQ(text, c.text) << what;
        EXPECT_EQ(sim.files.size(), c.writtenTo.empty() ? 0u : 1u) << what;
        const auto expectedTold =
            c.told ? std::vector<std::pair<std::string, LogLossReason>>{{c.logPath +
                                                                             "\\Driveward client",
                                                                         *c.told}}
                   : std::vector<std::pair<std::string, LogLossReason>>{};
        EXPECT_EQ(told, expectedTold) << what; // once, however many lines are lost
        // Administrators or SYSTEM own what an elevated writer creates on this machine.
        for (const auto& [folder, owner] : sim.createdFolders) {
            EXPECT_EQ(owner, c.elevated && folder[1] == ':' ? platform::FolderOwner::Trusted
                                                            : platform::FolderOwner::Writer)
                << what << ": " << folder;
        }
    }
}

// The folder is resolved and checked once, and again only when LogPath or the day
// changes, or when the folder held is gone (an administrator removed or moved it).
TEST_F(LogTest, TheFolderIsCheckedOnceAndAgainWhenItIsGoneOrTheDayChanges) {
    std::vector<LogLossReason> told;
    TLog log("Driveward client");
    log.LinesLost = [&](const std::string&, LogLossReason reason) { told.push_back(reason); };
    log.LogPath = "D:\\Logs";
    for (int i = 0; i < 50; ++i) {
        log.Add("x");
    }
    EXPECT_EQ(sim.folderOpenings, 1);
    EXPECT_EQ(sim.heldFolders, 1);
    for (int round = 0; round < 2; ++round) {
        sim.directories.erase("D:\\Logs\\Driveward client");
        sim.files.clear();
        log.Add("after removal");
        EXPECT_EQ(sim.folderOpenings, 2 + round);
        EXPECT_EQ(Lines().size(), 1u);
    }
    sim.now = {2011, 3, 16, 3, 0, 0, 1};
    log.Add("tomorrow");
    EXPECT_EQ(sim.folderOpenings, 4);
    // Made open to users meanwhile: seen with the next day's check, and told once however
    // many lines are lost.
    sim.folderAccess["D:\\Logs\\Driveward client"] =
        platform::AccessList{true, {}, platform::Trustee::Other, "S-1-5-21-7"};
    sim.now = {2011, 3, 17, 4, 0, 0, 1};
    for (int i = 0; i < 3; ++i) {
        log.Add("lost");
    }
    EXPECT_EQ(told, std::vector<LogLossReason>{LogLossReason::FolderRefused});
    EXPECT_EQ(sim.heldFolders, 0);
    EXPECT_EQ(Lines("D:\\Logs\\Driveward client\\20110316.txt").size(), 1u);
    log.LogPath.clear();
}

// The writer without elevation keeps to its own folder for the rest of the day, with one
// line that says why, and tries LogPath again the next day.
TEST_F(LogTest, AnUnelevatedWriterFallsBackForTheDayAndTriesAgainTheNext) {
    sim.directories.insert("C:");
    sim.unwritableFolders.insert("D:\\Logs");
    const std::string own = "C:\\Users\\pat\\AppData\\Local\\Driveward\\Driveward client\\";
    TLog log("Driveward client");
    log.WriterElevated = false;
    log.LogPath = "D:\\Logs";
    log.Add("one");
    log.Add("two");
    EXPECT_EQ(LogEntries(own + "20110315.txt"),
              (std::vector<std::string>{"Warning: Logging here instead of D:\\Logs\\Driveward "
                                        "client: the folder cannot be created or written into",
                                        "one", "two"}));
    sim.unwritableFolders.clear();
    sim.now = {2011, 3, 16, 3, 0, 0, 1};
    log.Add("next day");
    EXPECT_EQ(Lines("D:\\Logs\\Driveward client\\20110316.txt").size(), 1u);
    EXPECT_EQ(sim.files.count(own + "20110316.txt"), 0u);
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
