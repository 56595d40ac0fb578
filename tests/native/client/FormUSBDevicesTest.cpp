#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <mutex>

#include "FakeDevicesView.h"
#include "client/EntrySequence.h"
#include "client/FormUSBDevicesUnit.h"
#include "devices/DeviceEjectUnit.h"
#include "devices/DeviceMachineTest.h"
#include "devices/DriveQueries.h"
#include "devices/OSError.h"
#include "foundation/LogUnit.h"
#include "foundation/SettingsUnit.h"

namespace {

using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::IsEmpty;
using ::testing::StartsWith;

const char* const kIni = "C:\\Program Files\\Driveward\\Driveward.ini";
const char* const kLogFile = "C:\\Program Files\\Driveward\\Driveward client\\20110315.txt";

// The workstation of the device tests (system disk C, empty DVD drive D, USB stick E,
// USB hard disk F), seen through the device list window.
class FormUSBDevicesTest : public DeviceMachineTest {
protected:
    FormUSBDevicesTest() {
        sim.formats.decimalSeparator = ".";
        sim.fileVersions[sim.moduleFileName] = {0x00010002, 0x00010067};
        Log = std::make_unique<TLog>("Driveward client");
        Log->LogPath = "C:\\Program Files\\Driveward";
    }
    ~FormUSBDevicesTest() override {
        Log.reset();
        ReleaseSettings();
        StartedAsHelper = false;
    }
    void DebugOn() {
        sim.profileValues[{kIni, "GENERAL", "DEBUG"}] = "1";
        ReleaseSettings();
    }
    std::vector<std::string> LogTexts() const { return LogEntries(kLogFile); }
    void Select(const std::string& letter) {
        for (const auto& node : view.nodes) {
            if (node.device != nullptr && node.device->DriveLetter() == letter) {
                view.selection = {true, node.device};
                form.TreeSelectionChanged(view.selection);
                return;
            }
        }
        FAIL() << "no node for " << letter;
    }

    FakeDevicesView view;
    TFormUSBDevices form{view};
};

TEST_F(FormUSBDevicesTest, TheTreeListsTheHotPluggableDrivesWithTheirSizesAndKeepsCopies) {
    // Under the product's bounds: 700 ms for a drive, 1.8 s for the whole check.
    EXPECT_EQ(DriveQueryBounds().drive, std::chrono::milliseconds(700));
    EXPECT_EQ(DriveQueryBounds().check, std::chrono::milliseconds(1800));
    form.FormCreate();
    EXPECT_THAT(view.Texts(), ElementsAre("E: STICK (Total: 3.75 GB / Used: 3.50 GB)",
                                          "F: BACKUP (Total: 1024.00 GB / Used: 512.00 GB)"));
    ASSERT_EQ(form.DeviceCopies().size(), 2u);
    EXPECT_EQ(view.nodes[0].device, form.DeviceCopies()[0].get());
    EXPECT_EQ(view.nodes[1].device, form.DeviceCopies()[1].get());
    EXPECT_EQ(view.nodes[0].image, kDriveImage);
    EXPECT_EQ(form.DeviceCopies()[0]->DevInst(), kStickDisk); // queried afresh, in full
    EXPECT_GT(form.DeviceCopies()[1]->StorageTotal(), 0);
    EXPECT_FALSE(view.ejectEnabled);
    EXPECT_TRUE(view.browseEnabled);
    EXPECT_EQ(view.expansions, 1);
    EXPECT_EQ(form.BaseCaption(), "Driveward");
    EXPECT_EQ(view.registrations, 0); // only a helper registers
    EXPECT_THAT(LogTexts(), IsEmpty());
    ExpectEverythingReleased();
}

TEST_F(FormUSBDevicesTest, WithoutUsbDrivesThePlaceholderShowsAndNothingCanBeEjected) {
    sim.devices.drives.erase('E');
    sim.devices.drives.erase('F');
    form.FormCreate();
    EXPECT_THAT(view.Texts(), ElementsAre("No devices detected."));
    EXPECT_EQ(view.nodes[0].device, nullptr);
    EXPECT_EQ(view.nodes[0].image, kDriveImage);
    EXPECT_THAT(form.DeviceCopies(), IsEmpty());

    view.selection = {true, nullptr}; // the placeholder
    form.TreeSelectionChanged(view.selection);
    EXPECT_FALSE(view.ejectEnabled);
    EXPECT_FALSE(form.PopupMenuPopup().ejectEnabled);
    EXPECT_TRUE(form.PopupMenuPopup().browseEnabled);
    form.EjectCommand();
    EXPECT_THAT(sim.devices.ejectRequests, IsEmpty());
    form.BrowseCommand(); // plain Explorer, no path
    EXPECT_THAT(view.explorerPaths, ElementsAre(""));
}

TEST_F(FormUSBDevicesTest, DebugModeLogsEachDriveBetweenClosingMarkers) {
    DebugOn();
    sim.devices.drives.erase('D');
    sim.devices.drives.erase('F');
    form.FormCreate();
    const std::string end = "----------------";
    EXPECT_THAT(
        LogTexts(),
        ElementsAre("--- DEBUG ------", "Doing refresh: drives found: 2", end,
                    StartsWith("Drive info: \r\nDriveLetter = C\r\n"),
                    AllOf(StartsWith("Drive \r\nDriveLetter = C\r\n"),
                          EndsWith("IsFloppy = False is not removable and therefore skipped.")),
                    end, StartsWith("Drive info: \r\nDriveLetter = E\r\n"), end));
}

TEST_F(FormUSBDevicesTest, EjectAimsAtTheDrivesUsbDeviceAndStaysDisabledUntilTheNextSelection) {
    StartedAsHelper = true; // a helper's list follows the device notifications itself
    form.FormCreate();
    form.EjectCommand(); // nothing selected
    EXPECT_THAT(sim.devices.ejectRequests, IsEmpty());

    Select("E");
    EXPECT_TRUE(view.ejectEnabled);
    EXPECT_TRUE(form.PopupMenuPopup().ejectEnabled);
    const int refreshes = view.expansions;
    form.EjectCommand();
    EXPECT_FALSE(view.ejectEnabled);
    EXPECT_THAT(sim.devices.ejectRequests, ElementsAre(std::pair{kStickUsbDevice, true}));
    EXPECT_EQ(view.expansions, refreshes); // the eject leaves the list alone
    // The stick goes: the removal notification brings the refresh.
    sim.devices.drives.erase('E');
    form.DeviceChange(kDeviceRemoveComplete);
    EXPECT_THAT(view.Texts(), ElementsAre("F: BACKUP (Total: 1024.00 GB / Used: 512.00 GB)"));

    sim.devices.vetoedEjections.insert(kUsbHardDiskDevice);
    sim.devices.blockers[kUsbHardDiskDevice] = {{"\\Device\\HarddiskVolume1\\x.exe", 9}};
    Select("F");
    form.EjectCommand();
    // A helper may be on the secure desktop: the program's name only, not its path.
    EXPECT_THAT(sim.errorMessageBoxes,
                ElementsAre(std::pair<std::string, std::string>{
                    "Error", std::string(kEjectVetoedText) + "\n\nBlocked by: x.exe (process 9)"}));

    form.RefreshDevices(); // every refresh disables Eject again
    EXPECT_FALSE(view.ejectEnabled);
}

TEST_F(FormUSBDevicesTest, EjectSendsNothingForADriveWhoseDeviceWasNotFound) {
    form.FormCreate();
    Select("E");
    sim.devices.parents.clear(); // the stick's USB device cannot be found
    form.EjectCommand();
    EXPECT_THAT(sim.devices.ejectRequests, IsEmpty());
    EXPECT_FALSE(view.ejectEnabled);
}

TEST_F(FormUSBDevicesTest, BrowseOpensTheDriveRootAsTheUserOutsideAHelperOnly) {
    form.FormCreate();
    Select("F");
    form.BrowseCommand();
    EXPECT_THAT(view.explorerPaths, ElementsAre("F:\\"));
    EXPECT_THAT(view.messages, IsEmpty());

    // The shell does not answer: nothing else is started, the message says where the
    // drive is.
    view.shell = ShellOutcome::NotOpened;
    form.BrowseCommand();
    // Or answers too late: Explorer may still open.
    view.shell = ShellOutcome::Late;
    form.BrowseCommand();
    EXPECT_THAT(view.messages,
                ElementsAre(std::string(kExplorerUnavailable) + " The drive is F:\\.",
                            "Explorer did not open in time. It may still open as you; Driveward "
                            "does not open it as administrator. The drive is F:\\."));

    StartedAsHelper = true;
    form.RefreshDevices();
    EXPECT_FALSE(view.browseEnabled);
    EXPECT_FALSE(form.PopupMenuPopup().browseEnabled);
    Select("F");
    form.BrowseCommand();
    EXPECT_EQ(view.explorerPaths.size(), 3u);
}

TEST_F(FormUSBDevicesTest, TheDebugCaptionNeverGrowsAndOnlyTheTrayCopyDropsStayOnTop) {
    DebugOn();
    // The first refresh raises: the base caption is saved all the same.
    sim.devices.enumFault = platform::SimulatedFault{2, 13};
    EXPECT_THROW(form.FormCreate(), EOSError);
    form.FormShow();
    form.FormShow();
    EXPECT_EQ(view.caption, "Driveward - (Versie: 1.2.1.103)");
    EXPECT_THAT(view.stayOnTop, ElementsAre(false, false));

    StartedAsHelper = true;
    form.FormShow();
    EXPECT_EQ(view.stayOnTop.size(), 2u);
}

TEST_F(FormUSBDevicesTest, AHelperRegistersForSessionNotesAndRefreshesOnDeviceChanges) {
    StartedAsHelper = true;
    form.FormCreate();
    EXPECT_EQ(view.registrations, 1);
    sim.devices.drives.erase('F');
    form.DeviceChange(kDeviceRemoveComplete);
    EXPECT_THAT(view.Texts(), ElementsAre("E: STICK (Total: 3.75 GB / Used: 3.50 GB)"));
    form.FormDestroy();
    EXPECT_EQ(view.unregistrations, 1);
    EXPECT_THAT(form.DeviceCopies(), IsEmpty());

    // A registration that failed is not undone.
    FakeDevicesView refusingView;
    refusingView.registrationSucceeds = false;
    TFormUSBDevices refused{refusingView};
    refused.FormCreate();
    refused.FormDestroy();
    EXPECT_EQ(refusingView.registrations, 1);
    EXPECT_EQ(refusingView.unregistrations, 0);
}

// In the tray monitor's session the tray form refreshes the list on these events; a list
// that refreshed as well would run each refresh twice.
TEST_F(FormUSBDevicesTest, OnlyAHelpersListRefreshesItselfOnArrivalAndCompletedRemoval) {
    // DBT_DEVNODES_CHANGED, _DEVICEQUERYREMOVE, _DEVICEREMOVEPENDING and _CUSTOMEVENT do not.
    const std::pair<std::uint32_t, int> helperRefreshes[] = {
        {kDeviceArrival, 1}, {kDeviceRemoveComplete, 1}, {0x0007, 0}, {0x8001, 0}, {0x8003, 0},
        {0x8006, 0}};
    form.FormCreate();
    for (const bool helper : {true, false}) {
        StartedAsHelper = helper;
        for (const auto& [event, refreshes] : helperRefreshes) {
            const int before = view.expansions;
            form.DeviceChange(event);
            EXPECT_EQ(view.expansions - before, helper ? refreshes : 0)
                << std::hex << event << (helper ? " in a helper" : " in the tray monitor");
        }
    }
}

TEST_F(FormUSBDevicesTest, ARefreshThatRaisesKeepsWhatItCompletedAndStillCleansUp) {
    form.FormCreate();
    // The copy of F raises: its lookup's enumeration fails on the third disk interface.
    view.onAddNode = [this](const std::string& text) {
        if (text.rfind("F:", 0) == 0) {
            sim.devices.enumFault = platform::SimulatedFault{2, 13};
        }
    };
    EXPECT_THROW(form.RefreshDevices(), EOSError);
    ASSERT_EQ(view.nodes.size(), 2u);
    EXPECT_EQ(view.nodes[1].device, nullptr); // F keeps its text without a device
    ASSERT_EQ(form.DeviceCopies().size(), 1u);
    EXPECT_EQ(view.nodes[0].device, form.DeviceCopies()[0].get());
    EXPECT_EQ(view.expansions, 2);
    ExpectEverythingReleased();

    // The copy of E raises: the copies are asked once every node is there, so F's node
    // is listed too, and neither has a device.
    sim.devices.enumFault.reset();
    view.onAddNode = [this](const std::string& text) {
        if (text.rfind("F:", 0) == 0) {
            sim.devices.enumFault =
                platform::SimulatedFault{0, 13}; // the first lookup after the records: E's copy
        }
    };
    EXPECT_THROW(form.RefreshDevices(), EOSError);
    ASSERT_EQ(view.nodes.size(), 2u);
    EXPECT_EQ(view.nodes[0].device, nullptr);
    EXPECT_EQ(view.nodes[1].device, nullptr);
    EXPECT_THAT(form.DeviceCopies(), IsEmpty());
    ExpectEverythingReleased();

    // Raised by the listing itself: no node at all, the guard runs all the same.
    view.onAddNode = nullptr;
    EXPECT_THROW(form.RefreshDevices(), EOSError);
    EXPECT_THAT(view.nodes, IsEmpty());
    EXPECT_THAT(form.DeviceCopies(), IsEmpty());
    EXPECT_EQ(view.expansions, 4);
    ExpectEverythingReleased();

    // E's query raises (its lookup fails on the second disk interface): F after it is not
    // asked, by the list or by the worker, which goes from drive to drive on its own.
    view.onAddNode = nullptr;
    sim.devices.enumFault.reset();
    form.RefreshDevices();
    const auto opensOfF = [this] {
        std::lock_guard<std::recursive_mutex> lock(sim.devices.Mutex());
        return std::count(sim.devices.opened.begin(), sim.devices.opened.end(), "\\\\.\\F:");
    };
    const auto opens = opensOfF();
    sim.devices.enumFault = platform::SimulatedFault{1, 13};
    EXPECT_THROW(form.RefreshDevices(), EOSError);
    ASSERT_TRUE(WaitForDriveQueryWorkers(std::chrono::seconds(10)));
    EXPECT_EQ(opensOfF(), opens);
}

TEST_F(FormUSBDevicesTest, ASecondRefreshWhileMessagesAreHandledRebuildsEverything) {
    form.FormCreate();
    view.pendingMessages = [this] {
        sim.devices.drives.erase('E');
        form.RefreshDevices(); // a removal notification handled in the middle
    };
    form.RefreshDevices();
    EXPECT_THAT(view.Texts(), ElementsAre("F: BACKUP (Total: 1024.00 GB / Used: 512.00 GB)"));
    ASSERT_EQ(form.DeviceCopies().size(), 1u);
    EXPECT_EQ(view.nodes[0].device, form.DeviceCopies()[0].get());
    ExpectEverythingReleased();
}

} // namespace

// A stick that stops answering: every storage request to it blocks (30 s, or until the
// test releases it), while the list waits 300 ms for a drive and 600 ms for a refresh.
class SilentDriveTest : public FormUSBDevicesTest {
protected:
    SilentDriveTest() {
        SetDriveQueryBounds({std::chrono::milliseconds(300), std::chrono::milliseconds(600)});
    }
    void Hang(char letter) { sim.devices.drives.at(letter).hangSeconds = 30; }
    int OpensOf(const std::string& path) {
        std::lock_guard<std::recursive_mutex> lock(sim.devices.Mutex());
        return static_cast<int>(
            std::count(sim.devices.opened.begin(), sim.devices.opened.end(), path));
    }
};

TEST_F(SilentDriveTest, AListedStickKeepsItsLastRecordIsNotAskedAgainAndItsLateAnswerIsDropped) {
    form.FormCreate();
    Hang('E');
    const auto start = std::chrono::steady_clock::now();
    form.RefreshDevices();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)); // not 30
    EXPECT_THAT(view.Texts(), ElementsAre("E: STICK (Total: 3.75 GB / Used: 3.50 GB)",
                                          "F: BACKUP (Total: 1024.00 GB / Used: 512.00 GB)"));
    ASSERT_EQ(form.DeviceCopies().size(), 2u);
    const TDevice* lastKnown = form.DeviceCopies()[0].get();
    EXPECT_EQ(view.nodes[0].device, lastKnown);
    EXPECT_EQ(lastKnown->DevInst(), kStickDisk); // Eject can still aim at it
    EXPECT_TRUE(form.CountsAsMedium(*lastKnown));
    EXPECT_THAT(LogTexts(), ElementsAre("Drive E: does not answer: CreateFile is still pending."));
    EXPECT_TRUE(DriveQueryPending('E'));

    // Pending: answered for at once, with no second request to the drive.
    EXPECT_EQ(sim.devices.HangingNow(), 1);
    const int opens = OpensOf("\\\\.\\E:");
    form.RefreshDevices();
    EXPECT_EQ(sim.devices.HangingNow(), 1);
    EXPECT_EQ(form.DeviceCopies()[0].get(), lastKnown);
    EXPECT_THAT(LogTexts(), ElementsAre("Drive E: does not answer: CreateFile is still pending.",
                                        "Drive E: does not answer: CreateFile is still pending."));

    // The late answer changes nothing in the list; the next refresh asks the drive again.
    sim.devices.ReleaseHangs();
    ASSERT_TRUE(WaitForDriveQueryWorkers(std::chrono::seconds(10)));
    EXPECT_FALSE(DriveQueryPending('E'));
    EXPECT_EQ(form.DeviceCopies()[0].get(), lastKnown);
    EXPECT_EQ(view.nodes[0].device, lastKnown);
    form.RefreshDevices();
    EXPECT_GT(OpensOf("\\\\.\\E:"), opens);
    EXPECT_EQ(LogTexts().size(), 2u);
}

TEST_F(SilentDriveTest, ANewSilentDriveCountsAsAMediumAFixedOneAsItWasAndTimeRunsOutForTheRest) {
    const platform::SimulatedDrive stick = sim.devices.drives.at('E');
    sim.devices.drives.erase('E');
    form.FormCreate();
    sim.devices.drives['E'] = stick;
    Hang('C'); // the system disk: there before, not listed
    Hang('E'); // new
    form.RefreshDevices();
    // C and E take a drive's bound each, and with them the refresh's: F is not asked and
    // keeps its last record.
    EXPECT_THAT(view.Texts(), ElementsAre("E:", "F: BACKUP (Total: 1024.00 GB / Used: 512.00 GB)"));
    ASSERT_EQ(form.DeviceCopies().size(), 2u);
    EXPECT_EQ(view.nodes[0].device, nullptr); // its device is unknown: no Eject
    EXPECT_TRUE(form.CountsAsMedium(*form.DeviceCopies()[0]));
    EXPECT_THAT(LogTexts(), ElementsAre("Drive C: does not answer: CreateFile is still pending.",
                                        "Drive E: does not answer: CreateFile is still pending.",
                                        "Drive F: not queried: the device check ran out of time."));
    // Still pending the next time: shown and counted the same, by its letter.
    form.RefreshDevices();
    EXPECT_THAT(view.Texts(), ElementsAre("E:", "F: BACKUP (Total: 1024.00 GB / Used: 512.00 GB)"));
    EXPECT_TRUE(form.CountsAsMedium(*form.DeviceCopies()[0]));
}

TEST_F(SilentDriveTest, AStickThatFallsSilentBetweenItsRecordAndItsCopyKeepsTheFreshRecord) {
    form.FormCreate();
    view.onAddNode = [this](const std::string& text) {
        if (text.rfind("E:", 0) == 0) {
            std::lock_guard<std::recursive_mutex> lock(sim.devices.Mutex());
            Hang('E');
        }
    };
    form.RefreshDevices();
    ASSERT_EQ(form.DeviceCopies().size(), 2u);
    EXPECT_EQ(view.nodes[0].device, form.DeviceCopies()[0].get());
    EXPECT_EQ(form.DeviceCopies()[0]->DevInst(), kStickDisk);
    EXPECT_EQ(view.nodes[1].device, form.DeviceCopies()[1].get()); // F after it still asked
    EXPECT_THAT(LogTexts(), ElementsAre("Drive E: does not answer: CreateFile is still pending."));
    EXPECT_TRUE(DriveQueryPending('E'));
}

TEST_F(SilentDriveTest, ADriveTheWorkerNeverTookUpIsLoggedAsNeverAsked) {
    form.FormCreate();
    // The worker is slow to take up E, after C and D answered: E's bound passes first.
    std::promise<void> release;
    const std::shared_future<void> released = release.get_future().share();
    SetDriveQueryWorkerPause([released](char letter) {
        if (letter == 'E') {
            released.wait();
        }
    });
    form.RefreshDevices();
    release.set_value();
    ASSERT_TRUE(WaitForDriveQueryWorkers(std::chrono::seconds(10)));
    SetDriveQueryWorkerPause(nullptr);
    EXPECT_THAT(LogTexts(), ElementsAre("Drive E: not queried: the device check ran out of time."));
    EXPECT_FALSE(DriveQueryPending('E')); // nothing hangs: the next refresh asks it
    form.RefreshDevices();
    EXPECT_EQ(LogTexts().size(), 1u);
}
