#pragma once
#include <cstdint>
#include <string>

#include "platform/SetupApi.h"

namespace SetupApi {

// The report's name of a bus type. Codes above 9 are written as their decimal number:
// later platform headers renumbered the codes from 9 on (9 is iSCSI there, SATA is 11),
// so a name chosen here could name the wrong bus; the number is never wrong.
std::string BusTypeName(std::uint8_t busType);

} // namespace SetupApi
