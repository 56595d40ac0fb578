#include <windows.h>

#include <dbt.h>

#include <array>

#include "platform/simulated/ScenarioSystem_win.h"
#include "platform/windows/UniqueHandle.h"

namespace platform::scenario {
namespace {

// One broadcast record per drive letter, alive as long as the process and never changed:
// a posted message's lParam must still point at it whenever the window gets to read it.
LPARAM VolumeRecord(char letter) {
    static const auto records = [] {
        std::array<DEV_BROADCAST_VOLUME, 26> all = {};
        for (std::size_t i = 0; i < all.size(); ++i) {
            all[i].dbcv_size = sizeof(DEV_BROADCAST_VOLUME);
            all[i].dbcv_devicetype = DBT_DEVTYP_VOLUME;
            all[i].dbcv_unitmask = 1u << i;
        }
        return all;
    }();
    return reinterpret_cast<LPARAM>(&records[static_cast<std::size_t>(letter - 'A')]);
}

struct Announcement {
    DWORD processId;
    LPARAM record;
};

BOOL CALLBACK PostToOwnWindow(HWND window, LPARAM parameter) {
    const auto* announcement = reinterpret_cast<const Announcement*>(parameter);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner == announcement->processId) {
        ::PostMessageW(window, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, announcement->record);
    }
    return TRUE;
}

} // namespace

std::uint32_t ThreadLastError() {
    return ::GetLastError();
}

void SetThreadLastError(std::uint32_t code) {
    ::SetLastError(code);
}

std::optional<ScenarioFile> ReadScenarioFile(const std::wstring& path, std::size_t limit) {
    windows::UniqueFileHandle file(::CreateFileW(
        path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return ScenarioFile{};
        }
        return std::nullopt;
    }
    FILETIME written = {};
    if (!::GetFileTime(file.get(), nullptr, nullptr, &written)) {
        return std::nullopt;
    }
    ScenarioFile scenario{
        true, (static_cast<std::uint64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime,
        std::string(limit, '\0')};
    std::size_t filled = 0;
    while (filled < scenario.content.size()) {
        DWORD read = 0;
        if (!::ReadFile(file.get(), scenario.content.data() + filled,
                        static_cast<DWORD>(scenario.content.size() - filled), &read, nullptr)) {
            return std::nullopt;
        }
        if (read == 0) {
            break;
        }
        filled += read;
    }
    scenario.content.resize(filled);
    return scenario;
}

void AnnounceDriveRemoval(char letter) {
    if (letter < 'A' || letter > 'Z') {
        return;
    }
    Announcement announcement{::GetCurrentProcessId(), VolumeRecord(letter)};
    ::EnumWindows(PostToOwnWindow, reinterpret_cast<LPARAM>(&announcement));
}

} // namespace platform::scenario
