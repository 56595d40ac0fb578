#pragma once
#include <windows.h>

#include <commctrl.h>

#include <cstdint>
#include <string>
#include <vector>

namespace wintest {

// "/work/x" as Wine shows it to Windows programs: "Z:\work\x". Windows paths pass unchanged.
std::string WindowsPath(const std::string& path);

// A fresh folder below %TEMP%, removed with everything in it at the end of the test.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

void WriteFile(const std::string& path, const std::string& content);
std::string ReadFile(const std::string& path);
std::vector<std::string> ReadLines(const std::string& path); // split at CR LF
// The log lines without their timestamps (the text after the first " - ").
std::vector<std::string> LogTexts(const std::string& path);
// The file or folder's DACL as SDDL text; "unreadable" when it cannot be read.
std::string DaclText(const std::string& path);
// "yyyymmdd.txt" of today.
std::string TodaysLogFileName();

struct Process {
    HANDLE handle = nullptr;
    DWORD id = 0;
};
// Starts "program" with the command line ("program" args...), by full path.
Process Start(const std::string& program, const std::string& arguments);
// The same, with Wine's debug channels (WINEDEBUG) set for that process alone: how a test
// reads what Wine's stubs print, such as every ReportEventW. Wine prints on the Unix
// standard error, which the process inherits from the test; scripts/wine-run.sh sends the
// test's into the file that WineOutput() reads.
Process StartWithWineDebug(const std::string& program, const std::string& arguments,
                           const std::string& channels);
// What the test and the processes it started have printed so far; empty when not run by
// wine-run.sh.
std::string WineOutput();
// Waits at most the timeout; returns the exit code, or -1 when the process still runs
// (it is then terminated).
long WaitForExit(Process& process, DWORD timeoutMs = 30000);

// The first top-level window of the process with the class name (hidden ones included);
// nullptr when none shows up within the timeout.
HWND WaitForWindow(DWORD processId, const char* className, DWORD timeoutMs = 30000);
// Class and title of each top-level window of the process, for a failure's message.
std::string DescribeWindows(DWORD processId);

// Waits until the tray monitor's start-up is over: its creation (the service check
// included) done, its message loop idle, and its start-up timer's hiding done.
bool WaitForTrayStartUp(Process& tray, HWND trayForm);

// Waits until the file holds a line ending in the text.
bool WaitForLogLine(const std::string& path, const std::string& text, DWORD timeoutMs = 30000);

// Polls the condition until it holds or the timeout passes; returns its last value.
template <typename Condition> bool WaitUntil(Condition condition, DWORD timeoutMs = 30000) {
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    while (!condition()) {
        if (::GetTickCount64() >= deadline) {
            return false;
        }
        ::Sleep(50);
    }
    return true;
}

std::string WindowText(HWND window);
// The first child window (at any depth) of the class, with the text when one is given.
HWND FindChild(HWND parent, const char* className, const char* text = nullptr);
// All child windows of the class, at any depth.
std::vector<HWND> Children(HWND parent, const char* className);

// The text of a tree item of a tree view in another process.
std::string TreeItemText(HWND tree, HTREEITEM item);
// The texts of the tree's root and of the root's children, in order.
std::vector<std::string> TreeTexts(HWND tree);
// The root's child whose text starts with the prefix; nullptr when there is none.
HTREEITEM TreeChild(HWND tree, const std::string& prefix);

// The service, demand start, its own process, the path quoted; false when it cannot be
// created (or exists already).
bool InstallService(const char* name, const std::string& executable);
void UninstallService(const char* name);
// The service's current state (SERVICE_RUNNING...), 0 when it cannot be read.
DWORD ServiceState(const char* name);

// The window as it is on screen, frame included, as a 24-bit BMP file.
bool SaveScreenshot(HWND window, const std::string& path);
// The area of the screen, whatever windows are in it, likewise.
bool SaveScreenArea(const RECT& area, const std::string& path);

} // namespace wintest
