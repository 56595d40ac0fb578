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
    Unwritable,       // the file cannot be created or written in this folder
    Refused,          // a link, a file with more than one name, or not the file named
};

// A log folder held open by handle. Only the folder itself is held, and shared for
// deleting: an administrator can still rename, move or remove it, or any folder above
// it, while we hold it (Windows refuses to rename a folder with a file open below it, so
// no file stays open between appends).
class HeldFolder {
public:
    virtual ~HeldFolder() = default;
    // Its owner and DACL, read through the handle; nullopt when they cannot be read.
    virtual std::optional<AccessList> Access() = 0;
    // Opens the named file relative to the folder's handle, for appending only and never
    // through a link (creating it when missing), shared for reading and writing; checks
    // that it is the file named below the folder's path as it was opened (a folder moved
    // since, or a link, shows as another path: Refused); appends the bytes in one piece
    // that no other writer of ours can tear, and closes it again.
    virtual AppendResult Append(const std::string& fileName, const std::string& bytes) = 0;
};

// Whom the folders that OpenFolder creates belong to.
enum class FolderOwner {
    Writer,  // the writer's own default owner and the inherited list
    Trusted, // SYSTEM when the process runs as SYSTEM, else Administrators; SYSTEM and
             // Administrators full control, nothing inherited
};

enum class FolderFailure {
    None,
    Link,        // a folder on the way is a link (or was reached through one)
    Missing,     // the root, or a folder on the way, cannot be reached
    Uncreatable, // a missing folder cannot be created
};

struct FolderOpening {
    std::unique_ptr<HeldFolder> folder; // set when failure is None
    FolderFailure failure = FolderFailure::None;
};

class Files {
public:
    virtual ~Files() = default;
    // Opens the root ("X:" or "\\server\share") and then each named folder in turn,
    // relative to the one before, never following a link: a folder that is a link (any
    // reparse point) ends the walk. A missing folder is created with its owner and access
    // list given to the creation itself (FolderOwner), and only below a folder whose final
    // path is the root's final path followed by the names so far. The final folder's path
    // must be that too: a share's root is reported by its own final path (Wine: a Z: path
    // below dosdevices\unc), so every path is compared with the root's.
    virtual FolderOpening OpenFolder(const std::string& root, const std::vector<std::string>& names,
                                     FolderOwner owner) = 0;
    // The user's local application data folder (%LOCALAPPDATA%); empty when unknown.
    virtual std::string LocalAppDataFolder() = 0;
};

} // namespace platform
