#include <windows.h>

#include "platform/windows/Win32Machine.h"

namespace platform::windows {

MutexResult Win32Session::CreateOwnedMutex(const std::string& name) {
    // The handle is deliberately never closed: it is the session's single-instance lock
    // and goes away with the process.
    const HANDLE mutex = ::CreateMutexA(nullptr, TRUE, name.c_str());
    if (mutex == nullptr) {
        return MutexResult::Failed;
    }
    return ::GetLastError() == ERROR_ALREADY_EXISTS ? MutexResult::AlreadyExists
                                                    : MutexResult::Created;
}

namespace {

// Owned by the thread's active window, the one it disables: an owned window is always
// above its owner, so the box cannot open behind a stay-on-top window (the device list,
// always in a helper on the secure desktop), where nobody could reach it. Without a window
// on screen, task-modal and stay-on-top. (Not stay-on-top with an owner: under Wine a
// stay-on-top window that owns one loses its own style.)
BOOL CALLBACK TakeVisibleWindow(HWND window, LPARAM owner) {
    if (::IsWindowVisible(window) == FALSE) {
        return TRUE;
    }
    *reinterpret_cast<HWND*>(owner) = window;
    return FALSE;
}

void ShowBox(const std::string& caption, const std::string& text, UINT icon) {
    HWND owner = ::GetActiveWindow();
    if (owner == nullptr || ::IsWindowVisible(owner) == FALSE) {
        // Not active (the user is in another program), yet shown: still ours to cover.
        owner = nullptr;
        ::EnumThreadWindows(::GetCurrentThreadId(), TakeVisibleWindow,
                            reinterpret_cast<LPARAM>(&owner));
    }
    const UINT modality = owner != nullptr ? MB_APPLMODAL : MB_TASKMODAL | MB_TOPMOST;
    ::MessageBoxA(owner, text.c_str(), caption.c_str(), MB_OK | icon | modality | MB_SETFOREGROUND);
}

} // namespace

void Win32Session::ShowWarningMessage(const std::string& caption, const std::string& text) {
    ShowBox(caption, text, MB_ICONWARNING);
}

void Win32Session::ShowErrorMessage(const std::string& caption, const std::string& text) {
    ShowBox(caption, text, MB_ICONERROR);
}

} // namespace platform::windows
