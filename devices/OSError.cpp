#include "devices/OSError.h"

#include "platform/Machine.h"

namespace {
const char* const kOSErrorFormat = "System Error.  Code: ";
const char* const kUnknownOSError = "A call to an OS function failed";
} // namespace

std::string OSErrorText(std::uint32_t code) {
    if (code == 0) {
        return kUnknownOSError;
    }
    std::string message = platform::CurrentMachine().system->SystemMessage(code);
    // The message table ends its texts with a full stop and a line break.
    while (!message.empty() &&
           (static_cast<unsigned char>(message.back()) <= ' ' || message.back() == '.')) {
        message.pop_back();
    }
    // The code is written as the signed 32-bit number the user's error display shows.
    return kOSErrorFormat + std::to_string(static_cast<std::int32_t>(code)) + ".\r\n" + message;
}

void RaiseLastOSError() {
    const std::uint32_t code = platform::CurrentMachine().system->LastError();
    throw EOSError(code, OSErrorText(code));
}
