/*
 * tqsim.h - control interface of the simulated camera driver (libtqsim).
 *
 * On POSIX hosts libtqdev_lib64 reaches cameras through libtqsim: a Win32
 * subset, a virtual device manager and a simulated camera driver. Tests, the
 * tqdev tool and outside test programs plug and script cameras through this
 * header. Every function may be called from any thread.
 */
#ifndef TQSIM_H
#define TQSIM_H

#include <stddef.h>
#include <stdint.h>

#define TQSIM_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Cameras ------------------------------------------------------------ */

#define TQSIM_REGISTRY_VALUE_COUNT 12
#define TQSIM_REGISTRY_DATA_MAX 256

/* One of the twelve values of a camera's device key, as stored. */
typedef struct TQSIM_REGISTRY_VALUE {
    const char *name;  /* "DeviceType", "DeviceName", ... */
    int32_t present;   /* 0: the value is left out of the key */
    uint32_t size;     /* bytes stored: 4 for numbers, length + 1 for texts */
    uint8_t data[TQSIM_REGISTRY_DATA_MAX];
} TQSIM_REGISTRY_VALUE;

/* Everything a camera is plugged with. Fill it with TqsimDefaultCamera and
 * change what the test needs. */
typedef struct TQSIM_CAMERA_CONFIG {
    /* The twelve registry values, in the order DeviceType, DeviceSubtype,
     * DeviceName, SerialNumber, MajorVersion, MinorVersion, VersionString,
     * BuildDate, DriverMajorVersion, DriverMinorVersion, DriverVersionString,
     * DriverBuildDate. */
    TQSIM_REGISTRY_VALUE registry[TQSIM_REGISTRY_VALUE_COUNT];
    uint32_t sensor_width;     /* samples per sensor line */
    uint32_t sensor_height;    /* sensor lines */
    uint32_t capability_flags; /* TQDEV_CAMERA_INFO byte 180 */
    uint32_t seed;             /* frame pattern seed */
    uint32_t frame_period_us;  /* time between frames, 0 = as fast as possible */
    uint32_t exposure_us;      /* exposure before a frame, 0 = none */
    uint32_t deliver_unpacked; /* 1: frames arrive unpacked instead of packed in place */
    uint32_t reserved[9];
} TQSIM_CAMERA_CONFIG;

/* Fills config with a default camera: numbers and texts for all twelve values
 * (serial number made unique per call), a 1024 x 768 sensor, no timing. */
TQSIM_API void TqsimDefaultCamera(TQSIM_CAMERA_CONFIG *config);

/* Registry overrides on a config: store a 32-bit number, a text (any length),
 * raw bytes of any size (0 to TQSIM_REGISTRY_DATA_MAX), or leave a value
 * out. Return 0, or -1 for an unknown name or a size that does not fit. */
TQSIM_API int TqsimSetRegistryNumber(TQSIM_CAMERA_CONFIG *config, const char *name,
                                     uint32_t value);
TQSIM_API int TqsimSetRegistryText(TQSIM_CAMERA_CONFIG *config, const char *name,
                                   const char *text);
TQSIM_API int TqsimSetRegistryRaw(TQSIM_CAMERA_CONFIG *config, const char *name,
                                  const void *data, uint32_t size);
TQSIM_API int TqsimRemoveRegistryValue(TQSIM_CAMERA_CONFIG *config, const char *name);

/* Plugs a camera (null config: the default camera). Stores its simulator id
 * (not the library's device index) in *camera. Returns 0 or -1. */
TQSIM_API int TqsimPlugCamera(const TQSIM_CAMERA_CONFIG *config, uint32_t *camera);

/* Copies the camera's device path (terminated) into path. Returns 0, or -1 for
 * an unknown id or a buffer that is too small. */
TQSIM_API int TqsimDevicePath(uint32_t camera, char *path, size_t size);

/* Unplugs a camera: pending I/O ends with the device-removed error. Returns 0
 * or -1 for an id that is not plugged. */
TQSIM_API int TqsimUnplugCamera(uint32_t camera);

/* Unplugs every camera, stops the plug timer, clears every script and fault,
 * and restarts camera ids at 0. */
TQSIM_API void TqsimReset(void);

/* Demo: every period_ms plug a default camera, or unplug the oldest one when
 * max_cameras are plugged; 0 stops the timer. */
TQSIM_API void TqsimStartPlugTimer(uint32_t period_ms, uint32_t max_cameras);

/* ---- Platform fault injection ------------------------------------------- */

/* Makes the nth next call (1 = the very next) of the named platform function
 * fail with the given error: "CreateMutexA", "CreateEventA", "CreateThread",
 * "CreateFileA", "DeviceIoControl", "GetOverlappedResult",
 * "SetupDiGetClassDevsA", "SetupDiEnumDeviceInterfaces",
 * "SetupDiGetDeviceInterfaceDetailA", "SetupDiOpenDevRegKey",
 * "RegQueryValueExA", "HeapAlloc", "LoadLibraryExA", "FormatMessageA". Calls
 * counted are those of every thread. Returns 0, or -1 for an unknown name. */
TQSIM_API int TqsimFailCall(const char *function, uint32_t nth, uint32_t error);

/* Forgets every pending fault. */
TQSIM_API void TqsimClearFaults(void);

/* ---- Accounting (to prove that nothing is left behind) ------------------ */

TQSIM_API uint32_t TqsimOpenHandleCount(void);   /* kernel objects not closed */
TQSIM_API uint32_t TqsimRunningThreadCount(void); /* CreateThread threads still running */
TQSIM_API uint32_t TqsimHeapBlockCount(void);    /* HeapAlloc blocks not freed */

#ifdef __cplusplus
}
#endif

#endif /* TQSIM_H */
