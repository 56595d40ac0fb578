#include <gtest/gtest.h>

#include "DeviceMachineTest.h"
#include "devices/OSError.h"
#include "devices/USBDevicesUnit.h"

namespace {

class DevicesTest : public DeviceMachineTest {
protected:
    static std::string Letters(const TDevices& devices) {
        std::string letters;
        for (int i = 0; i < devices.Count(); ++i) {
            letters += devices.Items(i).DriveLetter();
        }
        return letters;
    }
    // What the device list window keeps: the records whose device is hot-pluggable.
    static std::string UsbLetters(const TDevices& devices) {
        std::string letters;
        for (int i = 0; i < devices.Count(); ++i) {
            if (devices.Items(i).DeviceHotplug()) {
                letters += devices.Items(i).DriveLetter();
            }
        }
        return letters;
    }
};

TEST_F(DevicesTest, EveryDriveGetsARecordInLetterOrderAndTheHotPluggableOnesAreUsb) {
    TUSBDevices devices;
    EXPECT_EQ(devices.Count(), 0);
    EXPECT_EQ(sim.devices.osCalls, 0u); // construction queries nothing
    devices.Refresh();
    EXPECT_EQ(Letters(devices), "CDEF");
    EXPECT_EQ(UsbLetters(devices), "EF"); // the USB hard disk too, although its type is fixed
    EXPECT_EQ(devices.Items(0).DevInst(), kSystemDisk);
    EXPECT_EQ(devices.Items(1).DevInst(), kCdRom);
    EXPECT_EQ(devices.Items(1).VolumeName(), "Removable disk");
    EXPECT_EQ(devices.Items(2).DevInst(), kStickDisk);
    EXPECT_EQ(devices.Items(3).DevInst(), kUsbHardDisk);
    EXPECT_GT(devices.Items(2).StorageTotal(), 0);
    ExpectEverythingReleased();
}

TEST_F(DevicesTest, ARefreshCostsExactlyTheCallsEachDriveNeeds) {
    TDevices devices;
    devices.Refresh();
    // Per drive: three open/request/close triples, the DOS name, the drive type, the set
    // and its release, seven calls per interface walked, the volume and (with a volume)
    // the space. C walks one disk, D one CD-ROM, E two disks, F three.
    const auto perDrive = [](int walked, bool volume) {
        return 9 + 1 + 3 + 7 * walked + 1 + volume;
    };
    EXPECT_EQ(sim.devices.osCalls,
              1u + perDrive(1, true) + perDrive(1, false) + perDrive(2, true) + perDrive(3, true));
}

TEST_F(DevicesTest, ACardReaderSlotNetworkDriveAndUnreadableDrivesStillGetRecords) {
    auto& slot = sim.devices.drives['G'];
    slot.driveType = SetupApi::kDriveRemovable;
    slot.deviceNumber = platform::StorageDeviceNumber{7, 3, 0};
    slot.hotplug = platform::StorageHotplugInfo{true, false, true};
    slot.volume.reset();
    sim.devices.interfaces[SetupApi::GUID_DEVINTERFACE_DISK].push_back({"slot", 3, 500});
    auto& share = sim.devices.drives['Z'];
    share.driveType = SetupApi::kDriveRemote;
    share.opens = false;
    share.volume = platform::VolumeInformation{"", "NTFS"};
    sim.devices.drives['Q'].opens = false;
    sim.devices.drives['Q'].volume.reset();

    TUSBDevices devices;
    devices.Refresh();
    EXPECT_EQ(Letters(devices), "CDEFGQZ");
    EXPECT_EQ(UsbLetters(devices), "EFG");
    const TDevice& card = devices.Items(4);
    EXPECT_EQ(card.StorageTotal(), 0); // listed, but no medium to warn about
    EXPECT_EQ(card.VolumeName(), "Removable disk");
    EXPECT_EQ(card.DevInst(), 500u);
    const TDevice& network = devices.Items(6);
    EXPECT_EQ(network.DevInst(), 0u);
    EXPECT_NE(network.GetDriveInfo().find("\r\nDisk-Path = -\r\n"), std::string::npos);
    EXPECT_EQ(devices.Items(5).DevInst(), 0u); // unreadable number: not the system disk
    ExpectEverythingReleased();
}

TEST_F(DevicesTest, ARefreshReplacesTheRecordsAndMasksBitsAboveZ) {
    TDevices devices;
    devices.Refresh();
    sim.devices.drives.erase('D');
    sim.devices.drives['['] = platform::SimulatedDrive{}; // bit 26: no drive letter
    devices.Refresh();
    EXPECT_EQ(Letters(devices), "CEF");
    devices.Clear();
    EXPECT_EQ(devices.Count(), 0);

    sim.devices.drives.clear();
    devices.Refresh();
    EXPECT_EQ(devices.Count(), 0);
}

TEST_F(DevicesTest, AnIndexOutsideTheListIsAListError) {
    TDevices devices;
    devices.Refresh();
    EXPECT_THROW(devices.Items(-1), EListError);
    EXPECT_THROW(devices.Items(4), EListError);
    try {
        devices.Items(4);
    } catch (const EListError& error) {
        EXPECT_STREQ(error.what(), "List index out of bounds (4)");
    }
}

TEST_F(DevicesTest, AnOsErrorMidwayKeepsTheEarlierRecordsAndDropsTheRest) {
    // E's lookup walks two disks: the second enumeration fails the second time round.
    TUSBDevices devices;
    devices.Refresh();
    sim.devices.enumFault = platform::SimulatedFault{1, 5};
    sim.devices.drives['C'].deviceNumber->deviceNumber = 7; // C walks past index 1 too
    sim.devices.drives['C'].driveType = SetupApi::kDriveRemote;
    EXPECT_THROW(devices.Refresh(), EOSError);
    EXPECT_EQ(Letters(devices), "CD");
    ExpectEverythingReleased();
}

} // namespace
