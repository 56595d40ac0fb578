#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "platform/DeviceSetup.h"

// What the device-instance lookup finds for a drive: the matched interface's path, the
// set it was found in (its handle value, for the report only: the set is released before
// the lookup returns) and the device information of its device.
struct TDeviceInstance {
    std::string DiskPath;
    std::uintptr_t InfoHandle = 0;
    platform::DevInfoData DevInfoData;
};

// Finds the disk, CD-ROM or floppy interface whose device number is the drive's, among
// the interface class that the drive type (and the floppy flag) chooses. found changes
// only on a match. A drive whose own device number is unknown (nullopt) matches nothing,
// and neither does an interface whose number cannot be read: a guess would make Eject
// aim at another device. Raises EOSError when the setup interfaces fail unexpectedly;
// the set and the detail buffer are released on every path.
void LookupDeviceInstance(const std::string& driveLetter, bool isFloppy,
                          std::optional<std::uint32_t> deviceNumber, TDeviceInstance& found);

// The device number of the device behind a device-interface path; nullopt when the path
// cannot be opened or the number cannot be read.
std::optional<std::uint32_t> DeviceNumberOfPath(const std::string& path);

// One 4-byte registry property of a device; value is 0 when the read fails.
bool ReadDevicePropertyDword(platform::DeviceInfoSet& set, const platform::DevInfoData& device,
                             std::uint32_t property, std::uint32_t& value);
