// The device list's records and functions: one node per attached camera, the
// plug and unplug events of an enumeration pass, and the registry values a
// node is filled from.
#pragma once

#include <cstdint>

#include "platform.h"
#include "tqdev.h"
#include "tqdev_lib_nt.h"

#include "diagnostics.h"

// One attached camera. The public record comes first so that a device array
// copies it in one piece.
struct DeviceNode {
    TQDEV_DEVICE_INFO info;
    int32_t presentMark;
    char *devicePath;
    // Channel: open exactly while fileHandle is not INVALID_HANDLE_VALUE.
    HANDLE fileHandle;
    HANDLE ioThread;
    HANDLE requestEvent;
    HANDLE doneEvent;
    uint32_t stopFlag;
    // I/O slot: written only by the holder of the library mutex, read by the
    // I/O thread between requestEvent and doneEvent.
    uint32_t ioCode;
    void *inBuffer;
    uint32_t inSize;
    void *outBuffer;
    uint32_t outSize;
    OVERLAPPED *ioOverlapped;
    uint32_t ioResult;
    uint32_t ticketCounter;
    int32_t liveFocus;
    DeviceNode *next;
    DeviceNode *prev;
};

// One plug or unplug seen by an enumeration pass.
struct DeviceEvent {
    uint32_t event;
    uint32_t deviceIndex;
    DeviceEvent *next;
};

// ---- Device list (mutex held) ----------------------------------------------

uint32_t FindDevice(uint32_t index, DeviceNode **node);
void RemoveDevice(DeviceNode *node);
void RemoveAllDevices();
// One pass over the present interfaces; adds new cameras and removes vanished
// ones. With events non-null, returns the plug and unplug events built so far
// (also after a failure), newest first; each entry is the caller's to free.
uint32_t EnumerateDevices(DeviceEvent **events);

// Fills a new node from the interface detail and the device's registry key.
uint32_t InitDeviceNode(DeviceNode *node, HDEVINFO set, SP_DEVINFO_DATA *deviceInfo,
                        const char *path);
// Bounded copy into a 40-byte text field: at most 39 characters, terminated.
void CopyText(char *destination, const char *source, uint32_t sourceSize, uint32_t limit);

// Notification thread entry.
DWORD WINAPI NotificationThreadFunction(LPVOID parameter);
