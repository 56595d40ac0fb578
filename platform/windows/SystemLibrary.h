#pragma once
#include "platform/windows/UniqueHandle.h"

namespace platform::windows {

// Loads a DLL from the system folder by its full path, never by a bare name that the
// loader would first look up beside the executable (the program runs elevated).
UniqueLibrary LoadSystemLibrary(const char* fileName);

} // namespace platform::windows
