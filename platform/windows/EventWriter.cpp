#include <windows.h>

#include <string>

#include "platform/windows/UniqueHandle.h"
#include "platform/windows/Win32Machine.h"

// advapi32 is a known DLL (the loader takes it from the system folder whatever the search
// path) and has had these calls since Windows NT: imported, not loaded at run time.
namespace platform::windows {
namespace {

constexpr const wchar_t* kEventSourceName = L"Driveward";

struct EventSourceTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle handle) { ::DeregisterEventSource(handle); }
};

WORD TypeOf(EventType type) {
    switch (type) {
    case EventType::Error:
        return EVENTLOG_ERROR_TYPE;
    case EventType::Warning:
        return EVENTLOG_WARNING_TYPE;
    case EventType::Information:
        break;
    }
    return EVENTLOG_INFORMATION_TYPE;
}

// The ANSI text as UTF-16; a character the code page lacks cannot occur (every byte maps).
std::wstring Widen(const std::string& text) {
    if (text.empty()) {
        return {};
    }
    const int length =
        ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0) {
        return {};
    }
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                          length);
    return wide;
}

} // namespace

bool Win32EventWriter::WriteEvent(EventType type, std::uint32_t eventId, const std::string& text) {
    // Opened for each event: events are rare, and a source held for the life of the
    // process would outlive an uninstall that removes it.
    const UniqueHandle<EventSourceTraits> source(::RegisterEventSourceW(nullptr, kEventSourceName));
    if (!source) {
        return false;
    }
    const std::wstring wide = Widen(text);
    LPCWSTR strings[] = {wide.c_str()};
    return ::ReportEventW(source.get(), TypeOf(type), 0, eventId, nullptr, 1, 0, strings,
                          nullptr) != FALSE;
}

} // namespace platform::windows
