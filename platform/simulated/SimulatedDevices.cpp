#include "platform/simulated/SimulatedDevices.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace platform {
namespace {

constexpr std::uint32_t kErrorInvalidFunction = 1;
constexpr std::uint32_t kErrorFileNotFound = 2;
constexpr std::uint32_t kErrorInvalidData = 13;
constexpr std::uint32_t kErrorNotReady = 21;
constexpr std::uint32_t kErrorNotSupported = 50;
constexpr std::uint32_t kErrorInsufficientBuffer = 122;
constexpr std::uint32_t kErrorNoMoreItems = 259;
constexpr std::uint32_t kDriveNoRootDir = 1;
constexpr std::uint32_t kPropertyCapabilities = 15;
constexpr std::uint32_t kConfigRetRemoveVetoed = 23;
// SP_DEVICE_INTERFACE_DETAIL_DATA_A: the size member, then the path.
constexpr std::uint32_t kDetailPathOffset = 4;

class SimulatedDeviceHandle : public DeviceHandle {
public:
    SimulatedDeviceHandle(SimulatedDevices& devices, std::string path)
        : devices_(devices), path_(std::move(path)) {
        ++devices_.openHandles; // created inside a call that holds the machine's lock
    }
    ~SimulatedDeviceHandle() override {
        std::lock_guard<std::recursive_mutex> lock(devices_.Mutex());
        --devices_.openHandles;
        devices_.Count("CloseHandle");
    }
    SimulatedDeviceHandle(const SimulatedDeviceHandle&) = delete;
    SimulatedDeviceHandle& operator=(const SimulatedDeviceHandle&) = delete;
    const std::string& path() const { return path_; }

private:
    SimulatedDevices& devices_;
    std::string path_;
};

class SimulatedDeviceInfoSet : public DeviceInfoSet {
public:
    SimulatedDeviceInfoSet(SimulatedDevices& devices, Guid interfaceClass, std::uintptr_t value)
        : devices_(devices), interfaceClass_(interfaceClass), value_(value) {
        ++devices_.openSets; // created inside a call that holds the machine's lock
    }
    ~SimulatedDeviceInfoSet() override {
        std::lock_guard<std::recursive_mutex> lock(devices_.Mutex());
        --devices_.openSets;
        devices_.Count("SetupDiDestroyDeviceInfoList");
    }
    SimulatedDeviceInfoSet(const SimulatedDeviceInfoSet&) = delete;
    SimulatedDeviceInfoSet& operator=(const SimulatedDeviceInfoSet&) = delete;
    std::uintptr_t HandleValue() const override { return value_; }
    const Guid& interfaceClass() const { return interfaceClass_; }

private:
    SimulatedDevices& devices_;
    Guid interfaceClass_;
    std::uintptr_t value_;
};

const std::string& PathOf(DeviceHandle& device) {
    return static_cast<SimulatedDeviceHandle&>(device).path();
}

void PutUInt32(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

// Text as XML writes it in an element or an attribute in single quotes.
std::string XmlEscaped(const std::string& text) {
    std::string escaped;
    for (const char c : text) {
        switch (c) {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        case '\'':
            escaped += "&apos;";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

} // namespace

std::string RenderBlockerEvent(std::uint32_t processId, const std::string& imagePath,
                               const std::string& deviceInstance) {
    const std::string commandLine = "\"" + imagePath + "\"";
    return "<Event xmlns='http://schemas.microsoft.com/win/2004/08/events/event'><System>"
           "<Provider Name='Microsoft-Windows-Kernel-PnP' "
           "Guid='{9c205a39-1250-487d-abd7-e831c6290539}'/><EventID>225</EventID>"
           "<Version>2</Version><Level>3</Level><Task>223</Task><Opcode>0</Opcode>"
           "<Keywords>0x8000000000000000</Keywords>"
           "<TimeCreated SystemTime='2011-03-15T09:38:48.1234567Z'/>"
           "<EventRecordID>699231</EventRecordID><Correlation/>"
           "<Execution ProcessID='4' ThreadID='312'/><Channel>System</Channel>"
           "<Computer>WORKSTATION7</Computer><Security UserID='S-1-5-18'/></System>"
           "<EventData><Data Name='ProcessId'>" +
           std::to_string(processId) + "</Data><Data Name='ProcessNameLength'>" +
           std::to_string(imagePath.size()) + "</Data><Data Name='ProcessName'>" +
           XmlEscaped(imagePath) + "</Data><Data Name='DeviceInstanceLength'>" +
           std::to_string(deviceInstance.size()) + "</Data><Data Name='DeviceInstance'>" +
           XmlEscaped(deviceInstance) + "</Data><Data Name='ProcessCommandLineLength'>" +
           std::to_string(commandLine.size()) + "</Data><Data Name='ProcessCommandLine'>" +
           XmlEscaped(commandLine) + "</Data><Data Name='AffectedDevicesCount'>0</Data>" +
           "</EventData></Event>";
}

std::vector<std::uint8_t> MakeStorageDescriptor(std::uint8_t busType, const std::string& vendorId,
                                                const std::string& productId,
                                                const std::string& productRevision) {
    constexpr std::uint32_t kHeaderSize = 40;
    std::vector<std::uint8_t> bytes(kHeaderSize, 0);
    const auto append = [&bytes](const std::string& text) {
        const auto offset = static_cast<std::uint32_t>(bytes.size());
        bytes.insert(bytes.end(), text.begin(), text.end());
        bytes.push_back(0);
        return offset;
    };
    PutUInt32(bytes, 12, append(vendorId));
    PutUInt32(bytes, 16, append(productId));
    PutUInt32(bytes, 20, append(productRevision));
    PutUInt32(bytes, 24, 0); // no serial number
    PutUInt32(bytes, 28, busType);
    PutUInt32(bytes, 0, kHeaderSize);                              // Version
    PutUInt32(bytes, 4, static_cast<std::uint32_t>(bytes.size())); // Size
    return bytes;
}

namespace {
thread_local std::uint32_t threadError = 0;
}

std::uint32_t SimulatedDevices::ThreadError() {
    return threadError;
}

void SimulatedDevices::SetThreadError(std::uint32_t code) {
    threadError = code;
}

void SimulatedDevices::SetError(std::uint32_t code) {
    lastError_ = code;
    threadError = code;
}

void SimulatedDevices::HangIfAsked(const std::string& text) {
    std::uint32_t seconds = 0;
    {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        const SimulatedDrive* drive = text.empty() ? nullptr : DriveOf(text.substr(0, 2), 1);
        seconds = drive == nullptr ? 0 : drive->hangSeconds;
    }
    if (seconds == 0) {
        return;
    }
    // Blocks without the machine's lock, so that other threads keep being answered.
    std::unique_lock<std::mutex> lock(hangMutex_);
    ++hangingNow_;
    hangEnded_.wait_for(lock, std::chrono::seconds(seconds), [this] { return hangsReleased_; });
    --hangingNow_;
}

void SimulatedDevices::ReleaseHangs() {
    {
        std::lock_guard<std::mutex> lock(hangMutex_);
        hangsReleased_ = true;
    }
    hangEnded_.notify_all();
}

void SimulatedDevices::ResetHangs() {
    std::lock_guard<std::mutex> lock(hangMutex_);
    hangsReleased_ = false;
}

int SimulatedDevices::HangingNow() {
    std::lock_guard<std::mutex> lock(hangMutex_);
    return hangingNow_;
}

void SimulatedDevices::Count(const char* name) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    ++osCalls;
    ++callsByName[name];
}

const SimulatedDrive* SimulatedDevices::DriveOf(const std::string& text,
                                                std::size_t suffixLength) const {
    // "E:" and "E:\" name drive E.
    if (text.size() != 1 + suffixLength || text[1] != ':') {
        return nullptr;
    }
    const auto it = drives.find(text[0]);
    return it == drives.end() ? nullptr : &it->second;
}

const SimulatedInterface* SimulatedDevices::InterfaceOf(const DeviceInfoSet& set,
                                                        const DeviceInterfaceData& data) const {
    const auto& simulated = static_cast<const SimulatedDeviceInfoSet&>(set);
    const auto it = interfaces.find(simulated.interfaceClass());
    // The reserved member carries the member index plus one.
    if (it == interfaces.end() || data.reserved == 0 || data.reserved > it->second.size()) {
        return nullptr;
    }
    return &it->second[data.reserved - 1];
}

std::uint32_t SimulatedDevices::LogicalDrives() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    Count("GetLogicalDrives");
    std::uint32_t mask = 0;
    for (const auto& [letter, drive] : drives) {
        if (letter >= 'A' && letter <= 'Z') {
            mask |= 1u << (letter - 'A');
        }
    }
    return mask;
}

std::uint32_t SimulatedDevices::DriveType(const std::string& drive) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    Count("GetDriveTypeA");
    const SimulatedDrive* simulated = DriveOf(drive, 1);
    return simulated == nullptr ? kDriveNoRootDir : simulated->driveType;
}

std::optional<std::string> SimulatedDevices::QueryDosDevice(const std::string& drive) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    Count("QueryDosDeviceA");
    const SimulatedDrive* simulated = DriveOf(drive, 1);
    if (simulated == nullptr || !simulated->dosDeviceName) {
        SetError(kErrorFileNotFound);
        return std::nullopt;
    }
    return simulated->dosDeviceName;
}

std::unique_ptr<DeviceHandle> SimulatedDevices::OpenForQuery(const std::string& path) {
    HangIfAsked(path.rfind("\\\\.\\", 0) == 0 ? path.substr(4) : std::string());
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    Count("CreateFileA");
    opened.push_back(path);
    bool opens = false;
    if (path.rfind("\\\\.\\", 0) == 0) {
        const SimulatedDrive* drive = DriveOf(path.substr(4), 1);
        opens = drive != nullptr && drive->opens;
    } else {
        for (const auto& [guid, list] : interfaces) {
            for (const auto& candidate : list) {
                opens = opens || (candidate.path == path && candidate.opens);
            }
        }
    }
    if (!opens) {
        SetError(kErrorFileNotFound);
        return nullptr;
    }
    return std::make_unique<SimulatedDeviceHandle>(*this, path);
}

std::optional<StorageDeviceNumber> SimulatedDevices::GetDeviceNumber(DeviceHandle& device) {
    HangIfAsked(PathOf(device).rfind("\\\\.\\", 0) == 0 ? PathOf(device).substr(4) : std::string());
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    Count("DeviceIoControl");
    const std::string& path = PathOf(device);
    if (path.rfind("\\\\.\\", 0) == 0) {
        const SimulatedDrive* drive = DriveOf(path.substr(4), 1);
        if (drive != nullptr && drive->deviceNumber) {
            return drive->deviceNumber;
        }
    } else {
        for (const auto& [guid, list] : interfaces) {
            for (const auto& candidate : list) {
                if (candidate.path == path && candidate.deviceNumber) {
                    return StorageDeviceNumber{7, *candidate.deviceNumber, 0};
                }
            }
        }
    }
    SetError(kErrorInvalidFunction);
    return std::nullopt;
}

std::optional<std::size_t>
SimulatedDevices::QueryStorageDescriptor(DeviceHandle& device, std::span<std::uint8_t> buffer) {
    HangIfAsked(PathOf(device).rfind("\\\\.\\", 0) == 0 ? PathOf(device).substr(4) : std::string());
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    Count("DeviceIoControl");
    const SimulatedDrive* drive = DriveOf(PathOf(device).substr(4), 1);
    if (drive == nullptr || !drive->descriptor) {
        SetError(kErrorInvalidFunction);
        return std::nullopt;
    }
    const std::size_t count = std::min(buffer.size(), drive->descriptor->size());
    std::copy_n(drive->descriptor->begin(), count, buffer.begin());
    return count;
}

std::optional<StorageHotplugInfo> SimulatedDevices::GetHotplugInfo(DeviceHandle& device) {
    HangIfAsked(PathOf(device).rfind("\\\\.\\", 0) == 0 ? PathOf(device).substr(4) : std::string());
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    Count("DeviceIoControl");
    const SimulatedDrive* drive = DriveOf(PathOf(device).substr(4), 1);
    if (drive == nullptr || !drive->hotplug) {
        SetError(kErrorNotSupported);
        return std::nullopt;
    }
    return drive->hotplug;
}

std::optional<VolumeInformation> SimulatedDevices::GetVolumeInformation(const std::string& root) {
    HangIfAsked(root);
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    Count("GetVolumeInformationA");
    const SimulatedDrive* drive = DriveOf(root, 2);
    if (drive == nullptr || !drive->volume) {
        SetError(kErrorNotReady);
        return std::nullopt;
    }
    return drive->volume;
}

std::optional<DiskSpace> SimulatedDevices::GetDiskFreeSpace(const std::string& root) {
    HangIfAsked(root);
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    Count("GetDiskFreeSpaceExA");
    const SimulatedDrive* drive = DriveOf(root, 2);
    if (drive == nullptr || !drive->space) {
        SetError(kErrorNotReady);
        return std::nullopt;
    }
    return drive->space;
}

std::unique_ptr<DeviceInfoSet> SimulatedDevices::GetClassDevs(const Guid& interfaceClass) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    Count("SetupDiGetClassDevsA");
    if (classDevsFails) {
        SetError(kErrorInvalidData);
        return nullptr;
    }
    // A recognisable handle value per set handed out.
    const std::uintptr_t value = 0x00C0FFEE + callsByName["SetupDiGetClassDevsA"];
    return std::make_unique<SimulatedDeviceInfoSet>(*this, interfaceClass, value);
}

std::optional<DeviceInterfaceData>
SimulatedDevices::EnumDeviceInterfaces(DeviceInfoSet& set, const Guid& interfaceClass,
                                       std::uint32_t index) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    Count("SetupDiEnumDeviceInterfaces");
    if (enumFault && enumFault->index == index) {
        SetError(enumFault->error);
        return std::nullopt;
    }
    const auto& simulated = static_cast<SimulatedDeviceInfoSet&>(set);
    const auto it = interfaces.find(simulated.interfaceClass());
    if (!(interfaceClass == simulated.interfaceClass()) || it == interfaces.end() ||
        index >= it->second.size()) {
        SetError(kErrorNoMoreItems);
        return std::nullopt;
    }
    return DeviceInterfaceData{32, interfaceClass, 1, index + 1u};
}

bool SimulatedDevices::GetDeviceInterfaceDetailSize(DeviceInfoSet& set,
                                                    const DeviceInterfaceData& interfaceData,
                                                    std::uint32_t& requiredSize) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    Count("SetupDiGetDeviceInterfaceDetailA");
    requiredSize = 0;
    if (detailSizeFault && detailSizeFault->index + 1 == interfaceData.reserved) {
        SetError(detailSizeFault->error);
        return false;
    }
    const SimulatedInterface* simulated = InterfaceOf(set, interfaceData);
    if (simulated == nullptr) {
        SetError(kErrorInvalidData);
        return false;
    }
    requiredSize = kDetailPathOffset + static_cast<std::uint32_t>(simulated->path.size()) + 1;
    SetError(kErrorInsufficientBuffer);
    return false;
}

std::optional<DeviceInterfaceDetail> SimulatedDevices::GetDeviceInterfaceDetail(
    DeviceInfoSet& set, const DeviceInterfaceData& interfaceData, std::uint32_t bufferSize) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    Count("SetupDiGetDeviceInterfaceDetailA");
    if (detailFault && detailFault->index + 1 == interfaceData.reserved) {
        SetError(detailFault->error);
        return std::nullopt;
    }
    const SimulatedInterface* simulated = InterfaceOf(set, interfaceData);
    if (simulated == nullptr) {
        SetError(kErrorInvalidData);
        return std::nullopt;
    }
    if (bufferSize < kDetailPathOffset + simulated->path.size() + 1) {
        SetError(kErrorInsufficientBuffer);
        return std::nullopt;
    }
    const auto& simulatedSet = static_cast<SimulatedDeviceInfoSet&>(set);
    return DeviceInterfaceDetail{
        simulated->path,
        DevInfoData{32, simulatedSet.interfaceClass(), simulated->devInst, interfaceData.reserved}};
}

std::optional<std::uint32_t>
SimulatedDevices::GetDeviceRegistryPropertyDword(DeviceInfoSet& set, const DevInfoData& device,
                                                 std::uint32_t property) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    Count("SetupDiGetDeviceRegistryPropertyA");
    DeviceInterfaceData data;
    data.reserved = device.reserved;
    const SimulatedInterface* simulated = InterfaceOf(set, data);
    if (simulated == nullptr || property != kPropertyCapabilities ||
        !simulated->capabilitiesReadable) {
        SetError(kErrorInvalidData);
        return std::nullopt;
    }
    return simulated->capabilities;
}

std::optional<std::uint32_t> SimulatedDevices::GetParentDevice(std::uint32_t devInst) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    Count("CM_Get_Parent");
    const auto it = parents.find(devInst);
    if (it == parents.end()) {
        return std::nullopt;
    }
    return it->second;
}

std::optional<std::string> SimulatedDevices::GetDeviceInstanceId(std::uint32_t devInst) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    Count("CM_Get_Device_IDA");
    const auto it = deviceInstanceIds.find(devInst);
    if (it != deviceInstanceIds.end()) {
        return it->second;
    }
    return "USB\\VID_1234&PID_5678\\SIM" + std::to_string(devInst);
}

EjectResult SimulatedDevices::RequestDeviceEject(std::uint32_t devInst, bool withVetoNameBuffer) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    Count("CM_Request_Device_EjectW");
    ejectRequests.emplace_back(devInst, withVetoNameBuffer);
    if (vetoedEjections.count(devInst) == 0) {
        return EjectResult{};
    }
    const auto it = blockers.find(devInst);
    if (it != blockers.end()) {
        const std::string instance = GetDeviceInstanceId(devInst).value_or("");
        for (const auto& blocker : it->second) {
            systemLog.push_back(
                {ticks() + eventDelayMs,
                 RenderBlockerEvent(blocker.processId, blocker.imagePath, instance)});
        }
    }
    return EjectResult{kConfigRetRemoveVetoed, vetoType};
}

std::optional<std::vector<std::string>> SimulatedDevices::QueryEventsXml(const std::string& channel,
                                                                         const std::string& query,
                                                                         std::size_t maxEvents) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    Count("EvtQuery");
    eventQueries.push_back(query);
    if (!eventLogReadable || channel != "System") {
        return std::nullopt;
    }
    const std::string windowAt = "timediff(@SystemTime) <= ";
    const std::size_t at = query.find(windowAt);
    if (query.find("Provider[@Name='Microsoft-Windows-Kernel-PnP']") == std::string::npos ||
        query.find("(EventID=225)") == std::string::npos || at == std::string::npos) {
        return std::vector<std::string>{}; // asks for something this log does not have
    }
    const std::uint64_t window = std::stoull(query.substr(at + windowAt.size()));
    const std::uint64_t now = ticks();
    std::vector<std::string> found;
    for (auto event = systemLog.rbegin(); event != systemLog.rend() && found.size() < maxEvents;
         ++event) {
        if (event->writtenAt <= now && now - event->writtenAt <= window) {
            found.push_back(event->xml);
        }
    }
    return found;
}

} // namespace platform
