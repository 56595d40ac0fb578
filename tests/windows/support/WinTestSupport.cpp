#include "support/WinTestSupport.h"

#include "platform/windows/UniqueHandle.h"

#include <commctrl.h>
#include <shellapi.h>

#include <cstdlib>
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

Process StartWithWineDebug(const std::string& program, const std::string& arguments,
                           const std::string& channels) {
    // The child's environment is this one's at its creation: set, start, put back.
    char previous[256] = "";
    const DWORD length = ::GetEnvironmentVariableA("WINEDEBUG", previous, sizeof previous);
    ::SetEnvironmentVariableA("WINEDEBUG", channels.c_str());
    Process process = Start(program, arguments);
    ::SetEnvironmentVariableA("WINEDEBUG",
                              length != 0 && length < sizeof previous ? previous : nullptr);
    return process;
}

std::string WineOutput() {
    const char* output = std::getenv("DRIVEWARD_WINE_OUTPUT");
    return output == nullptr ? std::string() : ReadFile(WindowsPath(output));
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
    const char* className; // nullptr: every window of the process...
    HWND found;
    std::string* described; // ...described here
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    char className[256] = {};
    ::GetClassNameA(window, className, sizeof className);
    if (owner == search->processId && search->className == nullptr) {
        char title[128] = {};
        ::GetWindowTextA(window, title, sizeof title);
        *search->described += std::string("[") + className + " \"" + title + "\"] ";
    } else if (owner == search->processId && lstrcmpA(className, search->className) == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}
} // namespace

HWND WaitForWindow(DWORD processId, const char* className, DWORD timeoutMs) {
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    do {
        WindowSearch search{processId, className, nullptr, nullptr};
        ::EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr) {
            return search.found;
        }
        ::Sleep(50);
    } while (::GetTickCount64() < deadline);
    return nullptr;
}

std::string DescribeWindows(DWORD processId) {
    std::string described;
    WindowSearch search{processId, nullptr, nullptr, &described};
    ::EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
    return described;
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

namespace wintest {
namespace {

struct ChildSearch {
    const char* className;
    const char* text;
    std::vector<HWND> found;
};

BOOL CALLBACK MatchChild(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<ChildSearch*>(parameter);
    char className[256] = {};
    ::GetClassNameA(window, className, sizeof className);
    if (lstrcmpiA(className, search->className) == 0 &&
        (search->text == nullptr || WindowText(window) == search->text)) {
        search->found.push_back(window);
    }
    return TRUE;
}

HTREEITEM NextItem(HWND tree, UINT relation, HTREEITEM item) {
    return reinterpret_cast<HTREEITEM>(
        ::SendMessageA(tree, TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(item)));
}

} // namespace

std::string WindowText(HWND window) {
    char text[512] = {};
    // WM_GETTEXT crosses processes; GetWindowText would not read another's controls.
    ::SendMessageA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    return text;
}

std::vector<HWND> Children(HWND parent, const char* className) {
    ChildSearch search{className, nullptr, {}};
    ::EnumChildWindows(parent, MatchChild, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND FindChild(HWND parent, const char* className, const char* text) {
    ChildSearch search{className, text, {}};
    ::EnumChildWindows(parent, MatchChild, reinterpret_cast<LPARAM>(&search));
    return search.found.empty() ? nullptr : search.found.front();
}

std::string TreeItemText(HWND tree, HTREEITEM item) {
    // TVM_GETITEM takes pointers, which mean nothing in the tree's process: the item
    // structure and the text buffer are placed in its memory.
    DWORD processId = 0;
    ::GetWindowThreadProcessId(tree, &processId);
    const HANDLE process =
        ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
    if (process == nullptr) {
        return {};
    }
    constexpr SIZE_T kTextSize = 512;
    auto* remote = static_cast<char*>(::VirtualAllocEx(
        process, nullptr, sizeof(TVITEMA) + kTextSize, MEM_COMMIT, PAGE_READWRITE));
    std::string text;
    if (remote != nullptr) {
        TVITEMA request = {};
        request.mask = TVIF_TEXT;
        request.hItem = item;
        request.pszText = remote + sizeof(TVITEMA);
        request.cchTextMax = kTextSize;
        char buffer[kTextSize] = {};
        if (::WriteProcessMemory(process, remote, &request, sizeof request, nullptr) &&
            ::SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(remote)) &&
            ::ReadProcessMemory(process, remote + sizeof(TVITEMA), buffer, kTextSize - 1,
                                nullptr)) {
            text = buffer;
        }
        ::VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    }
    ::CloseHandle(process);
    return text;
}

std::vector<std::string> TreeTexts(HWND tree) {
    const HTREEITEM root = NextItem(tree, TVGN_ROOT, nullptr);
    if (root == nullptr) {
        return {};
    }
    std::vector<std::string> texts{TreeItemText(tree, root)};
    for (HTREEITEM child = NextItem(tree, TVGN_CHILD, root); child != nullptr;
         child = NextItem(tree, TVGN_NEXT, child)) {
        texts.push_back(TreeItemText(tree, child));
    }
    return texts;
}

HTREEITEM TreeChild(HWND tree, const std::string& prefix) {
    const HTREEITEM root = NextItem(tree, TVGN_ROOT, nullptr);
    for (HTREEITEM child = NextItem(tree, TVGN_CHILD, root); root != nullptr && child != nullptr;
         child = NextItem(tree, TVGN_NEXT, child)) {
        if (TreeItemText(tree, child).rfind(prefix, 0) == 0) {
            return child;
        }
    }
    return nullptr;
}

bool SaveScreenshot(HWND window, const std::string& path) {
    RECT area;
    return ::GetWindowRect(window, &area) && SaveScreenArea(area, path);
}

bool SaveScreenArea(const RECT& area, const std::string& path) {
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    if (width <= 0 || height <= 0) {
        return false;
    }
    const HDC screen = ::GetDC(nullptr);
    const HDC memory = ::CreateCompatibleDC(screen);
    const HBITMAP bitmap = ::CreateCompatibleBitmap(screen, width, height);
    const HGDIOBJ previous = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
    ::SelectObject(memory, previous);

    BITMAPINFOHEADER header = {};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    std::string pixels(stride * static_cast<DWORD>(height), '\0');
    const int lines = ::GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(),
                                  reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    if (lines != height) {
        return false;
    }
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42; // "BM"
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&header), sizeof header);
    out.write(pixels.data(), static_cast<std::streamsize>(pixels.size()));
    return static_cast<bool>(out);
}

bool WaitForTrayStartUp(Process& tray, HWND trayForm) {
    // The creation runs before the message loop; the loop is idle only after it.
    if (::WaitForInputIdle(tray.handle, 45000) != 0) {
        return false;
    }
    const HWND application = ::GetWindow(trayForm, GW_OWNER);
    return WaitUntil([&] {
        return ::IsWindowVisible(trayForm) == FALSE && ::IsWindowVisible(application) == FALSE;
    });
}

bool InstallService(const char* name, const std::string& executable) {
    const platform::windows::UniqueServiceHandle manager(
        ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    const std::string binaryPath = "\"" + executable + "\"";
    const platform::windows::UniqueServiceHandle service(
        ::CreateServiceA(manager.get(), name, name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                         SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, binaryPath.c_str(), nullptr,
                         nullptr, nullptr, nullptr, nullptr));
    return static_cast<bool>(service);
}

void UninstallService(const char* name) {
    const platform::windows::UniqueServiceHandle manager(
        ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    const platform::windows::UniqueServiceHandle service(
        ::OpenServiceA(manager.get(), name, SERVICE_ALL_ACCESS));
    if (service) {
        SERVICE_STATUS status = {};
        ::ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
        ::DeleteService(service.get());
    }
}

DWORD ServiceState(const char* name) {
    const platform::windows::UniqueServiceHandle manager(
        ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    const platform::windows::UniqueServiceHandle service(
        ::OpenServiceA(manager.get(), name, SERVICE_QUERY_STATUS));
    SERVICE_STATUS status = {};
    return service && ::QueryServiceStatus(service.get(), &status) ? status.dwCurrentState : 0;
}

} // namespace wintest
