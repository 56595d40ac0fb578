// Feeds the event-225 parser and the texts built from it what a hostile program could
// get into the System log: any bytes as the rendered event, any device instance.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "devices/BlockerEvent.h"

namespace {

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void CheckShown(const std::string& text, std::size_t limit) {
    Check(text.size() <= 4 * limit);
    for (const char c : text) {
        Check(static_cast<unsigned char>(c) >= ' ' && c != '\x7F');
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::string xml(input);
    if (const auto event = ParseBlockerEvent(xml)) {
        Check(!event->imagePath.empty() && event->imagePath.size() <= kMaxImagePathRead);
        Check(!event->deviceInstance.empty() &&
              event->deviceInstance.size() <= kMaxDeviceInstanceId);
        CheckShown(ProgramName(event->imagePath), kMaxBlockerName);
        CheckShown(DisplayText(event->imagePath, kMaxBlockerPath), kMaxBlockerPath);
        const auto selected = SelectBlockerEvents({xml, xml}, event->deviceInstance);
        Check(selected.size() == 1 && selected[0] == *event);
    }
    Check(SelectBlockerEvents({xml}, "").empty());
    return 0;
}
