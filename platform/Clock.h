#pragma once
#include <cstdint>

namespace platform {

// A local wall-clock reading, as the user's time zone gives it.
struct LocalTime {
    int year = 0;
    int month = 0;     // 1..12
    int day = 0;       // 1..31
    int dayOfWeek = 0; // 0 = Sunday .. 6 = Saturday
    int hour = 0;
    int minute = 0;
    int second = 0;
};

class Clock {
public:
    virtual ~Clock() = default;
    virtual LocalTime Now() = 0;
    // Milliseconds since an arbitrary start; only differences mean anything.
    virtual std::uint64_t TickCount() = 0;
    virtual void Sleep(std::uint32_t milliseconds) = 0;
};

} // namespace platform
