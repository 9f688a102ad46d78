// Device installation services over the virtual device manager. A device
// information set is a snapshot: it keeps its own copies of paths and values.
#include <cstddef>
#include <cstring>

#include "objects.h"

namespace tqsim {
namespace {

constexpr DWORD SPINT_ACTIVE = 0x1;
constexpr DWORD DICS_FLAG_CONFIGSPECIFIC = 0x2;

bool SameGuid(const GUID &a, const GUID &b) {
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}

// The entry an interface record names: Reserved holds its position + 1.
const InterfaceEntry *EntryOf(const DeviceInfoSetObject &set, ULONG_PTR reserved) {
    if (reserved == 0 || reserved > set.entries.size()) {
        return nullptr;
    }
    return &set.entries[reserved - 1];
}

void FillDeviceInfo(const InterfaceEntry &entry, ULONG_PTR reserved, SP_DEVINFO_DATA &info) {
    info.ClassGuid = entry.interfaceClass;
    info.DevInst = entry.devInst;
    info.Reserved = reserved;
}

DWORD CheckDetailBuffer(PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD detailSize, DWORD required,
                        PSP_DEVINFO_DATA deviceInfo) {
    if (detail == nullptr) {
        return detailSize == 0 ? ERROR_INSUFFICIENT_BUFFER : ERROR_INVALID_USER_BUFFER;
    }
    if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) ||
        (deviceInfo != nullptr && deviceInfo->cbSize != sizeof(SP_DEVINFO_DATA))) {
        return ERROR_INVALID_USER_BUFFER;
    }
    return detailSize < required ? ERROR_INSUFFICIENT_BUFFER : ERROR_SUCCESS;
}

} // namespace
} // namespace tqsim

using namespace tqsim;

HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID *classGuid, LPCSTR, HWND, DWORD flags) {
    DWORD error = 0;
    if (InjectedFault(Call::SetupDiGetClassDevsA, &error)) {
        return FailWith(error, INVALID_HANDLE_VALUE);
    }
    // Only interface sets of one class are modelled; every device is present.
    if (classGuid == nullptr || (flags & DIGCF_DEVICEINTERFACE) == 0) {
        return FailWith(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    }
    auto set = std::make_shared<DeviceInfoSetObject>();
    set->entries = SnapshotInterfaces(*classGuid);
    return InsertHandle(std::move(set));
}

BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO handle, PSP_DEVINFO_DATA deviceInfo,
                                        const GUID *interfaceClass, DWORD memberIndex,
                                        PSP_DEVICE_INTERFACE_DATA interfaceData) {
    DWORD error = 0;
    if (InjectedFault(Call::SetupDiEnumDeviceInterfaces, &error)) {
        return FailWith(error, FALSE);
    }
    auto set = LookUp<DeviceInfoSetObject>(handle, ObjectKind::DeviceInfoSet);
    if (!set) {
        return FailWith(ERROR_INVALID_HANDLE, FALSE);
    }
    if (interfaceClass == nullptr || interfaceData == nullptr) {
        return FailWith(ERROR_INVALID_PARAMETER, FALSE);
    }
    if (interfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) ||
        (deviceInfo != nullptr && deviceInfo->cbSize != sizeof(SP_DEVINFO_DATA))) {
        return FailWith(ERROR_INVALID_USER_BUFFER, FALSE);
    }
    DWORD seen = 0;
    for (std::size_t i = 0; i < set->entries.size(); ++i) {
        const InterfaceEntry &entry = set->entries[i];
        if (!SameGuid(entry.interfaceClass, *interfaceClass) ||
            (deviceInfo != nullptr && deviceInfo->DevInst != entry.devInst)) {
            continue;
        }
        if (seen++ == memberIndex) {
            interfaceData->InterfaceClassGuid = entry.interfaceClass;
            interfaceData->Flags = SPINT_ACTIVE;
            interfaceData->Reserved = i + 1;
            return TRUE;
        }
    }
    return FailWith(ERROR_NO_MORE_ITEMS, FALSE);
}

BOOL WINAPI SetupDiGetDeviceInterfaceDetailA(HDEVINFO handle,
                                             PSP_DEVICE_INTERFACE_DATA interfaceData,
                                             PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
                                             DWORD detailSize, LPDWORD requiredSize,
                                             PSP_DEVINFO_DATA deviceInfo) {
    DWORD error = 0;
    if (InjectedFault(Call::SetupDiGetDeviceInterfaceDetailA, &error)) {
        return FailWith(error, FALSE);
    }
    auto set = LookUp<DeviceInfoSetObject>(handle, ObjectKind::DeviceInfoSet);
    if (!set) {
        return FailWith(ERROR_INVALID_HANDLE, FALSE);
    }
    if (interfaceData == nullptr || interfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        return FailWith(ERROR_INVALID_USER_BUFFER, FALSE);
    }
    const InterfaceEntry *entry = EntryOf(*set, interfaceData->Reserved);
    if (entry == nullptr) {
        return FailWith(ERROR_INVALID_PARAMETER, FALSE);
    }
    const DWORD required = static_cast<DWORD>(
        offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + entry->path.size() + 1);
    error = CheckDetailBuffer(detail, detailSize, required, deviceInfo);
    if (error == ERROR_INSUFFICIENT_BUFFER && requiredSize != nullptr) {
        *requiredSize = required;
    }
    if (error != ERROR_SUCCESS) {
        return FailWith(error, FALSE);
    }
    std::memcpy(detail->DevicePath, entry->path.c_str(), entry->path.size() + 1);
    if (requiredSize != nullptr) {
        *requiredSize = required;
    }
    if (deviceInfo != nullptr) {
        FillDeviceInfo(*entry, interfaceData->Reserved, *deviceInfo);
    }
    return TRUE;
}

HKEY WINAPI SetupDiOpenDevRegKey(HDEVINFO handle, PSP_DEVINFO_DATA deviceInfo, DWORD scope, DWORD,
                                 DWORD keyType, REGSAM) {
    DWORD error = 0;
    if (InjectedFault(Call::SetupDiOpenDevRegKey, &error)) {
        return FailWith(error, INVALID_HANDLE_VALUE);
    }
    auto set = LookUp<DeviceInfoSetObject>(handle, ObjectKind::DeviceInfoSet);
    if (!set) {
        return FailWith(ERROR_INVALID_HANDLE, INVALID_HANDLE_VALUE);
    }
    if (deviceInfo == nullptr || deviceInfo->cbSize != sizeof(SP_DEVINFO_DATA)) {
        return FailWith(ERROR_INVALID_USER_BUFFER, INVALID_HANDLE_VALUE);
    }
    const InterfaceEntry *entry = EntryOf(*set, deviceInfo->Reserved);
    if (entry == nullptr || entry->devInst != deviceInfo->DevInst ||
        (scope != DICS_FLAG_GLOBAL && scope != DICS_FLAG_CONFIGSPECIFIC) || keyType != DIREG_DEV) {
        return FailWith(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    }
    auto key = std::make_shared<RegistryKeyObject>();
    key->values = entry->values;
    return InsertHandle(std::move(key));
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO handle) {
    DWORD error = 0;
    if (InjectedFault(Call::SetupDiDestroyDeviceInfoList, &error)) {
        return FailWith(error, FALSE);
    }
    if (!RemoveHandle(handle, ObjectKind::DeviceInfoSet)) {
        return FailWith(ERROR_INVALID_HANDLE, FALSE);
    }
    return TRUE;
}
