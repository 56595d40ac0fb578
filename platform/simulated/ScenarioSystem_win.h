#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// The system calls of ScenarioDevices. They live in a file of their own because
// <windows.h> renames QueryDosDevice, GetVolumeInformation and GetDiskFreeSpace by macro:
// the code that calls SimulatedDevices by those names must never see it.
namespace platform::scenario {

std::uint32_t ThreadLastError();
void SetThreadLastError(std::uint32_t code);
// GetTickCount64: the time the simulated event log stamps and reads its events with.
std::uint64_t Ticks();

struct ScenarioFile {
    bool present = false;
    std::uint64_t writeTime = 0;
    std::string content; // at most `limit` bytes
};

// The file as it is now: absent (no file, no folder), or its write time and first `limit`
// bytes; nullopt when it exists but cannot be read just now (held by another program,
// a folder of that name).
std::optional<ScenarioFile> ReadScenarioFile(const std::wstring& path, std::size_t limit);

// Tells every top-level window of this process, and no other process, that the drive has
// come or gone: WM_DEVICECHANGE with DBT_DEVICEARRIVAL or DBT_DEVICEREMOVECOMPLETE and the
// drive's volume record, sent once the calling thread next takes its messages (never from
// inside this call).
void AnnounceDriveArrival(char letter);
void AnnounceDriveRemoval(char letter);

// Calls `check` on the calling thread every `periodMs` while the thread takes its messages,
// from a timer of its relay window; false when the timer cannot be set. The thread's
// message loop is the only wait: nothing spins, and no second thread touches the devices.
bool CallEvery(unsigned periodMs, std::function<void()> check);

} // namespace platform::scenario
