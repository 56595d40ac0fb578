#include <windows.h>
#include <winioctl.h>

#include <cstring>

#include "platform/windows/UniqueHandle.h"
#include "platform/windows/Win32Machine.h"

namespace platform::windows {
namespace {

constexpr DWORD kPathCharacters = 260; // the buffers hold one more, for a closing NUL

class Win32DeviceHandle : public DeviceHandle {
public:
    explicit Win32DeviceHandle(UniqueFileHandle file) : file_(std::move(file)) {}
    HANDLE get() const { return file_.get(); }

private:
    UniqueFileHandle file_;
};

HANDLE Native(DeviceHandle& device) {
    return static_cast<Win32DeviceHandle&>(device).get();
}

// A text the system wrote into a buffer, up to its first NUL and never past the buffer.
std::string TextOf(const char* buffer, std::size_t capacity) {
    return std::string(buffer, strnlen(buffer, capacity));
}

} // namespace

std::uint32_t Win32Storage::LogicalDrives() {
    return ::GetLogicalDrives();
}

std::uint32_t Win32Storage::DriveType(const std::string& drive) {
    return ::GetDriveTypeA(drive.c_str());
}

std::optional<std::string> Win32Storage::QueryDosDevice(const std::string& drive) {
    char buffer[kPathCharacters + 1];
    buffer[0] = '\0';
    const DWORD length = ::QueryDosDeviceA(drive.c_str(), buffer, kPathCharacters);
    if (length == 0) {
        return std::nullopt;
    }
    // The result is a list of NUL-terminated names; the first one is wanted.
    return TextOf(buffer, length < kPathCharacters ? length : kPathCharacters);
}

std::unique_ptr<DeviceHandle> Win32Storage::OpenForQuery(const std::string& path) {
    UniqueFileHandle file(::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) {
        return nullptr;
    }
    return std::make_unique<Win32DeviceHandle>(std::move(file));
}

std::optional<StorageDeviceNumber> Win32Storage::GetDeviceNumber(DeviceHandle& device) {
    STORAGE_DEVICE_NUMBER number = {};
    DWORD returned = 0;
    if (!::DeviceIoControl(Native(device), IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number,
                           sizeof number, &returned, nullptr)) {
        return std::nullopt;
    }
    return StorageDeviceNumber{number.DeviceType, number.DeviceNumber, number.PartitionNumber};
}

std::optional<std::size_t> Win32Storage::QueryStorageDescriptor(DeviceHandle& device,
                                                                std::span<std::uint8_t> buffer) {
    STORAGE_PROPERTY_QUERY query = {}; // StorageDeviceProperty, PropertyStandardQuery
    DWORD returned = 0;
    if (!::DeviceIoControl(Native(device), IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query,
                           buffer.data(), static_cast<DWORD>(buffer.size()), &returned, nullptr)) {
        return std::nullopt;
    }
    return returned;
}

std::optional<StorageHotplugInfo> Win32Storage::GetHotplugInfo(DeviceHandle& device) {
    STORAGE_HOTPLUG_INFO info = {};
    DWORD returned = 0;
    if (!::DeviceIoControl(Native(device), IOCTL_STORAGE_GET_HOTPLUG_INFO, nullptr, 0, &info,
                           sizeof info, &returned, nullptr)) {
        return std::nullopt;
    }
    return StorageHotplugInfo{info.MediaRemovable != 0, info.MediaHotplug != 0,
                              info.DeviceHotplug != 0};
}

std::optional<VolumeInformation> Win32Storage::GetVolumeInformation(const std::string& root) {
    char label[kPathCharacters + 1] = {};
    char fileSystem[kPathCharacters + 1] = {};
    DWORD serialNumber = 0;
    DWORD maximumComponentLength = 0;
    DWORD flags = 0;
    if (!::GetVolumeInformationA(root.c_str(), label, kPathCharacters, &serialNumber,
                                 &maximumComponentLength, &flags, fileSystem, kPathCharacters)) {
        return std::nullopt;
    }
    return VolumeInformation{TextOf(label, kPathCharacters), TextOf(fileSystem, kPathCharacters)};
}

std::optional<DiskSpace> Win32Storage::GetDiskFreeSpace(const std::string& root) {
    ULARGE_INTEGER available = {};
    ULARGE_INTEGER total = {};
    if (!::GetDiskFreeSpaceExA(root.c_str(), &available, &total, nullptr)) {
        return std::nullopt;
    }
    return DiskSpace{static_cast<std::int64_t>(available.QuadPart),
                     static_cast<std::int64_t>(total.QuadPart)};
}

} // namespace platform::windows
