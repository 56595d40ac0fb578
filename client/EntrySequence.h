#pragma once
#include <optional>
#include <string>
#include <vector>

// The run modes, named as the log names them.
enum TStartMode { csNormal, cShowWarning, cShowDevices };

// True when the program was started with at least one parameter; set once by the entry
// sequence before any window exists.
extern bool StartedAsHelper;

// The mode a command line selects: none for a first parameter other than exactly "1" or
// "2" (no trimming, no number parsing). Only the first parameter counts.
std::optional<TStartMode> ChooseStartMode(const std::vector<std::string>& parameters);

// What the GUI framework provides to the entry sequence.
class ApplicationHost {
public:
    virtual ~ApplicationHost() = default;
    virtual void Initialize() = 0;
    virtual void SetTitle(const std::string& title) = 0;
    // The taskbar entry belongs to the application's own top-level window, so that hiding
    // that window takes the tray monitor off the taskbar.
    virtual void GiveTaskbarEntryToApplicationWindow() = 0;
    // Creates the mode's main window (helpers stay on top) and runs the message loop
    // until it closes or the session ends.
    virtual void RunMainWindow(TStartMode mode) = 0;
    virtual void DestroyWindows() = 0;
};

inline constexpr const char* kApplicationTitle = "Driveward";
inline constexpr const char* kLogSourceName = "Driveward client";
inline constexpr const char* kInstanceMutexName = "Tarnvik - Driveward";
inline constexpr const char* kAlreadyRunningMessage = "Driveward is already running.";

// Runs the whole program: settings, log, start-up lines, privilege, mode, message loop,
// and the orderly end. Returns the exit code, 0 in every mode.
int RunEntrySequence(ApplicationHost& host, const std::vector<std::string>& parameters);

// Frees the process-wide objects in their order: the service controller, the log
// (which writes "Stopped logging"), the settings.
void ReleaseProcessWideObjects();
