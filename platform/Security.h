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
    // TokenElevation of the token (opened with TOKEN_QUERY): whether it is elevated;
    // nullopt on failure, with the last error set.
    virtual std::optional<bool> TokenElevated(TokenHandle& token) = 0;
    // CheckTokenMembership of the process token in Administrators: true only when the
    // group is enabled (under UAC an un-elevated administrator holds it deny-only);
    // nullopt on failure, with the last error set.
    virtual std::optional<bool> InAdministrators() = 0;
    // Whether the token's user is LocalSystem (TokenUser); nullopt on failure, with the
    // last error set.
    virtual std::optional<bool> TokenUserIsSystem(TokenHandle& token) = 0;
};

} // namespace platform
