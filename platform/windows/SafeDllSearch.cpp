#include "platform/windows/SafeDllSearch.h"

#include <windows.h>

void UseSafeDllSearch() {
    using SetDirectories = BOOL(WINAPI*)(DWORD);
    // kernel32 is in every process already; nothing is loaded by name here.
    const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
    const auto setDefault = kernel32 == nullptr
                                ? nullptr
                                : reinterpret_cast<SetDirectories>(reinterpret_cast<void*>(
                                      ::GetProcAddress(kernel32, "SetDefaultDllDirectories")));
    if (setDefault != nullptr && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        return;
    }
    ::SetDllDirectoryW(L""); // removes the current folder from the search
}
