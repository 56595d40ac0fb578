#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "devices/StorageDescriptor.h"
#include "platform/simulated/SimulatedDevices.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void PutUInt32(Bytes& bytes, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

// A request answer as the device model sees it: the fixed 294-byte buffer, the device's
// bytes copied in, and the count the request reported.
TStorageDescriptorInfo Parse(const Bytes& written, std::size_t reported) {
    std::array<std::uint8_t, kStorageDescriptorBufferSize> buffer{};
    std::copy_n(written.begin(), std::min(written.size(), buffer.size()), buffer.begin());
    return ParseStorageDescriptor(buffer, reported);
}

TEST(StorageDescriptorTest, AWellFormedDescriptorGivesTrimmedStringsAndTheLowByteOfTheBus) {
    Bytes bytes = platform::MakeStorageDescriptor(7, "  SanDisk ", "Cruzer Blade    ", "1.00\t");
    PutUInt32(bytes, 28, 0x12345607); // only the low byte counts
    const auto info = Parse(bytes, bytes.size());
    EXPECT_EQ(info.BusType, 7);
    EXPECT_EQ(info.VendorId, "SanDisk");
    EXPECT_EQ(info.ProductId, "Cruzer Blade");
    EXPECT_EQ(info.ProductRevision, "1.00");
}

TEST(StorageDescriptorTest, OffsetsOfZeroOrAllOnesLeaveTheFieldEmpty) {
    Bytes bytes = platform::MakeStorageDescriptor(7, "Vendor", "Product", "Rev");
    PutUInt32(bytes, 12, 0);
    PutUInt32(bytes, 20, 0xFFFFFFFF);
    const auto info = Parse(bytes, bytes.size());
    EXPECT_EQ(info.VendorId, "");
    EXPECT_EQ(info.ProductId, "Product");
    EXPECT_EQ(info.ProductRevision, "");
}

TEST(StorageDescriptorTest, NothingIsReadPastTheBytesTheRequestReturned) {
    Bytes bytes = platform::MakeStorageDescriptor(7, "Vendor", "Product", "Rev");
    // Bytes left in the buffer beyond the reported count are not the device's answer.
    const std::size_t productOffset = 40 + 7;
    auto info = Parse(bytes, productOffset + 3);
    EXPECT_EQ(info.VendorId, "Vendor");
    EXPECT_EQ(info.ProductId, "Pro"); // no NUL inside: ends with the returned bytes
    EXPECT_EQ(info.ProductRevision, "");

    // A short answer without the header's later members leaves them at 0 / empty.
    info = Parse(bytes, 20);
    EXPECT_EQ(info.BusType, 0);
    EXPECT_EQ(info.VendorId, "");
    EXPECT_EQ(info.ProductId, "");
    // BusType is the 4-byte member at 28: an answer of exactly 32 bytes still holds it.
    info = Parse(bytes, 32);
    EXPECT_EQ(info.BusType, 7);
    info = Parse(bytes, 31);
    EXPECT_EQ(info.BusType, 0);
    info = Parse(bytes, 0);
    EXPECT_EQ(info.BusType, 0);
    EXPECT_EQ(info.VendorId, "");
}

TEST(StorageDescriptorTest, OffsetsPastTheEndAndAnOversizedCountAreHarmless) {
    Bytes bytes = platform::MakeStorageDescriptor(7, "Vendor", "Product", "Rev");
    PutUInt32(bytes, 12, static_cast<std::uint32_t>(kStorageDescriptorBufferSize));
    PutUInt32(bytes, 16, 0x7FFFFFFF);
    PutUInt32(bytes, 4, 100000); // a Size far beyond the buffer
    // The request claims more bytes than the buffer holds: only the buffer counts.
    const auto info = Parse(bytes, 1u << 20);
    EXPECT_EQ(info.VendorId, "");
    EXPECT_EQ(info.ProductId, "");
    EXPECT_EQ(info.ProductRevision, "Rev");
}

TEST(StorageDescriptorTest, AStringWithoutNulStopsAtTheEndOfTheBuffer) {
    Bytes bytes(kStorageDescriptorBufferSize, 'A');
    PutUInt32(bytes, 12, 290);
    PutUInt32(bytes, 16, 0);
    PutUInt32(bytes, 20, 0);
    const auto info = Parse(bytes, bytes.size());
    EXPECT_EQ(info.VendorId, "AAAA");
    EXPECT_EQ(info.BusType, 'A');
}

TEST(StorageDescriptorTest, OuterControlCharactersAreTrimmedInnerOnesEscaped) {
    Bytes bytes = platform::MakeStorageDescriptor(7, " \x01\x1F ", "\x7F", "    ");
    auto info = Parse(bytes, bytes.size());
    EXPECT_EQ(info.VendorId, "");
    EXPECT_EQ(info.ProductId, "\\x7F"); // DEL is above the blank: a trim keeps it
    EXPECT_EQ(info.ProductRevision, "");
    // A device's line break must not start a forged log line.
    bytes = platform::MakeStorageDescriptor(7, "Evil\r\n01-01-2011 - Fake", "A\x1B[2JB", "1\t0");
    info = Parse(bytes, bytes.size());
    EXPECT_EQ(info.VendorId, "Evil\\x0D\\x0A01-01-2011 - Fake");
    EXPECT_EQ(info.ProductId, "A\\x1B[2JB");
    EXPECT_EQ(info.ProductRevision, "1\\x090");
}

} // namespace
