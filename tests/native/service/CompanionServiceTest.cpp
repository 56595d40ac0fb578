#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "SimulatedMachineTest.h"
#include "companion/CompanionServiceUnit.h"
#include "foundation/LogUnit.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

const char* const kServiceLog = "C:\\Program Files\\Driveward\\Driveward service\\20110315.txt";
const char* const kHelper = "C:\\Program Files\\Driveward\\Driveward.exe";

// Records what the service asks of the system and answers as scripted.
class FakeLauncher : public HelperLauncher {
public:
    HelperStart StartHelper(const std::string& helperPath, const std::string& parameter,
                            std::uint32_t sessionId) override {
        starts.push_back(helperPath + "|" + parameter + "|" + std::to_string(sessionId));
        if (startFailure) {
            return HelperStart{startFailure, 0};
        }
        running.push_back(parameter);
        return HelperStart{std::nullopt, nextProcessId++};
    }
    std::vector<HelperEnd> EndHelpers() override {
        ++endCalls;
        running.clear();
        return endResults;
    }
    bool HelperRunning(const std::string& parameter) override {
        return std::find(running.begin(), running.end(), parameter) != running.end();
    }
    std::uint32_t ActiveConsoleSessionId() override { return consoleSession; }

    std::vector<std::string> starts;
    std::vector<std::string> running;
    std::optional<SystemFailure> startFailure;
    std::vector<HelperEnd> endResults;
    int endCalls = 0;
    std::uint32_t nextProcessId = 400;
    std::uint32_t consoleSession = 1;
};

class CompanionServiceTest : public SimulatedMachineTest {
protected:
    CompanionServiceTest() {
        sim.systemMessages[5] = "Access is denied.\r\n";
        sim.systemMessages[258] = "The wait operation timed out.\r\n";
        Log = std::make_unique<TLog>(kServiceLogSourceName);
        Log->LogPath = "C:\\Program Files\\Driveward";
    }
    ~CompanionServiceTest() override {
        Log->LogPath.clear();
        Log.reset();
    }
    std::vector<std::string> LogTexts() {
        std::vector<std::string> texts;
        for (const auto& line : sim.LinesOf(kServiceLog)) {
            const auto separator = line.find(" - ");
            texts.push_back(separator == std::string::npos || line.rfind("Error nr", 0) == 0
                                ? line
                                : line.substr(separator + 3));
        }
        return texts;
    }
    FakeLauncher launcher;
    TCompanionService service{launcher, kHelper};
};

TEST_F(CompanionServiceTest, TheCodesStartTheHelpersAndEndThem) {
    launcher.endResults = {HelperEnd{400, std::nullopt}, HelperEnd{401, std::nullopt}};
    EXPECT_TRUE(service.Control(133));
    EXPECT_TRUE(service.Control(134));
    EXPECT_TRUE(service.Control(135));
    EXPECT_THAT(launcher.starts,
                ElementsAre(std::string(kHelper) + "|1|1", std::string(kHelper) + "|2|1"));
    EXPECT_EQ(launcher.endCalls, 1);
    EXPECT_THAT(LogTexts(),
                ElementsAre("Warning screen requested.",
                            "Helper started: \"C:\\Program Files\\Driveward\\Driveward.exe\" 1 in "
                            "session 1, process 400.",
                            "Deviceslist requested.",
                            "Helper started: \"C:\\Program Files\\Driveward\\Driveward.exe\" 2 in "
                            "session 1, process 401.",
                            "Session unlocked, ending the helpers.", "Helper 400 ended.",
                            "Helper 401 ended."));
}

TEST_F(CompanionServiceTest, AnUnknownCodeIsRefusedAndLogged) {
    EXPECT_FALSE(service.Control(200));
    EXPECT_FALSE(service.Control(1));
    EXPECT_THAT(launcher.starts, IsEmpty());
    EXPECT_THAT(LogTexts(), ElementsAre("Control code 200 ignored.", "Control code 1 ignored."));
}

TEST_F(CompanionServiceTest, TheHelperGoesToTheMostRecentlyLockedSessionStillLocked) {
    launcher.consoleSession = 1;
    EXPECT_EQ(service.TargetSession(), 1u);
    service.SessionChanged(kSessionLockEvent, 2);
    service.SessionChanged(kSessionLockEvent, 3);
    EXPECT_EQ(service.TargetSession(), 3u);
    service.SessionChanged(kSessionLockEvent, 2); // locked again: the most recent once more
    EXPECT_EQ(service.TargetSession(), 2u);
    service.SessionChanged(kSessionUnlockEvent, 2);
    EXPECT_EQ(service.TargetSession(), 3u);
    service.SessionChanged(5, 3); // a logon changes nothing
    EXPECT_EQ(service.TargetSession(), 3u);
    service.SessionChanged(kSessionLogoffEvent, 3);
    EXPECT_EQ(service.TargetSession(), 1u);
    service.SessionChanged(kSessionLockEvent, 4);
    service.Control(133);
    EXPECT_THAT(launcher.starts, ElementsAre(std::string(kHelper) + "|1|4"));
    EXPECT_THAT(LogTexts(),
                ElementsAre("Session 2 locked.", "Session 3 locked.", "Session 2 locked.",
                            "Session 2 unlocked.", "Session 3 logged off.", "Session 4 locked.",
                            "Warning screen requested.",
                            "Helper started: \"C:\\Program Files\\Driveward\\Driveward.exe\" 1 in "
                            "session 4, process 400."));
}

TEST_F(CompanionServiceTest, ARepeatedCodeDoesNotPileUpHelpers) {
    service.Control(133);
    service.Control(133);
    service.Control(134);
    service.Control(135);
    service.Control(133);
    EXPECT_EQ(launcher.starts.size(), 3u);
    const auto texts = LogTexts();
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "Helper 1 still shown."), 1);
}

TEST_F(CompanionServiceTest, FailuresAreLoggedWithTheFailedCallAndTheServiceGoesOn) {
    launcher.startFailure = SystemFailure{"CreateProcessAsUser", 5};
    EXPECT_TRUE(service.Control(133));
    launcher.startFailure.reset();
    launcher.consoleSession = kNoSession; // nobody at the console, no session locked
    EXPECT_TRUE(service.Control(134));
    launcher.endResults = {HelperEnd{400, SystemFailure{"Waiting for the helper to end", 258}}};
    EXPECT_TRUE(service.Control(135));
    EXPECT_THAT(LogTexts(),
                ElementsAre("Warning screen requested.",
                            "Error: 5 - CreateProcessAsUser failed: Access is denied",
                            "Error nr: 5", "Deviceslist requested.",
                            "Error: No session to show the helper in.",
                            "Session unlocked, ending the helpers.",
                            "Error: 258 - Waiting for the helper to end failed: The wait "
                            "operation timed out",
                            "Error nr: 258"));
    EXPECT_EQ(launcher.starts.size(), 1u);
}

TEST_F(CompanionServiceTest, StoppingEndsTheHelpers) {
    service.Control(133);
    launcher.endResults = {HelperEnd{400, std::nullopt}};
    service.Stopping();
    EXPECT_EQ(launcher.endCalls, 1);
    EXPECT_EQ(LogTexts().back(), "Helper 400 ended.");
}

TEST_F(CompanionServiceTest, TheHelperIsTheSiblingNamedByItsFullQuotedPath) {
    EXPECT_EQ(HelperPathBeside("C:\\Program Files\\Driveward\\DrivewardService.exe"),
              "C:\\Program Files\\Driveward\\Driveward.exe");
    EXPECT_EQ(HelperCommandLine("C:\\Program Files\\Driveward\\Driveward.exe", "2"),
              "\"C:\\Program Files\\Driveward\\Driveward.exe\" 2");
}

} // namespace
