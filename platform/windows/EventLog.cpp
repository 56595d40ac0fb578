#include <windows.h>

#include <winevt.h>

#include <string>
#include <vector>

#include "platform/windows/AnsiText.h"
#include "platform/windows/SystemLibrary.h"
#include "platform/windows/Win32Machine.h"

namespace platform::windows {
namespace {

// wevtapi.dll is not a known DLL, and Windows before Vista has none: it is loaded at run
// time from the system folder, so the program neither imports it nor needs it.
using EvtQueryFn = EVT_HANDLE(WINAPI*)(EVT_HANDLE, LPCWSTR, LPCWSTR, DWORD);
using EvtNextFn = BOOL(WINAPI*)(EVT_HANDLE, DWORD, EVT_HANDLE*, DWORD, DWORD, PDWORD);
using EvtRenderFn = BOOL(WINAPI*)(EVT_HANDLE, EVT_HANDLE, DWORD, DWORD, PVOID, PDWORD, PDWORD);
using EvtCloseFn = BOOL(WINAPI*)(EVT_HANDLE);

constexpr DWORD kNextTimeoutMs = 200;           // the results of a local query are at hand
constexpr DWORD kMaxRenderedBytes = 256 * 1024; // an event is at most 64 KB of data

template <typename Fn> Fn Resolve(const UniqueLibrary& library, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(library.get(), name)));
}

// One owner per event-log handle; the close call comes from the loaded library.
class EvtHandle {
public:
    EvtHandle(EVT_HANDLE handle, EvtCloseFn close) : handle_(handle), close_(close) {}
    ~EvtHandle() {
        if (handle_ != nullptr) {
            close_(handle_);
        }
    }
    EvtHandle(const EvtHandle&) = delete;
    EvtHandle& operator=(const EvtHandle&) = delete;
    EVT_HANDLE get() const { return handle_; }

private:
    EVT_HANDLE handle_;
    EvtCloseFn close_;
};

std::wstring Wide(const std::string& text) {
    const int length =
        ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                          length);
    return wide;
}

std::optional<std::string> RenderXml(EVT_HANDLE event, EvtRenderFn render) {
    DWORD used = 0;
    DWORD properties = 0;
    if (render(nullptr, event, EvtRenderEventXml, 0, nullptr, &used, &properties) ||
        ::GetLastError() != ERROR_INSUFFICIENT_BUFFER || used > kMaxRenderedBytes) {
        return std::nullopt;
    }
    std::vector<wchar_t> buffer(used / sizeof(wchar_t) + 1, L'\0');
    if (!render(nullptr, event, EvtRenderEventXml, used, buffer.data(), &used, &properties)) {
        return std::nullopt;
    }
    return AnsiText(std::wstring_view(buffer.data(), wcsnlen(buffer.data(), buffer.size())));
}

} // namespace

std::optional<std::vector<std::string>> Win32EventLog::QueryEventsXml(const std::string& channel,
                                                                      const std::string& query,
                                                                      std::size_t maxEvents) {
    const UniqueLibrary library = LoadSystemLibrary("wevtapi.dll");
    const auto evtQuery = Resolve<EvtQueryFn>(library, "EvtQuery");
    const auto evtNext = Resolve<EvtNextFn>(library, "EvtNext");
    const auto evtRender = Resolve<EvtRenderFn>(library, "EvtRender");
    const auto evtClose = Resolve<EvtCloseFn>(library, "EvtClose");
    if (!library || evtQuery == nullptr || evtNext == nullptr || evtRender == nullptr ||
        evtClose == nullptr) {
        return std::nullopt;
    }
    const EvtHandle results(evtQuery(nullptr, Wide(channel).c_str(), Wide(query).c_str(),
                                     EvtQueryChannelPath | EvtQueryReverseDirection),
                            evtClose);
    if (results.get() == nullptr) {
        return std::nullopt;
    }
    std::vector<EVT_HANDLE> handles(maxEvents, nullptr);
    DWORD returned = 0;
    if (maxEvents == 0 || !evtNext(results.get(), static_cast<DWORD>(maxEvents), handles.data(),
                                   kNextTimeoutMs, 0, &returned)) {
        const DWORD error = ::GetLastError();
        if (maxEvents == 0 || error == ERROR_NO_MORE_ITEMS || error == ERROR_TIMEOUT) {
            return std::vector<std::string>{};
        }
        return std::nullopt;
    }
    std::vector<std::string> events;
    for (DWORD i = 0; i < returned && i < maxEvents; ++i) {
        const EvtHandle event(handles[i], evtClose);
        if (auto xml = RenderXml(event.get(), evtRender)) {
            events.push_back(std::move(*xml));
        }
    }
    return events;
}

} // namespace platform::windows
