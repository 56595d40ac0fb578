// Time from process start to a visible window, as the median of several starts:
//   window_startup_bench RUNS "PROGRAM" "ARGUMENTS" WINDOW_CLASS
// Each start is ended with WM_CLOSE once its window shows. Run it in a Wine prefix
// against Driveward.exe 1, Driveward.exe 2 and plain_window.exe, and compare.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Search {
    DWORD processId;
    const char* className;
    HWND found;
};

BOOL CALLBACK Match(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<Search*>(parameter);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    char className[256] = {};
    ::GetClassNameA(window, className, sizeof className);
    if (owner == search->processId && lstrcmpA(className, search->className) == 0 &&
        ::IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s RUNS PROGRAM ARGUMENTS WINDOW_CLASS\n", argv[0]);
        return 2;
    }
    const int runs = std::max(1, std::atoi(argv[1]));
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        std::string commandLine = std::string("\"") + argv[2] + "\" " + argv[3];
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        LARGE_INTEGER start;
        ::QueryPerformanceCounter(&start);
        if (!::CreateProcessA(argv[2], commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                              nullptr, &startup, &process)) {
            std::fprintf(stderr, "cannot start %s\n", argv[2]);
            return 1;
        }
        Search search{process.dwProcessId, argv[4], nullptr};
        for (int poll = 0; poll < 6000 && search.found == nullptr; ++poll) { // 30 s at most
            ::EnumWindows(Match, reinterpret_cast<LPARAM>(&search));
            if (search.found == nullptr) {
                ::Sleep(5);
            }
        }
        LARGE_INTEGER shown;
        ::QueryPerformanceCounter(&shown);
        if (search.found != nullptr) {
            times.push_back(1000.0 * static_cast<double>(shown.QuadPart - start.QuadPart) /
                            static_cast<double>(frequency.QuadPart));
            ::PostMessageA(search.found, WM_CLOSE, 0, 0);
        }
        if (::WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0) {
            ::TerminateProcess(process.hProcess, 1);
        }
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
    }
    if (times.empty()) {
        std::fprintf(stderr, "no window of class %s showed\n", argv[4]);
        return 1;
    }
    std::sort(times.begin(), times.end());
    std::printf("%s %s: median %.0f ms over %zu starts (min %.0f, max %.0f)\n", argv[4], argv[3],
                times[times.size() / 2], times.size(), times.front(), times.back());
    return 0;
}
