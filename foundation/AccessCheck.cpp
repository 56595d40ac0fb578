#include "foundation/AccessCheck.h"

#include <cstdio>

std::optional<std::string> RightsHeldByOthers(const platform::AccessList& list,
                                              std::uint32_t rights) {
    if (!list.hasDacl) {
        return std::string("no DACL: everyone holds every right");
    }
    for (const auto& entry : list.allowed) {
        if (entry.trustee == platform::Trustee::Other && (entry.mask & rights) != 0) {
            char mask[16];
            std::snprintf(mask, sizeof mask, "0x%X", entry.mask & rights);
            return entry.sid + " holds " + mask;
        }
    }
    return std::nullopt;
}
