#include <windows.h>

#include <cstdio>
#include <optional>
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

// A file's version resource, read whole, with the library that reads its values kept
// loaded for as long as they are asked for.
class VersionResource {
public:
    static std::optional<VersionResource> Read(const std::string& path) {
        VersionResource resource;
        resource.library_ = LoadSystemLibrary("version.dll");
        if (!resource.library_) {
            return std::nullopt;
        }
        const auto getSize =
            Resolve<GetFileVersionInfoSizeFn>(resource.library_, "GetFileVersionInfoSizeA");
        const auto getInfo =
            Resolve<GetFileVersionInfoFn>(resource.library_, "GetFileVersionInfoA");
        resource.queryValue_ = Resolve<VerQueryValueFn>(resource.library_, "VerQueryValueA");
        if (getSize == nullptr || getInfo == nullptr || resource.queryValue_ == nullptr) {
            return std::nullopt;
        }
        DWORD ignored = 0;
        const DWORD size = getSize(path.c_str(), &ignored);
        if (size == 0) {
            return std::nullopt;
        }
        resource.buffer_.resize(size);
        if (!getInfo(path.c_str(), 0, size, resource.buffer_.data())) {
            return std::nullopt;
        }
        return resource;
    }

    // The value at the sub-block's path, and its size; false when there is none.
    bool Query(const char* subBlock, void*& value, UINT& size) const {
        return queryValue_(buffer_.data(), subBlock, &value, &size) != FALSE;
    }

private:
    UniqueLibrary library_;
    VerQueryValueFn queryValue_ = nullptr;
    std::vector<char> buffer_;
};

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
    const auto resource = VersionResource::Read(path);
    void* block = nullptr;
    UINT blockSize = 0;
    if (!resource || !resource->Query("\\", block, blockSize) ||
        blockSize < sizeof(VS_FIXEDFILEINFO)) {
        return std::nullopt;
    }
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(block);
    return FileVersion{fixed->dwFileVersionMS, fixed->dwFileVersionLS};
}

std::optional<std::string> Win32SystemFacts::ProcessImagePath(std::uint32_t processId) {
    // Resolved at run time: Windows XP has no QueryFullProcessImageNameA.
    using QueryImageNameFn = BOOL(WINAPI*)(HANDLE, DWORD, LPSTR, PDWORD);
    const HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
    const auto queryImageName = reinterpret_cast<QueryImageNameFn>(reinterpret_cast<void*>(
        kernel == nullptr ? nullptr : ::GetProcAddress(kernel, "QueryFullProcessImageNameA")));
    if (queryImageName == nullptr) {
        return std::nullopt;
    }
    const UniqueKernelHandle process(
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (!process) {
        return std::nullopt;
    }
    std::vector<char> buffer(32768);
    DWORD size = static_cast<DWORD>(buffer.size());
    if (!queryImageName(process.get(), 0, buffer.data(), &size)) {
        return std::nullopt;
    }
    return std::string(buffer.data(), size < buffer.size() ? size : buffer.size());
}

std::optional<std::string> Win32SystemFacts::FileDescription(const std::string& path) {
    const auto resource = VersionResource::Read(path);
    void* block = nullptr;
    UINT blockSize = 0;
    // The first language and code page of the resource names its strings' table.
    if (!resource || !resource->Query("\\VarFileInfo\\Translation", block, blockSize) ||
        blockSize < 4) {
        return std::nullopt;
    }
    const auto* translation = static_cast<const WORD*>(block);
    char key[64];
    std::snprintf(key, sizeof key, "\\StringFileInfo\\%04x%04x\\FileDescription",
                  static_cast<unsigned>(translation[0]), static_cast<unsigned>(translation[1]));
    if (!resource->Query(key, block, blockSize) || blockSize == 0) {
        return std::nullopt;
    }
    const char* text = static_cast<const char*>(block);
    return std::string(text, strnlen(text, blockSize));
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
