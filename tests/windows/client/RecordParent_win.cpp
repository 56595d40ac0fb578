// Stands in for a link's handler: writes the id of the process that started it to the
// file named by its first argument, then ends.
#include <windows.h>

#include <tlhelp32.h>

#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        return 2;
    }
    DWORD parent = 0;
    const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more;
         more = ::Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == ::GetCurrentProcessId()) {
            parent = entry.th32ParentProcessID;
        }
    }
    ::CloseHandle(snapshot);
    const std::string text = std::to_string(parent);
    const HANDLE file =
        ::CreateFileW(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    ::CloseHandle(file);
    return 0;
}
