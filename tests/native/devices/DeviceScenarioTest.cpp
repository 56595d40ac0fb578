#include <gtest/gtest.h>

#include "SimulatedMachineTest.h"
#include "devices/DeviceEjectUnit.h"
#include "devices/OSError.h"
#include "devices/USBDevicesUnit.h"
#include "foundation/SettingsUnit.h"
#include "platform/SetupApi.h"
#include "platform/simulated/DeviceScenario.h"

namespace {

constexpr std::int64_t kMiB = 1024 * 1024;

const char* const kWorkstation = "# letter  kind        total-MB  used-MB  label  options\r\n"
                                 "C:        fixed       476940    120000   SYSTEM\r\n"
                                 "\r\n"
                                 "e:        stick       980       12.5     BACKUP # lower case\r\n"
                                 "F:        cardreader\r\n"
                                 "G:        stick       7640      3100     \"MY PHOTOS\" veto\r\n"
                                 "H:        usbdisk     953869    0.000001\n";

class DeviceScenarioTest : public SimulatedMachineTest {
protected:
    ~DeviceScenarioTest() override { ReleaseSettings(); }

    platform::DeviceScenarioResult Load(std::string_view text) {
        return platform::LoadDeviceScenario(text, sim.devices);
    }
    static std::string Letters(const TDevices& devices, bool hotplugOnly = false) {
        std::string letters;
        for (int i = 0; i < devices.Count(); ++i) {
            if (!hotplugOnly || devices.Items(i).DeviceHotplug()) {
                letters += devices.Items(i).DriveLetter();
            }
        }
        return letters;
    }
};

TEST_F(DeviceScenarioTest, AWorkstationScenarioRefreshesIntoTheDrivesItDescribes) {
    const auto result = Load(kWorkstation);
    EXPECT_EQ(result.drives, 5);
    EXPECT_EQ(result.skippedLines, 0);

    TUSBDevices devices;
    devices.Refresh();
    ASSERT_EQ(Letters(devices), "CEFGH");
    EXPECT_EQ(Letters(devices, true), "EFGH"); // the USB disk too, although its type is fixed

    const TDevice& system = devices.Items(0);
    EXPECT_EQ(system.StorageTotal(), 476940 * kMiB);
    EXPECT_EQ(system.StorageUsed(), 120000 * kMiB);
    EXPECT_FALSE(system.MediaRemovable());

    const TDevice& stick = devices.Items(1);
    EXPECT_EQ(stick.VolumeName(), "BACKUP");
    EXPECT_EQ(stick.StorageTotal(), 980 * kMiB);
    EXPECT_EQ(stick.StorageUsed(), 25 * kMiB / 2);
    EXPECT_EQ(stick.BusType(), SetupApi::BusTypeUsb);
    EXPECT_TRUE(stick.MediaRemovable());
    EXPECT_NE(stick.DevInst(), 0u);

    const TDevice& emptySlot = devices.Items(2);
    EXPECT_EQ(emptySlot.StorageTotal(), 0);
    EXPECT_EQ(emptySlot.VolumeName(), "Removable disk");
    EXPECT_TRUE(emptySlot.MediaRemovable());

    EXPECT_EQ(devices.Items(3).VolumeName(), "MY PHOTOS");
    EXPECT_EQ(devices.Items(4).StorageUsed(), 1); // a millionth of a MiB, rounded
    EXPECT_FALSE(devices.Items(4).MediaRemovable());

    // Every drive found a disk of its own.
    for (int i = 1; i < devices.Count(); ++i) {
        EXPECT_NE(devices.Items(i).DevInst(), devices.Items(i - 1).DevInst());
    }
    EXPECT_EQ(sim.devices.openHandles, 0);
    EXPECT_EQ(sim.devices.openSets, 0);
}

TEST_F(DeviceScenarioTest, EjectionReachesTheUsbDeviceAndOnlyVetoedDevicesRefuse) {
    Load(kWorkstation);
    TUSBDevices devices;
    devices.Refresh();

    EXPECT_FALSE(EjectDrive(devices.Items(0))); // the system disk is never aimed at
    EXPECT_TRUE(sim.devices.ejectRequests.empty());

    ASSERT_TRUE(EjectDrive(devices.Items(1)));
    const std::uint32_t stickDevice = sim.devices.ejectRequests.back().first;
    EXPECT_EQ(stickDevice, devices.Items(1).FindParent(1));
    EXPECT_TRUE(sim.errorMessageBoxes.empty());

    ASSERT_TRUE(EjectDrive(devices.Items(3)));
    ASSERT_EQ(sim.errorMessageBoxes.size(), 1u);
    EXPECT_EQ(sim.errorMessageBoxes[0].second, kEjectVetoedText);

    // Once the stick's device has gone, its drive goes with it and nothing else does.
    EXPECT_EQ(platform::RemoveDrivesBelow(sim.devices, stickDevice), "E");
    devices.Refresh();
    EXPECT_EQ(Letters(devices), "CFGH");
    EXPECT_EQ(platform::RemoveDrivesBelow(sim.devices, devices.Items(0).DevInst()), "C");
}

TEST_F(DeviceScenarioTest, AVetoByAProgramRefusesAndTheBoxNamesIt) {
    Load("C: fixed 100 50\nE: stick 8 1 veto=EXCEL.EXE:4321\n");
    TUSBDevices devices;
    devices.Refresh();
    ASSERT_TRUE(EjectDrive(devices.Items(1)));
    ASSERT_EQ(sim.errorMessageBoxes.size(), 1u);
    EXPECT_EQ(sim.errorMessageBoxes[0].second,
              std::string(kEjectVetoedText) +
                  "\n\nBlocked by: EXCEL.EXE (process 4321)\nC:\\Program Files\\EXCEL.EXE");
}

TEST_F(DeviceScenarioTest, JunkLinesAreSkippedAndCountedWithoutHarm) {
    const std::string junk[] = {
        "Q",
        "E: floppy 10 1",
        "E: stick 980",
        "E: stick 10 20", // more used than there is
        "E: stick 1x 0",
        "E: stick 1. 0",
        "E: stick 12345678901 0",
        "E: stick 1 0.1234567",
        "E: stick 1 0 \"unclosed",
        "E: stick 1 0 LABEL surplus",
        "E: stick 1 0 LABEL vet0",
        "E: stick 1 0 veto=EXCEL.EXE",
        "E: stick 1 0 veto=:1",
        "E: stick 1 0 veto=a:",
        "E: stick 1 0 veto=a:1x",
        "E: stick 1 0 veto=a\\b:1",
        "E: stick 1 0 veto=a:99999999999",
        "E: stick 1 0 veto=" + std::string(platform::kMaxScenarioProgram + 1, 'p') + ":1",
        "E: stick 1 0 " + std::string(platform::kMaxScenarioLabel + 1, 'L'),
        "E: stick 1 0 caf\xC3\xA9",
        "E: stick 1 0 A\x01",
        "E: stick 1 0 " + std::string(platform::kMaxScenarioLine, ' '),
        std::string("E:\0 stick", 9),
        "1: stick",
        "EE: stick",
        "\"E:\" stick",
        "E: stick 1 0 hang=",
        "E: stick 1 0 hang=0",
        "E: stick 1 0 hang=3601", // more than an hour
        "E: stick 1 0 hang=99999",
        "E: stick 1 0 hang=4294967297", // wraps to 1 in 32 bits
        "E: stick 1 0 hang=-5",
        "E: stick 1 0 hang=1s",
    };
    for (const std::string& line : junk) {
        const auto result = Load(line + "\n");
        EXPECT_EQ(result.drives, 0) << line;
        EXPECT_EQ(result.skippedLines, 1) << line;
    }

    // A drive that stops answering, its label and veto kept.
    EXPECT_EQ(Load("E: stick 980 12.5 BACKUP hang=30 veto\nF: stick hang=3600\n").drives, 2);
    EXPECT_EQ(sim.devices.drives.at('E').hangSeconds, 30u);
    EXPECT_EQ(sim.devices.drives.at('E').volume->volumeName, "BACKUP");
    EXPECT_EQ(sim.devices.vetoedEjections.size(), 1u);
    EXPECT_EQ(sim.devices.drives.at('F').hangSeconds, 3600u);

    // A letter given twice keeps its first line; a new scenario replaces the old one whole.
    Load(kWorkstation);
    const auto result = Load("E: stick 1 0\nE: fixed 2 1\n# comment only\n\n");
    EXPECT_EQ(result.drives, 1);
    EXPECT_EQ(result.skippedLines, 1);
    EXPECT_EQ(sim.devices.drives.count('C'), 0u);
    EXPECT_TRUE(sim.devices.vetoedEjections.empty());
    EXPECT_TRUE(sim.devices.blockers.empty());
    EXPECT_EQ(sim.devices.drives.at('E').driveType, SetupApi::kDriveRemovable);

    // Only the first kMaxScenarioBytes are read, and a line cut there counts as skipped.
    std::string big = "C: fixed 10 1\n" + std::string(platform::kMaxScenarioBytes, '#');
    big += "\nE: stick 1 0\n";
    const auto capped = Load(big);
    EXPECT_EQ(capped.drives, 1);
    EXPECT_EQ(capped.skippedLines, 1);

    std::string everyByte;
    for (int byte = 0; byte < 256; ++byte) {
        everyByte += static_cast<char>(byte);
    }
    EXPECT_EQ(Load(everyByte + everyByte).drives, 0);
}

TEST_F(DeviceScenarioTest, ALookupFaultRaisesForItsDriveOnlyAndTheRefreshStopsThere) {
    Load("C: fixed 100 50\nE: stick 8 1 lookup-fault\nF: stick 8 1\n");
    TUSBDevices devices;
    try {
        devices.Refresh();
        FAIL() << "the refresh did not raise";
    } catch (const EOSError& error) {
        EXPECT_EQ(error.ErrorCode(), 31u);
    }
    EXPECT_EQ(Letters(devices), "C");

    TDevice after("F"); // listed before the faulty disk, so its lookup never gets there
    after.Refresh();
    EXPECT_NE(after.DevInst(), 0u);
    EXPECT_EQ(sim.devices.openSets, 0);
}

} // namespace
