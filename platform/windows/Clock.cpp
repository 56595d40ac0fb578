#include <windows.h>

#include "platform/windows/Win32Machine.h"

namespace platform::windows {

LocalTime Win32Clock::Now() {
    SYSTEMTIME t;
    ::GetLocalTime(&t);
    return LocalTime{t.wYear, t.wMonth, t.wDay, t.wDayOfWeek, t.wHour, t.wMinute, t.wSecond};
}

std::uint64_t Win32Clock::TickCount() {
    return ::GetTickCount64();
}

void Win32Clock::Sleep(std::uint32_t milliseconds) {
    ::Sleep(milliseconds);
}

} // namespace platform::windows
