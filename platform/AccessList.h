#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Who an access-control entry names, as far as our checks care: the three that may own
// and change what SYSTEM and the elevated client write, and everyone else.
enum class Trustee { System, Administrators, TrustedInstaller, Other };

struct AccessEntry {
    Trustee trustee = Trustee::Other;
    std::uint32_t mask = 0;
    std::string sid; // "S-1-..." for the log
};

// An object's owner and the allow entries of its DACL that apply to the object itself
// (deny entries never widen access, inherit-only entries do not apply).
struct AccessList {
    bool hasDacl = true; // false: a NULL DACL, which grants everyone everything
    std::vector<AccessEntry> allowed;
    Trustee owner = Trustee::Other;
    std::string ownerSid;
};

} // namespace platform
