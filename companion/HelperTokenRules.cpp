#include "companion/HelperTokenRules.h"

#include <cstdio>

std::optional<std::string> HelperTokenRefusal(const TokenContents& token) {
    for (const TokenGroup& group : token.groups) {
        if (group.sid != kAdministratorsSid) {
            continue;
        }
        // Deny-only alone is not enough if the enabled bit survived: both are read.
        if ((group.attributes & kGroupUseForDenyOnly) == 0 ||
            (group.attributes & kGroupEnabled) != 0) {
            char attributes[16];
            std::snprintf(attributes, sizeof attributes, "0x%X", group.attributes);
            return group.sid + " is not deny-only (attributes " + attributes + ")";
        }
    }
    for (const std::string& privilege : token.privileges) {
        if (privilege != kChangeNotifyPrivilege) {
            return "it holds " + privilege;
        }
    }
    return std::nullopt;
}
