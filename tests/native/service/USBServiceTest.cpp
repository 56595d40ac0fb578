#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <numeric>

#include "SimulatedMachineTest.h"
#include "client/EntrySequence.h"
#include "companion/CompanionServiceUnit.h"
#include "foundation/LogUnit.h"
#include "service/USBServiceUnit.h"

namespace {

using platform::SimulatedServiceManager;
using ::testing::ElementsAre;
using Call = SimulatedServiceManager::Call;

const char* const kLogFile = "C:\\Program Files\\Driveward\\Driveward client\\20110315.txt";
constexpr std::uint32_t kStopped = 1, kStartPending = 2, kStopPending = 3, kRunning = 4;

class USBServiceTest : public SimulatedMachineTest {
protected:
    USBServiceTest() {
        sim.systemMessages[1053] = "The service did not respond to the start or control request "
                                   "in a timely fashion.\r\n";
        sim.systemMessages[1056] = "An instance of the service is already running.\r\n";
        sim.systemMessages[1060] = "The specified service does not exist as an installed "
                                   "service.\r\n";
        sim.systemMessages[1062] = "The service has not been started.\r\n";
        Log = std::make_unique<TLog>("Driveward client");
        Log->LogPath = "C:\\Program Files\\Driveward";
    }
    ~USBServiceTest() override { Log.reset(); }
    platform::SimulatedService& Installed() { return services().Install("DrivewardService"); }
    SimulatedServiceManager& services() { return sim.serviceManager; }
    // The log's lines without their timestamps; an error line spans two.
    std::vector<std::string> LogTexts() {
        std::vector<std::string> texts;
        for (const auto& line : sim.LinesOf(kLogFile)) {
            const auto separator = line.find(" - ");
            texts.push_back(separator == std::string::npos || line.rfind("Error nr", 0) == 0
                                ? line
                                : line.substr(separator + 3));
        }
        return texts;
    }
    void ExpectAllHandlesClosed() {
        EXPECT_EQ(services().openManagerHandles, 0);
        EXPECT_EQ(services().openServiceHandles, 0);
    }
    static platform::ServiceStatus S(std::uint32_t state, std::uint32_t checkPoint = 0,
                                     std::uint32_t waitHint = 0) {
        return SimulatedServiceManager::Status(state, checkPoint, waitHint);
    }
    // One operation by its short name: send (133), query, start, stop.
    bool Run(const std::string& operation) {
        if (operation == "send") {
            return service.SendControlCode(133);
        }
        if (operation == "query") {
            TServiceState state = ssPaused;
            return service.QueryState(state);
        }
        return operation == "start" ? service.StartAndWait() : service.StopAndWait();
    }
    TUSBService service;
};

// Each operation, each call of it failing in turn: false, one error line with the code of
// the failed call and its prefix, and every opened handle closed again, service first.
TEST_F(USBServiceTest, EveryFailingCallGivesOneErrorLineAndClosesTheHandles) {
    struct Case {
        const char* operation;
        Call call;
        int successesFirst;
        std::uint32_t error;
        const char* expectedLine;
        int handlesOpened;
    };
    const std::vector<Case> cases = {
        {"send", Call::OpenSCManager, 0, 5,
         "5 - StartService OpenSCManager failed: Access is denied", 0},
        {"send", Call::OpenService, 0, 5, "5 - StartService OpenService failed: Access is denied",
         1},
        {"send", Call::ControlService, 0, 1062,
         "1062 - ControlService failed: The service has not been started", 2},
        {"query", Call::OpenSCManager, 0, 5,
         "5 - StartService OpenSCManager failed: Access is denied", 0},
        {"query", Call::OpenService, 0, 5, "5 - StartService OpenService failed: Access is denied",
         1},
        {"query", Call::QueryServiceStatus, 0, 5, "5 - QueryServiceStatus failed: Access is denied",
         2},
        {"start", Call::OpenSCManager, 0, 5,
         "5 - StartService OpenSCManager failed: Access is denied", 0},
        {"start", Call::OpenService, 0, 5, "5 - StartService OpenService failed: Access is denied",
         1},
        {"start", Call::StartService, 0, 1056,
         "1056 - StartService failed: An instance of the service is already running", 2},
        {"start", Call::QueryServiceStatus, 0, 5, "5 - QueryServiceStatus failed: Access is denied",
         2},
        {"start", Call::QueryServiceStatus, 1, 5, "5 - QueryServiceStatus failed: Access is denied",
         2},
        {"stop", Call::OpenSCManager, 0, 5,
         "5 - StartService OpenSCManager failed: Access is denied", 0},
        // (Access denied to the stop is no failure: see the rights per operation below.)
        {"stop", Call::OpenService, 0, 1060,
         "1060 - StartService OpenService failed: The specified service does not exist as an "
         "installed service",
         1},
        {"stop", Call::ControlService, 0, 1062,
         "1062 - ControlService failed: The service has not been started", 2},
        {"stop", Call::QueryServiceStatus, 0, 5, "5 - QueryServiceStatus failed: Access is denied",
         2},
        {"stop", Call::QueryServiceStatus, 2, 5, "5 - QueryServiceStatus failed: Access is denied",
         2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.operation) + " " + c.expectedLine);
        sim.files.clear();
        services().calls.clear();
        auto& installed = Installed();
        // Start and stop go through pending states, so that a later status query can fail.
        installed.startScript = {S(kStartPending, 1, 100), S(kStartPending, 2, 100), S(kRunning)};
        installed.stopScript = {S(kStopPending, 2, 100), S(kStopPending, 3, 100), S(kStopped)};
        if (std::string(c.operation) == "stop") {
            installed.status = S(kRunning);
        }
        services().faults = {{c.call, {c.error, c.successesFirst}}};
        services().closeClearsLastError = true; // the line must keep the failed call's code

        EXPECT_FALSE(Run(c.operation));

        EXPECT_THAT(LogTexts(), ElementsAre(std::string("Error: ") + c.expectedLine,
                                            "Error nr: " + std::to_string(c.error)));
        ExpectAllHandlesClosed();
        const auto& calls = services().calls;
        if (c.handlesOpened == 2) {
            EXPECT_THAT(std::vector<std::string>(calls.end() - 2, calls.end()),
                        ElementsAre("CloseServiceHandle service", "CloseServiceHandle manager"));
        } else if (c.handlesOpened == 1) {
            EXPECT_EQ(calls.back(), "CloseServiceHandle manager");
        }
    }
}

// The unlock's code: a service not installed or not running gets one plain line; any
// other failure is still an error.
TEST_F(USBServiceTest, ACodeForARunningServiceOnlyIsNoErrorWhenTheServiceIsAway) {
    const std::pair<Call, std::uint32_t> cases[] = {
        {Call::OpenService, 1060}, {Call::ControlService, 1062}, {Call::OpenService, 5}};
    for (const auto& [call, error] : cases) {
        SCOPED_TRACE(error);
        sim.files.clear();
        Installed().status = S(kRunning);
        services().faults = {{call, {error, 0}}};
        EXPECT_FALSE(service.SendControlCodeIfRunning(135));
        const auto expected =
            error == 5 ? std::vector<std::string>{"Error: 5 - StartService OpenService failed: "
                                                  "Access is denied",
                                                  "Error nr: 5"}
                       : std::vector<std::string>{"Control code 135 not sent: the companion "
                                                  "service is not running (" +
                                                  std::to_string(error) + ")."};
        EXPECT_EQ(LogTexts(), expected);
        ExpectAllHandlesClosed();
    }
    services().faults.clear();
    auto& installed = Installed();
    installed.status = S(kRunning);
    EXPECT_TRUE(service.SendControlCodeIfRunning(135));
    EXPECT_THAT(installed.controlsReceived, ElementsAre(135u));
}

TEST_F(USBServiceTest, OperationsOpenWithOnlyTheRightsTheyUseAndHoldNothingBetweenCalls) {
    auto& installed = Installed();
    installed.status = S(kRunning);
    EXPECT_TRUE(service.SendControlCode(133));
    EXPECT_TRUE(service.SendControlCode(135));
    EXPECT_THAT(installed.controlsReceived, ElementsAre(133u, 135u));
    EXPECT_THAT(services().calls,
                ElementsAre("OpenSCManager 1", "OpenService DrivewardService 100",
                            "ControlService 133", "CloseServiceHandle service",
                            "CloseServiceHandle manager", "OpenSCManager 1",
                            "OpenService DrivewardService 100", "ControlService 135",
                            "CloseServiceHandle service", "CloseServiceHandle manager"));
    ExpectAllHandlesClosed();
    EXPECT_TRUE(LogTexts().empty());
    EXPECT_EQ(service.ServiceName, "DrivewardService");
}

// The rights per operation, and who gets through with them: Administrators everywhere, a
// helper (SYSTEM with Administrators deny-only, so only what the service's access list
// gives SYSTEM, and the manager's rights for others) everywhere too, an interactive user
// (a standard account) everywhere but to the stop, which is one plain line, not an error.
TEST_F(USBServiceTest, EachOperationAsksOnlyForTheRightsItUses) {
    constexpr std::uint32_t kSystemEntry = 0x201B4; // LC RP WP LO CR RC
    struct Case {
        const char* operation;
        const char* serviceRights;
        bool interactiveUserGetsThrough;
    };
    const Case cases[] = {
        {"send", "100", true}, {"query", "4", true}, {"start", "14", true}, {"stop", "24", false}};
    struct Caller {
        const char* name;
        std::uint32_t managerRights;
        std::uint32_t serviceRights;
    };
    const Caller callers[] = {
        {"administrator", platform::kAllManagerRights, platform::kAllServiceRights},
        {"helper", platform::kManagerRightsOfOthers, kSystemEntry},
        {"interactive user", platform::kManagerRightsOfOthers, kInteractiveUserServiceRights}};
    for (const auto& c : cases) {
        for (const auto& caller : callers) {
            SCOPED_TRACE(std::string(c.operation) + " as " + caller.name);
            services().calls.clear();
            auto& installed = Installed();
            installed.status = S(std::string(c.operation) == "start" ? kStopped : kRunning);
            installed.grantedRights = caller.serviceRights;
            services().managerRights = caller.managerRights;
            const bool expected =
                std::string(caller.name) != "interactive user" || c.interactiveUserGetsThrough;
            const std::size_t linesBefore = LogTexts().size();
            EXPECT_EQ(Run(c.operation), expected);
            ASSERT_GE(services().calls.size(), 2u);
            EXPECT_EQ(services().calls[0], "OpenSCManager 1");
            EXPECT_EQ(services().calls[1],
                      std::string("OpenService DrivewardService ") + c.serviceRights);
            ExpectAllHandlesClosed();
            const auto lines = LogTexts();
            EXPECT_EQ(std::vector<std::string>(lines.begin() + linesBefore, lines.end()),
                      expected ? std::vector<std::string>{}
                               : std::vector<std::string>{kServiceKeepsRunning});
            // Started from stopped, stopped only where the stop got through.
            EXPECT_EQ(installed.status.currentState,
                      std::string(c.operation) == "stop" && expected ? kStopped : kRunning);
        }
    }
}

TEST_F(USBServiceTest, QueryStateMapsTheSevenStatesAndLeavesOthersUnchanged) {
    auto& installed = Installed();
    const TServiceState expected[] = {ssStopped,         ssStartPending, ssStopPending, ssRunning,
                                      ssContinuePending, ssPausePending, ssPaused};
    for (std::uint32_t state = 1; state <= 7; ++state) {
        installed.status = S(state);
        TServiceState read = state == 1 ? ssPaused : ssStopped;
        EXPECT_TRUE(service.QueryState(read)) << state;
        EXPECT_EQ(read, expected[state - 1]) << state;
    }
    EXPECT_EQ(static_cast<int>(ssRunning), 3);
    EXPECT_EQ(static_cast<int>(ssPaused), 6);
    for (std::uint32_t state : {0u, 8u, 0xFFFFFFFFu}) {
        installed.status = S(state);
        TServiceState read = ssPausePending;
        EXPECT_TRUE(service.QueryState(read)) << state;
        EXPECT_EQ(read, ssPausePending) << state;
    }
    EXPECT_TRUE(LogTexts().empty());
    ExpectAllHandlesClosed();
}

TEST_F(USBServiceTest, ACallerStartsFromStoppedSoAnUnreadStateLeadsToAStartAttempt) {
    auto& installed = Installed();
    installed.status = S(0);
    TServiceState state = kServiceStateBeforeQuery;
    ASSERT_TRUE(service.QueryState(state));
    EXPECT_EQ(state, ssStopped);
}

TEST_F(USBServiceTest, StartWaitsThroughRisingCheckpointsUntilRunning) {
    auto& installed = Installed();
    installed.startScript = {S(kStartPending, 1, 500), S(kStartPending, 2, 700),
                             S(kStartPending, 3, 900), S(kRunning)};
    EXPECT_TRUE(service.StartAndWait());
    // The hint of each status read is slept before the next read, as reported.
    EXPECT_THAT(sim.sleeps, ElementsAre(500u, 700u, 900u));
    EXPECT_EQ(installed.status.currentState, kRunning);
    EXPECT_TRUE(LogTexts().empty());
    ExpectAllHandlesClosed();
}

TEST_F(USBServiceTest, StopWaitsThroughStopPendingUntilStopped) {
    auto& installed = Installed();
    installed.status = S(kRunning);
    installed.stopScript = {S(kStopPending, 1, 250), S(kStopPending, 2, 0), S(kStopped)};
    EXPECT_TRUE(service.StopAndWait());
    EXPECT_THAT(installed.controlsReceived, ElementsAre(1u));
    EXPECT_THAT(sim.sleeps, ElementsAre(250u, kServicePollFloorMs));
    EXPECT_TRUE(LogTexts().empty());
    ExpectAllHandlesClosed();
}

TEST_F(USBServiceTest, ADroppingCheckpointEndsTheWaitWithFalse) {
    auto& installed = Installed();
    installed.startScript = {S(kStartPending, 4, 100), S(kStartPending, 2, 100),
                             S(kStartPending, 3, 100), S(kRunning)};
    EXPECT_FALSE(service.StartAndWait());
    EXPECT_THAT(sim.sleeps, ElementsAre(100u));
    EXPECT_EQ(installed.upcomingStatuses.size(), 2u); // not read any further
    EXPECT_TRUE(LogTexts().empty());
    EXPECT_THAT(Events(), ElementsAre("E 1010 The service DrivewardService could not be started: "
                                      "it did not reach the running state."));
    ExpectAllHandlesClosed();
}

std::uint64_t Total(const std::vector<std::uint32_t>& sleeps) {
    return std::accumulate(sleeps.begin(), sleeps.end(), std::uint64_t{0});
}

TEST_F(USBServiceTest, AServiceThatSettlesInAnotherStateIsWaitedForOnlyUpToTheBound) {
    auto& installed = Installed();
    // It stops during its start, checkpoint 0 before and after, no hint.
    installed.startScript = {S(kStopped)};
    const auto before = sim.ticks;
    EXPECT_FALSE(service.StartAndWait());
    EXPECT_EQ(sim.ticks - before, kServiceWaitBoundMs);
    EXPECT_EQ(Total(sim.sleeps), kServiceWaitBoundMs);
    EXPECT_THAT(LogTexts(),
                ElementsAre("Error: 1053 - Waiting for the service timed out after 30000 ms "
                            "(state 1, checkpoint 0): The service did not respond to the start "
                            "or control request in a timely fashion",
                            "Error nr: 1053"));
    ExpectAllHandlesClosed();
}

TEST_F(USBServiceTest, AHugeWaitHintIsCutToWhatIsLeftOfTheBound) {
    auto& installed = Installed();
    installed.status = S(kRunning);
    installed.stopScript = {S(kStopPending, 1, 1000), S(kStopPending, 2, 0xFFFFFFF0u)};
    EXPECT_FALSE(service.StopAndWait());
    EXPECT_THAT(sim.sleeps, ElementsAre(1000u, kServiceWaitBoundMs - 1000u));
    const auto texts = LogTexts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0].rfind("Error: 1053 - Waiting for the service timed out after 30000 ms "
                             "(state 3, checkpoint 2): ",
                             0),
              0u);
    ExpectAllHandlesClosed();
}

TEST_F(USBServiceTest, AHugeHintOfAServiceThatThenRunsStillSucceeds) {
    auto& installed = Installed();
    installed.startScript = {S(kStartPending, 1, 600000), S(kRunning)};
    EXPECT_TRUE(service.StartAndWait());
    EXPECT_THAT(sim.sleeps, ElementsAre(kServiceWaitBoundMs));
    EXPECT_TRUE(LogTexts().empty());
}

TEST_F(USBServiceTest, EachOperationOnAServiceThatIsNotInstalledLogs1060) {
    TServiceState state = ssRunning;
    EXPECT_FALSE(service.QueryState(state));
    EXPECT_EQ(state, ssRunning);
    EXPECT_FALSE(service.StartAndWait());
    EXPECT_FALSE(service.StopAndWait());
    EXPECT_FALSE(service.SendControlCode(134));
    const std::string line = "Error: 1060 - StartService OpenService failed: The specified "
                             "service does not exist as an installed service";
    EXPECT_THAT(LogTexts(), ElementsAre(line, "Error nr: 1060", line, "Error nr: 1060", line,
                                        "Error nr: 1060", line, "Error nr: 1060"));
    ExpectAllHandlesClosed();
    // Only a start and a code that fail are reported: a query or stop is no fault of its own.
    const std::string failure = ": 1060 - StartService OpenService failed: The specified service "
                                "does not exist as an installed service.";
    EXPECT_THAT(Events(),
                ElementsAre("E 1010 The service DrivewardService could not be started" + failure,
                            "E 1011 The service DrivewardService did not receive control code 134" +
                                failure));

    Log.reset(); // before the log exists or after it is gone: the result alone tells
    EXPECT_FALSE(service.QueryState(state));
}

TEST_F(USBServiceTest, StoppingAStoppedServiceAndStartingARunningOneFailInTheManager) {
    auto& installed = Installed();
    EXPECT_FALSE(service.StopAndWait());
    installed.status = S(kRunning);
    EXPECT_FALSE(service.StartAndWait());
    installed.status = S(7); // paused counts as started
    EXPECT_FALSE(service.StartAndWait());
    EXPECT_THAT(LogTexts(),
                ElementsAre("Error: 1062 - ControlService failed: The service has not been started",
                            "Error nr: 1062",
                            "Error: 1056 - StartService failed: An instance of the service is "
                            "already running",
                            "Error nr: 1056",
                            "Error: 1056 - StartService failed: An instance of the service is "
                            "already running",
                            "Error nr: 1056"));
    EXPECT_TRUE(sim.sleeps.empty());
}

TEST_F(USBServiceTest, TheProcessWideControllerLivesFromFirstUseUntilTheOrderlyEnd) {
    EXPECT_FALSE(USBServiceExists());
    TUSBService& first = USBService();
    EXPECT_EQ(&first, &USBService());
    EXPECT_TRUE(USBServiceExists());
    Log->LogPath.clear();
    ReleaseProcessWideObjects(); // the controller, then the log, then the settings
    EXPECT_FALSE(USBServiceExists());
    EXPECT_EQ(Log, nullptr);
    ReleaseProcessWideObjects(); // nothing left to free
    Log = std::make_unique<TLog>("Driveward client");
}

} // namespace
