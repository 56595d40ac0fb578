#include "platform/windows/SystemLibrary.h"

#include <string>

namespace platform::windows {

UniqueLibrary LoadSystemLibrary(const char* fileName) {
    char folder[MAX_PATH];
    const UINT length = ::GetSystemDirectoryA(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return UniqueLibrary();
    }
    const std::string path = std::string(folder, length) + "\\" + fileName;
    // The altered search path makes the DLL's own dependencies resolve from its folder.
    return UniqueLibrary(::LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
}

} // namespace platform::windows
