#pragma once
#include <windows.h>

#include <string>

namespace ui {

// A text in the ANSI code page as UTF-16, for the calls that take only wide text.
std::wstring Widen(const std::string& text);

// A newer entry point of user32, which the program imports and so has loaded from the
// system folder already; nullptr where this system lacks it.
template <typename Function> Function User32Function(const char* name) {
    const HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
    return user32 == nullptr ? nullptr
                             : reinterpret_cast<Function>(
                                   reinterpret_cast<void*>(::GetProcAddress(user32, name)));
}

} // namespace ui
