#include <gtest/gtest.h>

#include "DeviceMachineTest.h"
#include "devices/DeviceLookupUnit.h"
#include "devices/OSError.h"

namespace {

class DeviceLookupTest : public DeviceMachineTest {
protected:
    TDeviceInstance Lookup(const std::string& letter, std::optional<std::uint32_t> number,
                           bool isFloppy = false) {
        TDeviceInstance found;
        LookupDeviceInstance(letter, isFloppy, number, found);
        return found;
    }
    void AddDisks(std::uint32_t count) {
        auto& disks = sim.devices.interfaces[SetupApi::GUID_DEVINTERFACE_DISK];
        for (std::uint32_t i = 0; i < count; ++i) {
            disks.push_back({"\\\\?\\scsi#disk" + std::to_string(i), 10 + i, 1000 + i});
        }
    }
};

TEST_F(DeviceLookupTest, TheNthDiskMatchesTheInterfaceNumberedN) {
    const auto found = Lookup("F", 2);
    EXPECT_EQ(found.DevInfoData.devInst, kUsbHardDisk);
    EXPECT_EQ(found.DiskPath, kUsbHardDiskPath);
    EXPECT_EQ(found.InfoHandle, 0x00C0FFEFu);
    EXPECT_EQ(found.DevInfoData.classGuid, SetupApi::GUID_DEVINTERFACE_DISK);
    // The walk stopped at the match: three interfaces, no fourth enumeration.
    EXPECT_EQ(sim.devices.callsByName["SetupDiEnumDeviceInterfaces"], 3);
    ExpectEverythingReleased();
}

TEST_F(DeviceLookupTest, TheDriveTypeChoosesTheInterfaceClass) {
    // Each class holds one interface numbered 0 with its own device instance.
    sim.devices.interfaces[SetupApi::GUID_DEVINTERFACE_DISK] = {{"disk", 0, 1}};
    sim.devices.interfaces[SetupApi::GUID_DEVINTERFACE_CDROM] = {{"cdrom", 0, 2}};
    sim.devices.interfaces[SetupApi::GUID_DEVINTERFACE_FLOPPY] = {{"floppy", 0, 3}};
    struct Case {
        std::uint32_t driveType;
        bool isFloppy;
        std::uint32_t devInst;
    };
    const std::vector<Case> cases = {{SetupApi::kDriveRemovable, true, 3},
                                     {SetupApi::kDriveRemovable, false, 1},
                                     {SetupApi::kDriveFixed, false, 1},
                                     {SetupApi::kDriveFixed, true, 1},
                                     {SetupApi::kDriveCdrom, false, 2},
                                     {SetupApi::kDriveRemote, false, 0},
                                     {SetupApi::kDriveRamdisk, false, 0},
                                     {0, false, 0},
                                     {1, false, 0}};
    for (const auto& c : cases) {
        sim.devices.drives['G'].driveType = c.driveType;
        const int setsBefore = sim.devices.callsByName["SetupDiGetClassDevsA"];
        EXPECT_EQ(Lookup("G", 0, c.isFloppy).DevInfoData.devInst, c.devInst) << c.driveType;
        // Without a class no set is even asked for.
        EXPECT_EQ(sim.devices.callsByName["SetupDiGetClassDevsA"] - setsBefore,
                  c.devInst == 0 ? 0 : 1);
    }
    ExpectEverythingReleased();
}

TEST_F(DeviceLookupTest, NoMatchLeavesTheResultUntouched) {
    TDeviceInstance found;
    found.DiskPath = "kept";
    found.DevInfoData.devInst = 77;
    LookupDeviceInstance("F", false, 9, found);
    EXPECT_EQ(found.DiskPath, "kept");
    EXPECT_EQ(found.DevInfoData.devInst, 77u);
    ExpectEverythingReleased();
}

TEST_F(DeviceLookupTest, ADriveWithoutDeviceNumberMatchesNothingNotTheSystemDisk) {
    const auto found = Lookup("E", std::nullopt);
    EXPECT_EQ(found.DevInfoData.devInst, 0u);
    EXPECT_EQ(found.DiskPath, "");
    EXPECT_EQ(sim.devices.callsByName["SetupDiGetClassDevsA"], 0);
}

TEST_F(DeviceLookupTest, InterfacesWhoseNumberCannotBeReadMatchNothing) {
    auto& disks = sim.devices.interfaces[SetupApi::GUID_DEVINTERFACE_DISK];
    disks.insert(disks.begin(), {"\\\\?\\unopenable", 0, 901, false});
    disks.insert(disks.begin(), {"\\\\?\\numberless", std::nullopt, 902});
    const auto found = Lookup("C", 0);
    EXPECT_EQ(found.DevInfoData.devInst, kSystemDisk);
    EXPECT_EQ(Lookup("X", 0).DevInfoData.devInst, 0u); // no such drive: no type, no lookup
    ExpectEverythingReleased();
}

TEST_F(DeviceLookupTest, AnInterfaceWithoutReadableCapabilitiesIsSkipped) {
    auto& disks = sim.devices.interfaces[SetupApi::GUID_DEVINTERFACE_DISK];
    disks[1].capabilitiesReadable = false;
    EXPECT_EQ(Lookup("E", 1).DevInfoData.devInst, 0u);
    // Its path was never opened: the number is not even asked.
    for (const auto& path : sim.devices.opened) {
        EXPECT_NE(path, kStickPath);
    }
    EXPECT_EQ(Lookup("F", 2).DevInfoData.devInst, kUsbHardDisk);
}

TEST_F(DeviceLookupTest, AnUnavailableSetEndsTheLookupQuietly) {
    sim.devices.classDevsFails = true;
    EXPECT_EQ(Lookup("C", 0).DevInfoData.devInst, 0u);
    EXPECT_EQ(sim.devices.callsByName["SetupDiEnumDeviceInterfaces"], 0);
}

TEST_F(DeviceLookupTest, UnexpectedSetupFailuresRaiseTheOsErrorAndReleaseEverything) {
    sim.systemMessages[87] = "The parameter is incorrect.\r\n";
    AddDisks(3);
    struct Case {
        std::optional<platform::SimulatedFault> platform::SimulatedDevices::*fault;
        std::uint32_t error;
    };
    const std::vector<Case> cases = {
        {&platform::SimulatedDevices::enumFault, 87},
        {&platform::SimulatedDevices::detailSizeFault, 87},
        {&platform::SimulatedDevices::detailFault, 87},
        {&platform::SimulatedDevices::detailFault, 122}, // expected only for the size
    };
    for (const auto& c : cases) {
        sim.devices.*c.fault = platform::SimulatedFault{4, c.error};
        try {
            Lookup("C", 99);
            ADD_FAILURE() << "no error";
        } catch (const EOSError& error) {
            EXPECT_EQ(error.ErrorCode(), c.error);
            if (c.error == 87) {
                EXPECT_STREQ(error.what(),
                             "System Error.  Code: 87.\r\nThe parameter is incorrect");
            }
        }
        ExpectEverythingReleased();
        sim.devices.*c.fault = std::nullopt;
    }
}

TEST_F(DeviceLookupTest, TheEndOfTheListIsNotAnErrorAndTheSizeAnswerClearsTheLastError) {
    sim.devices.enumFault = platform::SimulatedFault{1, SetupApi::kErrorNoMoreItems};
    EXPECT_EQ(Lookup("F", 2).DevInfoData.devInst, 0u); // the list ended after the first
    sim.devices.enumFault.reset();
    EXPECT_EQ(Lookup("C", 0).DevInfoData.devInst, kSystemDisk);
    EXPECT_EQ(sim.lastError, 0u);
}

TEST_F(DeviceLookupTest, OsErrorTexts) {
    sim.systemMessages[5] = "Access is denied.\r\n";
    EXPECT_EQ(OSErrorText(5), "System Error.  Code: 5.\r\nAccess is denied");
    EXPECT_EQ(OSErrorText(0), "A call to an OS function failed");
    EXPECT_EQ(OSErrorText(12345), "System Error.  Code: 12345.\r\n");
    sim.lastError = 0;
    try {
        RaiseLastOSError();
        FAIL();
    } catch (const EOSError& error) {
        EXPECT_STREQ(error.what(), "A call to an OS function failed");
    }
}

TEST_F(DeviceLookupTest, DeviceNumberOfPathAndTheDwordProperty) {
    EXPECT_EQ(DeviceNumberOfPath(kStickPath), 1u);
    EXPECT_EQ(DeviceNumberOfPath("\\\\?\\nowhere"), std::nullopt);
    ExpectEverythingReleased();
    auto set = sim.devices.GetClassDevs(SetupApi::GUID_DEVINTERFACE_DISK);
    platform::DevInfoData device;
    device.reserved = 2; // the second interface
    std::uint32_t value = 99;
    EXPECT_TRUE(ReadDevicePropertyDword(*set, device, SetupApi::kPropertyCapabilities, value));
    EXPECT_EQ(value, 0x84u);
    EXPECT_FALSE(ReadDevicePropertyDword(*set, device, 16, value));
    EXPECT_EQ(value, 0u);
}

} // namespace
