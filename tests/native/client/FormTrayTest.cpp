#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <functional>

#include "FakeDevicesView.h"
#include "client/EntrySequence.h"
#include "client/FormTray.h"
#include "companion/CompanionServiceUnit.h"
#include "devices/DeviceMachineTest.h"
#include "devices/DriveQueries.h"
#include "foundation/FunctionsUnit.h"
#include "foundation/GetWinVersionInfoUnit.h"
#include "foundation/LogUnit.h"
#include "foundation/SettingsUnit.h"
#include "service/USBServiceUnit.h"

namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;

using Look = TTrayForm::TrayLook;
using platform::SimulatedServiceManager;

const char* const kIni = "C:\\Program Files\\Driveward\\Driveward.ini";
const char* const kLogFile = "C:\\Program Files\\Driveward\\Driveward client\\20110315.txt";
constexpr std::uint32_t kRunning = 4;
constexpr std::uint32_t kStopped = 1;
constexpr std::uint32_t kPaused = 7;

// What the tray form asks of its window, icon and neighbours, in order. The device list
// is a real form over a fake tree; the modal windows return what the test scripts.
class FakeTrayView : public TTrayForm::View {
public:
    std::vector<std::string> calls;
    FakeDevicesView devicesView;
    TFormUSBDevices devices{devicesView};
    bool devicesShowing = false;
    bool timerWarn = false;
    bool registrationSucceeds = true;
    TModalResult warningResult = mrCancel;
    // What happens while the list's modal loop runs, in order, one event per turn of the
    // loop. As the real loop, it ends as soon as the list is closed: a closed list takes
    // no further events. With none left the user closes the list.
    std::deque<std::function<void()>> whileDevicesShown;
    bool devicesClosing = false;             // closed while shown: its loop ends at the next turn
    std::function<void()> onProcessMessages; // once, at the next "process messages"

    void SetTimerWarn(bool armed) override {
        timerWarn = armed;
        calls.push_back(armed ? "arm TimerWarn" : "disarm TimerWarn");
    }
    void SetTimerStartup(bool armed) override {
        calls.push_back(armed ? "arm TimerStartup" : "disarm TimerStartup");
    }
    void SetTrayLook(Look look) override {
        calls.push_back(look == Look::Normal       ? "look normal"
                        : look == Look::StartingUp ? "look starting up"
                                                   : "look shutting down");
    }
    void RemoveTrayIcon() override { calls.push_back("remove icon"); }
    void ProcessMessages() override {
        calls.push_back("process messages");
        if (auto handle = std::exchange(onProcessMessages, nullptr)) {
            handle();
        }
    }
    TFormUSBDevices& CreateDevicesForm() override {
        calls.push_back("create devices form");
        devices.FormCreate();
        return devices;
    }
    void CloseDevicesForm() override {
        calls.push_back("close devices form");
        devicesClosing = devicesShowing;
    }
    bool DevicesFormShowing() override { return devicesShowing && !devicesClosing; }
    void PrepareDevicesForm() override { calls.push_back("devices on top, normal"); }
    void BringDevicesFormToFront() override { calls.push_back("devices to front"); }
    void ShowDevicesFormModal() override {
        calls.push_back("show devices modal");
        const bool nested = devicesShowing; // shown again while its loop was ending
        devicesShowing = true;
        devicesClosing = false;
        while (!devicesClosing && !whileDevicesShown.empty()) {
            auto event = std::move(whileDevicesShown.front());
            whileDevicesShown.pop_front();
            event();
        }
        devicesClosing = nested; // a loop below ends with the result this one set
        devicesShowing = nested;
        calls.push_back("devices closed");
    }
    TModalResult ShowWarningModal() override {
        calls.push_back("show warning modal");
        return warningResult;
    }
    void ShowAboutModal() override { calls.push_back("show about modal"); }
    void BringApplicationToFront() override { calls.push_back("application to front"); }
    void HideWindowAndTaskbarEntry() override { calls.push_back("hide"); }
    void Terminate() override { calls.push_back("terminate"); }
    bool RegisterSessionNotification() override {
        calls.push_back("register");
        return registrationSucceeds;
    }
    void UnregisterSessionNotification() override { calls.push_back("unregister"); }
    void CreateShutdownBlockReason(const std::string& reason) override {
        calls.push_back("block: " + reason);
    }
    void DestroyShutdownBlockReason() override { calls.push_back("unblock"); }
};

// The device tests' workstation (sticks E and F plugged in) with the companion service
// installed and running, seen from the tray monitor.
class FormTrayTest : public DeviceMachineTest {
protected:
    FormTrayTest() {
        Log = std::make_unique<TLog>("Driveward client");
        Log->LogPath = "C:\\Program Files\\Driveward";
        sim.profileValues[{kIni, "GENERAL", "DEBUG"}] = "1";
        service().status = SimulatedServiceManager::Status(kRunning);
        DetectWinVersion(); // Windows 7
    }
    ~FormTrayTest() override {
        ForgetProcessTokenFacts();
        ReleaseUSBService();
        Log.reset();
        ReleaseSettings();
        sim.osVersion = platform::OsVersion{2, 6, 1};
        DetectWinVersion();
    }
    platform::SimulatedService& service() {
        auto& services = sim.serviceManager.services;
        return services.count(kUSBServiceName) != 0 ? services[kUSBServiceName]
                                                    : sim.serviceManager.Install(kUSBServiceName);
    }
    void UnplugSticks() {
        sim.devices.drives.erase('E');
        sim.devices.drives.erase('F');
    }
    // An empty card-reader slot: a hot-pluggable drive without a medium, size 0.
    void PlugEmptyCardReader() {
        platform::SimulatedDrive slot = sim.devices.drives.at('E');
        slot.volume.reset();
        slot.space.reset();
        sim.devices.drives['G'] = slot;
    }
    void Create() {
        tray.FormCreate();
        view.calls.clear();
        sim.serviceManager.calls.clear();
        service().controlsReceived.clear();
    }
    // The end-session query as the window's default handling answers it.
    bool QueryEndSession() {
        tray.QueryEndSession();
        return tray.FormCloseQuery();
    }
    // The tray monitor's own lines, without the device list's refresh reports.
    std::vector<std::string> LogTexts() const {
        std::vector<std::string> lines;
        for (const auto& entry : LogEntries(kLogFile)) {
            const bool refreshReport = entry.rfind("---", 0) == 0 ||
                                       entry.rfind("Doing refresh", 0) == 0 ||
                                       entry.rfind("Drive ", 0) == 0;
            if (!refreshReport) {
                lines.push_back(entry);
            }
        }
        return lines;
    }

    FakeTrayView view;
    TTrayForm tray{view};
};

TEST_F(FormTrayTest, CreationRegistersFillsTheHiddenListChecksTheServiceAndArmsTheStartupTimer) {
    tray.FormCreate();
    EXPECT_THAT(view.calls,
                ElementsAre("register", "create devices form", "look normal", "arm TimerStartup"));
    EXPECT_TRUE(tray.SessionNotificationsRegistered());
    EXPECT_EQ(view.devices.DeviceCopies().size(), 2u);
    view.calls.clear();
    tray.FormShow();
    tray.TimerStartupTimer();
    EXPECT_THAT(view.calls, ElementsAre("arm TimerStartup", "disarm TimerStartup", "hide"));
}

TEST_F(FormTrayTest, TheServiceIsStartedAtStartUpOnlyWhenStoppedOrPaused) {
    for (const std::uint32_t state : {kStopped, kPaused}) {
        service().status = SimulatedServiceManager::Status(state);
        FakeTrayView startView;
        bool startedWhileStartingUp = false;
        startView.onProcessMessages = [&] {
            startedWhileStartingUp = service().status.currentState == kRunning;
        };
        TTrayForm(startView).FormCreate();
        EXPECT_THAT(startView.calls,
                    ElementsAre("register", "create devices form", "look starting up",
                                "process messages", "look normal", "arm TimerStartup"));
        EXPECT_FALSE(startedWhileStartingUp); // "Starting up" shows before the wait
    }
    // From stopped the start succeeds; a paused service refuses it, which is logged.
    EXPECT_THAT(LogTexts(), ElementsAre(StartsWith("Error: 1056 - StartService failed: ")));
    EXPECT_THAT(Events(), ElementsAre(StartsWith("E 1010 The service DrivewardService could not "
                                                 "be started: 1056 - StartService failed: ")));
    // Not installed: the failed query is logged and start-up goes on as usual.
    sim.serviceManager.services.clear();
    FakeTrayView missingView;
    TTrayForm(missingView).FormCreate();
    EXPECT_THAT(missingView.calls, Not(Contains("look starting up")));
    EXPECT_THAT(LogTexts(), Contains(StartsWith("Error: 1060 - ")));
}

TEST_F(FormTrayTest, AnEndSessionWithAStickIsRefusedAndTheDeviceListFollows) {
    Create();
    EXPECT_FALSE(QueryEndSession());
    EXPECT_THAT(view.calls, ElementsAre("block: There are 2 USB storage device(s) plugged in.",
                                        "close devices form", "process messages", "arm TimerWarn"));
    EXPECT_FALSE(tray.EndSessionRequested());
    view.calls.clear();
    tray.TimerWarnTimer();
    EXPECT_THAT(view.calls,
                ElementsAre("disarm TimerWarn", "application to front", "devices on top, normal",
                            "show devices modal", "devices closed", "unblock"));
    EXPECT_THAT(LogTexts(),
                ElementsAre("Log off or shutdown requested.",
                            "Warning screen shown, session not locked (shutdown or log off "
                            "requested.",
                            "IsOS_AboveXP"));
    EXPECT_THAT(service().controlsReceived, IsEmpty());
    EXPECT_THAT(
        Events(),
        ElementsAre("W 1000 Log off or shutdown refused: USB storage plugged in at E:, F:."));
}

TEST_F(FormTrayTest, OnlyAMediumCountsButTheReasonCountsEveryListedDrive) {
    const platform::SimulatedDrive stick = sim.devices.drives.at('E');
    PlugEmptyCardReader();
    UnplugSticks();
    Create();
    ASSERT_EQ(view.devices.DeviceCopies().size(), 1u);
    EXPECT_TRUE(QueryEndSession()); // an empty card reader: the session may end
    EXPECT_THAT(view.calls, IsEmpty());
    EXPECT_THAT(Events(), IsEmpty());

    sim.devices.drives['E'] = stick;
    EXPECT_FALSE(QueryEndSession());
    EXPECT_THAT(view.calls, Contains("block: There are 2 USB storage device(s) plugged in."));
    // The event names the drives that hold a medium, not the empty slot.
    EXPECT_THAT(Events(),
                ElementsAre("W 1000 Log off or shutdown refused: USB storage plugged in at E:."));

    // A plain close, outside an end-session query, is always allowed.
    EXPECT_TRUE(tray.FormCloseQuery());

    // Two digits: the card reader, E and ten more sticks.
    for (char letter = 'H'; letter < 'R'; ++letter) {
        sim.devices.drives[letter] = stick;
    }
    view.calls.clear();
    EXPECT_FALSE(QueryEndSession());
    EXPECT_EQ(view.calls.front(), "block: There are 12 USB storage device(s) plugged in.");
}

TEST_F(FormTrayTest, ALockWithAStickGoesToTheServiceOrToTheSessionWhenTheServiceCannot) {
    Create();
    tray.SessionChange(kSessionLock);
    EXPECT_TRUE(tray.SessionLocked());
    EXPECT_TRUE(view.timerWarn);
    view.calls.clear();
    tray.TimerWarnTimer(); // running: only the code
    EXPECT_THAT(service().controlsReceived, ElementsAre(kShowWarningControlCode));
    EXPECT_THAT(view.calls, ElementsAre("disarm TimerWarn", "unblock"));

    service().status = SimulatedServiceManager::Status(kStopped); // started, then the code
    service().controlsReceived.clear();
    tray.SessionChange(kSessionLock);
    tray.TimerWarnTimer();
    EXPECT_EQ(service().status.currentState, kRunning);
    EXPECT_THAT(service().controlsReceived, ElementsAre(kShowWarningControlCode));

    sim.serviceManager.services.clear(); // not installed: the warning in the session
    view.calls.clear();
    view.warningResult = mrYes;
    tray.SessionChange(kSessionLock);
    tray.TimerWarnTimer();
    EXPECT_THAT(view.calls, Contains("show warning modal"));
    EXPECT_THAT(view.calls, Contains("show devices modal")); // "Devices" was chosen
    EXPECT_EQ(view.calls.back(), "unblock");
    EXPECT_THAT(LogTexts(), Contains("Warning screen from service requested, session locked."));
    EXPECT_THAT(LogTexts(), Contains("Warning screen shown, session locked."));
    // One report per lock, whichever way the warning then takes.
    const std::string requested = "I 1001 Warning requested: the session was locked with USB "
                                  "storage plugged in at E:, F:.";
    EXPECT_THAT(Events(), ElementsAre(requested, requested, requested));
}

TEST_F(FormTrayTest, ALockWhileAnotherSessionsTrayMonitorStopsTheServiceStillWarns) {
    // Two sessions on the machine, each with its tray monitor, and the one service.
    FakeTrayView otherView;
    TTrayForm other(otherView);
    other.FormCreate();
    Create();
    constexpr std::uint32_t kStopPending = 3;
    service().stopScript = {SimulatedServiceManager::Status(kStopPending, 2, 250),
                            SimulatedServiceManager::Status(kStopPending, 3, 250),
                            SimulatedServiceManager::Status(kStopped)};
    tray.SessionChange(kSessionLock);
    // The other user logs off, and this session's decision comes due while their tray
    // monitor waits for the service to stop: the code cannot reach it.
    sim.whileSleeping = [this] { tray.TimerWarnTimer(); };
    other.FormDestroy();
    EXPECT_EQ(service().status.currentState, kStopped);
    EXPECT_THAT(LogTexts(), Contains(StartsWith("Error: 1061 - ControlService failed: ")));
    EXPECT_THAT(Events(), Contains(StartsWith("E 1011 The service DrivewardService did not receive "
                                              "control code 133: 1061 - ControlService failed: ")));
    EXPECT_THAT(view.calls, Contains("show warning modal"));
    EXPECT_EQ(view.calls.back(), "unblock");
}

TEST_F(FormTrayTest, UnlockAlwaysSendsItsCodeAndAQuickUnlockTakesTheUnlockedWay) {
    Create();
    const platform::SimulatedDrive stick = sim.devices.drives['E'];
    UnplugSticks();
    tray.SessionChange(kSessionLock); // nothing plugged in: only the line
    EXPECT_FALSE(view.timerWarn);
    tray.SessionChange(kSessionUnlock);
    EXPECT_THAT(service().controlsReceived, ElementsAre(kSessionUnlockedControlCode));
    EXPECT_FALSE(tray.SessionLocked());
    EXPECT_THAT(LogTexts(), ElementsAre("Lock requested.", "UnLock requested."));
    EXPECT_THAT(Events(), IsEmpty()); // nothing to warn of

    Create();
    sim.devices.drives['E'] = stick;
    tray.SessionChange(kSessionLock);
    tray.SessionChange(kSessionUnlock); // within the 500 ms
    tray.TimerWarnTimer();
    EXPECT_THAT(view.calls, Contains("show devices modal"));
    EXPECT_THAT(service().controlsReceived, ElementsAre(kSessionUnlockedControlCode));

    // The service stopped for an upgrade: nothing to tell it, and no error for it.
    Create();
    service().status = SimulatedServiceManager::Status(kStopped);
    tray.SessionChange(kSessionUnlock);
    const auto texts = LogTexts();
    EXPECT_THAT(std::vector<std::string>(texts.end() - 2, texts.end()),
                ElementsAre("UnLock requested.", "Control code 135 not sent: the companion "
                                                 "service is not running (1062)."));
}

TEST_F(FormTrayTest, AnEndSessionWhileLockedTakesTheLockedWay) {
    Create();
    tray.SessionChange(kSessionLock);
    EXPECT_FALSE(QueryEndSession());
    tray.TimerWarnTimer();
    EXPECT_THAT(service().controlsReceived, ElementsAre(kShowWarningControlCode));
    EXPECT_THAT(view.calls, Not(Contains("show devices modal")));
}

TEST_F(FormTrayTest, BeforeVistaTheWarningWindowLeadsToTheListOnlyOnDevices) {
    sim.osVersion = platform::OsVersion{2, 5, 1};
    DetectWinVersion();
    Create();
    for (const TModalResult result : {mrCancel, mrYes}) {
        view.warningResult = result;
        view.calls.clear();
        QueryEndSession();
        tray.TimerWarnTimer();
        const bool listShown = std::count(view.calls.begin(), view.calls.end(),
                                          std::string("show devices modal")) == 1;
        EXPECT_THAT(view.calls, Contains("show warning modal"));
        EXPECT_EQ(listShown, result == mrYes);
        EXPECT_EQ(view.calls.back(), "unblock");
    }
    EXPECT_THAT(LogTexts(), Contains("not IsOS_AboveXP"));
}

TEST_F(FormTrayTest, MessagesWhileTheListIsOpenAreHandledInPlace) {
    Create();
    // A device change refreshes the open list; an end-session query closes it and arms
    // the timer again. The interrupted decision ends, but the reason stays for the next.
    view.whileDevicesShown = {[this] {
                                  const auto stick = sim.devices.drives.at('F');
                                  sim.devices.drives.erase('F');
                                  tray.DeviceChange(kDeviceRemoveComplete);
                                  tray.DeviceChange(0x0007); // DBT_DEVNODES_CHANGED: nothing
                                  sim.devices.drives['H'] = stick;
                                  tray.DeviceChange(kDeviceArrival);
                                  tray.TrayIcon1DblClick(); // while it is open: to the front
                              },
                              [this] { EXPECT_FALSE(QueryEndSession()); },
                              [] { ADD_FAILURE() << "a closed list took another event"; }};
    QueryEndSession();
    tray.TimerWarnTimer();
    EXPECT_THAT(LogTexts(), Contains("Device change - USB remove or insert. New device count = 1"));
    EXPECT_THAT(LogTexts(), Contains("Device change - USB remove or insert. New device count = 2"));
    EXPECT_EQ(view.devices.DeviceCopies().back()->DriveLetter(), "H");
    EXPECT_THAT(view.calls, Contains("block: There are 2 USB storage device(s) plugged in."));
    EXPECT_THAT(view.calls, Contains("devices to front"));
    EXPECT_THAT(view.calls, Not(Contains("unblock")));
    ASSERT_TRUE(view.timerWarn); // the new decision is pending

    // It fires after the first has returned: the list comes back until the user closes
    // it, and only then does the reason go.
    view.whileDevicesShown.clear();
    view.calls.clear();
    tray.TimerWarnTimer();
    EXPECT_THAT(view.calls,
                ElementsAre("disarm TimerWarn", "application to front", "devices on top, normal",
                            "show devices modal", "devices closed", "unblock"));
}

// A second query before the first decision's tick: the tick may come while the query
// lets the list close, and must not open the list there (the query would go unanswered).
// One decision follows, after the query has returned; a stale tick does nothing.
TEST_F(FormTrayTest, ATickDuringAQueryWaitsUntilTheQueryIsAnswered) {
    Create();
    EXPECT_FALSE(QueryEndSession());
    bool answered = false;
    view.onProcessMessages = [this, &answered] {
        if (view.timerWarn) {
            tray.TimerWarnTimer();
        }
        EXPECT_FALSE(answered);
    };
    view.whileDevicesShown = {[&answered] { EXPECT_TRUE(answered) << "shown inside the query"; }};
    EXPECT_FALSE(QueryEndSession());
    answered = true;
    EXPECT_THAT(view.calls, Not(Contains("show devices modal")));
    ASSERT_TRUE(view.timerWarn);
    tray.TimerWarnTimer();
    tray.TimerWarnTimer(); // late, the timer already stopped
    EXPECT_EQ(std::count(view.calls.begin(), view.calls.end(), std::string("show devices modal")),
              1);
    EXPECT_EQ(std::count(view.calls.begin(), view.calls.end(), std::string("unblock")), 1);
}

TEST_F(FormTrayTest, RepeatedQueriesKeepTheListAndTheReasonUntilTheUserClosesIt) {
    Create();
    // Each round: a query while the list is open, and its decision firing while the
    // list's loop is still on the stack (a window above it, About say, holds it there).
    // The list is shown again, not merely brought to the front of a list on its way out.
    const auto queryAndFire = [this] {
        EXPECT_FALSE(QueryEndSession());
        tray.TimerWarnTimer();
    };
    view.whileDevicesShown = {queryAndFire, queryAndFire};
    QueryEndSession();
    tray.TimerWarnTimer();
    EXPECT_EQ(std::count(view.calls.begin(), view.calls.end(), std::string("show devices modal")),
              3);
    EXPECT_THAT(view.calls, Not(Contains("devices to front")));
    EXPECT_EQ(std::count(view.calls.begin(), view.calls.end(), std::string("unblock")), 1);
    EXPECT_EQ(view.calls.back(), "unblock");
    EXPECT_FALSE(view.timerWarn);
    EXPECT_FALSE(view.devicesShowing);
}

TEST_F(FormTrayTest, ExitStopsTheServiceBehindTheShuttingDownIcon) {
    Create();
    bool runningWhileShuttingDown = false;
    view.onProcessMessages = [&] {
        runningWhileShuttingDown = view.calls.end()[-2] == "look shutting down" &&
                                   service().status.currentState == kRunning;
    };
    tray.Exit1Click();
    tray.FormDestroy();
    EXPECT_TRUE(runningWhileShuttingDown);
    EXPECT_THAT(view.calls, ElementsAre("terminate", "unblock", "look shutting down",
                                        "process messages", "remove icon", "unregister"));
    EXPECT_EQ(service().status.currentState, kStopped);

    // Already stopped: the stop fails and is logged; the rest goes on. Nothing registered,
    // nothing to undo.
    view.calls.clear();
    view.registrationSucceeds = false;
    TTrayForm second(view);
    second.FormCreate(); // this starts the service again
    service().status = SimulatedServiceManager::Status(kStopped);
    view.calls.clear();
    second.FormDestroy();
    EXPECT_THAT(view.calls,
                ElementsAre("unblock", "look shutting down", "process messages", "remove icon"));
    EXPECT_THAT(LogTexts(), Contains(StartsWith("Error: 1062 - ")));
}

// A standard account's tray monitor, with what the service's list gives interactive users
// (query, start, the codes): start-up starts the stopped service, each lock sends 133 and
// each unlock 135, a log-off is refused, and exit leaves the service running with one
// plain line, whether the token's facts say so or the manager refuses the stop. The same
// with an administrator's token read: the service stops.
TEST_F(FormTrayTest, AStandardAccountStartsAndSignalsTheServiceAndLeavesItRunningAtExit) {
    struct Account {
        const char* name;
        bool standard;
        bool factsRead;
    };
    const Account accounts[] = {{"administrator, token read", false, true},
                                {"standard, token read", true, true},
                                {"standard, manager refuses the stop", true, false}};
    for (const auto& account : accounts) {
        SCOPED_TRACE(account.name);
        if (account.standard) {
            sim.UseStandardAccount(kInteractiveUserServiceRights);
        }
        ForgetProcessTokenFacts();
        if (account.factsRead) {
            ReadProcessTokenFacts();
        }
        service().status = SimulatedServiceManager::Status(kStopped);
        FakeTrayView accountView;
        TTrayForm form(accountView);
        form.FormCreate();
        EXPECT_THAT(accountView.calls, Contains("look starting up"));
        EXPECT_EQ(service().status.currentState, kRunning);
        for (int round = 0; round < 2; ++round) {
            form.SessionChange(kSessionLock);
            form.TimerWarnTimer();
            form.SessionChange(kSessionUnlock);
        }
        EXPECT_THAT(service().controlsReceived,
                    ElementsAre(kShowWarningControlCode, kSessionUnlockedControlCode,
                                kShowWarningControlCode, kSessionUnlockedControlCode));
        EXPECT_THAT(accountView.calls, Not(Contains("show warning modal")));
        form.QueryEndSession();
        EXPECT_FALSE(form.FormCloseQuery());
        sim.serviceManager.calls.clear();
        form.Exit1Click();
        form.FormDestroy();
        EXPECT_EQ(service().status.currentState, account.standard ? kRunning : kStopped);
        // Where the token says standard, the stop is not even asked for.
        EXPECT_EQ(std::count(sim.serviceManager.calls.begin(), sim.serviceManager.calls.end(),
                             "OpenService DrivewardService 24"),
                  account.standard && account.factsRead ? 0 : 1);
        EXPECT_EQ(accountView.calls.back(), "unregister");
        const auto texts = LogTexts();
        EXPECT_EQ(std::count(texts.begin(), texts.end(), kServiceKeepsRunning),
                  account.standard ? 1 : 0);
        EXPECT_THAT(texts, Not(Contains(StartsWith("Error"))));
        sim.files.clear();
        service().controlsReceived.clear();
    }
}

TEST_F(FormTrayTest, AboutAndDevicesFromTheMenu) {
    Create();
    tray.About1Click();
    tray.TrayIcon1DblClick();
    EXPECT_THAT(view.calls,
                ElementsAre("show about modal", "application to front", "devices on top, normal",
                            "show devices modal", "devices closed"));
}

} // namespace

TEST_F(FormTrayTest, AStickThatStopsAnsweringStillRefusesTheEndSessionAgainAndAgain) {
    SetDriveQueryBounds({std::chrono::milliseconds(300), std::chrono::milliseconds(600)});
    const platform::SimulatedDrive stick = sim.devices.drives.at('E');
    UnplugSticks();
    Create();
    sim.devices.drives['E'] = stick;
    sim.devices.drives['E'].hangSeconds = 30; // plugged in, and silent from the start
    for (int query = 0; query < 2; ++query) { // the second finds its request pending
        view.calls.clear();
        EXPECT_FALSE(QueryEndSession());
        std::vector<std::string> expected = {"block: There are 1 USB storage device(s) plugged in.",
                                             "close devices form", "process messages",
                                             "arm TimerWarn"};
        if (query == 1) { // the first decision has not ticked yet: it becomes this one
            expected.insert(expected.begin() + 2, "disarm TimerWarn");
        }
        EXPECT_EQ(view.calls, expected);
    }
    EXPECT_THAT(LogEntries(kLogFile),
                Contains("Drive E: does not answer: CreateFile is still pending."));
}
