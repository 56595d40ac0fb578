#include "platform/simulated/ScenarioDevices_win.h"

#include "platform/simulated/ScenarioSystem_win.h"

namespace platform {
namespace {

constexpr std::uint32_t kConfigRetSuccess = 0;
constexpr std::uint32_t kVetoTypeUnknown = 0;
// Often enough to feel live, rare enough to cost nothing: one read of a small file.
constexpr unsigned kWatchPeriodMs = 500;

} // namespace

ScenarioDevices::ScenarioDevices(std::wstring scenarioPath) : path_(std::move(scenarioPath)) {
    devices_.ticks = scenario::Ticks;
}

template <typename Call> auto ScenarioDevices::Forward(Call&& call) {
    // The simulated calls set the value only when they fail, like the system: a call that
    // succeeds leaves the thread's value as it was. Each thread has its own value (a
    // device-query worker calls too), as on Windows.
    SimulatedDevices::SetThreadError(scenario::ThreadLastError());
    auto result = call();
    scenario::SetThreadLastError(SimulatedDevices::ThreadError());
    return result;
}

void ScenarioDevices::ReloadIfChanged() {
    // One byte more than a scenario reads, so that a line cut at the limit is seen as cut.
    const auto file = scenario::ReadScenarioFile(path_, kMaxScenarioBytes + 1);
    if (!file) {
        return;
    }
    if (file->present == present_ && file->writeTime == writeTime_ && file->content == content_) {
        return;
    }
    present_ = file->present;
    writeTime_ = file->writeTime;
    content_ = file->content;
    lastLoad_ = LoadDeviceScenario(content_, devices_);
}

std::string ScenarioDevices::DriveLetters() {
    std::lock_guard<std::recursive_mutex> lock(devices_.Mutex());
    std::string letters;
    for (const auto& [letter, drive] : devices_.drives) {
        letters += letter;
    }
    return letters;
}

bool ScenarioDevices::WatchFile() {
    const std::uint32_t callersError = scenario::ThreadLastError();
    ReloadIfChanged();
    announced_ = DriveLetters();
    scenario::SetThreadLastError(callersError);
    return scenario::CallEvery(kWatchPeriodMs, [this] { AnnounceChanges(); });
}

void ScenarioDevices::AnnounceChanges() {
    // A refresh may have loaded the change already: what counts is what the windows heard.
    const std::uint32_t callersError = scenario::ThreadLastError();
    ReloadIfChanged();
    const std::string now = DriveLetters();
    for (const char letter : announced_) {
        if (now.find(letter) == std::string::npos) {
            scenario::AnnounceDriveRemoval(letter);
        }
    }
    for (const char letter : now) {
        if (announced_.find(letter) == std::string::npos) {
            scenario::AnnounceDriveArrival(letter);
        }
    }
    announced_ = now;
    scenario::SetThreadLastError(callersError);
}

std::uint32_t ScenarioDevices::LogicalDrives() {
    // The file is read with the system's own calls: their last-error values must not show
    // through to the caller.
    const std::uint32_t callersError = scenario::ThreadLastError();
    ReloadIfChanged();
    scenario::SetThreadLastError(callersError);
    // The simulation records every path opened and every eject request for tests to read
    // back; a program that refreshes all day must not keep them all.
    {
        std::lock_guard<std::recursive_mutex> lock(devices_.Mutex());
        devices_.opened.clear();
        devices_.ejectRequests.clear();
    }
    return Forward([&] { return devices_.LogicalDrives(); });
}

std::uint32_t ScenarioDevices::DriveType(const std::string& drive) {
    return Forward([&] { return devices_.DriveType(drive); });
}

std::optional<std::string> ScenarioDevices::QueryDosDevice(const std::string& drive) {
    return Forward([&] { return devices_.QueryDosDevice(drive); });
}

std::unique_ptr<DeviceHandle> ScenarioDevices::OpenForQuery(const std::string& path) {
    return Forward([&] { return devices_.OpenForQuery(path); });
}

std::optional<StorageDeviceNumber> ScenarioDevices::GetDeviceNumber(DeviceHandle& device) {
    return Forward([&] { return devices_.GetDeviceNumber(device); });
}

std::optional<std::size_t> ScenarioDevices::QueryStorageDescriptor(DeviceHandle& device,
                                                                   std::span<std::uint8_t> buffer) {
    return Forward([&] { return devices_.QueryStorageDescriptor(device, buffer); });
}

std::optional<StorageHotplugInfo> ScenarioDevices::GetHotplugInfo(DeviceHandle& device) {
    return Forward([&] { return devices_.GetHotplugInfo(device); });
}

std::optional<VolumeInformation> ScenarioDevices::GetVolumeInformation(const std::string& root) {
    return Forward([&] { return devices_.GetVolumeInformation(root); });
}

std::optional<DiskSpace> ScenarioDevices::GetDiskFreeSpace(const std::string& root) {
    return Forward([&] { return devices_.GetDiskFreeSpace(root); });
}

std::unique_ptr<DeviceInfoSet> ScenarioDevices::GetClassDevs(const Guid& interfaceClass) {
    return Forward([&] { return devices_.GetClassDevs(interfaceClass); });
}

std::optional<DeviceInterfaceData> ScenarioDevices::EnumDeviceInterfaces(DeviceInfoSet& set,
                                                                         const Guid& interfaceClass,
                                                                         std::uint32_t index) {
    return Forward([&] { return devices_.EnumDeviceInterfaces(set, interfaceClass, index); });
}

bool ScenarioDevices::GetDeviceInterfaceDetailSize(DeviceInfoSet& set,
                                                   const DeviceInterfaceData& interfaceData,
                                                   std::uint32_t& requiredSize) {
    return Forward(
        [&] { return devices_.GetDeviceInterfaceDetailSize(set, interfaceData, requiredSize); });
}

std::optional<DeviceInterfaceDetail> ScenarioDevices::GetDeviceInterfaceDetail(
    DeviceInfoSet& set, const DeviceInterfaceData& interfaceData, std::uint32_t bufferSize) {
    return Forward(
        [&] { return devices_.GetDeviceInterfaceDetail(set, interfaceData, bufferSize); });
}

std::optional<std::uint32_t>
ScenarioDevices::GetDeviceRegistryPropertyDword(DeviceInfoSet& set, const DevInfoData& device,
                                                std::uint32_t property) {
    return Forward([&] { return devices_.GetDeviceRegistryPropertyDword(set, device, property); });
}

std::optional<std::uint32_t> ScenarioDevices::GetParentDevice(std::uint32_t devInst) {
    return Forward([&] { return devices_.GetParentDevice(devInst); });
}

std::optional<std::string> ScenarioDevices::GetDeviceInstanceId(std::uint32_t devInst) {
    return Forward([&] { return devices_.GetDeviceInstanceId(devInst); });
}

std::optional<std::vector<std::string>> ScenarioDevices::QueryEventsXml(const std::string& channel,
                                                                        const std::string& query,
                                                                        std::size_t maxEvents) {
    return Forward([&] { return devices_.QueryEventsXml(channel, query, maxEvents); });
}

EjectResult ScenarioDevices::RequestDeviceEject(std::uint32_t devInst, bool withVetoNameBuffer) {
    const EjectResult result =
        Forward([&] { return devices_.RequestDeviceEject(devInst, withVetoNameBuffer); });
    if (result.configRet == kConfigRetSuccess && result.vetoType == kVetoTypeUnknown) {
        const std::uint32_t callersError = scenario::ThreadLastError();
        for (const char letter : RemoveDrivesBelow(devices_, devInst)) {
            scenario::AnnounceDriveRemoval(letter);
            // Announced here already: the watch must not announce it a second time.
            const std::size_t at = announced_.find(letter);
            if (at != std::string::npos) {
                announced_.erase(at, 1);
            }
        }
        scenario::SetThreadLastError(callersError);
    }
    return result;
}

} // namespace platform
