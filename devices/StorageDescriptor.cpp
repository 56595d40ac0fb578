#include "devices/StorageDescriptor.h"

#include <algorithm>
#include <optional>

#include "foundation/Paths.h"
#include "foundation/TextFormat.h"

namespace {

// STORAGE_DEVICE_DESCRIPTOR member offsets (all members little-endian).
constexpr std::size_t kVendorIdOffset = 12;
constexpr std::size_t kProductIdOffset = 16;
constexpr std::size_t kProductRevisionOffset = 20;
constexpr std::size_t kBusTypeOffset = 28;
constexpr std::uint32_t kNoString = 0xFFFFFFFF;

std::optional<std::uint32_t> ReadUInt32(std::span<const std::uint8_t> bytes, std::size_t offset) {
    if (bytes.size() < 4 || offset > bytes.size() - 4) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(bytes[offset]) |
           static_cast<std::uint32_t>(bytes[offset + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[offset + 2]) << 16 |
           static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
}

std::string StringAt(std::span<const std::uint8_t> bytes, std::size_t offsetField) {
    const auto offset = ReadUInt32(bytes, offsetField);
    if (!offset || *offset == 0 || *offset == kNoString || *offset >= bytes.size()) {
        return {};
    }
    const auto start = bytes.begin() + *offset;
    const auto end = std::find(start, bytes.end(), std::uint8_t{0});
    return EscapeControlCharacters(Trim(std::string(start, end)));
}

} // namespace

TStorageDescriptorInfo ParseStorageDescriptor(std::span<const std::uint8_t> buffer,
                                              std::size_t bytesReturned) {
    const auto bytes = buffer.first(std::min(bytesReturned, buffer.size()));
    TStorageDescriptorInfo info;
    if (const auto busType = ReadUInt32(bytes, kBusTypeOffset)) {
        info.BusType = static_cast<std::uint8_t>(*busType & 0xFF);
    }
    info.VendorId = StringAt(bytes, kVendorIdOffset);
    info.ProductId = StringAt(bytes, kProductIdOffset);
    info.ProductRevision = StringAt(bytes, kProductRevisionOffset);
    return info;
}
