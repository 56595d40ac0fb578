// A full TUSBDevices refresh, and the device list window's RefreshDevices (the list's
// refresh plus a fresh query of each hot-pluggable drive by its copy), over a simulated
// machine with 1 to 26 drives and 64 disk interfaces. Reports the time and the OS calls
// per refresh, and fails a run whose call count differs from what the queries need.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>

#include "client/FormTray.h"
#include "client/FormUSBDevicesUnit.h"
#include "devices/DriveQueries.h"
#include "devices/USBDevicesUnit.h"
#include "platform/SetupApi.h"
#include "platform/simulated/SimulatedMachine.h"

namespace {

constexpr std::uint32_t kDiskInterfaces = 64;

// Drive i (A = 0) is disk i; the interfaces list the disks backwards, so drive i's disk
// is the (64 - i)-th interface the lookup walks to.
void BuildMachine(platform::SimulatedMachine& sim, int driveCount) {
    auto& disks = sim.devices.interfaces[SetupApi::GUID_DEVINTERFACE_DISK];
    for (std::uint32_t j = 0; j < kDiskInterfaces; ++j) {
        const std::uint32_t number = kDiskInterfaces - 1 - j;
        disks.push_back({"\\\\?\\usbstor#disk" + std::to_string(number), number, 1000 + number});
    }
    for (int i = 0; i < driveCount; ++i) {
        platform::SimulatedDrive drive;
        const bool usb = i % 2 == 1;
        drive.driveType = usb ? SetupApi::kDriveRemovable : SetupApi::kDriveFixed;
        drive.deviceNumber = platform::StorageDeviceNumber{7, static_cast<std::uint32_t>(i), 1};
        drive.descriptor = platform::MakeStorageDescriptor(usb ? 7 : 3, "Vendor  ",
                                                           "Product " + std::to_string(i), "1.0");
        drive.hotplug = platform::StorageHotplugInfo{usb, false, usb};
        drive.volume = platform::VolumeInformation{"VOLUME" + std::to_string(i), "NTFS"};
        drive.space = platform::DiskSpace{1LL << 30, 1LL << 34};
        sim.devices.drives[static_cast<char>('A' + i)] = drive;
    }
}

// The calls the queries need: the drive mask, then per drive three open / request /
// close triples, the DOS name, the drive type, the set and its release, seven calls per
// interface walked (enumerate, size, detail, capabilities, open, number, close), the
// volume and the space.
std::uint64_t DriveCalls(int drive) {
    const std::uint64_t walked = kDiskInterfaces - static_cast<std::uint64_t>(drive);
    return 9 + 1 + 3 + 7 * walked + 2;
}

std::uint64_t ExpectedCalls(int driveCount) {
    std::uint64_t calls = 1;
    for (int i = 0; i < driveCount; ++i) {
        calls += DriveCalls(i);
    }
    return calls;
}

// The window's refresh also queries each USB drive (every second one) once more.
std::uint64_t ExpectedWindowCalls(int driveCount) {
    std::uint64_t calls = ExpectedCalls(driveCount);
    for (int i = 1; i < driveCount; i += 2) {
        calls += DriveCalls(i);
    }
    return calls;
}

// A device list window that shows nothing.
class NoView : public TFormUSBDevices::View {
public:
    void DeleteRootChildren() override {}
    TFormUSBDevices::NodeId AddRootChild(const std::string&, int) override { return 1; }
    void SetNodeDevice(TFormUSBDevices::NodeId, TDevice*) override {}
    TFormUSBDevices::Selection Selected() override { return {}; }
    void SetEjectEnabled(bool) override {}
    void SetBrowseEnabled(bool) override {}
    void ProcessMessages() override {}
    void ExpandTree() override {}
    std::string Caption() override { return {}; }
    void SetCaption(const std::string&) override {}
    void SetStayOnTop(bool) override {}
    void Close() override {}
    void ShowAbout() override {}
    ShellOutcome RunExplorerAsUser(const std::string&) override { return ShellOutcome::NotOpened; }
    void ShowMessage(const std::string&) override {}
    bool RegisterSessionNotification() override { return false; }
    void UnregisterSessionNotification() override {}
};

void BM_USBDevicesRefresh(benchmark::State& state) {
    const int driveCount = static_cast<int>(state.range(0));
    platform::SimulatedMachine sim;
    platform::ScopedMachine installed(sim.machine());
    BuildMachine(sim, driveCount);
    TUSBDevices devices;
    std::uint64_t refreshes = 0;
    const std::uint64_t callsBefore = sim.devices.osCalls;
    for (auto _ : state) {
        devices.Refresh();
        benchmark::DoNotOptimize(devices.Count());
        ++refreshes;
    }
    const std::uint64_t callsPerRefresh = (sim.devices.osCalls - callsBefore) / refreshes;
    state.counters["os_calls"] = static_cast<double>(callsPerRefresh);
    state.counters["drives"] = devices.Count();
    if (callsPerRefresh != ExpectedCalls(driveCount) || devices.Count() != driveCount ||
        sim.devices.openHandles != 0 || sim.devices.openSets != 0) {
        state.SkipWithError(("OS calls per refresh " + std::to_string(callsPerRefresh) +
                             ", expected " + std::to_string(ExpectedCalls(driveCount)))
                                .c_str());
    }
}

// A tray monitor that shows nothing, around the device list above.
class NoTrayView : public TTrayForm::View {
public:
    void SetTimerWarn(bool) override {}
    void SetTimerStartup(bool) override {}
    void SetTrayLook(TTrayForm::TrayLook) override {}
    void RemoveTrayIcon() override {}
    void ProcessMessages() override {}
    TFormUSBDevices& CreateDevicesForm() override { return devices; }
    void CloseDevicesForm() override {}
    bool DevicesFormShowing() override { return false; }
    void PrepareDevicesForm() override {}
    void BringDevicesFormToFront() override {}
    void ShowDevicesFormModal() override {}
    TModalResult ShowWarningModal() override { return mrCancel; }
    void ShowAboutModal() override {}
    void BringApplicationToFront() override {}
    void HideWindowAndTaskbarEntry() override {}
    void Terminate() override {}
    bool RegisterSessionNotification() override { return false; }
    void UnregisterSessionNotification() override {}
    void CreateShutdownBlockReason(const std::string&) override {}
    void DestroyShutdownBlockReason() override {}

    NoView devicesView;
    TFormUSBDevices devices{devicesView};
};

// From the end-session query to its answer: the close query's device check.
void BM_EndSessionQuery(benchmark::State& state) {
    const int driveCount = static_cast<int>(state.range(0));
    platform::SimulatedMachine sim;
    platform::ScopedMachine installed(sim.machine());
    BuildMachine(sim, driveCount);
    NoTrayView view;
    TTrayForm tray(view);
    tray.FormCreate(); // the service is not installed: no start, no wait
    bool refused = false;
    std::uint64_t queries = 0;
    const std::uint64_t callsBefore = sim.devices.osCalls;
    for (auto _ : state) {
        tray.QueryEndSession();
        refused = !tray.FormCloseQuery();
        ++queries;
    }
    const std::uint64_t callsPerQuery = (sim.devices.osCalls - callsBefore) / queries;
    state.counters["os_calls"] = static_cast<double>(callsPerQuery);
    if (callsPerQuery != ExpectedWindowCalls(driveCount) || refused != (driveCount > 1)) {
        state.SkipWithError(("OS calls per device check " + std::to_string(callsPerQuery) +
                             ", expected " + std::to_string(ExpectedWindowCalls(driveCount)))
                                .c_str());
    }
}

BENCHMARK(BM_EndSessionQuery)->Arg(1)->Arg(26)->Unit(benchmark::kMicrosecond);

// The end-session answer with 26 drives, drive B (a USB stick) not answering: the first
// query after it stops answering waits the drive's bound (Arg 0: released and waited for
// between iterations, outside the timing), a later one finds it pending (Arg 1).
void BM_EndSessionQueryHanging(benchmark::State& state) {
    const bool pending = state.range(0) == 1;
    platform::SimulatedMachine sim;
    platform::ScopedMachine installed(sim.machine());
    BuildMachine(sim, 26);
    NoTrayView view;
    TTrayForm tray(view);
    tray.FormCreate();
    bool refused = true;
    sim.devices.drives['B'].hangSeconds = 60;
    if (pending) {
        tray.QueryEndSession(); // B stops answering here, and stays pending
        refused = !tray.FormCloseQuery();
    }
    for (auto _ : state) {
        tray.QueryEndSession();
        refused = refused && !tray.FormCloseQuery();
        if (!pending) {
            state.PauseTiming();
            sim.devices.ReleaseHangs();
            WaitForDriveQueryWorkers(std::chrono::seconds(10));
            sim.devices.ResetHangs();
            state.ResumeTiming();
        }
    }
    sim.devices.ReleaseHangs();
    WaitForDriveQueryWorkers(std::chrono::seconds(10));
    if (!refused) {
        state.SkipWithError("a query was not refused");
    }
}

BENCHMARK(BM_EndSessionQueryHanging)->Arg(0)->Arg(1)->Iterations(3)->Unit(benchmark::kMicrosecond);

void BM_RefreshDevices(benchmark::State& state) {
    const int driveCount = static_cast<int>(state.range(0));
    platform::SimulatedMachine sim;
    platform::ScopedMachine installed(sim.machine());
    BuildMachine(sim, driveCount);
    NoView view;
    TFormUSBDevices form(view);
    std::uint64_t refreshes = 0;
    const std::uint64_t callsBefore = sim.devices.osCalls;
    for (auto _ : state) {
        form.RefreshDevices();
        benchmark::DoNotOptimize(form.DeviceCopies().size());
        ++refreshes;
    }
    const std::uint64_t callsPerRefresh = (sim.devices.osCalls - callsBefore) / refreshes;
    state.counters["os_calls"] = static_cast<double>(callsPerRefresh);
    state.counters["usb_drives"] = static_cast<double>(form.DeviceCopies().size());
    if (callsPerRefresh != ExpectedWindowCalls(driveCount) || sim.devices.openHandles != 0 ||
        sim.devices.openSets != 0) {
        state.SkipWithError(("OS calls per window refresh " + std::to_string(callsPerRefresh) +
                             ", expected " + std::to_string(ExpectedWindowCalls(driveCount)))
                                .c_str());
    }
}

BENCHMARK(BM_RefreshDevices)->Arg(1)->Arg(4)->Arg(26)->Unit(benchmark::kMicrosecond);

BENCHMARK(BM_USBDevicesRefresh)
    ->Arg(1)
    ->Arg(2)
    ->Arg(4)
    ->Arg(8)
    ->Arg(16)
    ->Arg(26)
    ->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
