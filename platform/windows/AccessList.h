#pragma once
#include <windows.h>

#include <optional>

#include "platform/AccessList.h"

namespace platform::windows {

// The owner and the DACL's allow entries that apply to the object itself, with SYSTEM
// and Administrators named; nullopt when the descriptor cannot be read.
std::optional<AccessList> ReadAccessList(PSECURITY_DESCRIPTOR descriptor);

// Whether this is Wine rather than Windows (whose security it keeps only in part).
bool RunningUnderWine();

} // namespace platform::windows
