#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "SimulatedMachineTest.h"
#include "companion/CompanionServiceUnit.h"
#include "companion/HelperTokenRules.h"
#include "foundation/LogUnit.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

const char* const kServiceLog = "C:\\Program Files\\Driveward\\Driveward service\\20110315.txt";
const char* const kHelper = "C:\\Program Files\\Driveward\\Driveward.exe";

// Records what the service asks of the system and answers as scripted. Without
// sessionFlags the system cannot say whether a session is locked (as under Wine).
class FakeLauncher : public HelperLauncher {
public:
    HelperStart StartHelper(const std::string& parameter, std::uint32_t sessionId) override {
        starts.push_back(parameter + "|" + std::to_string(sessionId));
        if (startFailure) {
            return HelperStart{startFailure, 0, ""};
        }
        running.push_back({parameter, sessionId, nextProcessId});
        return HelperStart{std::nullopt, nextProcessId++, "job"};
    }
    std::vector<HelperEnd> EndHelpers(std::optional<std::uint32_t> sessionId) override {
        std::vector<HelperEnd> ended;
        std::erase_if(running, [&](const Running& helper) {
            if (sessionId && helper.session != *sessionId) {
                return false;
            }
            ended.push_back(HelperEnd{helper.processId, endFailure});
            return true;
        });
        return ended;
    }
    bool HelperRunning(const std::string& parameter, std::uint32_t sessionId) override {
        return std::any_of(running.begin(), running.end(), [&](const Running& helper) {
            return helper.parameter == parameter && helper.session == sessionId;
        });
    }
    std::vector<std::uint32_t> HelperSessions() override {
        std::vector<std::uint32_t> sessions;
        for (const auto& helper : running) {
            sessions.push_back(helper.session);
        }
        return sessions;
    }
    std::optional<std::int32_t> SessionFlags(std::uint32_t sessionId) override {
        const auto found = sessionFlags.find(sessionId);
        return found == sessionFlags.end() ? std::nullopt : std::optional(found->second);
    }
    std::uint32_t ActiveConsoleSessionId() override { return consoleSession; }
    bool LockStateReported() override { return lockReported; }

    struct Running {
        std::string parameter;
        std::uint32_t session = 0;
        std::uint32_t processId = 0;
    };
    std::vector<std::string> starts;
    std::vector<Running> running;
    std::optional<SystemFailure> startFailure;
    std::optional<SystemFailure> endFailure;
    std::map<std::uint32_t, std::int32_t> sessionFlags;
    std::uint32_t nextProcessId = 400;
    std::uint32_t consoleSession = 1;
    bool lockReported = false;
};

constexpr std::int32_t kLocked = 0;
constexpr std::int32_t kUnlocked = 1;

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
    EXPECT_TRUE(service.Control(133));
    EXPECT_TRUE(service.Control(134));
    EXPECT_TRUE(service.Control(135));
    EXPECT_THAT(launcher.starts, ElementsAre("1|1", "2|1"));
    EXPECT_THAT(launcher.running, IsEmpty());
    EXPECT_THAT(LogTexts(),
                ElementsAre("Warning screen requested.",
                            "Helper started: \"C:\\Program Files\\Driveward\\Driveward.exe\" 1 in "
                            "session 1, process 400.",
                            "Helper 400 contained: job.", "Deviceslist requested.",
                            "Helper started: \"C:\\Program Files\\Driveward\\Driveward.exe\" 2 in "
                            "session 1, process 401.",
                            "Helper 401 contained: job.", "Session unlocked, ending the helpers.",
                            "Helper 400 ended.", "Helper 401 ended."));
    EXPECT_THAT(Events(),
                ElementsAre("I 1020 The service showed the warning over locked session 1: "
                            "process 400, contained: job.",
                            "I 1021 The service showed the device list over locked session 1: "
                            "process 401, contained: job."));
}

TEST_F(CompanionServiceTest, AnUnknownCodeIsRefusedAndLogged) {
    EXPECT_FALSE(service.Control(200));
    EXPECT_FALSE(service.Control(1));
    EXPECT_THAT(launcher.starts, IsEmpty());
    EXPECT_THAT(LogTexts(), ElementsAre("Control code 200 ignored.", "Control code 1 ignored."));
}

TEST_F(CompanionServiceTest, TheSessionFlagsSayLockedWithWindows7sInversion) {
    EXPECT_EQ(LockStateOf(0, false), SessionLock::Locked);
    EXPECT_EQ(LockStateOf(1, false), SessionLock::Unlocked);
    EXPECT_EQ(LockStateOf(1, true), SessionLock::Locked);
    EXPECT_EQ(LockStateOf(0, true), SessionLock::Unlocked);
    EXPECT_EQ(LockStateOf(-1, false), SessionLock::Unknown);
    EXPECT_EQ(LockStateOf(std::nullopt, true), SessionLock::Unknown);
}

TEST_F(CompanionServiceTest, AHelperIsShownOnlyInASessionTheSystemReportsLocked) {
    // The system cannot report lock state at all (before Windows 7, Wine): the console's.
    EXPECT_EQ(service.TargetSession(), 1u);
    // One that can but did not read the console's, or read it as unknown: nowhere.
    launcher.lockReported = true;
    EXPECT_EQ(service.TargetSession(), std::nullopt);
    launcher.sessionFlags[1] = -1; // WTS_SESSIONSTATE_UNKNOWN
    EXPECT_EQ(service.TargetSession(), std::nullopt);
    launcher.sessionFlags[1] = kLocked;
    EXPECT_EQ(service.TargetSession(), 1u);
    launcher.lockReported = false;
    launcher.sessionFlags.clear();
    // It says the console is not locked, and no lock was notified: nowhere.
    launcher.sessionFlags[1] = kUnlocked;
    EXPECT_EQ(service.TargetSession(), std::nullopt);
    service.Control(133);
    EXPECT_THAT(launcher.starts, IsEmpty());
    EXPECT_EQ(LogTexts().back(), "Error: No locked session to show the helper in.");
    // The service started after the lock: the console's session, reported locked.
    launcher.sessionFlags[1] = kLocked;
    EXPECT_EQ(service.TargetSession(), 1u);

    // Two sessions: the most recently locked one that the system still reports locked.
    launcher.sessionFlags[2] = kLocked;
    launcher.sessionFlags[3] = kLocked;
    service.SessionChanged(kSessionLockEvent, 2);
    service.SessionChanged(kSessionLockEvent, 3);
    EXPECT_EQ(service.TargetSession(), 3u);
    launcher.sessionFlags[3] = kUnlocked; // unlocked, its notification not yet seen
    EXPECT_EQ(service.TargetSession(), 2u);
    service.SessionChanged(kSessionLockEvent, 3);
    launcher.sessionFlags[3] = kLocked;
    service.SessionChanged(kSessionUnlockEvent, 2);
    EXPECT_EQ(service.TargetSession(), 3u);
    service.SessionChanged(5, 3); // a logon changes nothing
    EXPECT_EQ(service.TargetSession(), 3u);
    service.SessionChanged(kSessionLogoffEvent, 3);
    launcher.sessionFlags[1] = kUnlocked;
    EXPECT_EQ(service.TargetSession(), std::nullopt);
    // A notified lock that the system cannot confirm is not enough when the console's
    // session is reported unlocked.
    service.SessionChanged(kSessionLockEvent, 4);
    EXPECT_EQ(service.TargetSession(), std::nullopt);
    launcher.sessionFlags[4] = kLocked;
    service.Control(133);
    EXPECT_THAT(launcher.starts, ElementsAre("1|4"));

    std::vector<std::string> sessionLines;
    for (const auto& text : LogTexts()) {
        if (text.rfind("Session ", 0) == 0) {
            sessionLines.push_back(text);
        }
    }
    EXPECT_THAT(sessionLines,
                ElementsAre("Session 2 locked.", "Session 3 locked.", "Session 3 locked.",
                            "Session 2 unlocked.", "Session 3 logged off.", "Session 4 locked."));
}

TEST_F(CompanionServiceTest, OneHelperPerSessionAndKindAndEachEndsWithItsSession) {
    launcher.sessionFlags = {{1, kUnlocked}, {2, kLocked}, {3, kLocked}};
    service.SessionChanged(kSessionLockEvent, 2);
    service.Control(133);
    service.Control(133); // still shown in session 2
    service.Control(134);
    service.SessionChanged(kSessionLockEvent, 3);
    service.Control(133);
    EXPECT_THAT(launcher.starts, ElementsAre("1|2", "2|2", "1|3"));
    const auto texts = LogTexts();
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "Helper 1 still shown."), 1);

    // 135 from session 2's client: only the sessions no longer locked lose their helpers.
    launcher.sessionFlags[2] = kUnlocked;
    service.Control(135);
    ASSERT_EQ(launcher.running.size(), 1u);
    EXPECT_EQ(launcher.running[0].session, 3u);
    EXPECT_EQ(LogTexts().back(), "Helper 401 ended.");
    // Session 3's own notification ends its helper without a 135.
    service.SessionChanged(kSessionLogoffEvent, 3);
    EXPECT_THAT(launcher.running, IsEmpty());
    EXPECT_EQ(LogTexts().back(), "Helper 402 ended.");
}

TEST_F(CompanionServiceTest, FailuresAreLoggedWithTheFailedCallAndTheServiceGoesOn) {
    launcher.startFailure = SystemFailure{"CreateProcessAsUser", 5};
    EXPECT_TRUE(service.Control(133));
    launcher.startFailure.reset();
    launcher.consoleSession = kNoSession; // nobody at the console, no session locked
    EXPECT_TRUE(service.Control(134));
    launcher.consoleSession = 1;
    service.Control(133);
    launcher.endFailure = SystemFailure{"Waiting for the helper to end", 258};
    EXPECT_TRUE(service.Control(135));
    const auto texts = LogTexts();
    EXPECT_THAT(std::vector(texts.begin(), texts.begin() + 5),
                ElementsAre("Warning screen requested.",
                            "Error: 5 - CreateProcessAsUser failed: Access is denied",
                            "Error nr: 5", "Deviceslist requested.",
                            "Error: No locked session to show the helper in."));
    EXPECT_THAT(std::vector(texts.end() - 3, texts.end()),
                ElementsAre("Session unlocked, ending the helpers.",
                            "Error: 258 - Waiting for the helper to end failed: The wait "
                            "operation timed out",
                            "Error nr: 258"));
    EXPECT_THAT(
        Events(),
        ElementsAre("E 1022 The service did not show the warning: it could not be started "
                    "contained: 5 - CreateProcessAsUser failed.",
                    "E 1022 The service did not show the device list: no session is locked.",
                    "I 1020 The service showed the warning over locked session 1: "
                    "process 400, contained: job."));
}

TEST_F(CompanionServiceTest, StoppingEndsTheHelpersOfEverySession) {
    launcher.sessionFlags = {{1, kLocked}, {2, kLocked}};
    service.Control(133);
    service.SessionChanged(kSessionLockEvent, 2);
    service.Control(134);
    service.Stopping();
    EXPECT_THAT(launcher.running, IsEmpty());
    EXPECT_EQ(LogTexts().back(), "Helper 401 ended.");
}

TEST_F(CompanionServiceTest, AnAccessListOpenToOthersRefusesHelpersButStillEndsThem) {
    using platform::AccessEntry;
    using platform::Trustee;
    // As the service sets it: owner Administrators, OWNER RIGHTS read-control, interactive
    // users query, start and the codes, service logons query and read.
    const platform::AccessList restricted{
        true,
        {AccessEntry{Trustee::System, 0x201B4, "S-1-5-18"},
         AccessEntry{Trustee::Administrators, 0xF01FF, "S-1-5-32-544"},
         AccessEntry{Trustee::Other, 0x20000, "S-1-3-4"},
         AccessEntry{Trustee::Other, kInteractiveUserServiceRights, "S-1-5-4"},
         AccessEntry{Trustee::Other, 0x2008D, "S-1-5-6"}},
        Trustee::Administrators,
        "S-1-5-32-544"};
    service.AccessListChecked(restricted);
    service.Control(133); // a standard account's tray monitor may send it
    EXPECT_EQ(launcher.starts.size(), 1u);

    // Each guarded right beyond start and the codes held by interactive users (a generic
    // one included), the codes held by anyone else, the owner's rights widened, another
    // owner, no DACL at all, or no list read back: refused.
    struct Widening {
        std::size_t entry;
        std::uint32_t right;
    };
    std::vector<Widening> widenings;
    for (const std::uint32_t right : {0x20u, 0x2u, 0x40u, 0x40000u, 0x80000u, 0x10000u, 0x10000000u,
                                      0x20000000u, 0x40000000u}) {
        widenings.push_back({3, right});
    }
    widenings.push_back({4, 0x100});   // service logons may not send codes
    widenings.push_back({2, 0x40000}); // OWNER RIGHTS: read-control only
    std::vector<std::optional<platform::AccessList>> refused;
    for (const auto& widening : widenings) {
        platform::AccessList open = restricted;
        open.allowed[widening.entry].mask |= widening.right;
        refused.push_back(open);
    }
    for (const auto& [owner, sid] :
         {std::pair(Trustee::System, "S-1-5-18"), std::pair(Trustee::Other, "S-1-5-4"),
          std::pair(Trustee::Other, "")}) {
        platform::AccessList owned = restricted;
        owned.owner = owner;
        owned.ownerSid = sid;
        refused.push_back(owned);
    }
    platform::AccessList nullDacl = restricted;
    nullDacl.hasDacl = false;
    refused.push_back(nullDacl);
    refused.push_back(std::nullopt);
    for (const auto& list : refused) {
        TCompanionService refusing(launcher, kHelper);
        refusing.AccessListChecked(list);
        refusing.Control(133);
        refusing.Control(134);
        EXPECT_EQ(launcher.starts.size(), 1u) << refused.size();
        refusing.Control(135);
        EXPECT_THAT(launcher.running, IsEmpty()); // 135 is still honoured
        launcher.running.push_back({"1", 1, 400});
    }
    const auto texts = LogTexts();
    for (const char* reason :
         {"not only SYSTEM and Administrators may control the service: "
          "S-1-5-4 holds 0x20.",
          "not only SYSTEM and Administrators may control the service: "
          "S-1-5-6 holds 0x100.",
          "its owner is not Administrators but S-1-5-18.",
          "its owner is not Administrators but nobody.", "it could not be set and read back."}) {
        EXPECT_THAT(texts, ::testing::Contains(std::string("Error: The service's access list is "
                                                           "not safe, no helper will be shown: ") +
                                               reason));
    }
    EXPECT_EQ(std::count(texts.begin(), texts.end(),
                         "Error: Refused: the service's access list is not safe."),
              static_cast<long>(2 * refused.size()));
    const auto events = Events();
    EXPECT_EQ(std::count(events.begin(), events.end(),
                         "E 1022 The service did not show the device list: the service's access "
                         "list is not safe."),
              static_cast<long>(refused.size()));
}

// The helper's token as read back: Administrators, if there at all, deny-only and not
// enabled; no privilege but change-notify.
TEST(HelperTokenRulesTest, OnlyDenyOnlyAdministratorsAndChangeNotifyPass) {
    const TokenGroup everyone{"S-1-1-0", 0x7};
    const TokenGroup denyOnly{kAdministratorsSid, kGroupUseForDenyOnly};
    EXPECT_EQ(HelperTokenRefusal({{everyone, denyOnly}, {kChangeNotifyPrivilege}}), std::nullopt);
    EXPECT_EQ(HelperTokenRefusal({{everyone}, {}}), std::nullopt);
    struct Case {
        std::uint32_t administrators;
        std::vector<std::string> privileges;
        const char* refusal;
    };
    const Case cases[] = {
        // SYSTEM's own: mandatory, enabled by default, enabled, owner.
        {0xF, {kChangeNotifyPrivilege}, "S-1-5-32-544 is not deny-only (attributes 0xF)"},
        {0x14, {}, "S-1-5-32-544 is not deny-only (attributes 0x14)"},
        {0x0, {}, "S-1-5-32-544 is not deny-only (attributes 0x0)"}, // could be enabled again
        {0x10, {kChangeNotifyPrivilege, "SeDebugPrivilege"}, "it holds SeDebugPrivilege"},
        {0x10, {"SeTcbPrivilege"}, "it holds SeTcbPrivilege"}};
    for (const auto& c : cases) {
        EXPECT_EQ(
            HelperTokenRefusal({{everyone, {kAdministratorsSid, c.administrators}}, c.privileges}),
            c.refusal);
    }
}

TEST_F(CompanionServiceTest, TheHelperIsTheSiblingNamedByItsFullQuotedPath) {
    EXPECT_EQ(HelperPathBeside("C:\\Program Files\\Driveward\\DrivewardService.exe"),
              "C:\\Program Files\\Driveward\\Driveward.exe");
    EXPECT_EQ(HelperCommandLine("C:\\Program Files\\Driveward\\Driveward.exe", "2"),
              "\"C:\\Program Files\\Driveward\\Driveward.exe\" 2");
}

} // namespace
