#include <windows.h>

#include <dbt.h>

#include <vector>

#include "platform/simulated/ScenarioSystem_win.h"
#include "platform/windows/UniqueHandle.h"

namespace platform::scenario {
namespace {

// The system refuses to post WM_DEVICECHANGE with a DBT_ code of 0x8000 and up
// (ERROR_MESSAGE_SYNC_ONLY): its lParam is a pointer, so it can only be sent. Sent from
// inside the eject request, it would reach the windows in the middle of their own Eject
// command. So a private message is posted to a message-only window of this thread, and
// when the thread next takes its messages, that window sends the notification to every
// top-level window of the process, as the system's own would arrive.
constexpr UINT kRelayArrival = WM_APP + 0x218;
constexpr UINT kRelayRemoval = WM_APP + 0x219;
constexpr UINT_PTR kWatchTimer = 1;
constexpr const wchar_t* kRelayClass = L"DrivewardScenarioRelay";
constexpr UINT kSendBoundMs = 5000; // a hung window of another thread is not waited on

// The check that the relay window's timer runs, one per thread.
thread_local std::function<void()> watchCheck;

void SendToOwnWindows(char letter, WPARAM event) {
    struct Collected {
        DWORD processId;
        std::vector<HWND> windows;
    } collected{::GetCurrentProcessId(), {}};
    // Collected first: a window may come or go while it handles the notification.
    ::EnumWindows(
        [](HWND window, LPARAM parameter) -> BOOL {
            auto* own = reinterpret_cast<Collected*>(parameter);
            DWORD owner = 0;
            ::GetWindowThreadProcessId(window, &owner);
            if (owner == own->processId) {
                own->windows.push_back(window);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&collected));
    DEV_BROADCAST_VOLUME volume = {};
    volume.dbcv_size = sizeof volume;
    volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
    volume.dbcv_unitmask = 1u << (letter - 'A');
    for (HWND window : collected.windows) {
        DWORD_PTR ignored = 0;
        ::SendMessageTimeoutW(window, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(&volume),
                              SMTO_ABORTIFHUNG, kSendBoundMs, &ignored);
    }
}

LRESULT CALLBACK RelayProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if ((message == kRelayArrival || message == kRelayRemoval) && wParam >= 'A' && wParam <= 'Z') {
        SendToOwnWindows(static_cast<char>(wParam),
                         message == kRelayArrival ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE);
        return 0;
    }
    if (message == WM_TIMER && wParam == kWatchTimer) {
        // No exception may cross a window procedure; a check that fails (out of memory)
        // is simply made again at the next tick.
        try {
            if (watchCheck) {
                watchCheck();
            }
        } catch (...) {
        }
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

// The calling thread's relay window, made on first use; nullptr when it cannot be made.
HWND RelayWindow() {
    static thread_local HWND relay = nullptr;
    if (relay != nullptr && ::IsWindow(relay)) {
        return relay;
    }
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSEXW relayClass = {};
    relayClass.cbSize = sizeof relayClass;
    relayClass.lpfnWndProc = RelayProcedure;
    relayClass.hInstance = instance;
    relayClass.lpszClassName = kRelayClass;
    ::RegisterClassExW(&relayClass); // fails harmlessly once it is registered
    relay = ::CreateWindowExW(0, kRelayClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance,
                              nullptr);
    return relay;
}

} // namespace

std::uint32_t ThreadLastError() {
    return ::GetLastError();
}

void SetThreadLastError(std::uint32_t code) {
    ::SetLastError(code);
}

std::uint64_t Ticks() {
    return ::GetTickCount64();
}

std::optional<ScenarioFile> ReadScenarioFile(const std::wstring& path, std::size_t limit) {
    windows::UniqueFileHandle file(::CreateFileW(
        path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return ScenarioFile{};
        }
        return std::nullopt;
    }
    FILETIME written = {};
    if (!::GetFileTime(file.get(), nullptr, nullptr, &written)) {
        return std::nullopt;
    }
    ScenarioFile scenario{
        true, (static_cast<std::uint64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime,
        std::string(limit, '\0')};
    std::size_t filled = 0;
    while (filled < scenario.content.size()) {
        DWORD read = 0;
        if (!::ReadFile(file.get(), scenario.content.data() + filled,
                        static_cast<DWORD>(scenario.content.size() - filled), &read, nullptr)) {
            return std::nullopt;
        }
        if (read == 0) {
            break;
        }
        filled += read;
    }
    scenario.content.resize(filled);
    return scenario;
}

namespace {

void Announce(UINT relayMessage, char letter) {
    if (letter < 'A' || letter > 'Z') {
        return;
    }
    if (const HWND relay = RelayWindow()) {
        ::PostMessageW(relay, relayMessage, static_cast<WPARAM>(letter), 0);
    }
}

} // namespace

void AnnounceDriveArrival(char letter) {
    Announce(kRelayArrival, letter);
}

void AnnounceDriveRemoval(char letter) {
    Announce(kRelayRemoval, letter);
}

bool CallEvery(unsigned periodMs, std::function<void()> check) {
    const HWND relay = RelayWindow();
    if (relay == nullptr) {
        return false;
    }
    watchCheck = std::move(check);
    return ::SetTimer(relay, kWatchTimer, periodMs, nullptr) != 0;
}

} // namespace platform::scenario
