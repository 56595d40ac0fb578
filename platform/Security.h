#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace platform {

// An open process token; closing happens when the owner lets go of it.
class TokenHandle {
public:
    virtual ~TokenHandle() = default;
};

struct PrivilegeId {
    std::uint32_t lowPart = 0;
    std::int32_t highPart = 0;
};

class Security {
public:
    virtual ~Security() = default;
    // nullptr on failure, with the last error set.
    virtual std::unique_ptr<TokenHandle> OpenProcessToken(std::uint32_t desiredAccess) = 0;
    virtual std::optional<PrivilegeId> LookupPrivilegeValue(const std::string& name) = 0;
    // AdjustTokenPrivileges with a single entry; its own success says little: the
    // last-error value tells whether the privilege was really assigned.
    virtual bool AdjustTokenPrivilege(TokenHandle& token, PrivilegeId privilege,
                                      std::uint32_t attributes) = 0;
};

} // namespace platform
