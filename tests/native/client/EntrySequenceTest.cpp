#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "SimulatedMachineTest.h"
#include "client/EntrySequence.h"
#include "foundation/FunctionsUnit.h"
#include "foundation/LogUnit.h"
#include "foundation/SettingsUnit.h"

namespace {

using ::testing::ElementsAre;

const char* const kLogFile = "C:\\Program Files\\Driveward\\Driveward client\\20110315.txt";
const char* const kIni = "C:\\Program Files\\Driveward\\Driveward.ini";

// Records what the entry sequence asks of the GUI framework, and how many log lines
// existed when the windows were destroyed.
class RecordingHost : public ApplicationHost {
public:
    explicit RecordingHost(platform::SimulatedMachine& sim) : sim_(sim) {}
    void Initialize() override { calls.push_back("Initialize"); }
    void SetTitle(const std::string& title) override { calls.push_back("SetTitle " + title); }
    void GiveTaskbarEntryToApplicationWindow() override { calls.push_back("Taskbar"); }
    void RunMainWindow(TStartMode mode) override {
        calls.push_back("Run " + std::to_string(mode));
        helperFlagWhileRunning = StartedAsHelper;
        writerElevatedWhileRunning = Log->WriterElevated;
        if (whileRunning) {
            whileRunning();
        }
    }
    void DestroyWindows() override {
        calls.push_back("DestroyWindows");
        logLinesAtDestroy = sim_.LinesOf(kLogFile).size();
        logExistedAtDestroy = Log != nullptr;
    }

    std::vector<std::string> calls;
    std::function<void()> whileRunning;
    bool helperFlagWhileRunning = false;
    bool writerElevatedWhileRunning = false;
    std::size_t logLinesAtDestroy = 0;
    bool logExistedAtDestroy = false;

private:
    platform::SimulatedMachine& sim_;
};

class EntrySequenceTest : public SimulatedMachineTest {
protected:
    EntrySequenceTest() {
        sim.computerName = "PC7";
        sim.fileVersions[sim.moduleFileName] = {0x00010002, 0x00030004};
    }
    // The sequence sets the process-wide flag and leaves it set, as a process would; the
    // next test in this process starts from a tray monitor again.
    ~EntrySequenceTest() override {
        StartedAsHelper = false;
        ForgetProcessTokenFacts();
    }
    int Run(const std::vector<std::string>& parameters) {
        return RunEntrySequence(host, parameters);
    }
    // The log's lines without their timestamps.
    std::vector<std::string> LogTexts() {
        std::vector<std::string> texts;
        for (const auto& line : sim.LinesOf(kLogFile)) {
            const auto separator = line.find(" - ");
            texts.push_back(separator == std::string::npos ? line : line.substr(separator + 3));
        }
        return texts;
    }
    RecordingHost host{sim};
};

TEST_F(EntrySequenceTest, TrayMonitorWritesTheStartLinesInOrderAndEndsInOrder) {
    EXPECT_EQ(Run({}), 0);
    EXPECT_THAT(LogTexts(), ElementsAre("Start logging on machine PC7.", "Versie: 1.2.3.4",
                                        "Mode = csNormal", "Stopped logging"));
    EXPECT_THAT(host.calls, ElementsAre("Initialize", "SetTitle Driveward", "Taskbar", "Run 0",
                                        "DestroyWindows"));
    // Windows go first, while the log still exists; then the log and the settings.
    EXPECT_TRUE(host.logExistedAtDestroy);
    EXPECT_EQ(host.logLinesAtDestroy, 3u);
    EXPECT_EQ(Log, nullptr);
    EXPECT_TRUE(sim.mutexes.count("Tarnvik - Driveward"));
    EXPECT_FALSE(host.helperFlagWhileRunning);
}

TEST_F(EntrySequenceTest, DebugModeAddsThePrivilegeLineAndTheLogGoesToLogPath) {
    sim.profileValues[{kIni, "GENERAL", "DEBUG"}] = "1";
    sim.profileValues[{kIni, "GENERAL", "LogPath"}] = "D:\\Logs";
    sim.directories.insert("D:");
    EXPECT_EQ(Run({"3"}), 0);
    EXPECT_EQ(sim.LinesOf(kLogFile).size(), 0u);
    const auto lines = sim.LinesOf("D:\\Logs\\Driveward client\\20110315.txt");
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[2], "15-3-2011 10:38:48 - TokenPrivilege set to SeDebugPrivilege");
    EXPECT_EQ(lines[3], "15-3-2011 10:38:48 - Token: elevated, member of Administrators.");
    EXPECT_EQ(lines[4], "15-3-2011 10:38:48 - Start as helper");
    EXPECT_EQ(lines[5], "15-3-2011 10:38:48 - Stopped logging");
}

TEST_F(EntrySequenceTest, APrivilegeThatCannotBeEnabledIsOneErrorLineAndStartUpGoesOn) {
    sim.heldPrivileges.clear();
    EXPECT_EQ(Run({}), 0);
    EXPECT_THAT(LogTexts(), ElementsAre("Start logging on machine PC7.", "Versie: 1.2.3.4",
                                        "Error: 1300 - Not all privileges or groups referenced are "
                                        "assigned to the caller",
                                        "Error nr: 1300", "Mode = csNormal", "Stopped logging"));
}

// The token is read once, before the first line, and tells the log how its writer stands;
// debug mode names it after the privilege step, whose failure a standard account expects.
TEST_F(EntrySequenceTest, TheTokenFactsAreReadOnceBeforeTheFirstLine) {
    sim.profileValues[{kIni, "GENERAL", "DEBUG"}] = "1";
    struct Account {
        bool elevated;
        bool administrator;
        bool system;
        const char* line;
        bool writerElevated;
    };
    const Account accounts[] = {
        {true, true, false, "Token: elevated, member of Administrators.", true},
        {false, false, false, "Token: not elevated, not a member of Administrators.", false},
        // A helper: SYSTEM, whatever its restricted token says about elevation.
        {false, false, true, "Token: SYSTEM, not elevated, not a member of Administrators.", true},
        {true, false, false, "Token: elevated, not a member of Administrators.", true}};
    for (const auto& account : accounts) {
        SCOPED_TRACE(account.line);
        sim.files.clear();
        sim.tokenFactsReads = 0;
        sim.tokenElevated = account.elevated;
        sim.tokenInAdministrators = account.administrator;
        sim.tokenUserIsSystem = account.system;
        if (!account.administrator) {
            sim.heldPrivileges.clear(); // a standard account holds no SeDebugPrivilege
        }
        Run({"1"});
        EXPECT_EQ(sim.tokenFactsReads, 1);
        EXPECT_EQ(host.writerElevatedWhileRunning, account.writerElevated);
        EXPECT_EQ(ProcessTokenFacts().Privileged(), account.writerElevated);
        const auto texts = LogTexts();
        ASSERT_GE(texts.size(), 4u);
        EXPECT_EQ(texts[texts.size() - 4], account.line);
    }
    EXPECT_THAT(LogTexts(),
                ElementsAre("Start logging on machine PC7.", "Versie: 1.2.3.4",
                            "Error: 1300 - Not all privileges or groups referenced are "
                            "assigned to the caller",
                            "Error nr: 1300", "Token: elevated, not a member of Administrators.",
                            "Start as helper", "Mode = cShowWarning", "Stopped logging"));
}

TEST_F(EntrySequenceTest, ATokenThatCannotBeOpenedReportsItsOwnCode) {
    sim.openTokenError = 5;
    Run({"1"});
    EXPECT_THAT(LogTexts(),
                ElementsAre("Start logging on machine PC7.", "Versie: 1.2.3.4",
                            "Error: 5 - Access is denied", "Error nr: 5", "Start as helper",
                            "Mode = cShowWarning", "Stopped logging"));
    // Facts that cannot be read keep the log's rules for an elevated writer.
    EXPECT_FALSE(ProcessTokenFacts().Known);
    EXPECT_TRUE(host.writerElevatedWhileRunning);
}

TEST_F(EntrySequenceTest, ASecondTrayMonitorIsRefusedWithTheMessageAndExitsZero) {
    sim.mutexes.insert("Tarnvik - Driveward");
    EXPECT_EQ(Run({}), 0);
    EXPECT_THAT(sim.messageBoxes,
                ElementsAre(std::make_pair(std::string("Driveward"),
                                           std::string("Driveward is already running."))));
    EXPECT_THAT(LogTexts(),
                ElementsAre("Start logging on machine PC7.", "Versie: 1.2.3.4", "Stopped logging"));
    EXPECT_THAT(host.calls,
                ElementsAre("Initialize", "SetTitle Driveward", "Taskbar", "DestroyWindows"));
}

TEST_F(EntrySequenceTest, AMutexThatCannotBeCreatedAlsoRefusesTheTrayMonitor) {
    sim.mutexCreationFails = true;
    EXPECT_EQ(Run({}), 0);
    EXPECT_EQ(sim.messageBoxes.size(), 1u);
    EXPECT_EQ(LogTexts().back(), "Stopped logging");
    EXPECT_EQ(LogTexts().size(), 3u);
}

TEST_F(EntrySequenceTest, HelpersTakeNoLockAndRunBesideATrayMonitor) {
    sim.mutexes.insert("Tarnvik - Driveward");
    EXPECT_EQ(Run({"2"}), 0);
    EXPECT_TRUE(sim.messageBoxes.empty());
    EXPECT_THAT(LogTexts(),
                ElementsAre("Start logging on machine PC7.", "Versie: 1.2.3.4", "Start as helper",
                            "Mode = cShowDevices", "Stopped logging"));
    EXPECT_TRUE(host.helperFlagWhileRunning);
    EXPECT_EQ(sim.mutexes.size(), 1u);
}

TEST_F(EntrySequenceTest, AParameterThatSelectsNoModeEndsAfterStartAsHelper) {
    for (const std::string parameter : {"3", "01", "1.0", " 1", "", "1 "}) {
        sim.files.clear();
        host.calls.clear();
        EXPECT_EQ(Run({parameter}), 0) << parameter;
        EXPECT_EQ(LogTexts().size(), 4u) << '"' << parameter << '"';
        EXPECT_EQ(LogTexts()[2], "Start as helper");
        EXPECT_THAT(host.calls,
                    ElementsAre("Initialize", "SetTitle Driveward", "Taskbar", "DestroyWindows"));
        EXPECT_TRUE(sim.mutexes.empty());
        EXPECT_TRUE(StartedAsHelper);
    }
}

TEST_F(EntrySequenceTest, LostLinesGiveOneWarningPerReasonNamingTheFolder) {
    const std::string folder = "\\\\server\\logs\\Driveward client";
    host.whileRunning = [&] {
        // As the log tells it: at each first loss of a reason; a repeat is not reported.
        for (int round = 0; round < 2; ++round) {
            for (const auto reason :
                 {LogLossReason::FolderRefused, LogLossReason::FolderMissing,
                  LogLossReason::FolderUnwritable, LogLossReason::FileRefused}) {
                Log->LinesLost(folder, reason);
            }
        }
    };
    Run({});
    const std::string prefix = "W 1030 The log of Driveward client cannot be written in " + folder;
    const std::string suffix = ". Its lines are lost until this is mended.";
    EXPECT_THAT(Events(),
                ElementsAre(prefix +
                                ": the folder is a link, or others than SYSTEM and "
                                "Administrators may change it" +
                                suffix,
                            prefix +
                                ": the drive or share, or a folder on the way, cannot be reached" +
                                suffix,
                            prefix + ": the folder cannot be created or written into" + suffix,
                            prefix +
                                ": the day's file is a link, has more than one name, or cannot "
                                "be opened" +
                                suffix));
    // The daily log is as it always was.
    EXPECT_THAT(LogTexts(), ElementsAre("Start logging on machine PC7.", "Versie: 1.2.3.4",
                                        "Mode = csNormal", "Stopped logging"));
}

TEST(ChooseStartMode, OnlyTheFirstParameterCountsByteForByte) {
    EXPECT_EQ(ChooseStartMode({}), csNormal);
    EXPECT_EQ(ChooseStartMode({"1"}), cShowWarning);
    EXPECT_EQ(ChooseStartMode({"2"}), cShowDevices);
    EXPECT_EQ(ChooseStartMode({"1", "2"}), cShowWarning);
    EXPECT_EQ(ChooseStartMode({"2", "1"}), cShowDevices);
    for (const char* other : {"3", "01", "1.0", " 1", "1 ", "", "one", "-1"}) {
        EXPECT_EQ(ChooseStartMode({other}), std::nullopt) << '"' << other << '"';
    }
}

} // namespace
