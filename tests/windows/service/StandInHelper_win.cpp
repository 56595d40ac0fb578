// Stands for a helper that someone at the locked keyboard has broken out of: it starts a
// program of its own (a second copy of itself) and writes both process IDs beside itself,
// then waits. Neither may outlive the companion service that started the first.
#include <windows.h>

#include <string>

namespace {

// The test ends both long before; the bound keeps them from lingering in a prefix.
constexpr DWORD kGiveUpAfterMs = 60000;

std::wstring OwnPath() {
    wchar_t path[MAX_PATH * 4];
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
    return std::wstring(path, length);
}

} // namespace

int wmain(int argc, wchar_t** /*argv*/) {
    if (argc > 2) { // the child: only waits
        ::Sleep(kGiveUpAfterMs);
        return 0;
    }
    const std::wstring self = OwnPath();
    std::wstring commandLine = L"\"" + self + L"\" child of-helper";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    const bool started = ::CreateProcessW(self.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                                          0, nullptr, nullptr, &startup, &child) != FALSE;
    const std::string ids = std::to_string(::GetCurrentProcessId()) + " " +
                            std::to_string(started ? child.dwProcessId : 0) + "\r\n";
    const std::wstring record = self.substr(0, self.find_last_of(L'\\') + 1) + L"stand-in.txt";
    const HANDLE file = ::CreateFileW(record.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    ::WriteFile(file, ids.data(), static_cast<DWORD>(ids.size()), &written, nullptr);
    ::CloseHandle(file);
    if (started) {
        ::CloseHandle(child.hThread);
        ::CloseHandle(child.hProcess);
    }
    ::Sleep(kGiveUpAfterMs);
    return 0;
}
