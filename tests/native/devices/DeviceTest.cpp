#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "DeviceMachineTest.h"
#include "devices/DeviceUnit.h"
#include "devices/OSError.h"
#include "foundation/Assertions.h"

namespace {

using ::testing::HasSubstr;

using DeviceTest = DeviceMachineTest;
using FormatSizeTest = SimulatedMachineTest;

std::string Report(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) {
        text += "\r\n" + line;
    }
    return text;
}

TEST_F(FormatSizeTest, BaseTenTwentyFourWithTwoDecimalsRoundedHalfAwayFromZero) {
    const std::int64_t k = 1024;
    const std::vector<std::pair<std::int64_t, std::string>> table = {
        {0, "0 byte(s)"},
        {1024, "1024 byte(s)"},
        {1025, "1,00 KB"},
        {1152, "1,13 KB"}, // exactly 1.125: away from zero, not to even
        {1536, "1,50 KB"},
        {k * k, "1024,00 KB"},
        {k * k + 1, "1,00 MB"},
        {k * k * k, "1024,00 MB"},
        {15 * k * k * k / 4, "3,75 GB"},
        {k * k * k * k, "1024,00 GB"},
        {k * k * k * k * 5 / 2, "2,50 TB"},
        {k * k - 1, "1024,00 KB"}, // 1023.999 rounds up to the next whole
        {k + 10, "1,01 KB"},       // 1.0097 rounds up
        {k + 5, "1,00 KB"},        // 1.0048 rounds down
        {INT64_MAX, "8388608,00 TB"},
        {-5 * k * k, "-5242880 byte(s)"}, // never greater than a unit: plain bytes
    };
    for (const auto& [value, text] : table) {
        EXPECT_EQ(FormatSize(value), text) << value;
    }
}

TEST_F(FormatSizeTest, TheDecimalSeparatorIsTheUsersOne) {
    sim.formats.decimalSeparator = ".";
    EXPECT_EQ(FormatSize(1536), "1.50 KB");
    EXPECT_EQ(FormatSize(1024), "1024 byte(s)");
}

TEST_F(DeviceTest, ANewRecordHoldsOnlyItsLetterAndQueriesNothing) {
    const TDevice device("E");
    EXPECT_EQ(sim.devices.osCalls, 0u);
    EXPECT_EQ(device.GetDriveInfo(),
              Report({"DriveLetter = E",          "StorageFree = 0",      "StorageUsed = 0",
                      "StorageTotal = 0",         "StorageFreeAsText = ", "StorageUsedAsText = ",
                      "StorageTotalAsText = ",    "FileSystem = ",        "VolumeName = ",
                      "InfoHandle = 00000000",    "DevInst = 0",          "Disk-Path = -",
                      "DeviceNumber = 0",         "DeviceType = 0",       "Partition = 0",
                      "BusType = BusTypeUnknown", "VendorId = ",          "ProductId = ",
                      "ProductRevision = ",       "MediaHotplug = False", "MediaRemovable = False",
                      "DeviceHotplug = False",    "DosDeviceName = ",     "IsFloppy = False"}));
}

TEST_F(DeviceTest, AQueriedUsbStickReportsEveryField) {
    TDevice device("E");
    device.Refresh();
    EXPECT_EQ(device.GetDriveInfo(), Report({"DriveLetter = E",
                                             "StorageFree = 268435456",
                                             "StorageUsed = 3758096384",
                                             "StorageTotal = 4026531840",
                                             "StorageFreeAsText = 256,00 MB",
                                             "StorageUsedAsText = 3,50 GB",
                                             "StorageTotalAsText = 3,75 GB",
                                             "FileSystem = FAT32",
                                             "VolumeName = STICK",
                                             "InfoHandle = 00C0FFEF",
                                             "DevInst = 200",
                                             "Disk-Path = " + kStickPath,
                                             "DeviceNumber = 1",
                                             "DeviceType = 7",
                                             "Partition = 1",
                                             "BusType = BusTypeUsb",
                                             "VendorId = SanDisk",
                                             "ProductId = Cruzer Blade",
                                             "ProductRevision = 1.00",
                                             "MediaHotplug = False",
                                             "MediaRemovable = True",
                                             "DeviceHotplug = True",
                                             "DosDeviceName = \\Device\\HarddiskVolume5",
                                             "IsFloppy = False"}));
    EXPECT_EQ(device.DevInfoData().classGuid, SetupApi::GUID_DEVINTERFACE_DISK);
    ExpectEverythingReleased();
}

TEST_F(DeviceTest, EachDeviceRequestOpensTheDriveForQueryItself) {
    TDevice device("F");
    device.Refresh();
    const std::vector<std::string> drivesOpened = {"\\\\.\\F:", "\\\\.\\F:", "\\\\.\\F:"};
    std::vector<std::string> opened;
    for (const auto& path : sim.devices.opened) {
        if (path.rfind("\\\\.\\", 0) == 0) {
            opened.push_back(path);
        }
    }
    EXPECT_EQ(opened, drivesOpened);
    EXPECT_EQ(sim.devices.callsByName["CreateFileA"], sim.devices.callsByName["CloseHandle"]);
    ExpectEverythingReleased();
}

TEST_F(DeviceTest, ACardReaderSlotWithoutMediumHasZeroSizesAndTheRemovableName) {
    auto& slot = sim.devices.drives['E'];
    slot.volume.reset();
    slot.space.reset();
    TDevice device("E");
    device.Refresh();
    EXPECT_EQ(device.VolumeName(), "Removable disk");
    EXPECT_EQ(device.FileSystem(), "");
    EXPECT_EQ(device.StorageTotal(), 0);
    EXPECT_EQ(device.StorageFree(), 0);
    EXPECT_EQ(device.StorageUsed(), 0);
    EXPECT_EQ(device.StorageTotalAsText(), "0 byte(s)");
    EXPECT_EQ(device.StorageUsedAsText(), "0 byte(s)");
    EXPECT_EQ(device.StorageFreeAsText(), "0 byte(s)");
    EXPECT_TRUE(device.DeviceHotplug());
    EXPECT_EQ(sim.devices.callsByName["GetDiskFreeSpaceExA"], 0);
}

TEST_F(DeviceTest, AVolumeWithoutLabelIsNamedByTheRemovableFlagAndALabelIsEscaped) {
    sim.devices.drives['E'].volume = platform::VolumeInformation{"MY\r\nSTICK\x7F", "FAT32"};
    TDevice labelled("E");
    labelled.Refresh();
    EXPECT_EQ(labelled.VolumeName(), "MY\\x0D\\x0ASTICK\\x7F");
    sim.devices.drives['E'].volume = platform::VolumeInformation{"", "FAT32"};
    sim.devices.drives['F'].volume = platform::VolumeInformation{"", "NTFS"};
    TDevice stick("E");
    stick.Refresh();
    TDevice usbDisk("F");
    usbDisk.Refresh();
    EXPECT_EQ(stick.VolumeName(), "Removable disk");
    EXPECT_EQ(stick.FileSystem(), "FAT32");
    EXPECT_EQ(usbDisk.VolumeName(), "Fixed disk");
}

TEST_F(DeviceTest, AFailedSpaceQueryLeavesTheSizesZeroButKeepsTheVolume) {
    sim.devices.drives['C'].space.reset();
    TDevice device("C");
    device.Refresh();
    EXPECT_EQ(device.VolumeName(), "SYSTEM");
    EXPECT_EQ(device.FileSystem(), "NTFS");
    EXPECT_EQ(device.StorageTotal(), 0);
    EXPECT_EQ(device.StorageUsedAsText(), "0 byte(s)");
}

TEST_F(DeviceTest, MoreFreeThanTotalGivesANegativeUsedSizeWithoutOverflow) {
    sim.devices.drives['C'].space = platform::DiskSpace{INT64_MIN, INT64_MAX};
    TDevice device("C");
    device.Refresh();
    EXPECT_EQ(device.StorageUsed(), -1);
    EXPECT_EQ(device.StorageUsedAsText(), "-1 byte(s)");
}

TEST_F(DeviceTest, EveryFailedStepLeavesItsResetValuesNotThoseOfAnEarlierQuery) {
    TDevice device("E");
    device.Refresh();
    ASSERT_EQ(device.DevInst(), kStickDisk);
    // The stick is pulled: the drive can no longer be opened or asked anything.
    auto& drive = sim.devices.drives['E'];
    drive.opens = false;
    drive.dosDeviceName.reset();
    drive.volume.reset();
    device.Refresh();
    EXPECT_EQ(device.DeviceNumber(), 0u);
    EXPECT_EQ(device.DeviceType(), 0u);
    EXPECT_EQ(device.Partition(), 0u);
    EXPECT_EQ(device.DosDeviceName(), "");
    EXPECT_EQ(device.DevInst(), 0u); // no number: no disk can be said to be this drive's
    EXPECT_EQ(device.DiskPath(), "");
    EXPECT_EQ(device.InfoHandle(), 0u);
    EXPECT_EQ(device.VendorId(), "");
    EXPECT_EQ(device.ProductId(), "");
    EXPECT_EQ(device.ProductRevision(), "");
    EXPECT_EQ(device.BusType(), 0);
    EXPECT_FALSE(device.MediaRemovable());
    EXPECT_FALSE(device.DeviceHotplug());
    EXPECT_EQ(device.VolumeName(), "Fixed disk");
    EXPECT_EQ(device.StorageTotal(), 0);
    ExpectEverythingReleased();
}

TEST_F(DeviceTest, FailingRequestsOnAnOpenDriveAlsoReset) {
    auto& drive = sim.devices.drives['E'];
    drive.deviceNumber.reset();
    drive.descriptor.reset();
    drive.hotplug.reset();
    TDevice device("E");
    device.Refresh();
    EXPECT_EQ(device.DeviceNumber(), 0u);
    EXPECT_EQ(device.DevInst(), 0u);
    EXPECT_THAT(device.GetDriveInfo(), HasSubstr("\r\nDisk-Path = -\r\n"));
    EXPECT_EQ(device.VendorId(), "");
    EXPECT_FALSE(device.DeviceHotplug());
    EXPECT_EQ(device.VolumeName(), "STICK");
    ExpectEverythingReleased();
}

TEST_F(DeviceTest, AssignQueriesTheSourcesDriveAfreshAndCopiesNothingElse) {
    TDevice source("E");
    source.Refresh();
    sim.devices.drives['E'].volume = platform::VolumeInformation{"RENAMED", "FAT32"};
    TDevice copy("E");
    copy.Assign(&source);
    EXPECT_EQ(copy.DriveLetter(), "E");
    EXPECT_EQ(copy.VolumeName(), "RENAMED");
    EXPECT_EQ(source.VolumeName(), "STICK");

    // The drive has gone away since: the copy has reset values, not the source's.
    sim.devices.drives.erase('E');
    TDevice late("E");
    late.Assign(&source);
    EXPECT_EQ(late.DevInst(), 0u);
    EXPECT_EQ(late.StorageTotal(), 0);
    EXPECT_EQ(late.VolumeName(), "Fixed disk");
    EXPECT_FALSE(late.DeviceHotplug());
}

TEST_F(DeviceTest, AssignWithoutASourceIsAnAssertion) {
    TDevice device("E");
    try {
        device.Assign(nullptr);
        FAIL() << "no assertion";
    } catch (const EAssertionFailed& failure) {
        EXPECT_THAT(failure.what(), HasSubstr("aSource not assigned"));
    }
    EXPECT_EQ(sim.devices.osCalls, 0u);
}

TEST_F(DeviceTest, AFloppyIsKnownBeforeTheLookupAndFoundAmongFloppies) {
    platform::SimulatedDrive floppy;
    floppy.driveType = SetupApi::kDriveRemovable;
    floppy.dosDeviceName = "\\Device\\Floppy0";
    floppy.deviceNumber = platform::StorageDeviceNumber{7, 0, 0};
    floppy.hotplug = platform::StorageHotplugInfo{true, false, false};
    floppy.volume.reset();
    sim.devices.drives['A'] = floppy;
    sim.devices.interfaces[SetupApi::GUID_DEVINTERFACE_FLOPPY] = {{"\\\\?\\fdc#floppy0", 0, 50}};
    TDevice device("A");
    device.Refresh();
    EXPECT_TRUE(device.IsFloppy());
    EXPECT_EQ(device.DevInst(), 50u); // not disk 0, the system disk
    EXPECT_EQ(device.DiskPath(), "\\\\?\\fdc#floppy0");
    EXPECT_EQ(device.VolumeName(), "Removable disk");

    // The test is case-sensitive.
    sim.devices.drives['A'].dosDeviceName = "\\Device\\floppy0";
    device.Refresh();
    EXPECT_FALSE(device.IsFloppy());
    EXPECT_EQ(device.DevInst(), kSystemDisk);
}

TEST_F(DeviceTest, BusTypesAreNamedUpToNineAndNumberedAbove) {
    const std::vector<std::pair<std::uint8_t, std::string>> table = {
        {0, "BusTypeUnknown"}, {1, "BusTypeScsi"}, {3, "BusTypeAta"},         {4, "BusType1394"},
        {7, "BusTypeUsb"},     {8, "BusTypeRAID"}, {9, "BusTypeMaxReserved"}, {11, "11"},
        {0x7F, "127"},         {0xFF, "255"}};
    for (const auto& [code, name] : table) {
        sim.devices.drives['E'].descriptor = platform::MakeStorageDescriptor(code, "V", "P", "R");
        TDevice device("E");
        device.Refresh();
        EXPECT_THAT(device.GetDriveInfo(), HasSubstr("\r\nBusType = " + name + "\r\n")) << code;
    }
}

TEST_F(DeviceTest, TheLookupErrorStopsTheSequenceAndLeavesEarlierFieldsAlone) {
    TDevice device("E");
    device.Refresh();
    sim.devices.drives['E'].volume = platform::VolumeInformation{"NEW", "FAT32"};
    sim.devices.enumFault = platform::SimulatedFault{0, 5};
    EXPECT_THROW(device.Refresh(), EOSError);
    // Steps 1 and 2 ran again, the lookup reset its fields, the rest did not run.
    EXPECT_EQ(device.DeviceNumber(), 1u);
    EXPECT_EQ(device.DevInst(), 0u);
    EXPECT_EQ(device.VolumeName(), "STICK");
    EXPECT_EQ(device.VendorId(), "SanDisk");
    ExpectEverythingReleased();
}

} // namespace
