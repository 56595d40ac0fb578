#include "devices/DevicesUnit.h"

#include <string>

#include "platform/Machine.h"

namespace {
const char* const kListIndexError = "List index out of bounds (";
constexpr int kDriveLetters = 26; // bits above Z are not drives
} // namespace

void TDevices::Clear() {
    items_.clear();
}

TDevice& TDevices::Items(int index) const {
    if (index < 0 || index >= Count()) {
        throw EListError(kListIndexError + std::to_string(index) + ")");
    }
    return *items_[static_cast<std::size_t>(index)];
}

void TDevices::Refresh() {
    Clear();
    const std::uint32_t drives = platform::CurrentMachine().storage->LogicalDrives();
    for (int index = 0; index < kDriveLetters; ++index) {
        if ((drives >> index & 1u) == 0) {
            continue;
        }
        auto device = std::make_unique<TDevice>(std::string(1, static_cast<char>('A' + index)));
        device->Refresh(); // a raise discards this record; the earlier ones stay
        items_.push_back(std::move(device));
    }
}
