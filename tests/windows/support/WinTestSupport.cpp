#include "support/WinTestSupport.h"

#include <shellapi.h>

#include <fstream>
#include <sstream>

#include <aclapi.h>
#include <sddl.h>

namespace wintest {

std::string WindowsPath(const std::string& path) {
    if (path.empty() || path[0] != '/') {
        return path;
    }
    std::string windows = "Z:" + path;
    for (char& c : windows) {
        if (c == '/') {
            c = '\\';
        }
    }
    return windows;
}

TempFolder::TempFolder() {
    char base[MAX_PATH];
    ::GetTempPathA(MAX_PATH, base);
    static int counter = 0;
    path_ = std::string(base) + "dwtest-" + std::to_string(::GetCurrentProcessId()) + "-" +
            std::to_string(++counter);
    ::CreateDirectoryA(path_.c_str(), nullptr);
}

TempFolder::~TempFolder() {
    // SHFileOperation wants a double-NUL-terminated list.
    std::string from = path_ + std::string(2, '\0');
    SHFILEOPSTRUCTA operation = {};
    operation.wFunc = FO_DELETE;
    operation.pFrom = from.c_str();
    operation.fFlags = FOF_NO_UI;
    ::SHFileOperationA(&operation);
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> ReadLines(const std::string& path) {
    const std::string text = ReadFile(path);
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const auto end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start) + "<no CR LF>");
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

std::vector<std::string> LogTexts(const std::string& path) {
    std::vector<std::string> texts;
    for (const auto& line : ReadLines(path)) {
        const auto separator = line.find(" - ");
        texts.push_back(separator == std::string::npos ? line : line.substr(separator + 3));
    }
    return texts;
}

std::string DaclText(const std::string& path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
        return "unreadable";
    }
    char* text = nullptr;
    ::ConvertSecurityDescriptorToStringSecurityDescriptorA(
        descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr);
    const std::string result = text == nullptr ? "unreadable" : text;
    ::LocalFree(text);
    ::LocalFree(descriptor);
    return result;
}

std::string TodaysLogFileName() {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    char name[32];
    wsprintfA(name, "%04d%02d%02d.txt", now.wYear, now.wMonth, now.wDay);
    return name;
}

Process Start(const std::string& program, const std::string& arguments) {
    std::string commandLine = "\"" + program + "\"" + (arguments.empty() ? "" : " " + arguments);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    Process process;
    if (::CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                         nullptr, &startup, &info)) {
        ::CloseHandle(info.hThread);
        process.handle = info.hProcess;
        process.id = info.dwProcessId;
    }
    return process;
}

long WaitForExit(Process& process, DWORD timeoutMs) {
    if (process.handle == nullptr) {
        return -1;
    }
    long result = -1;
    if (::WaitForSingleObject(process.handle, timeoutMs) == WAIT_OBJECT_0) {
        DWORD code = 0;
        ::GetExitCodeProcess(process.handle, &code);
        result = static_cast<long>(code);
    } else {
        ::TerminateProcess(process.handle, 99);
    }
    ::CloseHandle(process.handle);
    process.handle = nullptr;
    return result;
}

namespace {
struct WindowSearch {
    DWORD processId;
    const char* className;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    char className[256] = {};
    ::GetClassNameA(window, className, sizeof className);
    if (owner == search->processId && lstrcmpA(className, search->className) == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}
} // namespace

HWND WaitForWindow(DWORD processId, const char* className, DWORD timeoutMs) {
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    do {
        WindowSearch search{processId, className, nullptr};
        ::EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr) {
            return search.found;
        }
        ::Sleep(50);
    } while (::GetTickCount64() < deadline);
    return nullptr;
}

bool WaitForLogLine(const std::string& path, const std::string& text, DWORD timeoutMs) {
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    do {
        for (const auto& line : ReadLines(path)) {
            if (line.size() >= text.size() &&
                line.compare(line.size() - text.size(), text.size(), text) == 0) {
                return true;
            }
        }
        ::Sleep(50);
    } while (::GetTickCount64() < deadline);
    return false;
}

} // namespace wintest
