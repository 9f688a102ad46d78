#include "camera_interfaces.h"

// windows.h must come first
#include <setupapi.h>

namespace {

const GUID kCameraInterface = {
    0x4ACC4CE4, 0x6A08, 0x4A8C, {0xAB, 0x7A, 0xFC, 0xBD, 0x87, 0x7B, 0x16, 0xA8}};

std::string SerialNumber(HDEVINFO set, SP_DEVINFO_DATA *device) {
    char serial[64] = {};
    HKEY key = SetupDiOpenDevRegKey(set, device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key != INVALID_HANDLE_VALUE) {
        DWORD bytes = sizeof serial - 1;
        RegQueryValueExA(key, "SerialNumber", nullptr, nullptr, reinterpret_cast<BYTE *>(serial),
                         &bytes);
        RegCloseKey(key);
    }
    return serial;
}

} // namespace

bool FindCameraInterfaces(std::vector<CameraInterface> *cameras) {
    HDEVINFO set = SetupDiGetClassDevsA(&kCameraInterface, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
        return false;
    }
    SP_DEVICE_INTERFACE_DATA item{};
    item.cbSize = sizeof item;
    for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &kCameraInterface, i, &item); ++i) {
        DWORD size = 0;
        SetupDiGetDeviceInterfaceDetailA(set, &item, nullptr, 0, &size, nullptr);
        std::vector<char> buffer(size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)
                                     ? sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)
                                     : size);
        auto *detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A *>(buffer.data());
        detail->cbSize = sizeof *detail;
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        CameraInterface camera;
        if (!SetupDiGetDeviceInterfaceDetailA(set, &item, detail, size, nullptr, &device)) {
            camera.error = GetLastError();
        } else {
            camera.path = detail->DevicePath;
            camera.serial = SerialNumber(set, &device);
        }
        cameras->push_back(camera);
    }
    SetupDiDestroyDeviceInfoList(set);
    return true;
}
