#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "devices/BlockerEvent.h"
#include "devices/DeviceEjectUnit.h"
#include "devices/USBDevicesUnit.h"
#include "foundation/LogUnit.h"
#include "platform/SetupApi.h"
#include "platform/windows/AnsiText.h"
#include "platform/windows/Win32Machine.h"
#include "support/WinTestSupport.h"

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
    // Read through the one handle, which names the file on its volume's device.
    const std::string kernel32 = std::string(folder) + "\\kernel32.dll";
    const auto read = machine.system->ReadFileDescription(kernel32);
    ASSERT_TRUE(read.has_value());
    std::printf("kernel32.dll: %s, at %s\n", read->description.c_str(), read->finalPath.c_str());
    EXPECT_FALSE(read->description.empty());
    EXPECT_EQ(
        _stricmp(read->finalPath.c_str(),
                 (*storage.QueryDosDevice(kernel32.substr(0, 2)) + kernel32.substr(2)).c_str()),
        0);
    // Twice, while nothing else holds it: the first read let it go again.
    EXPECT_TRUE(machine.system->ReadFileDescription(kernel32).has_value());
    const auto own = machine.system->ReadFileDescription(machine.system->ModuleFileName());
    ASSERT_TRUE(own.has_value()); // an image without a version resource
    EXPECT_EQ(own->description, "");
    for (const std::string& refused :
         {std::string(folder) + "\\no-such-file.dll", std::string(folder) + "\\..\\win.ini",
          std::string(folder), "\\\\?\\" + kernel32, std::string("kernel32.dll")}) {
        EXPECT_FALSE(machine.system->ReadFileDescription(refused)) << refused;
    }
    // A file that another holds open for writing is not read (it could change meanwhile).
    const std::string temp = std::string(folder).substr(0, 3) + "description-test.tmp";
    const HANDLE writer =
        ::CreateFileA(temp.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(machine.system->ReadFileDescription(temp));
    ::CloseHandle(writer);
}

// Wine follows a link even when asked to open it as itself, so the walk cannot refuse it
// here; the handle's final path still names where the link led, which is what the
// description's rule compares with the event's path.
TEST_F(DevicesWinTest, AFileReachedThroughALinkNamesWhereTheLinkLed) {
    const char* links = std::getenv("DRIVEWARD_LOG_LINKS");
    ASSERT_NE(links, nullptr);
    const std::string dir = wintest::WindowsPath(links);
    platform::SystemFacts& system = *win32.machine().system;
    const auto direct = system.ReadFileDescription(dir + "\\elsewhere\\target.txt");
    const auto linked = system.ReadFileDescription(dir + "\\folder-link\\target.txt");
    ASSERT_TRUE(direct.has_value());
    EXPECT_EQ(direct->description, ""); // no image
    if (linked) {
        EXPECT_EQ(linked->finalPath, direct->finalPath);
        EXPECT_EQ(linked->finalPath.find("folder-link"), std::string::npos) << linked->finalPath;
    }
}

// Event and version texts in every code page: without best fit where the page takes the
// flag, plainly where it refuses flags (UTF-8), the untrusted characters replaced first.
TEST(AnsiTextWinTest, ConvertsOnEveryCodePageWithoutLookAlikes) {
    using platform::windows::AnsiText;
    EXPECT_EQ(AnsiText(L"Caf\u00E9\u2215x", 1252), "Caf\xE9?x"); // no "/" look-alike
    EXPECT_EQ(AnsiText(L"Caf\u00E9\u2215x", CP_UTF8), "Caf\xC3\xA9\xE2\x88\x95x");
    EXPECT_EQ(AnsiText(L"gpj\u202E.exe", CP_UTF8), "gpj?.exe"); // no override
    EXPECT_EQ(AnsiText(L"a\x85\xD800"
                       L"b",
                       CP_UTF8),
              "a??b");
    EXPECT_EQ(AnsiText(L"\u4E2D.exe", 932), "\x92\x86.exe");
    EXPECT_EQ(AnsiText(L"EXCEL.EXE", CP_UTF8), "EXCEL.EXE");
    EXPECT_EQ(AnsiText(L"", CP_UTF8), "");
    std::printf("ANSI code page: %u\n", ::GetACP());
    EXPECT_EQ(AnsiText(L"EXCEL.EXE"), "EXCEL.EXE");
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
