#include <windows.h>

#include "foundation/GetWinVersionInfoUnit.h"
#include "platform/windows/SystemLibrary.h"

namespace {

// Loads the library from the system folder, resolves the entry point and calls it;
// the library is released again on every path. Nothing is cached between calls.
template <typename Fn, typename... Args>
bool CallOptional(const char* library, const char* entryPoint, Args... args) {
    const auto module = platform::windows::LoadSystemLibrary(library);
    if (!module) {
        return false;
    }
    const auto function =
        reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module.get(), entryPoint)));
    if (function == nullptr) {
        return false;
    }
    return function(args...) != FALSE;
}

using ShutdownBlockReasonCreateFn = BOOL(WINAPI*)(HWND, LPCWSTR);
using ShutdownBlockReasonDestroyFn = BOOL(WINAPI*)(HWND);
using WTSRegisterSessionNotificationFn = BOOL(WINAPI*)(HWND, DWORD);
using WTSUnRegisterSessionNotificationFn = BOOL(WINAPI*)(HWND);

} // namespace

bool DynShutdownBlockReasonCreate(void* window, const wchar_t* reason) {
    return CallOptional<ShutdownBlockReasonCreateFn>("user32.dll", "ShutdownBlockReasonCreate",
                                                     static_cast<HWND>(window), reason);
}

bool DynShutdownBlockReasonDestroy(void* window) {
    return CallOptional<ShutdownBlockReasonDestroyFn>("user32.dll", "ShutdownBlockReasonDestroy",
                                                      static_cast<HWND>(window));
}

bool DynWTSRegisterSessionNotification(void* window, std::uint32_t flags) {
    return CallOptional<WTSRegisterSessionNotificationFn>(
        "Wtsapi32.dll", "WTSRegisterSessionNotification", static_cast<HWND>(window),
        static_cast<DWORD>(flags));
}

bool DynWTSUnRegisterSessionNotification(void* window) {
    return CallOptional<WTSUnRegisterSessionNotificationFn>(
        "Wtsapi32.dll", "WTSUnRegisterSessionNotification", static_cast<HWND>(window));
}
