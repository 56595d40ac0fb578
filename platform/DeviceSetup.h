#pragma once
#include <array>
#include <compare>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace platform {

struct Guid {
    std::uint32_t data1 = 0;
    std::uint16_t data2 = 0;
    std::uint16_t data3 = 0;
    std::array<std::uint8_t, 8> data4{};
    auto operator<=>(const Guid&) const = default;
};

// SP_DEVINFO_DATA: which device of a device information set.
struct DevInfoData {
    std::uint32_t size = 0;
    Guid classGuid;
    std::uint32_t devInst = 0;
    std::uintptr_t reserved = 0;
};

// SP_DEVICE_INTERFACE_DATA: one interface of a device information set, handed back to
// the set unchanged.
struct DeviceInterfaceData {
    std::uint32_t size = 0;
    Guid interfaceClass;
    std::uint32_t flags = 0;
    std::uintptr_t reserved = 0;
};

struct DeviceInterfaceDetail {
    std::string devicePath;
    DevInfoData device;
};

// A device information set; destroyed (SetupDiDestroyDeviceInfoList) with its owner.
class DeviceInfoSet {
public:
    virtual ~DeviceInfoSet() = default;
    // The set's handle value, for reports only.
    virtual std::uintptr_t HandleValue() const = 0;
};

struct EjectResult {
    std::uint32_t configRet = 0; // CR_SUCCESS is 0
    std::uint32_t vetoType = 0;  // PNP_VetoTypeUnknown is 0
};

// The setup interfaces and the configuration manager. Every failure of a setup call
// leaves the thread's last-error value as the system set it.
class DeviceSetup {
public:
    virtual ~DeviceSetup() = default;
    // SetupDiGetClassDevsA with DIGCF_PRESENT | DIGCF_DEVICEINTERFACE; nullptr when it
    // returns INVALID_HANDLE_VALUE.
    virtual std::unique_ptr<DeviceInfoSet> GetClassDevs(const Guid& interfaceClass) = 0;
    // SetupDiEnumDeviceInterfaces without device information.
    virtual std::optional<DeviceInterfaceData>
    EnumDeviceInterfaces(DeviceInfoSet& set, const Guid& interfaceClass, std::uint32_t index) = 0;
    // SetupDiGetDeviceInterfaceDetailA without a buffer: whether it succeeded, and the
    // required size it reported.
    virtual bool GetDeviceInterfaceDetailSize(DeviceInfoSet& set,
                                              const DeviceInterfaceData& interfaceData,
                                              std::uint32_t& requiredSize) = 0;
    // SetupDiGetDeviceInterfaceDetailA into a buffer of the given size, with the device
    // information; the buffer lives for this call only.
    virtual std::optional<DeviceInterfaceDetail>
    GetDeviceInterfaceDetail(DeviceInfoSet& set, const DeviceInterfaceData& interfaceData,
                             std::uint32_t bufferSize) = 0;
    // SetupDiGetDeviceRegistryPropertyA into a 4-byte value.
    virtual std::optional<std::uint32_t> GetDeviceRegistryPropertyDword(DeviceInfoSet& set,
                                                                        const DevInfoData& device,
                                                                        std::uint32_t property) = 0;
    // CM_Get_Parent with flags 0; nullopt unless it returned CR_SUCCESS.
    virtual std::optional<std::uint32_t> GetParentDevice(std::uint32_t devInst) = 0;
    // CM_Get_Device_IDA into MAX_DEVICE_ID_LEN characters: the device's instance id
    // (USB\VID_0781&PID_5567\4C530001...); nullopt unless it returned CR_SUCCESS.
    virtual std::optional<std::string> GetDeviceInstanceId(std::uint32_t devInst) = 0;
    // CM_Request_Device_EjectW with flags 0, with a veto-name buffer of 261 wide
    // characters or, without one, letting the system tell the user the outcome.
    virtual EjectResult RequestDeviceEject(std::uint32_t devInst, bool withVetoNameBuffer) = 0;
};

} // namespace platform
