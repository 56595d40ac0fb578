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
    // The FileDescription string of the file's version resource, in its first language;
    // nullopt when there is none. Reads the resource only (the file is mapped as data).
    virtual std::optional<std::string> FileDescription(const std::string& path) = 0;
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
