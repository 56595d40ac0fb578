// Stands for a helper that someone at the locked keyboard has broken out of: it writes
// what its token holds beside itself (stand-in-token.txt: "user SID", "owner SID",
// "group SID attributes" and "privilege name" lines), starts a program of its own (a
// second copy of itself) and writes both process IDs beside itself, then waits. Neither
// may outlive the companion service that started the first.
#include <windows.h>

#include <sddl.h>

#include <string>
#include <vector>

namespace {

// The test ends both long before; the bound keeps them from lingering in a prefix.
constexpr DWORD kGiveUpAfterMs = 60000;

std::wstring OwnPath() {
    wchar_t path[MAX_PATH * 4];
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
    return std::wstring(path, length);
}

std::vector<unsigned char> TokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS what) {
    DWORD size = 0;
    ::GetTokenInformation(token, what, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    if (size == 0 || !::GetTokenInformation(token, what, buffer.data(), size, &size)) {
        buffer.clear();
    }
    return buffer;
}

std::string SidText(PSID sid) {
    char* text = nullptr;
    if (!::ConvertSidToStringSidA(sid, &text)) {
        return "?";
    }
    std::string result = text;
    ::LocalFree(text);
    return result;
}

std::string TokenRecord() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return "unreadable\r\n";
    }
    std::string record;
    auto buffer = TokenInformation(token, TokenUser);
    if (!buffer.empty()) {
        record +=
            "user " + SidText(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid) + "\r\n";
    }
    buffer = TokenInformation(token, TokenOwner);
    if (!buffer.empty()) {
        record += "owner " + SidText(reinterpret_cast<TOKEN_OWNER*>(buffer.data())->Owner) + "\r\n";
    }
    buffer = TokenInformation(token, TokenGroups);
    if (!buffer.empty()) {
        const auto* groups = reinterpret_cast<TOKEN_GROUPS*>(buffer.data());
        for (DWORD i = 0; i < groups->GroupCount; ++i) {
            record += "group " + SidText(groups->Groups[i].Sid) + " " +
                      std::to_string(groups->Groups[i].Attributes) + "\r\n";
        }
    }
    buffer = TokenInformation(token, TokenPrivileges);
    if (!buffer.empty()) {
        const auto* privileges = reinterpret_cast<TOKEN_PRIVILEGES*>(buffer.data());
        for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
            LUID luid = privileges->Privileges[i].Luid;
            char name[128];
            DWORD length = sizeof name;
            record +=
                "privilege " +
                (::LookupPrivilegeNameA(nullptr, &luid, name, &length) ? std::string(name) : "?") +
                "\r\n";
        }
    }
    ::CloseHandle(token);
    return record;
}

void WriteBeside(const std::wstring& self, const wchar_t* name, const std::string& text) {
    const std::wstring path = self.substr(0, self.find_last_of(L'\\') + 1) + name;
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    ::CloseHandle(file);
}

} // namespace

int wmain(int argc, wchar_t** /*argv*/) {
    if (argc > 2) { // the child: only waits
        ::Sleep(kGiveUpAfterMs);
        return 0;
    }
    const std::wstring self = OwnPath();
    WriteBeside(self, L"stand-in-token.txt",
                TokenRecord()); // before the IDs: the test waits for those
    std::wstring commandLine = L"\"" + self + L"\" child of-helper";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    const bool started = ::CreateProcessW(self.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                                          0, nullptr, nullptr, &startup, &child) != FALSE;
    const std::string ids = std::to_string(::GetCurrentProcessId()) + " " +
                            std::to_string(started ? child.dwProcessId : 0) + "\r\n";
    WriteBeside(self, L"stand-in.txt", ids);
    if (started) {
        ::CloseHandle(child.hThread);
        ::CloseHandle(child.hProcess);
    }
    ::Sleep(kGiveUpAfterMs);
    return 0;
}
