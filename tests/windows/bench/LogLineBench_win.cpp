// The cost of one log line, as the program pays it:
//   log_line_bench LINES FOLDER
// Writes one line to warm the log up (the folder created and checked, the day's file
// opened), then LINES lines through TLog::Add into FOLDER, and prints the mean time per
// line. It fails when the lines did not all reach the files, so that a log refusing the
// folder is never measured as a fast one. Only the log's oldest interface is used (TLog(name),
// LogPath, Add), so that scripts/benchmark.sh can build this same file against an older tree and
// compare.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "foundation/LogUnit.h"
#include "platform/Machine.h"
#include "platform/windows/Win32Machine.h"

namespace {

// Lines in the log's daily files (a run may cross midnight).
long LinesWritten(const std::string& folder) {
    const std::string pattern = folder + "\\Driveward bench\\*.txt";
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return 0;
    }
    long count = 0;
    do {
        std::ifstream file(folder + "\\Driveward bench\\" + found.cFileName);
        for (std::string line; std::getline(file, line);) {
            ++count;
        }
    } while (::FindNextFileA(search, &found));
    ::FindClose(search);
    return count;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3 || std::atoi(argv[1]) < 1) {
        std::fprintf(stderr, "usage: %s LINES FOLDER\n", argv[0]);
        return 2;
    }
    const int lines = std::atoi(argv[1]);
    platform::windows::Win32Machine win32;
    platform::ScopedMachine installed(win32.machine());
    const long before = LinesWritten(argv[2]);
    LARGE_INTEGER frequency, start, end;
    ::QueryPerformanceFrequency(&frequency);
    {
        TLog log("Driveward bench");
        log.LogPath = argv[2];
        log.Add("Warm-up line");
        ::QueryPerformanceCounter(&start);
        for (int line = 0; line < lines; ++line) {
            log.Add("Drive info: E: STICK (Total: 980.00 MB / Used: 12.50 MB) line " +
                    std::to_string(line));
        }
        ::QueryPerformanceCounter(&end);
    }
    if (LinesWritten(argv[2]) - before < lines + 1) {
        std::fprintf(stderr, "the lines did not reach %s\\Driveward bench\n", argv[2]);
        return 1;
    }
    const double ms = 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
                      static_cast<double>(frequency.QuadPart);
    std::printf("per line %.4f ms over %d lines\n", ms / lines, lines);
    return 0;
}
