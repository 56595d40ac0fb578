#pragma once
#include <optional>
#include <string>

#include "platform/AccessList.h"

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
    // Creates the folder with its access list given to the creation itself: SYSTEM and
    // Administrators full control, nothing inherited. It never exists with another.
    virtual bool CreateDirectory(const std::string& path) = 0;
    // Whether the path is a link (junction, symbolic link, any reparse point).
    virtual bool IsLink(const std::string& path) = 0;
    // The folder's owner and DACL; nullopt when they cannot be read.
    virtual std::optional<AccessList> FolderAccess(const std::string& path) = 0;
    // Opens the file for appending only, without following a link (creating it when
    // missing), shared for reading and writing, appends the bytes in one piece that no
    // other writer of ours can tear, and closes it again. A link, or a file with more than
    // one name, is not written: Failed. SharingViolation: another program holds it.
    virtual AppendResult AppendToFile(const std::string& path, const std::string& bytes) = 0;
};

} // namespace platform
