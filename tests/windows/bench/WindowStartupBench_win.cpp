// Time from process start to a visible window, as the median of several starts:
//   window_startup_bench RUNS "PROGRAM" "ARGUMENTS" WINDOW_CLASS ["PROGRAM2" ...]
// Each start is ended with WM_CLOSE once its window shows. Run it in a Wine prefix
// against Driveward.exe 1, Driveward.exe 2 and plain_window.exe, and compare. Given more
// than one program (builds of the same window), it starts them in turn, RUNS rounds of
// one start each, so that a busy machine slows them alike, and prints each one's median
// and, for two, the second's median over the first's.
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

// Starts the program once; the milliseconds until its window showed, or -1.
double StartOnce(const char* program, const char* arguments, const char* className) {
    std::string commandLine = std::string("\"") + program + "\" " + arguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    LARGE_INTEGER frequency, start, shown;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    if (!::CreateProcessA(program, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process)) {
        std::fprintf(stderr, "cannot start %s\n", program);
        return -1;
    }
    Search search{process.dwProcessId, className, nullptr};
    for (int poll = 0; poll < 15000 && search.found == nullptr; ++poll) { // 30 s at most
        ::EnumWindows(Match, reinterpret_cast<LPARAM>(&search));
        if (search.found == nullptr) {
            ::Sleep(2);
        }
    }
    ::QueryPerformanceCounter(&shown);
    double time = -1;
    if (search.found != nullptr) {
        time = 1000.0 * static_cast<double>(shown.QuadPart - start.QuadPart) /
               static_cast<double>(frequency.QuadPart);
        ::PostMessageA(search.found, WM_CLOSE, 0, 0);
    }
    if (::WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0) {
        ::TerminateProcess(process.hProcess, 1);
    }
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return time;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s RUNS PROGRAM ARGUMENTS WINDOW_CLASS [PROGRAM2 ...]\n",
                     argv[0]);
        return 2;
    }
    const int runs = std::max(1, std::atoi(argv[1]));
    std::vector<const char*> programs{argv[2]};
    programs.insert(programs.end(), argv + 5, argv + argc);
    std::vector<std::vector<double>> times(programs.size());
    for (int run = 0; run < runs; ++run) {
        for (std::size_t program = 0; program < programs.size(); ++program) {
            const double time = StartOnce(programs[program], argv[3], argv[4]);
            if (time >= 0) {
                times[program].push_back(time);
            }
        }
    }
    std::vector<double> medians;
    for (std::size_t program = 0; program < programs.size(); ++program) {
        std::vector<double>& own = times[program];
        if (own.empty()) {
            std::fprintf(stderr, "no window of class %s showed for %s\n", argv[4],
                         programs[program]);
            return 1;
        }
        std::sort(own.begin(), own.end());
        const std::size_t middle = own.size() / 2;
        medians.push_back(own.size() % 2 != 0 ? own[middle] : (own[middle - 1] + own[middle]) / 2);
        std::printf("%s %s: median %.0f ms over %zu starts (min %.0f, max %.0f)%s%s\n", argv[4],
                    argv[3], medians.back(), own.size(), own.front(), own.back(),
                    programs.size() > 1 ? " " : "", programs.size() > 1 ? programs[program] : "");
    }
    if (programs.size() == 2) {
        std::printf("ratio second/first: %.3f\n", medians[1] / medians[0]);
    }
    return 0;
}
