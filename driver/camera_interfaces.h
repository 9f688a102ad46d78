// The present camera interfaces, found through SetupAPI: what the install
// tool's counters and the integration suite both need of each camera.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct CameraInterface {
    std::string path;   // the device path to open; empty when unread
    std::string serial; // the SerialNumber value; empty when unread
    DWORD error = 0;    // SetupDiGetDeviceInterfaceDetailA's error, when it failed
};

// Every present camera interface in enumeration order. False, with the
// system's error set, when the interface class cannot be enumerated.
bool FindCameraInterfaces(std::vector<CameraInterface> *cameras);
