#pragma once
#include <string>

#include "SimulatedMachineTest.h"
#include "platform/SetupApi.h"

// A workstation with a system disk C (disk 0), a CD-ROM drive D without a disc, a USB
// stick E (removable, disk 1) and a USB hard disk F (fixed but hot-pluggable, disk 2).
class DeviceMachineTest : public SimulatedMachineTest {
protected:
    static constexpr std::uint32_t kSystemDisk = 100;
    static constexpr std::uint32_t kStickDisk = 200;
    static constexpr std::uint32_t kStickUsbDevice = 210;
    static constexpr std::uint32_t kUsbHub = 220;
    static constexpr std::uint32_t kUsbHardDisk = 300;
    static constexpr std::uint32_t kUsbHardDiskDevice = 310;
    static constexpr std::uint32_t kCdRom = 400;
    static constexpr std::int64_t kGiB = 1024LL * 1024 * 1024;

    const std::string kSystemDiskPath = "\\\\?\\ide#diskwdc_wd5000#5&1&0#{53f56307}";
    const std::string kStickPath = "\\\\?\\usbstor#disk&ven_sandisk&prod_cruzer#0001#{53f56307}";
    const std::string kUsbHardDiskPath = "\\\\?\\usbstor#disk&ven_wd&prod_passport#0002#{53f56307}";
    const std::string kCdRomPath = "\\\\?\\ide#cdromhl-dt-st#5&2&0#{53f56308}";

    DeviceMachineTest() {
        auto& d = sim.devices;
        platform::SimulatedDrive c;
        c.deviceNumber = platform::StorageDeviceNumber{7, 0, 1};
        c.dosDeviceName = "\\Device\\HarddiskVolume1";
        c.descriptor = platform::MakeStorageDescriptor(3, "", "WDC WD5000AAKX-00ERMA0", "15.01H15");
        c.hotplug = platform::StorageHotplugInfo{false, false, false};
        c.volume = platform::VolumeInformation{"SYSTEM", "NTFS"};
        c.space = platform::DiskSpace{100 * kGiB, 465 * kGiB};
        d.drives['C'] = c;

        platform::SimulatedDrive dvd;
        dvd.driveType = SetupApi::kDriveCdrom;
        dvd.deviceNumber = platform::StorageDeviceNumber{2, 0, 0xFFFFFFFF};
        dvd.dosDeviceName = "\\Device\\CdRom0";
        dvd.descriptor = platform::MakeStorageDescriptor(2, "HL-DT-ST", "DVDRAM GH22NS50", "TN02");
        dvd.hotplug = platform::StorageHotplugInfo{true, false, false};
        dvd.volume.reset(); // no disc
        dvd.space.reset();
        d.drives['D'] = dvd;

        platform::SimulatedDrive stick;
        stick.driveType = SetupApi::kDriveRemovable;
        stick.deviceNumber = platform::StorageDeviceNumber{7, 1, 1};
        stick.dosDeviceName = "\\Device\\HarddiskVolume5";
        stick.descriptor =
            platform::MakeStorageDescriptor(7, "SanDisk ", "Cruzer Blade    ", "1.00");
        stick.hotplug = platform::StorageHotplugInfo{true, false, true};
        stick.volume = platform::VolumeInformation{"STICK", "FAT32"};
        stick.space = platform::DiskSpace{kGiB / 4, 15 * kGiB / 4};
        d.drives['E'] = stick;

        platform::SimulatedDrive usbDisk;
        usbDisk.deviceNumber = platform::StorageDeviceNumber{7, 2, 1};
        usbDisk.dosDeviceName = "\\Device\\HarddiskVolume6";
        usbDisk.descriptor = platform::MakeStorageDescriptor(7, "WD", "My Passport 0748", "1019");
        usbDisk.hotplug = platform::StorageHotplugInfo{false, false, true};
        usbDisk.volume = platform::VolumeInformation{"BACKUP", "NTFS"};
        usbDisk.space = platform::DiskSpace{512 * kGiB, 1024 * kGiB};
        d.drives['F'] = usbDisk;

        d.interfaces[SetupApi::GUID_DEVINTERFACE_DISK] = {{kSystemDiskPath, 0, kSystemDisk},
                                                          {kStickPath, 1, kStickDisk},
                                                          {kUsbHardDiskPath, 2, kUsbHardDisk}};
        d.interfaces[SetupApi::GUID_DEVINTERFACE_CDROM] = {{kCdRomPath, 0, kCdRom}};
        d.parents = {{kStickDisk, kStickUsbDevice},
                     {kStickUsbDevice, kUsbHub},
                     {kUsbHardDisk, kUsbHardDiskDevice},
                     {kUsbHardDiskDevice, kUsbHub}};
    }

    // Every handle and set the queries opened has been closed again.
    void ExpectEverythingReleased() const {
        EXPECT_EQ(sim.devices.openHandles, 0);
        EXPECT_EQ(sim.devices.openSets, 0);
    }
};
