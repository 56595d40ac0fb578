#pragma once
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/AccessList.h"

namespace platform {

enum class AppendResult {
    Written,
    SharingViolation, // another program holds the file open
    Failed,
};

// A folder held open by handle, and with it every folder above it: none of them can be
// renamed, removed or replaced by a link until this object goes.
class HeldFolder {
public:
    virtual ~HeldFolder() = default;
    // Its owner and DACL, read through the handle; nullopt when they cannot be read.
    virtual std::optional<AccessList> Access() = 0;
    // Opens the named file relative to the folder's handle, for appending only and never
    // through a link (creating it when missing), shared for reading and writing; appends
    // the bytes in one piece that no other writer of ours can tear, and closes it again.
    // A link, or a file with more than one name, is not written: Failed.
    virtual AppendResult Append(const std::string& fileName, const std::string& bytes) = 0;
};

class Files {
public:
    virtual ~Files() = default;
    // Opens the root ("X:" or "\\server\share") and then each named folder in turn,
    // relative to the one before, never following a link: a folder that is a link (any
    // reparse point) ends the walk with nullptr. A missing folder is created with its
    // access list given to the creation itself: SYSTEM and Administrators full control,
    // nothing inherited. nullptr too when a folder can be neither opened nor created.
    virtual std::unique_ptr<HeldFolder> OpenFolder(const std::string& root,
                                                   const std::vector<std::string>& names) = 0;
};

} // namespace platform
