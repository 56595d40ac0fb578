#include "foundation/AccessCheck.h"

#include <cstdio>

std::optional<std::string> RightsHeldByOthers(const platform::AccessList& list,
                                              std::uint32_t rights,
                                              const std::vector<RightsAllowance>& allowances) {
    if (!list.hasDacl) {
        return std::string("no DACL: everyone holds every right");
    }
    for (const auto& entry : list.allowed) {
        if (entry.trustee != platform::Trustee::Other) {
            continue;
        }
        std::uint32_t held = entry.mask & rights;
        for (const auto& allowance : allowances) {
            if (entry.sid == allowance.sid) {
                held &= ~allowance.rights;
            }
        }
        if (held != 0) {
            char mask[16];
            std::snprintf(mask, sizeof mask, "0x%X", held);
            return entry.sid + " holds " + mask;
        }
    }
    return std::nullopt;
}

std::optional<std::string> FolderOpenToOthers(const platform::AccessList& list) {
    // Add a file or write, add a folder or append, delete a child, change the attributes
    // (which lets an empty folder become a link), and the standard rights to delete and to
    // change permissions or owner, generic ones included.
    constexpr std::uint32_t kChangingRights = 0x0002 | 0x0004 | 0x0040 | kWriteAttributes |
                                              kDelete | kWriteDac | kWriteOwner | kGenericAll |
                                              kGenericWrite;
    if (list.owner == platform::Trustee::Other) {
        // An owner may always change the permissions.
        return "its owner is " + list.ownerSid;
    }
    return RightsHeldByOthers(list, kChangingRights);
}
