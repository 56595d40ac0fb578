#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace platform {

// A drive or device-interface path opened for query only (no read or write access);
// closed when its owner lets go of it.
class DeviceHandle {
public:
    virtual ~DeviceHandle() = default;
};

// STORAGE_DEVICE_NUMBER
struct StorageDeviceNumber {
    std::uint32_t deviceType = 0;
    std::uint32_t deviceNumber = 0;
    std::uint32_t partitionNumber = 0;
};

// STORAGE_HOTPLUG_INFO
struct StorageHotplugInfo {
    bool mediaRemovable = false;
    bool mediaHotplug = false;
    bool deviceHotplug = false;
};

struct VolumeInformation {
    std::string volumeName;
    std::string fileSystemName;
};

struct DiskSpace {
    std::int64_t freeBytesAvailable = 0; // to the calling user
    std::int64_t totalBytes = 0;
};

// The logical drives and the storage requests a drive's device answers. Every failure
// leaves the thread's last-error value as the system set it.
class Storage {
public:
    virtual ~Storage() = default;
    // GetLogicalDrives: bit 0 is drive A.
    virtual std::uint32_t LogicalDrives() = 0;
    // GetDriveTypeA of a text such as "E:".
    virtual std::uint32_t DriveType(const std::string& drive) = 0;
    // QueryDosDeviceA of a text such as "E:" into 260 characters: the first target path
    // only; nullopt when the call fails.
    virtual std::optional<std::string> QueryDosDevice(const std::string& drive) = 0;
    // CreateFileA with access 0, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING;
    // nullptr when the open fails.
    virtual std::unique_ptr<DeviceHandle> OpenForQuery(const std::string& path) = 0;
    // IOCTL_STORAGE_GET_DEVICE_NUMBER
    virtual std::optional<StorageDeviceNumber> GetDeviceNumber(DeviceHandle& device) = 0;
    // IOCTL_STORAGE_QUERY_PROPERTY, StorageDeviceProperty, PropertyStandardQuery: the
    // device writes its STORAGE_DEVICE_DESCRIPTOR into the buffer as it sees fit. Returns
    // the number of bytes the request reports returned (not trusted by the caller), or
    // nullopt when the request fails.
    virtual std::optional<std::size_t> QueryStorageDescriptor(DeviceHandle& device,
                                                              std::span<std::uint8_t> buffer) = 0;
    // IOCTL_STORAGE_GET_HOTPLUG_INFO
    virtual std::optional<StorageHotplugInfo> GetHotplugInfo(DeviceHandle& device) = 0;
    // GetVolumeInformationA of a root such as "E:\" with 260-character buffers.
    virtual std::optional<VolumeInformation> GetVolumeInformation(const std::string& root) = 0;
    // GetDiskFreeSpaceExA of a root; the total free bytes are not asked for.
    virtual std::optional<DiskSpace> GetDiskFreeSpace(const std::string& root) = 0;
};

} // namespace platform
