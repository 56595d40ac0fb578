#include <windows.h>

#include <vector>

#include "platform/windows/SystemLibrary.h"
#include "platform/windows/Win32Machine.h"

namespace platform::windows {
namespace {

// version.dll is not one of the loader's known DLLs, so it is not imported: a copy
// planted beside the executable would be loaded into an elevated process.
using GetFileVersionInfoSizeFn = DWORD(WINAPI*)(LPCSTR, LPDWORD);
using GetFileVersionInfoFn = BOOL(WINAPI*)(LPCSTR, DWORD, DWORD, LPVOID);
using VerQueryValueFn = BOOL(WINAPI*)(LPCVOID, LPCSTR, LPVOID*, PUINT);

template <typename Fn> Fn Resolve(const UniqueLibrary& library, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(library.get(), name)));
}

} // namespace

std::string Win32SystemFacts::ModuleFileName() {
    // Grow the buffer until the path fits; paths are at most 32767 characters.
    for (DWORD size = MAX_PATH; size <= 32768; size *= 2) {
        std::vector<char> buffer(size);
        const DWORD length = ::GetModuleFileNameA(nullptr, buffer.data(), size);
        if (length == 0) {
            return {};
        }
        if (length < size) {
            return std::string(buffer.data(), length);
        }
    }
    return {};
}

std::optional<std::string> Win32SystemFacts::ComputerName() {
    char buffer[256] = {};
    DWORD size = 256;
    if (!::GetComputerNameA(buffer, &size)) {
        return std::nullopt;
    }
    return std::string(buffer, strnlen(buffer, sizeof buffer));
}

std::optional<OsVersion> Win32SystemFacts::QueryOsVersion() {
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof info;
    if (!::GetVersionExA(&info)) {
        return std::nullopt;
    }
    return OsVersion{info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion};
}

std::optional<FileVersion> Win32SystemFacts::FixedFileVersion(const std::string& path) {
    const UniqueLibrary library = LoadSystemLibrary("version.dll");
    if (!library) {
        return std::nullopt;
    }
    const auto getSize = Resolve<GetFileVersionInfoSizeFn>(library, "GetFileVersionInfoSizeA");
    const auto getInfo = Resolve<GetFileVersionInfoFn>(library, "GetFileVersionInfoA");
    const auto queryValue = Resolve<VerQueryValueFn>(library, "VerQueryValueA");
    if (getSize == nullptr || getInfo == nullptr || queryValue == nullptr) {
        return std::nullopt;
    }
    DWORD ignored = 0;
    const DWORD size = getSize(path.c_str(), &ignored);
    if (size == 0) {
        return std::nullopt;
    }
    std::vector<char> buffer(size);
    void* block = nullptr;
    UINT blockSize = 0;
    if (!getInfo(path.c_str(), 0, size, buffer.data()) ||
        !queryValue(buffer.data(), "\\", &block, &blockSize) ||
        blockSize < sizeof(VS_FIXEDFILEINFO)) {
        return std::nullopt;
    }
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(block);
    return FileVersion{fixed->dwFileVersionMS, fixed->dwFileVersionLS};
}

std::string Win32SystemFacts::SystemMessage(std::uint32_t code) {
    char buffer[256];
    const DWORD length =
        ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                         0, buffer, sizeof buffer, nullptr);
    return std::string(buffer, length);
}

std::uint32_t Win32SystemFacts::LastError() {
    return ::GetLastError();
}

void Win32SystemFacts::SetLastError(std::uint32_t code) {
    ::SetLastError(code);
}

std::string Win32SystemFacts::ReadProfileString(const std::string& iniPath,
                                                const std::string& section, const std::string& key,
                                                const std::string& defaultValue) {
    char buffer[2048];
    const DWORD length = ::GetPrivateProfileStringA(
        section.c_str(), key.c_str(), defaultValue.c_str(), buffer, sizeof buffer, iniPath.c_str());
    return std::string(buffer, length);
}

} // namespace platform::windows
