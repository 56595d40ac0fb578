#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

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

    // Queries that take time count against the bound too: the wait ends within one
    // query's cost past it, not after its sleeps alone.
    constexpr std::uint64_t kQueryCost = 150;
    sim.devices.eventLogReadable = true;
    sim.devices.ticks = [this] { return sim.ticks += kQueryCost; };
    const std::uint64_t start = sim.ticks;
    EjectDrive(stick);
    EXPECT_EQ(sim.ticks - start, kBlockerWaitMs + kQueryCost);
}

TEST_F(BlockedEjectTest, ADescriptionOnlyWhereItsReadCanNeitherHangNorBeRedirected) {
    const std::string kExcelNt = "\\Device\\HarddiskVolume1\\Office\\EXCEL.EXE";
    const std::string kOnStick = "E:\\EXCEL.EXE";
    const struct {
        const char* what;
        std::string eventImage, runningImage;
        std::uint32_t cType, eType;
        std::string finalPath; // where the opened file really is; empty: as asked
        bool read, described;
    } cases[] = {
        {"a fixed local drive", kExcelNt, kExcel, SetupApi::kDriveFixed, SetupApi::kDriveRemovable,
         "", true, true},
        {"a removable drive", kExcelNt, kExcel, SetupApi::kDriveRemovable,
         SetupApi::kDriveRemovable, "", false, false},
        {"the drive being ejected, fixed though it is", "\\Device\\HarddiskVolume5\\EXCEL.EXE",
         kOnStick, SetupApi::kDriveFixed, SetupApi::kDriveFixed, "", false, false},
        {"a network drive", kExcelNt, kExcel, SetupApi::kDriveRemote, SetupApi::kDriveRemovable, "",
         false, false},
        {"a link on the way", kExcelNt, kExcel, SetupApi::kDriveFixed, SetupApi::kDriveRemovable,
         "\\Device\\HarddiskVolume1\\Users\\x\\EXCEL.EXE", true, false},
        {"a link to another volume", kExcelNt, kExcel, SetupApi::kDriveFixed,
         SetupApi::kDriveRemovable, "\\Device\\HarddiskVolume5\\Office\\EXCEL.EXE", true, false},
        {"the process has ended", kExcelNt, "", SetupApi::kDriveFixed, SetupApi::kDriveRemovable,
         "", false, false},
        {"its id belongs to another program now", kExcelNt, "C:\\Windows\\notepad.exe",
         SetupApi::kDriveFixed, SetupApi::kDriveRemovable, "", false, false},
    };
    sim.fileDescriptions[kOnStick] = "Microsoft Excel";
    for (const auto& c : cases) {
        sim.errorMessageBoxes.clear();
        sim.descriptionsRead.clear();
        sim.processImages.clear();
        sim.finalPaths.clear();
        sim.ticks += 10000; // the last case's event is too old to count
        sim.devices.blockers[kStickUsbDevice] = {{c.eventImage, 4321}};
        if (!c.runningImage.empty()) {
            sim.processImages[4321] = c.runningImage;
        }
        if (!c.finalPath.empty()) {
            sim.finalPaths[c.runningImage] = c.finalPath;
        }
        sim.devices.drives['C'].driveType = c.cType;
        sim.devices.drives['E'].driveType = c.eType;
        EjectDrive(stick);
        const std::string shownPath = c.eventImage == kExcelNt ? kExcel : kOnStick;
        EXPECT_EQ(Box(), kFixedText +
                             "\n\nBlocked by: " + (c.described ? "Microsoft Excel - " : "") +
                             "EXCEL.EXE (process 4321)\n" + shownPath)
            << c.what;
        EXPECT_EQ(sim.descriptionsRead.size(), c.read ? 1u : 0u) << c.what;
    }
}

TEST_F(BlockedEjectTest, ADescriptionIsReadOnAWorkerThatTheBoxWaitsForAtMostItsBound) {
    std::promise<void> release;
    const std::shared_future<void> released = release.get_future().share();
    std::promise<std::thread::id> reading;
    sim.whileReadingDescription = [&] {
        reading.set_value(std::this_thread::get_id());
        released.wait();
    };
    const auto start = std::chrono::steady_clock::now();
    EjectDrive(stick);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(Box(), kFixedText + "\n\nBlocked by: EXCEL.EXE (process 4321)\n" + kExcel);
    EXPECT_GE(waited, std::chrono::milliseconds(kBlockerDescriptionWaitMs));
    EXPECT_LT(waited, std::chrono::milliseconds(kBlockerDescriptionWaitMs + 2000));
    EXPECT_NE(reading.get_future().get(), std::this_thread::get_id()); // never the GUI thread

    // While that read hangs, the next refusal reads nothing and does not wait for it.
    sim.errorMessageBoxes.clear();
    const auto again = std::chrono::steady_clock::now();
    EjectDrive(stick);
    EXPECT_LT(std::chrono::steady_clock::now() - again,
              std::chrono::milliseconds(kBlockerDescriptionWaitMs));
    EXPECT_EQ(Box(), kFixedText + "\n\nBlocked by: EXCEL.EXE (process 4321)\n" + kExcel);
    EXPECT_EQ(sim.descriptionsRead.size(), 1u);

    // Once it has ended, descriptions are read again.
    release.set_value();
    ASSERT_TRUE(WaitForBlockerDescriptionReads(std::chrono::seconds(10)));
    sim.whileReadingDescription = nullptr;
    sim.errorMessageBoxes.clear();
    EjectDrive(stick);
    EXPECT_EQ(Box(),
              kFixedText + "\n\nBlocked by: Microsoft Excel - EXCEL.EXE (process 4321)\n" + kExcel);
}

TEST_F(BlockedEjectTest, LongPathsAndDescriptionsAreCutToTheirOwnBounds) {
    const std::string folder(240, 'f'); // "C:\" + 240 + "\EXCEL.EXE": 253 bytes, not cut
    const std::string longExcel = "C:\\" + folder + "\\EXCEL.EXE";
    const std::string longer = "C:\\" + folder + "\\" + std::string(30, 'g') + ".exe";
    sim.devices.blockers[kStickUsbDevice] = {
        {"\\Device\\HarddiskVolume1\\" + folder + "\\EXCEL.EXE", 4321},
        {"\\Device\\HarddiskVolume1\\" + folder + "\\" + std::string(30, 'g') + ".exe", 99}};
    sim.processImages[4321] = longExcel;
    sim.fileDescriptions[longExcel] = std::string(80, 'd');
    sim.processImages[99] = longer;
    sim.fileDescriptions[longer] = std::string(81, 'e');
    EjectDrive(stick);
    EXPECT_EQ(Box(), kFixedText + "\n\nBlocked by: " + std::string(77, 'e') + "... - " +
                         std::string(30, 'g') + ".exe (process 99)\n" + longer.substr(0, 257) +
                         "...\nBlocked by: " + std::string(80, 'd') +
                         " - EXCEL.EXE (process 4321)\n" + longExcel);
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
