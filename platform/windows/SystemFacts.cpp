#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

#include "platform/windows/AnsiText.h"
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

// An entry of kernel32 that older systems lack (Windows XP): nullptr there.
template <typename Fn> Fn KernelEntry(const char* name) {
    const HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
    return kernel == nullptr
               ? nullptr
               : reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(kernel, name)));
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
    const auto queryImageName = KernelEntry<QueryImageNameFn>("QueryFullProcessImageNameA");
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

namespace {

constexpr DWORD kMaxVersionResource = 64 * 1024; // a version resource is a few KB

// Opens one component of the path without following it should it be a link, shared for
// reading only: while held it can be neither renamed, deleted nor written.
UniqueFileHandle OpenHeld(const std::wstring& path, bool folder) {
    UniqueFileHandle handle(::CreateFileW(
        path.c_str(), folder ? FILE_LIST_DIRECTORY : GENERIC_READ, FILE_SHARE_READ, nullptr,
        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | (folder ? FILE_FLAG_BACKUP_SEMANTICS : 0),
        nullptr));
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!handle || !::GetFileInformationByHandle(handle.get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
        ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) != folder) {
        return {};
    }
    return handle;
}

// The NT path that the handle names; resolved at run time (Windows XP has none).
std::optional<std::string> FinalNtPath(HANDLE file) {
    using FinalPathFn = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
    const auto finalPath = KernelEntry<FinalPathFn>("GetFinalPathNameByHandleW");
    if (finalPath == nullptr) {
        return std::nullopt;
    }
    std::vector<wchar_t> buffer(32768);
    const DWORD length =
        finalPath(file, buffer.data(), static_cast<DWORD>(buffer.size()), VOLUME_NAME_NT);
    if (length == 0 || length >= buffer.size()) {
        return std::nullopt;
    }
    return AnsiText(std::wstring_view(buffer.data(), length));
}

// The FileDescription of the image's version resource, read from a mapped view of the
// image (mapped as an image only: nothing in it runs, no DLL it names is loaded).
std::string DescriptionFromImage(HANDLE file) {
    const UniqueKernelHandle section(
        ::CreateFileMappingW(file, nullptr, PAGE_READONLY | SEC_IMAGE, 0, 0, nullptr));
    if (!section) {
        return {};
    }
    struct View {
        void* base;
        ~View() {
            if (base != nullptr) {
                ::UnmapViewOfFile(base);
            }
        }
    } view{::MapViewOfFile(section.get(), FILE_MAP_READ, 0, 0, 0)};
    if (view.base == nullptr) {
        return {};
    }
    const auto module = static_cast<HMODULE>(view.base);
    // RT_VERSION is an ANSI name without UNICODE defined: its number, as wide.
    const HRSRC found =
        ::FindResourceW(module, MAKEINTRESOURCEW(VS_VERSION_INFO), MAKEINTRESOURCEW(16));
    const DWORD size = found == nullptr ? 0 : ::SizeofResource(module, found);
    const HGLOBAL loaded = found == nullptr ? nullptr : ::LoadResource(module, found);
    const void* data = loaded == nullptr ? nullptr : ::LockResource(loaded);
    if (data == nullptr || size == 0 || size > kMaxVersionResource) {
        return {};
    }
    // A copy, with room that the query may use as a version resource read whole has.
    std::vector<char> copy(static_cast<std::size_t>(size) * 2, '\0');
    std::memcpy(copy.data(), data, size);
    const UniqueLibrary version = LoadSystemLibrary("version.dll");
    using VerQueryValueWFn = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);
    const auto query = Resolve<VerQueryValueWFn>(version, "VerQueryValueW");
    void* block = nullptr;
    UINT blockSize = 0;
    if (query == nullptr ||
        !query(copy.data(), L"\\VarFileInfo\\Translation", &block, &blockSize) || blockSize < 4) {
        return {};
    }
    const auto* translation = static_cast<const WORD*>(block);
    // "\StringFileInfo\040904b0\FileDescription", spelt out by hand: the wide printf
    // family would cost the service, which links this file too, more than its size budget.
    std::wstring key = L"\\StringFileInfo\\";
    for (const WORD part : {translation[0], translation[1]}) {
        for (int shift = 12; shift >= 0; shift -= 4) {
            key += L"0123456789abcdef"[(part >> shift) & 0xF];
        }
    }
    key += L"\\FileDescription";
    if (!query(copy.data(), key.c_str(), &block, &blockSize) || blockSize == 0) {
        return {};
    }
    const auto* text = static_cast<const wchar_t*>(block);
    const auto* end = reinterpret_cast<const wchar_t*>(copy.data() + copy.size());
    if (text < reinterpret_cast<const wchar_t*>(copy.data()) || text >= end) {
        return {};
    }
    const std::size_t limit =
        std::min<std::size_t>(blockSize, static_cast<std::size_t>(end - text));
    return AnsiText(std::wstring_view(text, wcsnlen(text, limit)));
}

} // namespace

std::optional<HeldFileDescription> Win32SystemFacts::ReadFileDescription(const std::string& path) {
    const int length =
        ::MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), wide.data(),
                          length);
    if (wide.size() < 4 || wide[1] != L':' || wide[2] != L'\\') {
        return std::nullopt; // a path on a lettered drive only
    }
    // "\\?\" keeps each name as it is: no "..", no trailing dot or blank dropped.
    std::vector<UniqueFileHandle> held;
    for (std::size_t at = wide.find(L'\\', 3);; at = wide.find(L'\\', at + 1)) {
        const bool folder = at != std::wstring::npos;
        held.push_back(OpenHeld(L"\\\\?\\" + wide.substr(0, at), folder));
        if (!held.back()) {
            return std::nullopt;
        }
        if (!folder) {
            break;
        }
    }
    auto finalPath = FinalNtPath(held.back().get());
    if (!finalPath) {
        return std::nullopt;
    }
    return HeldFileDescription{std::move(*finalPath), DescriptionFromImage(held.back().get())};
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
