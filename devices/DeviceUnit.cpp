#include "devices/DeviceUnit.h"

#include <array>

#include "devices/BusTypeName.h"
#include "devices/DriveQueries.h"
#include "devices/StorageDescriptor.h"
#include "foundation/Assertions.h"
#include "foundation/TextFormat.h"
#include "platform/Machine.h"

namespace {

const char* const kRemovableDiskName = "Removable disk";
const char* const kFixedDiskName = "Fixed disk";
const char* const kFloppyMarker = "\\Floppy";
const char* const kBytesUnit = " byte(s)";
const char* const kNoDiskPath = "-";

struct SizeUnit {
    std::int64_t divisor;
    const char* suffix;
};

constexpr std::int64_t kKilo = 1024;
constexpr std::array<SizeUnit, 4> kSizeUnits = {{{kKilo * kKilo * kKilo * kKilo, " TB"},
                                                 {kKilo * kKilo * kKilo, " GB"},
                                                 {kKilo * kKilo, " MB"},
                                                 {kKilo, " KB"}}};

std::string DecimalSeparator() {
    return platform::CurrentMachine().locale->UserFormats().decimalSeparator;
}

std::string FormatSize(std::int64_t value, const std::string& decimalSeparator) {
    for (const SizeUnit& unit : kSizeUnits) {
        if (value > unit.divisor) {
            // Exact integer arithmetic: a double quotient would round 1.125 to even.
            std::int64_t whole = value / unit.divisor;
            const std::int64_t remainder = value % unit.divisor; // below 2^40
            std::int64_t hundredths = remainder * 100 / unit.divisor;
            if ((remainder * 100 % unit.divisor) * 2 >= unit.divisor) {
                ++hundredths;
            }
            if (hundredths == 100) {
                ++whole;
                hundredths = 0;
            }
            return std::to_string(whole) + decimalSeparator + (hundredths < 10 ? "0" : "") +
                   std::to_string(hundredths) + unit.suffix;
        }
    }
    return std::to_string(value) + kBytesUnit;
}

const char* BoolText(bool value) {
    return value ? "True" : "False";
}

std::string Signed32(std::uint32_t value) {
    return std::to_string(static_cast<std::int32_t>(value));
}

// A handle value as at least eight upper-case hexadecimal digits; a 64-bit value that
// needs more keeps them all rather than losing its upper half.
std::string HandleText(std::uintptr_t value) {
    const char* const digits = "0123456789ABCDEF";
    std::string text;
    for (std::uint64_t rest = value; rest != 0 || text.size() < 8; rest >>= 4) {
        text.insert(text.begin(), digits[rest & 0xF]);
    }
    return text;
}

} // namespace

std::string FormatSize(std::int64_t value) {
    return FormatSize(value, DecimalSeparator());
}

TDevice::TDevice(const std::string& aDriveLetter) : driveLetter_(aDriveLetter) {}

void TDevice::SetDriveLetter(const std::string& aDriveLetter) {
    driveLetter_ = aDriveLetter;
    QueryDeviceNumber();
    QueryDosDevice();
    LookupDeviceInstance(); // needs the number and the floppy flag
    QueryStorageProperty();
    QueryHotplugInfo();
    QueryVolume(); // needs the removable flag
}

void TDevice::Refresh() {
    SetDriveLetter(driveLetter_);
}

void TDevice::Assign(const TDevice* aSource) {
    Assert(aSource != nullptr, "aSource not assigned");
    SetDriveLetter(aSource->DriveLetter());
}

std::string TDevice::DrivePath() const {
    return "\\\\.\\" + driveLetter_ + ":";
}

void TDevice::QueryDeviceNumber() {
    deviceType_ = 0;
    partition_ = 0;
    deviceNumber_ = 0;
    deviceNumberRead_ = false;
    auto& storage = *platform::CurrentMachine().storage;
    NoteDeviceRequest("CreateFile");
    const auto drive = storage.OpenForQuery(DrivePath());
    if (!drive) {
        return;
    }
    NoteDeviceRequest("IOCTL_STORAGE_GET_DEVICE_NUMBER");
    if (const auto number = storage.GetDeviceNumber(*drive)) {
        deviceType_ = number->deviceType;
        deviceNumber_ = number->deviceNumber;
        partition_ = number->partitionNumber;
        deviceNumberRead_ = true;
    }
}

void TDevice::QueryDosDevice() {
    dosDeviceName_.clear();
    isFloppy_ = false;
    NoteDeviceRequest("QueryDosDevice");
    if (const auto name = platform::CurrentMachine().storage->QueryDosDevice(driveLetter_ + ":")) {
        dosDeviceName_ = *name;
        isFloppy_ = dosDeviceName_.find(kFloppyMarker) != std::string::npos;
    }
}

void TDevice::LookupDeviceInstance() {
    // Reset like every other step: a drive that no longer matches must not keep the
    // device instance of an earlier query, or Eject would aim at that device.
    instance_ = TDeviceInstance{};
    NoteDeviceRequest("device-instance lookup");
    ::LookupDeviceInstance(
        driveLetter_, isFloppy_,
        deviceNumberRead_ ? std::optional<std::uint32_t>(deviceNumber_) : std::nullopt, instance_);
}

void TDevice::QueryStorageProperty() {
    vendorId_.clear();
    productId_.clear();
    productRevision_.clear();
    busType_ = 0;
    auto& storage = *platform::CurrentMachine().storage;
    NoteDeviceRequest("CreateFile");
    const auto drive = storage.OpenForQuery(DrivePath());
    if (!drive) {
        return;
    }
    std::array<std::uint8_t, kStorageDescriptorBufferSize> buffer{};
    // The descriptor's Size member tells the device how much room it has.
    buffer[kStorageDescriptorSizeOffset] = kStorageDescriptorBufferSize & 0xFF;
    buffer[kStorageDescriptorSizeOffset + 1] = (kStorageDescriptorBufferSize >> 8) & 0xFF;
    NoteDeviceRequest("IOCTL_STORAGE_QUERY_PROPERTY");
    const auto returned = storage.QueryStorageDescriptor(*drive, buffer);
    if (!returned) {
        return;
    }
    const TStorageDescriptorInfo info = ParseStorageDescriptor(buffer, *returned);
    busType_ = info.BusType;
    vendorId_ = info.VendorId;
    productId_ = info.ProductId;
    productRevision_ = info.ProductRevision;
}

void TDevice::QueryHotplugInfo() {
    mediaRemovable_ = false;
    mediaHotplug_ = false;
    deviceHotplug_ = false;
    auto& storage = *platform::CurrentMachine().storage;
    NoteDeviceRequest("CreateFile");
    const auto drive = storage.OpenForQuery(DrivePath());
    if (!drive) {
        return;
    }
    NoteDeviceRequest("IOCTL_STORAGE_GET_HOTPLUG_INFO");
    if (const auto info = storage.GetHotplugInfo(*drive)) {
        mediaRemovable_ = info->mediaRemovable;
        mediaHotplug_ = info->mediaHotplug;
        deviceHotplug_ = info->deviceHotplug;
    }
}

void TDevice::QueryVolume() {
    volumeName_.clear();
    fileSystem_.clear();
    storageFree_ = 0;
    storageUsed_ = 0;
    storageTotal_ = 0;
    auto& storage = *platform::CurrentMachine().storage;
    const std::string root = driveLetter_ + ":\\";
    NoteDeviceRequest("GetVolumeInformation");
    if (const auto volume = storage.GetVolumeInformation(root)) {
        NoteDeviceRequest("GetDiskFreeSpaceEx");
        if (const auto space = storage.GetDiskFreeSpace(root)) {
            storageFree_ = space->freeBytesAvailable;
            storageTotal_ = space->totalBytes;
            // Wraps instead of overflowing when a volume reports more free than total.
            storageUsed_ = static_cast<std::int64_t>(static_cast<std::uint64_t>(storageTotal_) -
                                                     static_cast<std::uint64_t>(storageFree_));
        }
        volumeName_ = EscapeControlCharacters(volume->volumeName); // the stick owner's text
        fileSystem_ = volume->fileSystemName;
    }
    if (volumeName_.empty()) {
        volumeName_ = mediaRemovable_ ? kRemovableDiskName : kFixedDiskName;
    }
    // The user's formats are read once for the three texts.
    const std::string separator = DecimalSeparator();
    storageFreeAsText_ = FormatSize(storageFree_, separator);
    storageTotalAsText_ = FormatSize(storageTotal_, separator);
    storageUsedAsText_ = FormatSize(storageUsed_, separator);
}

std::string TDevice::GetDriveInfo() const {
    const std::array<std::string, 24> lines = {
        "DriveLetter = " + driveLetter_,
        "StorageFree = " + std::to_string(storageFree_),
        "StorageUsed = " + std::to_string(storageUsed_),
        "StorageTotal = " + std::to_string(storageTotal_),
        "StorageFreeAsText = " + storageFreeAsText_,
        "StorageUsedAsText = " + storageUsedAsText_,
        "StorageTotalAsText = " + storageTotalAsText_,
        "FileSystem = " + fileSystem_,
        "VolumeName = " + volumeName_,
        "InfoHandle = " + HandleText(InfoHandle()),
        "DevInst = " + Signed32(DevInst()),
        "Disk-Path = " + (DiskPath().empty() ? std::string(kNoDiskPath) : DiskPath()),
        "DeviceNumber = " + Signed32(deviceNumber_),
        "DeviceType = " + Signed32(deviceType_),
        "Partition = " + Signed32(partition_),
        "BusType = " + SetupApi::BusTypeName(busType_),
        "VendorId = " + vendorId_,
        "ProductId = " + productId_,
        "ProductRevision = " + productRevision_,
        "MediaHotplug = " + std::string(BoolText(mediaHotplug_)),
        "MediaRemovable = " + std::string(BoolText(mediaRemovable_)),
        "DeviceHotplug = " + std::string(BoolText(deviceHotplug_)),
        "DosDeviceName = " + dosDeviceName_,
        "IsFloppy = " + std::string(BoolText(isFloppy_)),
    };
    std::string text;
    for (const std::string& line : lines) {
        text += "\r\n" + line;
    }
    return text;
}

std::uint32_t TDevice::GetParent(int aLevel) const {
    auto& setup = *platform::CurrentMachine().deviceSetup;
    std::uint32_t result = DevInst();
    for (int level = 0; level < aLevel; ++level) {
        const auto parent = setup.GetParentDevice(result);
        if (!parent) {
            break; // the last device found is the best answer left
        }
        result = *parent;
    }
    return result;
}

std::optional<std::uint32_t> TDevice::FindParent(int aLevel) const {
    if (DevInst() == 0) {
        return std::nullopt;
    }
    auto& setup = *platform::CurrentMachine().deviceSetup;
    std::uint32_t result = DevInst();
    for (int level = 0; level < aLevel; ++level) {
        const auto parent = setup.GetParentDevice(result);
        if (!parent) {
            return std::nullopt;
        }
        result = *parent;
    }
    return result;
}
