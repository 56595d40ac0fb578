#pragma once
#include <string>

namespace platform {

enum class AppendResult {
    Written,
    SharingViolation, // another process holds the file open for writing
    Failed,
};

class Files {
public:
    virtual ~Files() = default;
    virtual bool DirectoryExists(const std::string& path) = 0;
    virtual bool CreateDirectory(const std::string& path) = 0;
    // Opens the file for writing (creating it when missing), lets others read but not
    // write while it is open, appends the bytes at its end and closes it again.
    virtual AppendResult AppendToFile(const std::string& path, const std::string& bytes) = 0;
};

} // namespace platform
