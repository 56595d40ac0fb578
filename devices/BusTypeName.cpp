#include "devices/BusTypeName.h"

#include <array>

namespace SetupApi {

std::string BusTypeName(std::uint8_t busType) {
    static const std::array<const char*, 10> names = {
        "BusTypeUnknown", "BusTypeScsi",  "BusTypeAtapi", "BusTypeAta",  "BusType1394",
        "BusTypeSsa",     "BusTypeFibre", "BusTypeUsb",   "BusTypeRAID", "BusTypeMaxReserved"};
    if (busType < names.size()) {
        return names[busType];
    }
    return std::to_string(busType);
}

} // namespace SetupApi
