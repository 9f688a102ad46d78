// Installs, removes and lists root-enumerated tqdev cameras:
//   tqcamctl install [COUNT]   adds COUNT cameras (1) with tqcam.inf beside the tool
//   tqcamctl remove [INSTANCE|all]
//   tqcamctl list
//   tqcamctl counters          the driver's request counters of every camera;
//                              exit code 1 when a request was ever held without
//                              a cancel routine
// Failures are reported with the system's error; the exit code is then 1.
#include <windows.h>

#include <initguid.h>
#include <newdev.h>
#include <setupapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "camera_interfaces.h"
#include "driver_control.h"

namespace {

DEFINE_GUID(kCameraClass, 0xfc2b1a20, 0x2f04, 0x42e4, 0x95, 0xb1, 0xc3, 0x8c, 0xb6, 0xac, 0x8e,
            0xca);
constexpr char kHardwareId[] = "Root\\tqcam";

int Fail(const char *what) {
    const DWORD error = GetLastError();
    char text[256] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                   text, sizeof text, nullptr);
    std::fprintf(stderr, "tqcamctl: %s failed: error 0x%08lX %s\n", what, error, text);
    return 1;
}

std::string InfPath() {
    char module[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, module, sizeof module);
    std::string path(module, n);
    const auto slash = path.find_last_of("\\/");
    path = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + "tqcam.inf";
    return path;
}

bool IsCamera(HDEVINFO set, SP_DEVINFO_DATA *data) {
    char ids[512] = {};
    if (!SetupDiGetDeviceRegistryPropertyA(set, data, SPDRP_HARDWAREID, nullptr,
                                           reinterpret_cast<BYTE *>(ids), sizeof ids - 2,
                                           nullptr)) {
        return false;
    }
    for (const char *id = ids; *id != '\0'; id += std::strlen(id) + 1) {
        if (_stricmp(id, kHardwareId) == 0) {
            return true;
        }
    }
    return false;
}

std::string InstanceId(HDEVINFO set, SP_DEVINFO_DATA *data) {
    char id[512] = {};
    SetupDiGetDeviceInstanceIdA(set, data, id, sizeof id, nullptr);
    return id;
}

// Calls back for every camera device of the class; false ends the walk.
template <typename Visit> int ForEachCamera(Visit visit) {
    HDEVINFO set = SetupDiGetClassDevsA(&kCameraClass, nullptr, nullptr, 0);
    if (set == INVALID_HANDLE_VALUE) {
        return Fail("SetupDiGetClassDevs");
    }
    int status = 0;
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &data); ++i) {
        if (IsCamera(set, &data) && (status = visit(set, &data)) != 0) {
            break;
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    return status;
}

int AddCamera() {
    HDEVINFO set = SetupDiCreateDeviceInfoList(&kCameraClass, nullptr);
    if (set == INVALID_HANDLE_VALUE) {
        return Fail("SetupDiCreateDeviceInfoList");
    }
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    int status = 0;
    // Hardware id list: one text and an empty one.
    char ids[sizeof kHardwareId + 1] = {};
    std::memcpy(ids, kHardwareId, sizeof kHardwareId);
    if (!SetupDiCreateDeviceInfoA(set, "TQCAM", &kCameraClass, nullptr, nullptr, DICD_GENERATE_ID,
                                  &data)) {
        status = Fail("SetupDiCreateDeviceInfo");
    } else if (!SetupDiSetDeviceRegistryPropertyA(
                   set, &data, SPDRP_HARDWAREID, reinterpret_cast<const BYTE *>(ids), sizeof ids)) {
        status = Fail("SetupDiSetDeviceRegistryProperty");
    } else if (!SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &data)) {
        status = Fail("SetupDiCallClassInstaller(DIF_REGISTERDEVICE)");
    } else {
        std::printf("%s\n", InstanceId(set, &data).c_str());
    }
    SetupDiDestroyDeviceInfoList(set);
    return status;
}

int Install(int count) {
    const std::string inf = InfPath();
    if (GetFileAttributesA(inf.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return Fail(("finding " + inf).c_str());
    }
    for (int i = 0; i < count; ++i) {
        if (AddCamera() != 0) {
            return 1;
        }
    }
    BOOL reboot = FALSE;
    if (!UpdateDriverForPlugAndPlayDevicesA(nullptr, kHardwareId, inf.c_str(), INSTALLFLAG_FORCE,
                                            &reboot)) {
        return Fail("UpdateDriverForPlugAndPlayDevices");
    }
    return 0;
}

int Remove(const char *which) {
    const bool all = _stricmp(which, "all") == 0;
    int removed = 0;
    int status = ForEachCamera([&](HDEVINFO set, SP_DEVINFO_DATA *data) {
        if (!all && _stricmp(InstanceId(set, data).c_str(), which) != 0) {
            return 0;
        }
        if (!SetupDiCallClassInstaller(DIF_REMOVE, set, data)) {
            return Fail("SetupDiCallClassInstaller(DIF_REMOVE)");
        }
        ++removed;
        return 0;
    });
    if (status == 0 && !all && removed == 0) {
        SetLastError(ERROR_NOT_FOUND);
        return Fail(which);
    }
    return status;
}

int List() {
    return ForEachCamera([](HDEVINFO set, SP_DEVINFO_DATA *data) {
        std::printf("%s\n", InstanceId(set, data).c_str());
        return 0;
    });
}

int Counters() {
    int status = 0;
    std::vector<CameraInterface> cameras;
    if (!FindCameraInterfaces(&cameras)) {
        return Fail("SetupDiGetClassDevs");
    }
    for (size_t i = 0; i < cameras.size(); ++i) {
        if (cameras[i].error != 0) {
            SetLastError(cameras[i].error);
            return Fail("SetupDiGetDeviceInterfaceDetail");
        }
        HANDLE file = CreateFileA(cameras[i].path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return Fail("CreateFile");
        }
        TQCAM_CONTROL control{TQCAM_CONTROL_COUNTERS, 0, 0, {}};
        TQCAM_COUNTERS counters{};
        DWORD bytes = 0;
        const BOOL ok = DeviceIoControl(file, TQCAM_CONTROL_CODE, &control, sizeof control,
                                        &counters, sizeof counters, &bytes, nullptr);
        const DWORD error = GetLastError();
        CloseHandle(file);
        if (!ok) {
            SetLastError(error);
            return Fail("DeviceIoControl");
        }
        std::printf("camera %lu: served %u, pending %u, ended by cancel routine %u, "
                    "pending without cancel routine %u\n",
                    static_cast<unsigned long>(i), counters.served, counters.pending,
                    counters.ended_by_cancel_routine, counters.pending_without_cancel);
        if (counters.pending_without_cancel != 0) {
            status = 1;
        }
    }
    return status;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: tqcamctl install [COUNT] | remove [INSTANCE|all] | list | counters\n");
    return 2;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        return Usage();
    }
    const std::string command = argv[1];
    if (command == "install" && argc <= 3) {
        char *end = nullptr;
        const long count = argc == 3 ? std::strtol(argv[2], &end, 10) : 1;
        if ((argc == 3 && *end != '\0') || count < 1 || count > 64) {
            return Usage();
        }
        return Install(static_cast<int>(count));
    }
    if (command == "remove" && argc <= 3) {
        return Remove(argc == 3 ? argv[2] : "all");
    }
    if (command == "counters" && argc == 2) {
        return Counters();
    }
    if (command == "list" && argc == 2) {
        return List();
    }
    return Usage();
}
