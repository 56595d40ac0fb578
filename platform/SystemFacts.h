#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace platform {

struct OsVersion {
    std::uint32_t platformId = 0; // 1 = Windows 9x family, 2 = NT family
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
};

struct FileVersion {
    std::uint32_t mostSignificant = 0;
    std::uint32_t leastSignificant = 0;
};

// A file's description as read through one open handle: the NT path that handle names
// (\\Device\\HarddiskVolume3\\Office\\EXCEL.EXE), to check against the path asked for,
// and the FileDescription of its version resource in its first language (empty when none).
struct HeldFileDescription {
    std::string finalPath;
    std::string description;
};

// Process and system facts, and the calling thread's last-error value.
class SystemFacts {
public:
    virtual ~SystemFacts() = default;
    virtual std::string ModuleFileName() = 0;
    // GetComputerNameA into 256 characters; nullopt when the system cannot give it.
    virtual std::optional<std::string> ComputerName() = 0;
    virtual std::optional<OsVersion> QueryOsVersion() = 0;
    // The fixed file version of the file's version resource; nullopt when there is none.
    virtual std::optional<FileVersion> FixedFileVersion(const std::string& path) = 0;
    // The full Win32 path of a running process's image (OpenProcess with limited query
    // rights, QueryFullProcessImageNameA); nullopt when there is no such process or it
    // cannot be asked.
    virtual std::optional<std::string> ProcessImagePath(std::uint32_t processId) = 0;
    // Opens the file (a full Win32 path, "C:\\dir\\x.exe") once for reading and reads the
    // FileDescription of its version resource through that handle, mapped as an image and
    // never loaded. No link on its way is followed: each folder of the path is opened
    // first without following a reparse point, refused when it is one, and held, as the
    // file is, without FILE_SHARE_WRITE or FILE_SHARE_DELETE, so that nothing on the way
    // can be renamed, replaced or written during the read. nullopt when any of it fails.
    // It waits as long as the disk does: the caller decides which disks it may wait on.
    virtual std::optional<HeldFileDescription> ReadFileDescription(const std::string& path) = 0;
    // The system message table's text for the code, at most 256 characters, as the
    // system gives it (line break included); empty when there is none.
    virtual std::string SystemMessage(std::uint32_t code) = 0;
    virtual std::uint32_t LastError() = 0;
    virtual void SetLastError(std::uint32_t code) = 0;
    // One value from an INI file through the private-profile routines.
    virtual std::string ReadProfileString(const std::string& iniPath, const std::string& section,
                                          const std::string& key,
                                          const std::string& defaultValue) = 0;
};

} // namespace platform
