#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>

// An operating-system call failed where the program cannot go on sensibly. what() is the
// text the user is shown.
class EOSError : public std::runtime_error {
public:
    EOSError(std::uint32_t errorCode, const std::string& message)
        : std::runtime_error(message), errorCode_(errorCode) {}
    std::uint32_t ErrorCode() const { return errorCode_; }

private:
    std::uint32_t errorCode_;
};

// "System Error.  Code: <code>." CR LF and the system's message for it, or "A call to an
// OS function failed" when the code is 0.
std::string OSErrorText(std::uint32_t code);

// Raises EOSError for the calling thread's last-error value.
[[noreturn]] void RaiseLastOSError();
