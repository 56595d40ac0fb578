#include <windows.h>

#include <cfgmgr32.h>
#include <setupapi.h>

#include <cstddef>
#include <vector>

#include "platform/windows/UniqueHandle.h"
#include "platform/windows/Win32Machine.h"

namespace platform::windows {
namespace {

constexpr ULONG kVetoNameCharacters = 261;

struct DeviceInfoListTraits {
    using Handle = HDEVINFO;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Handle handle) { ::SetupDiDestroyDeviceInfoList(handle); }
};

class Win32DeviceInfoSet : public DeviceInfoSet {
public:
    explicit Win32DeviceInfoSet(HDEVINFO set) : set_(set) {}
    HDEVINFO get() const { return set_.get(); }
    std::uintptr_t HandleValue() const override {
        return reinterpret_cast<std::uintptr_t>(set_.get());
    }

private:
    UniqueHandle<DeviceInfoListTraits> set_;
};

HDEVINFO Native(DeviceInfoSet& set) {
    return static_cast<Win32DeviceInfoSet&>(set).get();
}

GUID ToNative(const Guid& guid) {
    GUID native;
    native.Data1 = guid.data1;
    native.Data2 = guid.data2;
    native.Data3 = guid.data3;
    for (std::size_t i = 0; i < 8; ++i) {
        native.Data4[i] = guid.data4[i];
    }
    return native;
}

Guid FromNative(const GUID& native) {
    Guid guid;
    guid.data1 = native.Data1;
    guid.data2 = native.Data2;
    guid.data3 = native.Data3;
    for (std::size_t i = 0; i < 8; ++i) {
        guid.data4[i] = native.Data4[i];
    }
    return guid;
}

SP_DEVICE_INTERFACE_DATA ToNative(const DeviceInterfaceData& data) {
    SP_DEVICE_INTERFACE_DATA native = {};
    native.cbSize = sizeof native;
    native.InterfaceClassGuid = ToNative(data.interfaceClass);
    native.Flags = data.flags;
    native.Reserved = data.reserved;
    return native;
}

SP_DEVINFO_DATA ToNative(const DevInfoData& data) {
    SP_DEVINFO_DATA native = {};
    native.cbSize = sizeof native;
    native.ClassGuid = ToNative(data.classGuid);
    native.DevInst = data.devInst;
    native.Reserved = data.reserved;
    return native;
}

DevInfoData FromNative(const SP_DEVINFO_DATA& native) {
    return DevInfoData{native.cbSize, FromNative(native.ClassGuid), native.DevInst,
                       native.Reserved};
}

} // namespace

std::unique_ptr<DeviceInfoSet> Win32DeviceSetup::GetClassDevs(const Guid& interfaceClass) {
    const GUID native = ToNative(interfaceClass);
    const HDEVINFO set =
        ::SetupDiGetClassDevsA(&native, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    return std::make_unique<Win32DeviceInfoSet>(set);
}

std::optional<DeviceInterfaceData>
Win32DeviceSetup::EnumDeviceInterfaces(DeviceInfoSet& set, const Guid& interfaceClass,
                                       std::uint32_t index) {
    const GUID native = ToNative(interfaceClass);
    SP_DEVICE_INTERFACE_DATA data = {};
    data.cbSize = sizeof data;
    if (!::SetupDiEnumDeviceInterfaces(Native(set), nullptr, &native, index, &data)) {
        return std::nullopt;
    }
    return DeviceInterfaceData{data.cbSize, FromNative(data.InterfaceClassGuid), data.Flags,
                               data.Reserved};
}

bool Win32DeviceSetup::GetDeviceInterfaceDetailSize(DeviceInfoSet& set,
                                                    const DeviceInterfaceData& interfaceData,
                                                    std::uint32_t& requiredSize) {
    SP_DEVICE_INTERFACE_DATA data = ToNative(interfaceData);
    DWORD required = 0;
    const BOOL ok =
        ::SetupDiGetDeviceInterfaceDetailA(Native(set), &data, nullptr, 0, &required, nullptr);
    requiredSize = required;
    return ok != FALSE;
}

std::optional<DeviceInterfaceDetail> Win32DeviceSetup::GetDeviceInterfaceDetail(
    DeviceInfoSet& set, const DeviceInterfaceData& interfaceData, std::uint32_t bufferSize) {
    // Never smaller than the structure whose size member is written into it.
    const std::size_t size = bufferSize < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)
                                 ? sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)
                                 : bufferSize;
    std::vector<std::byte> buffer(size);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    SP_DEVICE_INTERFACE_DATA data = ToNative(interfaceData);
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    if (!::SetupDiGetDeviceInterfaceDetailA(Native(set), &data, detail, static_cast<DWORD>(size),
                                            nullptr, &device)) {
        return std::nullopt;
    }
    const std::size_t pathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    const std::size_t pathCapacity = size - pathOffset;
    return DeviceInterfaceDetail{
        std::string(detail->DevicePath, strnlen(detail->DevicePath, pathCapacity)),
        FromNative(device)};
}

std::optional<std::uint32_t>
Win32DeviceSetup::GetDeviceRegistryPropertyDword(DeviceInfoSet& set, const DevInfoData& device,
                                                 std::uint32_t property) {
    SP_DEVINFO_DATA native = ToNative(device);
    DWORD dataType = 0;
    DWORD value = 0;
    DWORD required = 0;
    if (!::SetupDiGetDeviceRegistryPropertyA(Native(set), &native, property, &dataType,
                                             reinterpret_cast<BYTE*>(&value), sizeof value,
                                             &required)) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::uint32_t> Win32DeviceSetup::GetParentDevice(std::uint32_t devInst) {
    DEVINST parent = 0;
    if (::CM_Get_Parent(&parent, devInst, 0) != CR_SUCCESS) {
        return std::nullopt;
    }
    return parent;
}

std::optional<std::string> Win32DeviceSetup::GetDeviceInstanceId(std::uint32_t devInst) {
    char id[MAX_DEVICE_ID_LEN + 1] = {};
    if (::CM_Get_Device_IDA(devInst, id, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS) {
        return std::nullopt;
    }
    return std::string(id, strnlen(id, MAX_DEVICE_ID_LEN));
}

EjectResult Win32DeviceSetup::RequestDeviceEject(std::uint32_t devInst, bool withVetoNameBuffer) {
    PNP_VETO_TYPE vetoType = PNP_VetoTypeUnknown;
    WCHAR vetoName[kVetoNameCharacters] = {};
    const CONFIGRET result =
        withVetoNameBuffer
            ? ::CM_Request_Device_EjectW(devInst, &vetoType, vetoName, kVetoNameCharacters, 0)
            : ::CM_Request_Device_EjectW(devInst, &vetoType, nullptr, 0, 0);
    return EjectResult{result, static_cast<std::uint32_t>(vetoType)};
}

} // namespace platform::windows
