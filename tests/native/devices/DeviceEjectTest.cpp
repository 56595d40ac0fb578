#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "DeviceMachineTest.h"
#include "devices/DeviceEjectUnit.h"
#include "foundation/LogUnit.h"
#include "foundation/SettingsUnit.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

const char* const kIni = "C:\\Program Files\\Driveward\\Driveward.ini";
const char* const kLogFile = "C:\\Program Files\\Driveward\\Driveward client\\20110315.txt";

class DeviceEjectTest : public DeviceMachineTest {
protected:
    DeviceEjectTest() {
        Log = std::make_unique<TLog>("Driveward client");
        Log->LogPath = "C:\\Program Files\\Driveward";
    }
    ~DeviceEjectTest() override {
        Log.reset();
        ReleaseSettings();
    }
    void DebugOn() {
        sim.profileValues[{kIni, "GENERAL", "DEBUG"}] = "1";
        ReleaseSettings();
    }
    std::vector<std::string> LogTexts() {
        std::vector<std::string> texts;
        for (const auto& line : sim.LinesOf(kLogFile)) {
            texts.push_back(line.substr(line.find(" - ") + 3));
        }
        return texts;
    }
};

TEST_F(DeviceEjectTest, GetParentClimbsLevelsAndStopsAtTheLastDeviceFound) {
    TDevice stick("E");
    stick.Refresh();
    EXPECT_EQ(stick.GetParent(0), kStickDisk);
    EXPECT_EQ(stick.GetParent(-3), kStickDisk);
    EXPECT_EQ(stick.GetParent(1), kStickUsbDevice);
    EXPECT_EQ(stick.GetParent(2), kUsbHub);
    EXPECT_EQ(stick.GetParent(5), kUsbHub); // the hub has no known parent
    EXPECT_EQ(stick.FindParent(1), kStickUsbDevice);
    EXPECT_EQ(stick.FindParent(5), std::nullopt);
    EXPECT_EQ(TDevice("E").FindParent(1), std::nullopt); // DevInst 0
}

TEST_F(DeviceEjectTest, ASuccessfulEjectionShowsNothing) {
    TDevice stick("E");
    stick.Refresh();
    EXPECT_TRUE(EjectDrive(stick));
    EXPECT_THAT(sim.devices.ejectRequests, ElementsAre(std::pair{kStickUsbDevice, true}));
    EXPECT_THAT(sim.errorMessageBoxes, IsEmpty());
    EXPECT_THAT(LogTexts(), IsEmpty()); // not in debug mode
}

TEST_F(DeviceEjectTest, AVetoedEjectionIsReportedOnceInAnErrorBox) {
    sim.devices.vetoedEjections.insert(kStickUsbDevice);
    TDevice stick("E");
    stick.Refresh();
    EXPECT_TRUE(EjectDrive(stick));
    EXPECT_THAT(sim.errorMessageBoxes,
                ElementsAre(std::pair<std::string, std::string>(
                    "Error", "Unable to eject the device. There is a process active that "
                             "blocks the ejection.")));
}

class BlockedEjectTest : public DeviceEjectTest {
protected:
    const std::string kFixedText =
        "Unable to eject the device. There is a process active that blocks the ejection.";
    const std::string kExcel = "C:\\Office\\EXCEL.EXE";
    BlockedEjectTest() {
        sim.devices.vetoedEjections.insert(kStickUsbDevice);
        sim.devices.blockers[kStickUsbDevice] = {
            {"\\Device\\HarddiskVolume1\\Office\\EXCEL.EXE", 4321}};
        sim.processImages[4321] = kExcel;
        sim.fileDescriptions[kExcel] = "Microsoft Excel";
        stick.Refresh();
    }
    std::string Box() const {
        return sim.errorMessageBoxes.size() == 1 ? sim.errorMessageBoxes[0].second : "no one box";
    }
    std::uint32_t Slept() const {
        std::uint32_t total = 0;
        for (const auto ms : sim.sleeps) {
            total += ms;
        }
        return total;
    }
    TDevice stick{"E"};
};

TEST_F(BlockedEjectTest, TheBoxAndTheLogNameTheProgramWhoseEventComesWithinTheWait) {
    sim.devices.eventDelayMs = 600; // written after the veto
    EXPECT_TRUE(EjectDrive(stick));
    EXPECT_EQ(Box(),
              kFixedText + "\n\nBlocked by: Microsoft Excel - EXCEL.EXE (process 4321)\n" + kExcel);
    EXPECT_THAT(LogTexts(), ElementsAre("Eject of E: refused by EXCEL.EXE (process 4321)"));
    EXPECT_THAT(Events(), ElementsAre("W 1002 Eject of E: refused by EXCEL.EXE (process 4321). "
                                      "EXCEL.EXE: " +
                                      kExcel + "."));
    EXPECT_EQ(Slept(), 750u); // polled until it came
    EXPECT_THAT(sim.descriptionsRead, ElementsAre(kExcel));
}

TEST_F(BlockedEjectTest, WithoutAnEventTheBoxIsTheOldOneAfterABoundedWait) {
    sim.devices.eventDelayMs = 1500; // too late
    EjectDrive(stick);
    EXPECT_EQ(Box(), kFixedText);
    EXPECT_THAT(LogTexts(), ElementsAre("Eject of E: refused"));
    EXPECT_THAT(Events(), ElementsAre("W 1002 Eject of E: refused."));
    EXPECT_EQ(Slept(), kBlockerWaitMs);

    // An event of an earlier refusal, older than the request, does not count.
    sim.errorMessageBoxes.clear();
    sim.devices.blockers.clear();
    sim.ticks += 10000;
    EjectDrive(stick);
    EXPECT_EQ(Box(), kFixedText);

    // A log that cannot be read is not waited for.
    sim.errorMessageBoxes.clear();
    sim.sleeps.clear();
    sim.devices.eventLogReadable = false;
    EjectDrive(stick);
    EXPECT_EQ(Box(), kFixedText);
    EXPECT_THAT(sim.sleeps, IsEmpty());
}

TEST_F(BlockedEjectTest, ADescriptionOnlyForTheSameRunningProgramOnALocalDrive) {
    const struct {
        const char* what;
        std::string runningImage;
        std::uint32_t driveType;
    } cases[] = {
        {"the process has ended", "", SetupApi::kDriveFixed},
        {"its id belongs to another program now", "C:\\Windows\\notepad.exe",
         SetupApi::kDriveFixed},
        {"a network drive", kExcel, SetupApi::kDriveRemote},
    };
    for (const auto& c : cases) {
        sim.errorMessageBoxes.clear();
        sim.descriptionsRead.clear();
        sim.processImages.clear();
        if (!c.runningImage.empty()) {
            sim.processImages[4321] = c.runningImage;
        }
        sim.devices.drives['C'].driveType = c.driveType;
        EjectDrive(stick);
        EXPECT_EQ(Box(), kFixedText + "\n\nBlocked by: EXCEL.EXE (process 4321)\n" + kExcel)
            << c.what;
        EXPECT_THAT(sim.descriptionsRead, IsEmpty()) << c.what;
    }
}

TEST_F(BlockedEjectTest, OnTheSecureDesktopTheBoxShowsTheNameOnlyAndAsksNothingMore) {
    sim.devices.blockers[kStickUsbDevice].push_back({"\\Device\\Mup\\srv\\x\ty.exe", 77});
    EjectDrive(stick, BlockerDetail::NameOnly);
    // The newest event first.
    EXPECT_EQ(Box(), kFixedText + "\n\nBlocked by: x\\x09y.exe (process 77)\nBlocked by: EXCEL.EXE "
                                  "(process 4321)");
    EXPECT_THAT(LogTexts(), ElementsAre("Eject of E: refused by x\\x09y.exe (process 77), "
                                        "EXCEL.EXE (process 4321)"));
    // The name stays escaped once, not twice; no path on the secure desktop.
    EXPECT_THAT(Events(), ElementsAre("W 1002 Eject of E: refused by x\\x09y.exe (process 77), "
                                      "EXCEL.EXE (process 4321)."));
    EXPECT_THAT(sim.descriptionsRead, IsEmpty());
}

TEST_F(DeviceEjectTest, WithoutShowVetoTheSystemReportsTheOutcome) {
    sim.devices.vetoedEjections.insert(kStickUsbDevice);
    EjectDevice(kStickUsbDevice, false);
    EXPECT_THAT(sim.devices.ejectRequests, ElementsAre(std::pair{kStickUsbDevice, false}));
    EXPECT_THAT(sim.errorMessageBoxes, IsEmpty());
    EjectDevice(0, true);
    EXPECT_EQ(sim.devices.ejectRequests.size(), 1u);
}

TEST_F(DeviceEjectTest, DebugModeLogsTheRequest) {
    DebugOn();
    TDevice usbDisk("F");
    usbDisk.Refresh();
    EjectDrive(usbDisk);
    EXPECT_THAT(LogTexts(),
                ElementsAre("--- DEBUG ------", "Eject request voor device F", "DevInst = 300",
                            "DevInst parent = 310", "----------------"));
}

TEST_F(DeviceEjectTest, NothingIsSentForAnUnknownDeviceOrParent) {
    DebugOn();
    sim.devices.drives['E'].deviceNumber.reset(); // no number, no device instance
    TDevice unknown("E");
    unknown.Refresh();
    EXPECT_FALSE(EjectDrive(unknown));

    sim.devices.parents.erase(kUsbHardDisk); // the disk's parent cannot be found
    TDevice orphan("F");
    orphan.Refresh();
    EXPECT_FALSE(EjectDrive(orphan));

    EXPECT_THAT(sim.devices.ejectRequests, IsEmpty());
    EXPECT_THAT(sim.errorMessageBoxes, IsEmpty());
    EXPECT_THAT(
        LogTexts(),
        ElementsAre("--- DEBUG ------", "Eject request voor device E", "DevInst = 0",
                    "DevInst parent = 0", "Eject request not sent: the device was not found",
                    "----------------", "--- DEBUG ------", "Eject request voor device F",
                    "DevInst = 300", "DevInst parent = 0",
                    "Eject request not sent: the device was not found", "----------------"));
}

} // namespace
