/**
 * @file tqdev.h
 * @brief Public interface of tqdev_lib64, the user-mode access library for
 * 12-bit digital cameras.
 *
 * Call TqdevInitLibrary first and TqdevTerminateLibrary last. Every function
 * returns a result code (TQDEV_RESULT_*); 0 is success. Codes that the camera's
 * driver reports are passed on unchanged, whatever their value. Each function's
 * comment names the codes it returns, without the TQDEV_RESULT_ prefix;
 * TqdevResultName turns a code into its name.
 *
 * Threads: every function may be called from any thread unless its comment says
 * otherwise. Callbacks (notification and progress) run on library threads and
 * may call every function but the two below, which never wait there:
 * TqdevInitLibrary returns OK while the library is initialised and
 * NOT_INITIALIZED once termination has begun; TqdevTerminateLibrary, which
 * would wait for the caller's own thread, does nothing and returns
 * SYSTEM_ERROR, or NOT_INITIALIZED once termination has begun. A waiting call
 * made from a callback blocks that callback's thread until its answer.
 *
 * Records and buffers passed by pointer are used in place and must stay valid
 * until the operation has ended. All multi-byte fields are little-endian.
 */
#ifndef TQDEV_H
#define TQDEV_H

#include <stddef.h>
#include <stdint.h>

/** @def TQDEV_API
 * Marks an export: imported from (or, building it, exported by) the DLL on
 * Windows, default visibility elsewhere. */
/** @def TQDEV_CALL
 * The calling convention of the exports and the callbacks: __stdcall on
 * Windows, the default elsewhere. */
#ifdef _WIN32
#ifdef TQDEV_BUILDING_LIBRARY
#define TQDEV_API __declspec(dllexport)
#else
#define TQDEV_API __declspec(dllimport)
#endif
#define TQDEV_CALL __stdcall
#else
#define TQDEV_API __attribute__((visibility("default")))
#define TQDEV_CALL
#endif

/** @def TQDEV_ANONYMOUS_STRUCT
 * The capture record shares bytes between modes through anonymous structs:
 * standard C11, and an extension that GNU-compatible C++ compilers accept
 * silently when it is marked. */
#if defined(__cplusplus) && defined(__GNUC__)
#define TQDEV_ANONYMOUS_STRUCT __extension__
#else
#define TQDEV_ANONYMOUS_STRUCT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Result codes ------------------------------------------------------ */
/** @defgroup results Result codes
 * What every function returns; 0 is success. A code the camera's driver
 * reports is passed on unchanged and has no name here.
 * @{ */

/** Success. */
#define TQDEV_RESULT_OK 0u
/** An argument check failed. */
#define TQDEV_RESULT_INVALID_PARAMETER 3u
/** A platform call failed (thread, event, enumeration, a driver call). */
#define TQDEV_RESULT_SYSTEM_ERROR 4u
/** The driver could not access a buffer. */
#define TQDEV_RESULT_INVALID_BUFFER 5u
/** The request was cancelled (TqdevCancelIo, closing the camera). */
#define TQDEV_RESULT_CANCELLED 7u
/** The camera has left the device list (unplugged). */
#define TQDEV_RESULT_DEVICE_NOT_FOUND 8u
/** The camera is not open for I/O (see TqdevOpenDevice). */
#define TQDEV_RESULT_DEVICE_NOT_OPEN 10u
/** TqdevOpenDevice on a camera that is open already. */
#define TQDEV_RESULT_DEVICE_ALREADY_OPEN 11u
/** The camera's device could not be opened. */
#define TQDEV_RESULT_OPEN_FAILED 12u
/** The library could not allocate memory. */
#define TQDEV_RESULT_OUT_OF_MEMORY 14u
/** The device index was never handed out in this initialisation. */
#define TQDEV_RESULT_INVALID_DEVICE 16u
/** TqdevInitLibrary has not been called, or TqdevTerminateLibrary has. */
#define TQDEV_RESULT_NOT_INITIALIZED 18u
/** A live-focus capture ended after TqdevCancelLiveFocus. */
#define TQDEV_RESULT_LIVE_FOCUS_STOPPED 25u

/** The name of a result code that the library produces ("TQDEV_RESULT_OK",
 * ...), or null for any other value (a code the camera's driver reported).
 * Not an export: compiled into the caller.
 * @param result a result code
 * @return the code's name, or null */
static inline const char *TqdevResultName(uint32_t result) {
    switch (result) {
    case TQDEV_RESULT_OK:
        return "TQDEV_RESULT_OK";
    case TQDEV_RESULT_INVALID_PARAMETER:
        return "TQDEV_RESULT_INVALID_PARAMETER";
    case TQDEV_RESULT_SYSTEM_ERROR:
        return "TQDEV_RESULT_SYSTEM_ERROR";
    case TQDEV_RESULT_INVALID_BUFFER:
        return "TQDEV_RESULT_INVALID_BUFFER";
    case TQDEV_RESULT_CANCELLED:
        return "TQDEV_RESULT_CANCELLED";
    case TQDEV_RESULT_DEVICE_NOT_FOUND:
        return "TQDEV_RESULT_DEVICE_NOT_FOUND";
    case TQDEV_RESULT_DEVICE_NOT_OPEN:
        return "TQDEV_RESULT_DEVICE_NOT_OPEN";
    case TQDEV_RESULT_DEVICE_ALREADY_OPEN:
        return "TQDEV_RESULT_DEVICE_ALREADY_OPEN";
    case TQDEV_RESULT_OPEN_FAILED:
        return "TQDEV_RESULT_OPEN_FAILED";
    case TQDEV_RESULT_OUT_OF_MEMORY:
        return "TQDEV_RESULT_OUT_OF_MEMORY";
    case TQDEV_RESULT_INVALID_DEVICE:
        return "TQDEV_RESULT_INVALID_DEVICE";
    case TQDEV_RESULT_NOT_INITIALIZED:
        return "TQDEV_RESULT_NOT_INITIALIZED";
    case TQDEV_RESULT_LIVE_FOCUS_STOPPED:
        return "TQDEV_RESULT_LIVE_FOCUS_STOPPED";
    default:
        return NULL;
    }
}

/** @} */

/* ---- Notification events ----------------------------------------------- */
/** @defgroup events Notification events
 * The event argument of a TQDEV_NOTIFY_CALLBACK.
 * @{ */

/** A camera was unplugged. */
#define TQDEV_EVENT_DEVICE_REMOVED 0u
/** A camera was plugged in. */
#define TQDEV_EVENT_DEVICE_ADDED 1u

/** @} */

/* ---- Capture modes, capture flags, capture states ---------------------- */
/** @defgroup capture_codes Capture modes, capture flags, capture states
 * Values of TQDEV_CAPTURE_PARAMS.mode and .flags, and the states that
 * TqdevGetCaptureState stores.
 * @{ */

/** One frame. */
#define TQDEV_CAPTURE_SINGLE 0u
/** The mean of frame_count frames. */
#define TQDEV_CAPTURE_AVERAGED 1u
/** Three frames, into sequence_buffers. */
#define TQDEV_CAPTURE_SEQUENCE 2u
/** Frames into a ring of 2 or 3 buffers until TqdevCancelLiveFocus. */
#define TQDEV_CAPTURE_LIVE_FOCUS 3u

/** Frames are delivered packed behind a 76-byte TQDEV_IMAGE_HEADER. */
#define TQDEV_FLAG_PACKED_OUTPUT 0x8u
/** Set by the library when a live-focus capture starts. */
#define TQDEV_FLAG_LIVE_FOCUS 0x800u
/** Write the calibration stamp into the image after the capture. */
#define TQDEV_FLAG_CALIBRATION_STAMP 0x40000000u

/** The capture waits for the driver. */
#define TQDEV_CAPTURE_STATE_QUEUED 0
/** The driver has moved on; the library is finishing the capture. */
#define TQDEV_CAPTURE_STATE_FINISHING 4
/** The capture has ended. */
#define TQDEV_CAPTURE_STATE_COMPLETE 5

/** @} */

/* ---- Frame descriptor flags -------------------------------------------- */
/** @defgroup frame_codes Frame descriptor flags
 * Bits of TQDEV_FRAME_INFO.flags and .ext_flags, and the packed container's
 * constants.
 * @{ */

/** The driver delivers the frame packed in place of the unpacked image. */
#define TQDEV_FRAME_PACKED 0x1u
/** The columns are mirrored. */
#define TQDEV_FRAME_MIRROR 0x4u
/** The rows are flipped. */
#define TQDEV_FRAME_FLIP 0x8u
/** One sample is kept per horizontal bin instead of their sum. */
#define TQDEV_FRAME_SUBSAMPLE 0x20u
#define TQDEV_FRAME_EXT_SUBSAMPLE 0x20u /**< in ext_flags: as TQDEV_FRAME_SUBSAMPLE */
#define TQDEV_FRAME_EXT_PHASE1 0x40u    /**< in ext_flags: sub-sampling keeps the second sample */

/** TQDEV_IMAGE_HEADER.magic of a packed container. */
#define TQDEV_IMAGE_MAGIC 0x54517069u
/** Bytes of a TQDEV_IMAGE_HEADER. */
#define TQDEV_IMAGE_HEADER_SIZE 76u

/** @} */

/* ---- Camera capability flags (TQDEV_CAMERA_INFO.capability_flags) ------- */
/** @defgroup capabilities Camera capability flags
 * Bits of TQDEV_CAMERA_INFO.capability_flags.
 * @{ */

#define TQDEV_CAMERA_CAP_XFORM_MATRIX 0x4u    /**< extended info carries the matrix */
#define TQDEV_CAMERA_CAP_AVERAGE_DARK 0x2000u /**< extended info carries the dark level */
#define TQDEV_CAMERA_CAP_DRIVER_PAIR 0x4000u  /**< extended info carries two more words */

/** @} */

/* ---- Records ------------------------------------------------------------ */
/** @defgroup records Records
 * Fixed-layout records exchanged with the library; sizes and offsets are
 * checked when the header is compiled.
 * @{ */

/** One attached camera (312 bytes). Texts hold at most 39 characters. The
 * fields but the index are the values of the camera's device key of the same
 * names. */
typedef struct TQDEV_DEVICE_INFO {
    uint32_t DeviceIndex;         /**< names the camera in every call that takes a device */
    uint32_t DeviceType;          /**< device key value DeviceType */
    uint32_t DeviceSubtype;       /**< device key value DeviceSubtype */
    uint32_t reserved0;           /**< reserved */
    char DeviceName[40];          /**< device key value DeviceName */
    char SerialNumber[40];        /**< device key value SerialNumber */
    uint32_t DriverMajorVersion;  /**< device key value DriverMajorVersion */
    uint32_t DriverMinorVersion;  /**< device key value DriverMinorVersion */
    char DriverVersionString[40]; /**< device key value DriverVersionString */
    char DriverBuildDate[40];     /**< device key value DriverBuildDate */
    uint32_t MajorVersion;        /**< device key value MajorVersion */
    uint32_t MinorVersion;        /**< device key value MinorVersion */
    char VersionString[40];       /**< device key value VersionString */
    char BuildDate[40];           /**< device key value BuildDate */
    uint8_t reserved1[40];        /**< reserved */
} TQDEV_DEVICE_INFO;

/** Snapshot of the device list (16 bytes), newest camera first. */
typedef struct TQDEV_DEVICE_ARRAY {
    uint32_t DeviceCount;       /**< cameras in the snapshot */
    uint32_t reserved;          /**< reserved */
    TQDEV_DEVICE_INFO *Devices; /**< their records, newest camera first */
} TQDEV_DEVICE_ARRAY;

/** Library version (88 bytes). */
typedef struct TQDEV_LIBRARY_VERSION {
    uint32_t MajorVersion;  /**< major version */
    uint32_t MinorVersion;  /**< minor version */
    char VersionString[40]; /**< the version as text */
    char BuildDate[40];     /**< build stamp: when the library was built */
} TQDEV_LIBRARY_VERSION;

/** Called when an asynchronous operation ends (and in live focus after every
 * frame), on a library thread.
 * @param result the operation's result, as in TQDEV_PROGRESS.Result
 * @param user_data the record's UserData */
typedef void(TQDEV_CALL *TQDEV_PROGRESS_CALLBACK)(uint32_t result, uint64_t user_data);
/** Called for every camera plugged in or removed, on the notification thread.
 * @param event TQDEV_EVENT_DEVICE_ADDED or TQDEV_EVENT_DEVICE_REMOVED
 * @param device the camera's device index
 * @param user_value as given to TqdevRegisterNotification */
typedef void(TQDEV_CALL *TQDEV_NOTIFY_CALLBACK)(uint32_t event, uint32_t device,
                                                uint64_t user_value);

/** Progress of an asynchronous operation (32 bytes). The caller fills Callback
 * and UserData; the library writes Done, Percent and Result. Done is written
 * last: once it reads 1, Percent and Result are final. */
typedef struct TQDEV_PROGRESS {
    uint32_t Done;                    /**< out: 1 once the operation has ended */
    uint32_t Percent;                 /**< out: how far it is, 100 at the end */
    uint32_t Result;                  /**< out: the operation's result code */
    uint32_t reserved;                /**< reserved */
    TQDEV_PROGRESS_CALLBACK Callback; /**< in: called at the end; may be null */
    uint64_t UserData;                /**< in: passed to Callback */
} TQDEV_PROGRESS;

/** The caller's capture record (128 bytes). Offsets 40..87 are shared by the
 * modes: single uses buffer, ticket, status6; averaged uses buffer,
 * frame_count, sum_buffer, mean_level; sequence uses ticket, status6,
 * sequence_buffers; live focus uses ticket, status6, ring_index, ring_size,
 * ring_buffers. */
typedef struct TQDEV_CAPTURE_PARAMS {
    uint32_t mode;           /**< in: TQDEV_CAPTURE_* */
    uint32_t flags;          /**< in/out: TQDEV_FLAG_* and driver bits */
    uint32_t setup_words[6]; /**< in/out: driver words; 2..5 hold status words 2, 1, 3, 4 after a
                                capture */
    uint32_t status5;        /**< out: status word 5 of the last completion */
    uint32_t unused36;       /**< unused */
    void *buffer;            /**< in: single, averaged: image buffer */
    union {
        uint32_t ticket;     /**< out: single, sequence, live focus */
        int32_t frame_count; /**< in: averaged, greater than 0 */
    };
    uint32_t status6; /**< out: single, sequence, live focus */
    union {
        TQDEV_ANONYMOUS_STRUCT struct {
            uint32_t *sum_buffer; /**< in: averaged, optional 32-bit sums */
            int32_t mean_level;   /**< out: averaged */
            uint32_t unused68;    /**< unused */
        };
        void *sequence_buffers[3]; /**< in: sequence */
        TQDEV_ANONYMOUS_STRUCT struct {
            uint32_t ring_index;   /**< out: live focus, buffer reported last */
            int32_t ring_size;     /**< in/out: live focus, 2 or 3 (0 means 2) */
            void *ring_buffers[3]; /**< in: live focus */
        };
    };
    uint32_t extra_words[2]; /**< in: driver words */
    uint32_t reserved[8];    /**< in: must be 0 */
} TQDEV_CAPTURE_PARAMS;

/** The driver's form of the capture record (44 bytes). */
typedef struct TQDEV_CAPTURE_SETTINGS {
    uint32_t mode;           /**< TQDEV_CAPTURE_* */
    uint32_t flags;          /**< TQDEV_FLAG_* and driver bits */
    uint32_t ticket;         /**< the capture's ticket, or 0 */
    uint32_t setup_words[6]; /**< the capture record's setup_words */
    uint32_t extra_words[2]; /**< the capture record's extra_words */
} TQDEV_CAPTURE_SETTINGS;

/** The driver's status record of one request (28 bytes); word[0] is the
 * result code, words 1..6 are the driver's. */
typedef struct TQDEV_STATUS {
    uint32_t word[7]; /**< status words 0 to 6 */
} TQDEV_STATUS;

/** Frame descriptor (68 bytes). */
typedef struct TQDEV_FRAME_INFO {
    uint32_t image_size;    /**< bytes of the unpacked 16-bit image */
    uint32_t packed_size;   /**< bytes of the packed sample stream */
    uint32_t flags;         /**< TQDEV_FRAME_PACKED, _MIRROR, _FLIP, _SUBSAMPLE */
    uint32_t reserved_a;    /**< reserved */
    int32_t line_width;     /**< samples per stream line before padding to 8 */
    int32_t line_count;     /**< lines before vertical binning */
    uint32_t width;         /**< window columns before horizontal binning */
    uint32_t height;        /**< window rows before vertical binning */
    int32_t left;           /**< samples left of the window */
    int32_t top;            /**< lines above the window, before vertical binning */
    uint32_t h_binning;     /**< 0 counts as 1 */
    uint32_t v_binning;     /**< 0 counts as 1 */
    uint32_t ext_flags;     /**< TQDEV_FRAME_EXT_* */
    uint32_t reserved_b[4]; /**< reserved */
} TQDEV_FRAME_INFO;

/** Header of a packed image container (76 bytes), followed by the packed
 * stream at header_size bytes from its start. A container handed to
 * TqdevUnpackImage must hold header_size + frame_info.packed_size bytes;
 * a header_size below 76 is refused. */
typedef struct TQDEV_IMAGE_HEADER {
    uint32_t magic;              /**< TQDEV_IMAGE_MAGIC */
    uint32_t header_size;        /**< bytes from the container's start to the stream */
    TQDEV_FRAME_INFO frame_info; /**< the frame's descriptor */
} TQDEV_IMAGE_HEADER;

/** Camera information (220 bytes), the driver's except the capability flags. */
typedef struct TQDEV_CAMERA_INFO {
    uint8_t driver_data[180];  /**< the driver's */
    uint32_t capability_flags; /**< TQDEV_CAMERA_CAP_* */
    uint8_t driver_data_b[36]; /**< the driver's */
} TQDEV_CAMERA_INFO;

/** Extended camera information (272 bytes). The library fills the three blocks
 * at 196..243 from further requests when the capability flags say so. */
typedef struct TQDEV_EXTENDED_CAMERA_INFO {
    uint8_t driver_data[196];  /**< the driver's */
    uint32_t xform_matrix[9];  /**< TQDEV_CAMERA_CAP_XFORM_MATRIX */
    uint32_t average_dark;     /**< TQDEV_CAMERA_CAP_AVERAGE_DARK, 16-bit value widened */
    uint32_t driver_pair[2];   /**< TQDEV_CAMERA_CAP_DRIVER_PAIR */
    uint8_t driver_data_b[28]; /**< the driver's */
} TQDEV_EXTENDED_CAMERA_INFO;

/** Device state (88 bytes), the driver's. */
typedef struct TQDEV_DEVICE_STATE {
    uint8_t driver_data[88]; /**< the driver's */
} TQDEV_DEVICE_STATE;

/** One defect entry (20 bytes), the driver's. */
typedef struct TQDEV_FLAW {
    uint32_t words[5]; /**< the driver's */
} TQDEV_FLAW;

/** Columns and rows of the 16-bit image that a frame with this descriptor
 * unpacks to: the window's width and height over the binning factors, a
 * factor of 0 counting as 1. For a packed container the descriptor is its
 * header's frame_info. Pixels are stored row by row without gaps. Not
 * exports: compiled into the caller.
 * @param info the frame descriptor
 * @return the image's columns */
static inline uint32_t TqdevUnpackedWidth(const TQDEV_FRAME_INFO *info) {
    return info->width / (info->h_binning == 0 ? 1u : info->h_binning);
}
/** The rows of the 16-bit image; see TqdevUnpackedWidth.
 * @param info the frame descriptor
 * @return the image's rows */
static inline uint32_t TqdevUnpackedHeight(const TQDEV_FRAME_INFO *info) {
    return info->height / (info->v_binning == 0 ? 1u : info->v_binning);
}

/** @} */

/* ---- Layout checks ------------------------------------------------------ */

/** @def TQDEV_STATIC_ASSERT
 * A compile-time check, in C and C++: each record's size, below. */
#ifdef __cplusplus
#define TQDEV_STATIC_ASSERT(c, m) static_assert(c, m)
#else
#define TQDEV_STATIC_ASSERT(c, m) _Static_assert(c, m)
#endif
TQDEV_STATIC_ASSERT(sizeof(TQDEV_DEVICE_INFO) == 312, "TQDEV_DEVICE_INFO is 312 bytes");
TQDEV_STATIC_ASSERT(sizeof(TQDEV_DEVICE_ARRAY) == 16, "TQDEV_DEVICE_ARRAY is 16 bytes");
TQDEV_STATIC_ASSERT(sizeof(TQDEV_LIBRARY_VERSION) == 88, "TQDEV_LIBRARY_VERSION is 88 bytes");
TQDEV_STATIC_ASSERT(sizeof(TQDEV_PROGRESS) == 32, "TQDEV_PROGRESS is 32 bytes");
TQDEV_STATIC_ASSERT(sizeof(TQDEV_CAPTURE_PARAMS) == 128, "TQDEV_CAPTURE_PARAMS is 128 bytes");
TQDEV_STATIC_ASSERT(sizeof(TQDEV_CAPTURE_SETTINGS) == 44, "TQDEV_CAPTURE_SETTINGS is 44 bytes");
TQDEV_STATIC_ASSERT(sizeof(TQDEV_STATUS) == 28, "TQDEV_STATUS is 28 bytes");
TQDEV_STATIC_ASSERT(sizeof(TQDEV_FRAME_INFO) == 68, "TQDEV_FRAME_INFO is 68 bytes");
TQDEV_STATIC_ASSERT(sizeof(TQDEV_IMAGE_HEADER) == 76, "TQDEV_IMAGE_HEADER is 76 bytes");
TQDEV_STATIC_ASSERT(sizeof(TQDEV_CAMERA_INFO) == 220, "TQDEV_CAMERA_INFO is 220 bytes");
TQDEV_STATIC_ASSERT(sizeof(TQDEV_EXTENDED_CAMERA_INFO) == 272,
                    "TQDEV_EXTENDED_CAMERA_INFO is 272 bytes");
TQDEV_STATIC_ASSERT(sizeof(TQDEV_DEVICE_STATE) == 88, "TQDEV_DEVICE_STATE is 88 bytes");
TQDEV_STATIC_ASSERT(sizeof(TQDEV_FLAW) == 20, "TQDEV_FLAW is 20 bytes");

/* ---- Library ------------------------------------------------------------ */
/** @defgroup library Library
 * Initialisation, the device list and its notifications, version and
 * diagnostics.
 * @{ */

/** Sets the library up and takes the first inventory of cameras (they get
 * indices 0, 1, ... and produce no notification); starts the notification
 * thread. A second call while initialised does nothing and returns OK.
 * @return OK, SYSTEM_ERROR (a platform call failed, a camera's registry values
 * are unreadable), OUT_OF_MEMORY; from a callback, OK or NOT_INITIALIZED
 * (termination has begun), without waiting. */
TQDEV_API uint32_t TQDEV_CALL TqdevInitLibrary(void);

/** Stops the notification thread, closes every open camera and forgets the
 * list; returns once no library thread runs library code any more, so the
 * library may be unloaded right after.
 * @return OK, NOT_INITIALIZED. From a callback it cannot wait for its own
 * thread: it does nothing and returns SYSTEM_ERROR, or NOT_INITIALIZED once
 * termination has begun. */
TQDEV_API uint32_t TQDEV_CALL TqdevTerminateLibrary(void);

/** Fills array with a snapshot of the attached cameras, newest first; release
 * it with TqdevDestroyDeviceArray. The record is zeroed first in any case.
 * @param array the record to fill
 * @return OK, INVALID_PARAMETER (null array), OUT_OF_MEMORY, NOT_INITIALIZED. */
TQDEV_API uint32_t TQDEV_CALL TqdevCreateDeviceArray(TQDEV_DEVICE_ARRAY *array);

/** Releases the records of a snapshot and sets Devices to null; DeviceCount is
 * left as it was. Works initialised or not.
 * @param array a record filled by TqdevCreateDeviceArray
 * @return OK (INVALID_PARAMETER for a null array). */
TQDEV_API uint32_t TQDEV_CALL TqdevDestroyDeviceArray(TQDEV_DEVICE_ARRAY *array);

/** Registers the callback called for every camera plugged in (event 1) or
 * removed (event 0), on the notification thread, without any library lock;
 * null stops delivery. Replaces an earlier registration.
 * @param callback the callback, or null
 * @param user_value passed to every call of the callback
 * @return OK, NOT_INITIALIZED. */
TQDEV_API uint32_t TQDEV_CALL TqdevRegisterNotification(TQDEV_NOTIFY_CALLBACK callback,
                                                        uint64_t user_value);

/** Fills version (2, 5, "2.05", build stamp). Works initialised or not.
 * @param version the record to fill
 * @return OK (INVALID_PARAMETER for a null record). */
TQDEV_API uint32_t TQDEV_CALL TqdevLibraryVersion(TQDEV_LIBRARY_VERSION *version);

/** Switches diagnostics on standard output (non-zero) or off (0).
 * @param enable non-zero: on; 0: off
 * @return OK. */
TQDEV_API uint32_t TQDEV_CALL TqdevEnableDebugPrint(int32_t enable);

/** @} */

/* ---- Device channel -----------------------------------------------------*/
/** @defgroup channel Device channel
 * Every call that reaches a camera may return, besides OK: INVALID_DEVICE
 * (index never handed out), DEVICE_NOT_FOUND (unplugged), NOT_INITIALIZED;
 * once it sends requests also DEVICE_NOT_OPEN, OUT_OF_MEMORY, SYSTEM_ERROR,
 * INVALID_BUFFER and CANCELLED. These are "the channel's codes" below.
 *
 * A request is sent as up to three transfers. When the platform refuses one
 * after the driver took another, the call fails with the refusal's code and
 * the library cancels the camera's I/O, so that the next request is answered
 * as on a freshly opened camera. The driver has no narrower cancel: every
 * outstanding request of the camera ends, other threads' captures and live
 * focus included, with CANCELLED. Should even the cancel be refused, the
 * library closes the camera, which ends its I/O too: later calls return
 * DEVICE_NOT_OPEN until TqdevOpenDevice. Either way the failed call returns
 * only once the driver is done with its records and buffers, unless a wait
 * for that fails.
 *
 * SYSTEM_ERROR also reports a wait for the driver's answer that failed. The
 * library's own records are then kept until TqdevTerminateLibrary; the
 * caller's records and buffers of that call (beyond 256 bytes for the
 * synchronous operations, any size for captures) may still be written until
 * the camera is closed or the library terminated.
 * @{ */

/** Opens a camera for I/O.
 * @param device the camera's device index
 * @return OK, INVALID_DEVICE, DEVICE_NOT_FOUND, NOT_INITIALIZED,
 * DEVICE_ALREADY_OPEN, OPEN_FAILED, SYSTEM_ERROR. */
TQDEV_API uint32_t TQDEV_CALL TqdevOpenDevice(uint32_t device);

/** Closes a camera; outstanding requests still complete, with 7 or their own
 * result.
 * @param device the camera's device index
 * @return OK, INVALID_DEVICE, DEVICE_NOT_FOUND, NOT_INITIALIZED,
 * DEVICE_NOT_OPEN. */
TQDEV_API uint32_t TQDEV_CALL TqdevCloseDevice(uint32_t device);

/** Asks the driver to cancel the camera's outstanding I/O and returns once it
 * has done so: every outstanding request of the camera ends, whichever thread
 * made it (captures and live focus with CANCELLED).
 * @param device the camera's device index
 * @return OK or the channel's codes. */
TQDEV_API uint32_t TQDEV_CALL TqdevCancelIo(uint32_t device);

/** @} */

/* ---- Synchronous camera operations ---------------------------------------*/
/** @defgroup sync Synchronous camera operations
 * Each blocks the calling thread until the driver has answered. Returns OK,
 * the channel's codes, INVALID_PARAMETER for a null record or a bad count, or
 * the driver's own result, unchanged.
 * @{ */

/** Reads the camera information.
 * @param device the camera's device index
 * @param info the record to fill
 * @return OK, the channel's codes, INVALID_PARAMETER (null info) or the
 * driver's result */
TQDEV_API uint32_t TQDEV_CALL TqdevCameraInfo(uint32_t device, TQDEV_CAMERA_INFO *info);
/** Reads the extended camera information, with the blocks its capability
 * flags announce.
 * @param device the camera's device index
 * @param info the record to fill
 * @return OK, the channel's codes, INVALID_PARAMETER (null info) or the
 * driver's result */
TQDEV_API uint32_t TQDEV_CALL TqdevExtendedCameraInfo(uint32_t device,
                                                      TQDEV_EXTENDED_CAMERA_INFO *info);
/** Reads the device state.
 * @param device the camera's device index
 * @param state the record to fill
 * @return OK, the channel's codes, INVALID_PARAMETER (null state) or the
 * driver's result */
TQDEV_API uint32_t TQDEV_CALL TqdevGetDeviceState(uint32_t device, TQDEV_DEVICE_STATE *state);
/** Reads register reg into *value; *value is untouched when selecting the
 * register fails.
 * @param device the camera's device index
 * @param reg the register's address
 * @param value receives the register's value
 * @return OK, the channel's codes, INVALID_PARAMETER (null value) or the
 * driver's result */
TQDEV_API uint32_t TQDEV_CALL TqdevReadRegister(uint32_t device, uint32_t reg, uint32_t *value);
/** Writes value into register reg.
 * @param device the camera's device index
 * @param reg the register's address
 * @param value the value to write
 * @return OK, the channel's codes or the driver's result */
TQDEV_API uint32_t TQDEV_CALL TqdevWriteRegister(uint32_t device, uint32_t reg, uint32_t value);
/** Reads the defect count and the driver's second value; with a non-null
 * entries buffer (count x 20 bytes for the count the camera reports) also the
 * entries. Pass null first when the count is not known.
 * @param device the camera's device index
 * @param count receives the defect count
 * @param second receives the driver's second value
 * @param entries receives the entries, or null
 * @return OK, the channel's codes, INVALID_PARAMETER (null count or second)
 * or the driver's result */
TQDEV_API uint32_t TQDEV_CALL TqdevReadFlaws(uint32_t device, int32_t *count, uint32_t *second,
                                             TQDEV_FLAW *entries);
/** Writes count defect entries, 0 to 128.
 * @param device the camera's device index
 * @param count entries to write
 * @param entries the entries (may be null when count is 0)
 * @return OK, the channel's codes, INVALID_PARAMETER (a bad count, null
 * entries) or the driver's result */
TQDEV_API uint32_t TQDEV_CALL TqdevWriteFlaws(uint32_t device, int32_t count,
                                              const TQDEV_FLAW *entries);
/** Writes the colour transform matrix, nine floats.
 * @param device the camera's device index
 * @param matrix the nine values
 * @return OK, the channel's codes, INVALID_PARAMETER (null matrix) or the
 * driver's result */
TQDEV_API uint32_t TQDEV_CALL TqdevWriteXFormMatrix(uint32_t device, const float *matrix);
/** Writes the Bayer pattern byte.
 * @param device the camera's device index
 * @param pattern the pattern
 * @return OK, the channel's codes or the driver's result */
TQDEV_API uint32_t TQDEV_CALL TqdevWriteBayerPattern(uint32_t device, uint8_t pattern);
/** Writes the average dark level.
 * @param device the camera's device index
 * @param level the level
 * @return OK, the channel's codes or the driver's result */
TQDEV_API uint32_t TQDEV_CALL TqdevWriteAverageDark(uint32_t device, uint16_t level);
/** Writes count tap gains (count 0 or more).
 * @param device the camera's device index
 * @param count gains to write
 * @param gains the gains (may be null when count is 0)
 * @return OK, the channel's codes, INVALID_PARAMETER (a bad count, null
 * gains) or the driver's result */
TQDEV_API uint32_t TQDEV_CALL TqdevWriteTapGain(uint32_t device, int32_t count, const float *gains);

/** @} */

/* ---- Capture ------------------------------------------------------------- */
/** @defgroup capture Capture
 * Frame sizes, captures in every mode, their state, the integration time and
 * unpacking.
 * @{ */

/** Stores in *size the bytes one image buffer needs for a capture with params:
 * 76 + packed size with TQDEV_FLAG_PACKED_OUTPUT, else the unpacked size.
 * Blocks until the driver answers.
 * @param device the camera's device index
 * @param params the capture record
 * @param size receives the bytes
 * @return OK, INVALID_PARAMETER (mode out of range, a reserved word not 0,
 * null pointers), SYSTEM_ERROR, the channel's codes or the driver's result
 * (then *size is 0). */
TQDEV_API uint32_t TQDEV_CALL TqdevFrameSize(uint32_t device, const TQDEV_CAPTURE_PARAMS *params,
                                             uint32_t *size);

/** Hands the capture settings to the driver without capturing. Blocks.
 * @param device the camera's device index
 * @param params the capture record
 * @return as TqdevFrameSize. */
TQDEV_API uint32_t TQDEV_CALL TqdevWriteCaptureParams(uint32_t device,
                                                      const TQDEV_CAPTURE_PARAMS *params);

/** Captures in params->mode. With progress null, waits for the end and returns
 * the capture's result. With a progress record, returns 0 once the capture is
 * under way; the record is completed (Done 1, Percent 100, Result) and its
 * callback called on a library thread when the capture ends, and in live focus
 * after every frame too. A failure before the start is returned and also
 * delivered through the record, on the caller's thread. Live focus needs a
 * progress record and runs until TqdevCancelLiveFocus (final result
 * LIVE_FOCUS_STOPPED).
 * @param device the camera's device index
 * @param params the capture record, used in place until the capture ends
 * @param progress the progress record, or null to wait
 * @return OK, INVALID_PARAMETER (bad mode, count, ring or buffer, packed
 * output with averaging, reserved words), OUT_OF_MEMORY, SYSTEM_ERROR, the
 * channel's codes or the driver's result. */
TQDEV_API uint32_t TQDEV_CALL TqdevCaptureImage(uint32_t device, TQDEV_CAPTURE_PARAMS *params,
                                                TQDEV_PROGRESS *progress);

/** Ends a running live-focus capture at its next frame.
 * @param device the camera's device index
 * @return OK, INVALID_DEVICE, DEVICE_NOT_FOUND, NOT_INITIALIZED. */
TQDEV_API uint32_t TQDEV_CALL TqdevCancelLiveFocus(uint32_t device);

/** Stores where the capture with this ticket stands: 0 queued, the driver's
 * word while the driver works on it, 4 finishing, 5 complete. Blocks.
 * @param device the camera's device index
 * @param ticket the capture's ticket
 * @param state receives the state
 * @return OK, INVALID_PARAMETER (ticket never issued on this camera), the
 * channel's codes or the driver's result; *state is written only on success. */
TQDEV_API uint32_t TQDEV_CALL TqdevGetCaptureState(uint32_t device, int32_t ticket, int32_t *state);

/** Reads the integration time into *value. *guard must be 0. With progress
 * null, waits; otherwise returns 0 once the request is under way and stores
 * the value before completing the record.
 * @param device the camera's device index
 * @param value receives the integration time
 * @param guard points to 0
 * @param progress the progress record, or null to wait
 * @return OK, INVALID_PARAMETER (guard not 0), OUT_OF_MEMORY, the channel's
 * codes or the driver's result. */
TQDEV_API uint32_t TQDEV_CALL TqdevGetIntegrationTime(uint32_t device, uint32_t *value,
                                                      const uint32_t *guard,
                                                      TQDEV_PROGRESS *progress);

/** Unpacks a packed image container into 16-bit pixels (image_size bytes).
 * image must hold header_size + packed_size bytes. With pixels null, only
 * stores the size. reserved must be 0. Works initialised or not, on any
 * thread.
 * @param image the container
 * @param pixels receives the pixels, or null
 * @param image_size receives the image's bytes
 * @param reserved must be 0
 * @return OK, or INVALID_PARAMETER for a bad argument, a wrong magic, a header
 * size below 76 or a descriptor inconsistent with its container. */
TQDEV_API uint32_t TQDEV_CALL TqdevUnpackImage(const void *image, uint16_t *pixels,
                                               uint32_t *image_size, uintptr_t reserved);

/** @} */

#ifdef __cplusplus
}
#endif

#endif /* TQDEV_H */
