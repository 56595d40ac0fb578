#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/AccessList.h"

// A trustee other than SYSTEM and Administrators that may hold some of the checked rights.
struct RightsAllowance {
    std::string sid; // "S-1-..."
    std::uint32_t rights = 0;
};

// Why the list lets someone other than SYSTEM and Administrators hold one of the rights
// beyond what an allowance gives that trustee (e.g. "S-1-5-4 holds 0x20"); nullopt when
// nobody else does. A NULL DACL is such a reason.
std::optional<std::string> RightsHeldByOthers(const platform::AccessList& list,
                                              std::uint32_t rights,
                                              const std::vector<RightsAllowance>& allowances = {});

// Why a folder is not safe to write a log into when processes of other rights than ours
// may change it (e.g. "S-1-5-32-545 holds 0x6"): its owner is not SYSTEM, Administrators
// or TrustedInstaller, or someone else may add, write, delete or change its permissions.
// Not even the user the elevated client runs for: the user's unelevated programs share
// that account.
std::optional<std::string> FolderOpenToOthers(const platform::AccessList& list);

// Generic rights as a service or a file maps them: each includes the specific rights of
// writing and of running, so a check for those must look for the generic bits too.
inline constexpr std::uint32_t kGenericAll = 0x10000000;
inline constexpr std::uint32_t kGenericExecute = 0x20000000;
inline constexpr std::uint32_t kGenericWrite = 0x40000000;
inline constexpr std::uint32_t kWriteAttributes = 0x00000100;
inline constexpr std::uint32_t kDelete = 0x00010000;
inline constexpr std::uint32_t kWriteDac = 0x00040000;
inline constexpr std::uint32_t kWriteOwner = 0x00080000;
