// Feeds the storage-descriptor parser what a hostile device could answer: any bytes, and
// any count of bytes "returned", larger than the buffer included.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "devices/StorageDescriptor.h"

namespace {

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// No control character survives (each inner one becomes four visible characters), and
// nothing comes from outside the buffer.
void CheckText(const std::string& text, std::size_t bufferSize) {
    Check(text.size() < 4 * bufferSize || text.empty());
    for (const char c : text) {
        Check(static_cast<unsigned char>(c) >= ' ' && c != '\x7F');
    }
    if (!text.empty()) {
        Check(text.front() != ' ');
        Check(text.back() != ' ');
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const std::size_t reported = data[0] | static_cast<std::size_t>(data[1]) << 8;
    // A buffer of exactly the device's bytes, so that any read past it is caught.
    const std::vector<std::uint8_t> buffer(data + 2, data + size);
    const TStorageDescriptorInfo info = ParseStorageDescriptor(buffer, reported);
    CheckText(info.VendorId, buffer.size());
    CheckText(info.ProductId, buffer.size());
    CheckText(info.ProductRevision, buffer.size());
    if (reported < 32 || buffer.size() < 32) {
        Check(info.BusType == 0);
    }
    return 0;
}
