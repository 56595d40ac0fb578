#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A group of a token as the token lists it: its SID as text and its SE_GROUP_* attributes.
struct TokenGroup {
    std::string sid;
    std::uint32_t attributes = 0;
};

// What a helper's token holds, read back from the token itself after it was built.
struct TokenContents {
    std::vector<TokenGroup> groups;
    std::vector<std::string> privileges; // names, e.g. "SeChangeNotifyPrivilege"
};

inline constexpr const char* kAdministratorsSid = "S-1-5-32-544";
inline constexpr const char* kChangeNotifyPrivilege = "SeChangeNotifyPrivilege";
inline constexpr std::uint32_t kGroupEnabled = 0x00000004;        // SE_GROUP_ENABLED
inline constexpr std::uint32_t kGroupUseForDenyOnly = 0x00000010; // SE_GROUP_USE_FOR_DENY_ONLY

// Why a helper must not be started with this token (e.g. "S-1-5-32-544 is not deny-only
// (attributes 0xF)", "it holds SeDebugPrivilege"); nullopt when it may. Administrators, if
// present at all, must be deny-only and not enabled: with it, code run in the helper could
// create a service and win back everything. No privilege but change-notify may remain.
std::optional<std::string> HelperTokenRefusal(const TokenContents& token);
