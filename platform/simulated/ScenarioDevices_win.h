#pragma once
#include <cstdint>
#include <string>

#include "platform/DeviceSetup.h"
#include "platform/EventLog.h"
#include "platform/Storage.h"
#include "platform/simulated/DeviceScenario.h"
#include "platform/simulated/SimulatedDevices.h"

namespace platform {

// The drives and devices of the test-only simulated-devices build of Driveward.exe: a
// SimulatedDevices filled from a scenario file, behind the real process.
//
// - The file is read again at every LogicalDrives() call (the start of every refresh) and
//   loaded when its content or write time changed; a missing file means no drives. A file
//   that exists but cannot be read just now keeps the drives as they were.
// - The device model reads the last-error value through the real system, so every
//   forwarded call leaves the simulated value in the thread's last error.
// - An ejection that is not vetoed takes the device's drives away (until the file changes)
//   and, once the thread next takes its messages, sends WM_DEVICECHANGE /
//   DBT_DEVICEREMOVECOMPLETE for each drive to this process's own top-level windows, as
//   the system would; no other process hears of it.
// - Once WatchFile() is called, the file is looked at twice a second while the thread takes
//   its messages. Each drive that came or went since the windows last heard is announced
//   to them the same way (DBT_DEVICEARRIVAL, DBT_DEVICEREMOVECOMPLETE): editing the file
//   plugs and unplugs drives live, as the system announces every arrival and removal.
//
// - A drive's `veto=IMAGE:PID` makes a refused ejection write an event 225 naming that
//   program into the simulated System log, which the process reads through this class's
//   EventLog as it would read the real one.
//
// Called from the GUI thread and from device-query workers: the simulated drives are read
// and changed only under the SimulatedDevices lock, and each thread keeps its own
// last-error value. Everything else (the file watch, the announcements) is the GUI
// thread's.
class ScenarioDevices : public Storage, public DeviceSetup, public EventLog {
public:
    explicit ScenarioDevices(std::wstring scenarioPath);
    ScenarioDevices(const ScenarioDevices&) = delete;
    ScenarioDevices& operator=(const ScenarioDevices&) = delete;

    // Starts the watch of the file on the calling thread, which must be the thread that
    // takes the messages of the windows told about the drives; false when it cannot start.
    bool WatchFile();

    // What the last load of the file found.
    const DeviceScenarioResult& LastLoad() const { return lastLoad_; }

    // Storage
    std::uint32_t LogicalDrives() override;
    std::uint32_t DriveType(const std::string& drive) override;
    std::optional<std::string> QueryDosDevice(const std::string& drive) override;
    std::unique_ptr<DeviceHandle> OpenForQuery(const std::string& path) override;
    std::optional<StorageDeviceNumber> GetDeviceNumber(DeviceHandle& device) override;
    std::optional<std::size_t> QueryStorageDescriptor(DeviceHandle& device,
                                                      std::span<std::uint8_t> buffer) override;
    std::optional<StorageHotplugInfo> GetHotplugInfo(DeviceHandle& device) override;
    std::optional<VolumeInformation> GetVolumeInformation(const std::string& root) override;
    std::optional<DiskSpace> GetDiskFreeSpace(const std::string& root) override;

    // DeviceSetup
    std::unique_ptr<DeviceInfoSet> GetClassDevs(const Guid& interfaceClass) override;
    std::optional<DeviceInterfaceData> EnumDeviceInterfaces(DeviceInfoSet& set,
                                                            const Guid& interfaceClass,
                                                            std::uint32_t index) override;
    bool GetDeviceInterfaceDetailSize(DeviceInfoSet& set, const DeviceInterfaceData& interfaceData,
                                      std::uint32_t& requiredSize) override;
    std::optional<DeviceInterfaceDetail>
    GetDeviceInterfaceDetail(DeviceInfoSet& set, const DeviceInterfaceData& interfaceData,
                             std::uint32_t bufferSize) override;
    std::optional<std::uint32_t> GetDeviceRegistryPropertyDword(DeviceInfoSet& set,
                                                                const DevInfoData& device,
                                                                std::uint32_t property) override;
    std::optional<std::uint32_t> GetParentDevice(std::uint32_t devInst) override;
    std::optional<std::string> GetDeviceInstanceId(std::uint32_t devInst) override;
    EjectResult RequestDeviceEject(std::uint32_t devInst, bool withVetoNameBuffer) override;

    // EventLog: the simulated System log.
    std::optional<std::vector<std::string>> QueryEventsXml(const std::string& channel,
                                                           const std::string& query,
                                                           std::size_t maxEvents) override;

private:
    template <typename Call> auto Forward(Call&& call);
    void ReloadIfChanged();
    void AnnounceChanges();
    std::string DriveLetters();

    std::wstring path_;
    std::atomic<std::uint32_t> lastError_{0}; // unused: each thread has its own
    SimulatedDevices devices_{lastError_};
    // The file as last loaded.
    bool present_ = false;
    std::uint64_t writeTime_ = 0;
    std::string content_;
    DeviceScenarioResult lastLoad_;
    // The drives the windows were last told about (or found at the watch's start).
    std::string announced_;
};

} // namespace platform
