#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "devices/BlockerEvent.h"
#include "devices/DeviceEjectUnit.h"
#include "devices/USBDevicesUnit.h"
#include "foundation/LogUnit.h"
#include "platform/SetupApi.h"
#include "platform/windows/Win32Machine.h"

namespace {

constexpr std::uint32_t kErrorNotSupported = 50;

class DevicesWinTest : public ::testing::Test {
protected:
    platform::windows::Win32Machine win32;
    platform::ScopedMachine installed{win32.machine()};
    platform::Storage& storage = *win32.machine().storage;
    platform::DeviceSetup& setup = *win32.machine().deviceSetup;
};

// What the veto box gets under Wine: an event log without any event 225 (or none that can
// be read), and the process pass-through, which finds a running process's image and the
// description in a version resource.
TEST_F(DevicesWinTest, WinesEventLogNamesNoBlockerAndTheProcessPassThroughAnswers) {
    platform::Machine& machine = win32.machine();
    const auto events =
        machine.eventLog->QueryEventsXml(kBlockerEventChannel, BlockerEventQuery(3600000), 16);
    std::printf("System log readable: %s, events: %zu\n", events ? "yes" : "no",
                events ? events->size() : 0u);
    for (const auto& xml : events.value_or(std::vector<std::string>{})) {
        EXPECT_FALSE(ParseBlockerEvent(xml)) << xml;
    }
    const auto self = machine.system->ProcessImagePath(::GetCurrentProcessId());
    ASSERT_TRUE(self.has_value());
    EXPECT_EQ(*self, machine.system->ModuleFileName());
    EXPECT_FALSE(machine.system->ProcessImagePath(4321)); // ids are multiples of 4
    char folder[MAX_PATH];
    ASSERT_NE(::GetSystemDirectoryA(folder, MAX_PATH), 0u);
    const auto description =
        machine.system->FileDescription(std::string(folder) + "\\kernel32.dll");
    std::printf("kernel32.dll: %s\n", description.value_or("(none)").c_str());
    EXPECT_TRUE(description.has_value() && !description->empty());
    EXPECT_FALSE(machine.system->FileDescription(std::string(folder) + "\\no-such-file.dll"));
}

// Wine's own drives: C: (the prefix's drive_c) and Z: (the root of the Linux file
// system). Both are fixed disks that no USB bus carries.
TEST_F(DevicesWinTest, TheStoragePassThroughAnswersForWinesDrives) {
    const std::uint32_t drives = storage.LogicalDrives();
    ASSERT_TRUE(drives & (1u << ('C' - 'A')));
    ASSERT_TRUE(drives & (1u << ('Z' - 'A')));
    EXPECT_EQ(storage.DriveType("C:"), SetupApi::kDriveFixed);
    const auto volume = storage.GetVolumeInformation("C:\\");
    ASSERT_TRUE(volume.has_value());
    EXPECT_FALSE(volume->fileSystemName.empty());
    const auto space = storage.GetDiskFreeSpace("C:\\");
    ASSERT_TRUE(space.has_value());
    EXPECT_GT(space->totalBytes, 0);
    EXPECT_LE(space->freeBytesAvailable, space->totalBytes);
    const auto dosName = storage.QueryDosDevice("C:");
    ASSERT_TRUE(dosName.has_value());
    EXPECT_FALSE(dosName->empty());
    EXPECT_EQ(storage.OpenForQuery("\\\\.\\Q:"), nullptr); // no such drive

    if (auto drive = storage.OpenForQuery("\\\\.\\C:")) {
        EXPECT_FALSE(storage.GetHotplugInfo(*drive).has_value());
        EXPECT_EQ(win32.machine().system->LastError(), kErrorNotSupported);
    }
}

TEST_F(DevicesWinTest, TheSetupInterfacesListNoDisks) {
    auto set = setup.GetClassDevs(SetupApi::GUID_DEVINTERFACE_DISK);
    ASSERT_NE(set, nullptr);
    EXPECT_FALSE(setup.EnumDeviceInterfaces(*set, SetupApi::GUID_DEVINTERFACE_DISK, 0));
    EXPECT_EQ(win32.machine().system->LastError(), SetupApi::kErrorNoMoreItems);
}

TEST_F(DevicesWinTest, WinesDrivesBuildRecordsThatAreNotUsbAndTheirReportsAreLogged) {
    const auto logRoot = std::filesystem::temp_directory_path() / "driveward-devices-test";
    std::filesystem::remove_all(logRoot);
    Log = std::make_unique<TLog>("Driveward client");
    Log->LogPath = logRoot.string();

    TUSBDevices devices;
    devices.Refresh();
    std::string letters;
    for (int i = 0; i < devices.Count(); ++i) {
        const TDevice& device = devices.Items(i);
        letters += device.DriveLetter();
        Log->Add(device.GetDriveInfo());
        if (device.DriveLetter() == "C" || device.DriveLetter() == "Z") {
            EXPECT_FALSE(device.DeviceHotplug()) << device.GetDriveInfo();
            EXPECT_FALSE(device.MediaRemovable());
            EXPECT_EQ(device.DevInst(), 0u); // nothing to eject, and nothing is sent
            EXPECT_FALSE(EjectDrive(device));
        }
    }
    EXPECT_NE(letters.find('C'), std::string::npos);
    EXPECT_NE(letters.find('Z'), std::string::npos);
    Log.reset();

    std::string logged;
    for (const auto& entry : std::filesystem::directory_iterator(logRoot / "Driveward client")) {
        std::ifstream file(entry.path(), std::ios::binary);
        std::ostringstream text;
        text << file.rdbuf();
        logged += text.str();
    }
    EXPECT_NE(logged.find("\r\nDriveLetter = C\r\n"), std::string::npos) << logged;
    EXPECT_NE(logged.find("\r\nDriveLetter = Z\r\n"), std::string::npos);
    EXPECT_NE(logged.find("\r\nDeviceHotplug = False\r\n"), std::string::npos);
    std::cout << logged;
    std::filesystem::remove_all(logRoot);
}

} // namespace
