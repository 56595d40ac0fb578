#pragma once
#include <cstdint>

#include "platform/DeviceSetup.h"

// The platform's device-interface classes and codes that the device model and the
// simulated machine both use. They are the OS's own values, so they live at the OS
// boundary: the simulated machine must not reach up into the device model for them.
// In a namespace of their own: <windows.h> declares most of them too, some as macros.
namespace SetupApi {

inline constexpr platform::Guid GUID_DEVINTERFACE_DISK = {
    0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
inline constexpr platform::Guid GUID_DEVINTERFACE_CDROM = {
    0x53F56308, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
inline constexpr platform::Guid GUID_DEVINTERFACE_FLOPPY = {
    0x53F56311, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};

// GetDriveTypeA
inline constexpr std::uint32_t kDriveRemovable = 2;
inline constexpr std::uint32_t kDriveFixed = 3;
inline constexpr std::uint32_t kDriveRemote = 4;
inline constexpr std::uint32_t kDriveCdrom = 5;
inline constexpr std::uint32_t kDriveRamdisk = 6;

inline constexpr std::uint32_t kPropertyCapabilities = 15; // SPDRP_CAPABILITIES
inline constexpr std::uint32_t kErrorInsufficientBuffer = 122;
inline constexpr std::uint32_t kErrorNoMoreItems = 259;
inline constexpr std::uint32_t kVetoTypeUnknown = 0; // PNP_VetoTypeUnknown

// STORAGE_BUS_TYPE, as far as the report names it.
enum STORAGE_BUS_TYPE : std::uint8_t {
    BusTypeUnknown = 0,
    BusTypeScsi,
    BusTypeAtapi,
    BusTypeAta,
    BusType1394,
    BusTypeSsa,
    BusTypeFibre,
    BusTypeUsb,
    BusTypeRAID,
    BusTypeMaxReserved,
};

} // namespace SetupApi
