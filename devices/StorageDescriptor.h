#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

// The buffer the storage-descriptor request is given, and its Size member's place.
inline constexpr std::size_t kStorageDescriptorBufferSize = 294;
inline constexpr std::size_t kStorageDescriptorSizeOffset = 4;

// What the device model takes from a STORAGE_DEVICE_DESCRIPTOR.
struct TStorageDescriptorInfo {
    std::uint8_t BusType = 0;
    std::string VendorId;
    std::string ProductId;
    std::string ProductRevision;
};

// Reads a descriptor that a device wrote. The device is not trusted: only the first
// bytesReturned bytes of the buffer count (never more than the buffer holds), a field
// outside them is left at 0 or empty, a string offset of 0 or 0xFFFFFFFF gives an empty
// text, and a string ends at its first NUL or at the end of the returned bytes. Strings
// lose leading and trailing blanks and control characters; those inside are escaped.
TStorageDescriptorInfo ParseStorageDescriptor(std::span<const std::uint8_t> buffer,
                                              std::size_t bytesReturned);
