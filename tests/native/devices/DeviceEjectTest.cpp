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
