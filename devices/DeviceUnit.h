#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "devices/DeviceLookupUnit.h"

// "1.50 KB": a byte count in base 1024 with two decimals and the user's decimal
// separator, rounded half away from zero; up to 1024 bytes, and below zero, the plain
// count and " byte(s)".
std::string FormatSize(std::int64_t value);

// One logical drive and what the system learns about it and the disk behind it: a
// snapshot taken by one query run of six steps, each of which resets its own fields
// first, so that a failed step leaves 0, empty or false behind.
class TDevice {
public:
    // Stores the letter (one upper-case character, no colon); queries nothing.
    explicit TDevice(const std::string& aDriveLetter);
    TDevice(const TDevice&) = delete;
    TDevice& operator=(const TDevice&) = delete;

    // Stores the letter and runs the whole query sequence. May raise EOSError from the
    // device-instance lookup; the steps after it then do not run.
    void SetDriveLetter(const std::string& aDriveLetter);
    // A full re-query of the record's own drive.
    void Refresh();
    // Takes aSource's drive letter and queries that drive afresh; copies nothing else.
    void Assign(const TDevice* aSource);
    // The 24-line report: each line preceded by CR LF, none after the last.
    std::string GetDriveInfo() const;
    // DevInst, or its ancestor aLevel levels up. Climbing stops at the first device whose
    // parent cannot be found, and that device is the result.
    std::uint32_t GetParent(int aLevel) const;
    // The ancestor aLevel levels up; nullopt when DevInst is unknown or any level of the
    // climb fails, so that nothing is ever aimed at a device that was not found.
    std::optional<std::uint32_t> FindParent(int aLevel) const;

    const std::string& DriveLetter() const { return driveLetter_; }
    const std::string& VolumeName() const { return volumeName_; }
    std::uint32_t DeviceNumber() const { return deviceNumber_; }
    std::int64_t StorageFree() const { return storageFree_; }
    std::int64_t StorageUsed() const { return storageUsed_; }
    std::int64_t StorageTotal() const { return storageTotal_; }
    const std::string& VendorId() const { return vendorId_; }
    std::uint32_t DeviceType() const { return deviceType_; }
    const std::string& ProductRevision() const { return productRevision_; }
    const std::string& ProductId() const { return productId_; }
    bool MediaHotplug() const { return mediaHotplug_; }
    bool DeviceHotplug() const { return deviceHotplug_; }
    bool MediaRemovable() const { return mediaRemovable_; }
    std::uint32_t Partition() const { return partition_; }
    const std::string& StorageUsedAsText() const { return storageUsedAsText_; }
    const std::string& StorageTotalAsText() const { return storageTotalAsText_; }
    const std::string& StorageFreeAsText() const { return storageFreeAsText_; }
    std::uint8_t BusType() const { return busType_; }
    const std::string& FileSystem() const { return fileSystem_; }
    const std::string& DosDeviceName() const { return dosDeviceName_; }
    bool IsFloppy() const { return isFloppy_; }
    const std::string& DiskPath() const { return instance_.DiskPath; }
    std::uintptr_t InfoHandle() const { return instance_.InfoHandle; }
    const platform::DevInfoData& DevInfoData() const { return instance_.DevInfoData; }
    std::uint32_t DevInst() const { return instance_.DevInfoData.devInst; }

private:
    void QueryDeviceNumber();
    void QueryDosDevice();
    void LookupDeviceInstance();
    void QueryStorageProperty();
    void QueryHotplugInfo();
    void QueryVolume();
    std::string DrivePath() const;

    std::string driveLetter_;
    std::string volumeName_;
    std::uint32_t deviceNumber_ = 0;
    bool deviceNumberRead_ = false; // whether deviceNumber_ came from the device
    std::int64_t storageFree_ = 0;
    std::int64_t storageUsed_ = 0;
    std::int64_t storageTotal_ = 0;
    std::string vendorId_;
    std::uint32_t deviceType_ = 0;
    std::string productRevision_;
    std::string productId_;
    bool mediaHotplug_ = false;
    bool deviceHotplug_ = false;
    bool mediaRemovable_ = false;
    std::uint32_t partition_ = 0;
    std::string storageUsedAsText_;
    std::string storageTotalAsText_;
    std::string storageFreeAsText_;
    std::uint8_t busType_ = 0;
    std::string fileSystem_;
    std::string dosDeviceName_;
    bool isFloppy_ = false;
    TDeviceInstance instance_;
};
