#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/DeviceSetup.h"
#include "platform/EventLog.h"
#include "platform/Storage.h"

namespace platform {

// One logical drive of the simulated machine. A request whose answer is nullopt fails.
struct SimulatedDrive {
    std::uint32_t driveType = 3; // DRIVE_FIXED
    std::optional<std::string> dosDeviceName = std::string("\\Device\\HarddiskVolume1");
    bool opens = true; // CreateFileA of "\\.\X:" succeeds
    std::optional<StorageDeviceNumber> deviceNumber = StorageDeviceNumber{7, 0, 1};
    // The bytes the device writes for the descriptor request, as it pleases: the request
    // copies as many as fit into the caller's buffer and reports that many returned.
    std::optional<std::vector<std::uint8_t>> descriptor;
    std::optional<StorageHotplugInfo> hotplug = StorageHotplugInfo{};
    std::optional<VolumeInformation> volume = VolumeInformation{"SYSTEM", "NTFS"};
    std::optional<DiskSpace> space = DiskSpace{0, 0};
    // Every storage request to the drive (its open, its three requests, its volume and
    // space) blocks this many seconds, or until ReleaseHangs(): a stick that stopped
    // answering. 0: it answers at once.
    std::uint32_t hangSeconds = 0;
};

// A STORAGE_DEVICE_DESCRIPTOR as a well-behaved device writes it: the 40-byte header,
// then the vendor, product and revision strings, each closed by a NUL.
std::vector<std::uint8_t> MakeStorageDescriptor(std::uint8_t busType, const std::string& vendorId,
                                                const std::string& productId,
                                                const std::string& productRevision);

// One device interface of a class, as the setup interfaces list it.
struct SimulatedInterface {
    std::string path;
    std::optional<std::uint32_t> deviceNumber; // nullopt: the device-number request fails
    std::uint32_t devInst = 0;
    bool opens = true;                 // the path can be opened
    bool capabilitiesReadable = true;  // SPDRP_CAPABILITIES can be read
    std::uint32_t capabilities = 0x84; // removable, surprise removal OK
};

// A setup call that fails at a chosen interface index with a chosen error.
struct SimulatedFault {
    std::uint32_t index = 0;
    std::uint32_t error = 0;
};

// A program that holds a device open: a veto of the device's ejection writes an event 225
// naming it into the System log, as Windows 10 and later do.
struct SimulatedBlocker {
    std::string imagePath; // an NT device path, \Device\HarddiskVolume1\...
    std::uint32_t processId = 0;
};

// An event of the simulated System log, rendered as EvtRender renders it.
struct SimulatedEvent {
    std::uint64_t writtenAt = 0; // tick count
    std::string xml;
};

// The event 225 of Microsoft-Windows-Kernel-PnP as the system renders it (EvtRenderEventXml).
std::string RenderBlockerEvent(std::uint32_t processId, const std::string& imagePath,
                               const std::string& deviceInstance);

// Drives, device interfaces, the device tree, ejection and the blockers' events of a
// simulated machine. Every failure sets the machine's last-error value as Windows would;
// every call is counted.
//
// Threads: the device model may call it from a query worker while the GUI thread calls
// it too. Every call holds Mutex() for its whole body, except a hanging drive's wait,
// which holds no lock. The public members below are the test's and the scenario
// loader's: they change them only under Mutex(), or when no worker can be running.
class SimulatedDevices : public Storage, public DeviceSetup, public EventLog {
public:
    explicit SimulatedDevices(std::atomic<std::uint32_t>& lastError) : lastError_(lastError) {}

    std::recursive_mutex& Mutex() { return mutex_; }
    // Ends every hang now, and every later one at once.
    void ReleaseHangs();
    // Hangs block again (after every hang released was waited for).
    void ResetHangs();
    // How many requests are blocked in a hang right now.
    int HangingNow();
    // The last error that a failing call of this thread set: what the thread's own
    // last-error value holds on Windows, whatever other threads did meanwhile.
    static std::uint32_t ThreadError();
    static void SetThreadError(std::uint32_t code);

    std::map<char, SimulatedDrive> drives; // by upper-case letter
    std::map<Guid, std::vector<SimulatedInterface>> interfaces;
    std::map<std::uint32_t, std::uint32_t> parents;            // device instance -> its parent
    std::set<std::uint32_t> vetoedEjections;                   // these devices refuse to go
    std::uint32_t vetoType = 6;                                // PNP_VetoOutstandingOpen
    std::vector<std::pair<std::uint32_t, bool>> ejectRequests; // devInst, with veto name
    // Instance ids; a device not listed has USB\VID_1234&PID_5678\SIM<devInst>.
    std::map<std::uint32_t, std::string> deviceInstanceIds;
    // A vetoed ejection of the device writes an event 225 for each of its blockers,
    // `eventDelayMs` later (the system writes it asynchronously).
    std::map<std::uint32_t, std::vector<SimulatedBlocker>> blockers;
    std::uint32_t eventDelayMs = 0;
    std::vector<SimulatedEvent> systemLog;
    bool eventLogReadable = true;
    std::vector<std::string> eventQueries; // every query, in order
    // The tick count the events are stamped and looked at with.
    std::function<std::uint64_t()> ticks = [] { return std::uint64_t{0}; };
    bool classDevsFails = false;
    std::optional<SimulatedFault> enumFault;       // SetupDiEnumDeviceInterfaces
    std::optional<SimulatedFault> detailSizeFault; // the size question
    std::optional<SimulatedFault> detailFault;     // the detail itself

    // Every call through the boundary, closes of handles and sets included.
    std::uint64_t osCalls = 0;
    std::map<std::string, int> callsByName;
    int openHandles = 0;
    int openSets = 0;
    std::vector<std::string> opened; // every path opened, in order

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

    // EventLog: the System channel only. Of a query it understands only what the device
    // model asks (provider, event id 225 and the time window); the events are returned
    // newest first once written, and while no older than the window.
    std::optional<std::vector<std::string>> QueryEventsXml(const std::string& channel,
                                                           const std::string& query,
                                                           std::size_t maxEvents) override;

    // Called by the handles and sets this machine hands out.
    void Count(const char* name);

private:
    void SetError(std::uint32_t code);
    // Blocks for the hang of the drive that "E:" or "E:\" names, if it hangs.
    void HangIfAsked(const std::string& text);
    const SimulatedDrive* DriveOf(const std::string& text, std::size_t suffixLength) const;
    const SimulatedInterface* InterfaceOf(const DeviceInfoSet& set,
                                          const DeviceInterfaceData& data) const;
    std::atomic<std::uint32_t>& lastError_;
    std::recursive_mutex mutex_;
    std::mutex hangMutex_; // guards the two below; never taken while mutex_ is held
    std::condition_variable hangEnded_;
    bool hangsReleased_ = false;
    int hangingNow_ = 0;
};

} // namespace platform
