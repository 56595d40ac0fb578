#include "devices/DeviceLookupUnit.h"

#include "devices/OSError.h"
#include "platform/SetupApi.h"
#include "platform/Machine.h"

namespace {

const platform::Guid* InterfaceClassOf(std::uint32_t driveType, bool isFloppy) {
    switch (driveType) {
    case SetupApi::kDriveRemovable:
        return isFloppy ? &SetupApi::GUID_DEVINTERFACE_FLOPPY : &SetupApi::GUID_DEVINTERFACE_DISK;
    case SetupApi::kDriveFixed:
        return &SetupApi::GUID_DEVINTERFACE_DISK;
    case SetupApi::kDriveCdrom:
        return &SetupApi::GUID_DEVINTERFACE_CDROM;
    default:
        return nullptr; // network drives, RAM disks, unknown types: nothing to eject
    }
}

} // namespace

std::optional<std::uint32_t> DeviceNumberOfPath(const std::string& path) {
    auto& storage = *platform::CurrentMachine().storage;
    const auto device = storage.OpenForQuery(path);
    if (!device) {
        return std::nullopt;
    }
    const auto number = storage.GetDeviceNumber(*device);
    if (!number) {
        return std::nullopt;
    }
    return number->deviceNumber;
}

bool ReadDevicePropertyDword(platform::DeviceInfoSet& set, const platform::DevInfoData& device,
                             std::uint32_t property, std::uint32_t& value) {
    const auto read = platform::CurrentMachine().deviceSetup->GetDeviceRegistryPropertyDword(
        set, device, property);
    value = read.value_or(0);
    return read.has_value();
}

void LookupDeviceInstance(const std::string& driveLetter, bool isFloppy,
                          std::optional<std::uint32_t> deviceNumber, TDeviceInstance& found) {
    auto& machine = platform::CurrentMachine();
    auto& setup = *machine.deviceSetup;
    const platform::Guid* interfaceClass =
        InterfaceClassOf(machine.storage->DriveType(driveLetter + ":"), isFloppy);
    if (interfaceClass == nullptr || !deviceNumber) {
        return;
    }
    const auto set = setup.GetClassDevs(*interfaceClass);
    if (!set) {
        return;
    }
    for (std::uint32_t index = 0;; ++index) {
        const auto interfaceData = setup.EnumDeviceInterfaces(*set, *interfaceClass, index);
        if (!interfaceData) {
            if (machine.system->LastError() == SetupApi::kErrorNoMoreItems) {
                return;
            }
            RaiseLastOSError();
        }
        std::uint32_t requiredSize = 0;
        if (!setup.GetDeviceInterfaceDetailSize(*set, *interfaceData, requiredSize)) {
            if (machine.system->LastError() != SetupApi::kErrorInsufficientBuffer) {
                RaiseLastOSError();
            }
            machine.system->SetLastError(0); // the expected answer, not an error
        }
        const auto detail = setup.GetDeviceInterfaceDetail(*set, *interfaceData, requiredSize);
        if (!detail) {
            RaiseLastOSError();
        }
        std::uint32_t capabilities = 0;
        if (!ReadDevicePropertyDword(*set, detail->device, SetupApi::kPropertyCapabilities,
                                     capabilities)) {
            continue;
        }
        const auto interfaceNumber = DeviceNumberOfPath(detail->devicePath);
        if (interfaceNumber && *interfaceNumber == *deviceNumber) {
            found.InfoHandle = set->HandleValue();
            found.DevInfoData = detail->device;
            found.DiskPath = detail->devicePath;
            return;
        }
    }
}
