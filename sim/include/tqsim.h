/**
 * @file tqsim.h
 * @brief Control interface of the simulated camera driver (libtqsim).
 *
 * On POSIX hosts libtqdev_lib64 reaches cameras through libtqsim: a Win32
 * subset, a virtual device manager and a simulated camera driver. Tests, the
 * tqdev tool and outside test programs plug and script cameras through this
 * header. Every function may be called from any thread; none of them calls
 * back into the caller. Functions taking a camera id return -1 for an id that
 * is not plugged (or was unplugged) and 0 on success, unless said otherwise.
 *
 * The camera serves each open handle's calls in issue order on threads of its
 * own: an optional settings transfer (44 bytes), a data transfer (the request
 * code) and a status transfer (28 bytes). The settings and data transfers
 * complete before their status transfer. Capture-state requests (number 1)
 * are answered by a second service thread so that they are not queued behind
 * a frame that is being exposed.
 */
#ifndef TQSIM_H
#define TQSIM_H

#include <stddef.h>
#include <stdint.h>

#include "tqdev.h"
#include "tqdev_protocol.h"

/** Marks an export of libtqsim. */
#define TQSIM_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Cameras ------------------------------------------------------------ */
/** @defgroup sim_cameras Cameras
 * Plugging, unplugging and configuring simulated cameras.
 * @{ */

/** Values in a camera's device key. */
#define TQSIM_REGISTRY_VALUE_COUNT TQPROTO_REGISTRY_VALUE_COUNT
/** Bytes a registry value can hold. */
#define TQSIM_REGISTRY_DATA_MAX 256

/** One of the twelve values of a camera's device key, as stored. */
typedef struct TQSIM_REGISTRY_VALUE {
    const char *name; /**< "DeviceType", "DeviceName", ... */
    int32_t present;  /**< 0: the value is left out of the key */
    uint32_t size;    /**< bytes stored: 4 for numbers, length + 1 for texts */
    /** The bytes stored. */
    uint8_t data[TQSIM_REGISTRY_DATA_MAX];
} TQSIM_REGISTRY_VALUE;

/** Everything a camera is plugged with. Fill it with TqsimDefaultCamera and
 * change what the test needs. */
typedef struct TQSIM_CAMERA_CONFIG {
    /** The twelve registry values, in the order DeviceType, DeviceSubtype,
     * DeviceName, SerialNumber, MajorVersion, MinorVersion, VersionString,
     * BuildDate, DriverMajorVersion, DriverMinorVersion, DriverVersionString,
     * DriverBuildDate. */
    TQSIM_REGISTRY_VALUE registry[TQSIM_REGISTRY_VALUE_COUNT];
    uint32_t sensor_width;     /**< samples per sensor line */
    uint32_t sensor_height;    /**< sensor lines */
    uint32_t capability_flags; /**< TQDEV_CAMERA_INFO byte 180 */
    uint32_t seed;             /**< frame pattern seed */
    uint32_t frame_period_us;  /**< a frame takes at least this long, 0 = as fast as possible */
    uint32_t exposure_us;      /**< exposure when the settings ask none, 0 = none */
    uint32_t deliver_unpacked; /**< 1: frames arrive unpacked instead of packed in place */
    uint32_t reserved[9];      /**< 0 */
} TQSIM_CAMERA_CONFIG;

/** Sensor lines and columns: 1 to TQSIM_SENSOR_MAX each; TqsimPlugCamera
 * refuses other geometries. */
#define TQSIM_SENSOR_MAX 16384

/** Fills config with a default camera: numbers and texts for all twelve values
 * (serial number made unique per call), a 1024 x 768 sensor, capability flags
 * 0x4 | 0x2000 | 0x4000, seed 1, no timing, frames packed in place. The
 * numbers are stored as 4 bytes, the texts with their terminator.
 * @param config the record to fill */
TQSIM_API void TqsimDefaultCamera(TQSIM_CAMERA_CONFIG *config);

/** Registry overrides on a config: store a 32-bit number, a text (any length),
 * raw bytes of any size (0 to TQSIM_REGISTRY_DATA_MAX), or leave a value
 * out. Return 0, or -1 for an unknown name or a size that does not fit.
 * This one stores a number.
 * @param config the config to change
 * @param name the value's name
 * @param value the number
 * @return 0, or -1 for an unknown name */
TQSIM_API int TqsimSetRegistryNumber(TQSIM_CAMERA_CONFIG *config, const char *name, uint32_t value);
/** Stores a text (any length) as a registry value of a config.
 * @param config the config to change
 * @param name the value's name
 * @param text the text
 * @return 0, or -1 for an unknown name or a text that does not fit */
TQSIM_API int TqsimSetRegistryText(TQSIM_CAMERA_CONFIG *config, const char *name, const char *text);
/** Stores raw bytes of any size (0 to TQSIM_REGISTRY_DATA_MAX) as a registry
 * value of a config.
 * @param config the config to change
 * @param name the value's name
 * @param data the bytes
 * @param size how many
 * @return 0, or -1 for an unknown name or a size that does not fit */
TQSIM_API int TqsimSetRegistryRaw(TQSIM_CAMERA_CONFIG *config, const char *name, const void *data,
                                  uint32_t size);
/** Leaves a registry value out of a config.
 * @param config the config to change
 * @param name the value's name
 * @return 0, or -1 for an unknown name */
TQSIM_API int TqsimRemoveRegistryValue(TQSIM_CAMERA_CONFIG *config, const char *name);

/** Plugs a camera (null config: the default camera). Stores its simulator id
 * (not the library's device index) in *camera. The device path
 * is `\\?\root#tqcam#NNNN#{4acc4ce4-6a08-4a8c-ab7a-fcbd877b16a8}` with a
 * four-digit instance number that is never reused within the process.
 * @param config the camera, or null
 * @param camera receives the simulator id
 * @return 0 or -1 (sensor geometry out of range, or the device could not be
 * plugged) */
TQSIM_API int TqsimPlugCamera(const TQSIM_CAMERA_CONFIG *config, uint32_t *camera);

/** Copies the camera's device path (terminated) into path.
 * @param camera the simulator id
 * @param path receives the path
 * @param size bytes path can hold
 * @return 0, or -1 for an unknown id or a buffer that is too small */
TQSIM_API int TqsimDevicePath(uint32_t camera, char *path, size_t size);

/** Unplugs a camera: pending I/O ends with the device-removed error.
 * @param camera the simulator id
 * @return 0 or -1 for an id that is not plugged */
TQSIM_API int TqsimUnplugCamera(uint32_t camera);

/** Unplugs every camera, stops the plug timer, clears every script and fault,
 * and restarts camera ids at 0. */
TQSIM_API void TqsimReset(void);

/** Demo: every period_ms plug a default camera, or unplug the oldest one when
 * max_cameras are plugged; 0 stops the timer.
 * @param period_ms the period, or 0
 * @param max_cameras cameras plugged at most */
TQSIM_API void TqsimStartPlugTimer(uint32_t period_ms, uint32_t max_cameras);

/** @} */

/* ---- Driver scripting ----------------------------------------------------*/
/** @defgroup sim_scripts Driver scripting
 * Scripts are one-shot and kept per camera in the order they were given: each
 * is used by the first matching call that is issued afterwards. Request
 * numbers are the library's (0 to 24); codes are control codes.
 * @{ */

/** The next request with this number completes with status word 0 = result
 * (result 0 is allowed and means an ordinary success). With a non-zero result
 * the camera does none of the request's work: nothing is written, no frame is
 * counted, status words 1 to 6 are 0.
 * @param camera the simulator id
 * @param request the request number
 * @param result status word 0
 * @return 0, or -1 for an unknown camera */
TQSIM_API int TqsimScriptResult(uint32_t camera, uint32_t request, uint32_t result);

/** The next completion of a request with this number carries words[0..5] as
 * status words 1 to 6, whatever the camera would have put there.
 * @param camera the simulator id
 * @param request the request number
 * @param words status words 1 to 6
 * @return 0, or -1 for an unknown camera */
TQSIM_API int TqsimScriptStatusWords(uint32_t camera, uint32_t request, const uint32_t words[6]);

/** The next request with this number is served as usual, then the bytes its
 * caller's buffer receives are these instead (at most the buffer's size, which
 * is also the byte count reported): a camera that reports a descriptor or a
 * count it cannot deliver. size at most 4096.
 * @param camera the simulator id
 * @param request the request number
 * @param bytes the reply
 * @param size its bytes
 * @return 0, or -1 for an unknown camera */
TQSIM_API int TqsimScriptReply(uint32_t camera, uint32_t request, const void *bytes, uint32_t size);

/** The next call with this control code (any transfer: settings 0xA3002920,
 * status 0xA3002970, cancel 0xA3002974 or a request's code) is refused at
 * issue, before it reaches the camera: DeviceIoControl fails with error (998,
 * 995, 1617 or any other) and nothing completes for it. Transfers of the same
 * request that were already taken stay with the camera, waiting for the rest,
 * until a cancel, a close or an unplug ends them.
 * @param camera the simulator id
 * @param code the control code
 * @param error the platform error
 * @return 0, or -1 for an unknown camera */
TQSIM_API int TqsimRefuseCall(uint32_t camera, uint32_t code, uint32_t error);

/** The next status transfer that is issued ends with this platform error
 * instead of delivering the status record.
 * @param camera the simulator id
 * @param error the platform error
 * @return 0, or -1 for an unknown camera */
TQSIM_API int TqsimFailStatusTransfer(uint32_t camera, uint32_t error);

/** The next status transfer that is issued ends without its outcome: its event
 * is signalled while its block still reads pending and the status record is
 * not written, as a platform may leave a transfer that was ended with the
 * thread that issued it.
 * @param camera the simulator id
 * @return 0, or -1 for an unknown camera */
TQSIM_API int TqsimLoseStatusOutcome(uint32_t camera);

/** While holding (hold non-zero) the camera takes calls but serves none of the
 * requests issued from then on; they stay pending. Cancel, close and unplug
 * still end held requests at once. hold 0 resumes service.
 * @param camera the simulator id
 * @param hold non-zero: hold; 0: serve
 * @return 0, or -1 for an unknown camera */
TQSIM_API int TqsimHoldRequests(uint32_t camera, int hold);

/** Serves every request issued so far, even while holding; requests issued
 * later are held again while the hold lasts.
 * @param camera the simulator id
 * @return 0, or -1 for an unknown camera */
TQSIM_API int TqsimReleaseRequests(uint32_t camera);

/** Transfers taken by the camera and not yet completed (a pending cancel call
 * included). Stores the count in *count.
 * @param camera the simulator id
 * @param count receives the count
 * @return 0, or -1 for an unknown camera */
TQSIM_API int TqsimPendingTransfers(uint32_t camera, uint32_t *count);

/** Forgets the camera's scripts; a hold stays as it is.
 * @param camera the simulator id
 * @return 0, or -1 for an unknown camera */
TQSIM_API int TqsimClearScripts(uint32_t camera);

/** @} */

/* ---- Call log ------------------------------------------------------------*/
/** @defgroup sim_calls Call log
 * Every driver call of a camera, in issue order, refused calls included; at
 * most TQSIM_CALL_LOG_MAX are kept (later calls are not logged).
 * @{ */

/** Calls a camera's log keeps. */
#define TQSIM_CALL_LOG_MAX 65536

/** One driver call in the log. */
typedef struct TQSIM_CALL_RECORD {
    uint32_t code;         /**< control code */
    uint32_t in_size;      /**< input buffer size */
    uint32_t out_size;     /**< output buffer size */
    uint32_t refused_with; /**< 0: taken; else the error of the refusal at issue */
    uint32_t handle;       /**< which open handle: 1, 2, ... per camera */
    uint32_t has_settings; /**< 1: a settings transfer of 44 bytes, copied below */
    /** The settings, when has_settings is 1. */
    TQDEV_CAPTURE_SETTINGS settings;
} TQSIM_CALL_RECORD;

/** Stores the number of calls in the camera's log in *count.
 * @param camera the simulator id
 * @param count receives the count
 * @return 0, or -1 for an unknown camera */
TQSIM_API int TqsimCallCount(uint32_t camera, uint32_t *count);
/** Copies log entry index (0 = the oldest kept); -1 also for an index past the end.
 * @param camera the simulator id
 * @param index the entry
 * @param record receives the entry
 * @return 0, or -1 for an unknown camera or an index past the end */
TQSIM_API int TqsimGetCall(uint32_t camera, uint32_t index, TQSIM_CALL_RECORD *record);
/** Empties the camera's log.
 * @param camera the simulator id
 * @return 0, or -1 for an unknown camera */
TQSIM_API int TqsimClearCalls(uint32_t camera);

/** @} */

/* ---- Camera records --------------------------------------------------------*/
/** @defgroup sim_records Camera records
 * What the camera's requests read and write. Buffer sizes are checked as a
 * driver would: a fixed-size record needs a buffer of at least its size (only
 * its size is read or written); an array needs a whole number of entries. A
 * size that does not fit gives status 5 (TQDEV_RESULT_INVALID_BUFFER); a value
 * out of range gives status 3 (TQDEV_RESULT_INVALID_PARAMETER). Nothing is
 * written past a buffer.
 *
 * Defaults: camera information words 0..3 = sensor width, sensor height, 12
 * (bits per sample), TQSIM_BINNING_MAX, text "tqsim camera" at byte 16, the
 * SerialNumber text at byte 56, capability flags at byte 180 from the config,
 * the rest 0. Extended information words 0..3 = sensor width, sensor height,
 * TQSIM_DARK_COLUMNS, 1 (reference lines); bytes 196..243 (the blocks the
 * library may overwrite) 0xA5; the rest 0. Device state word 0 = 1 (ready),
 * the rest 0. Matrix identity, Bayer pattern 0, dark level 64, no tap gains,
 * driver pair (sensor width, sensor height), no registers written (they read
 * 0), empty defect list.
 * @{ */

#define TQSIM_FLAW_CAPACITY TQPROTO_FLAW_CAPACITY /**< defect entries the camera stores */
/** Defect entries one request 13 may append. */
#define TQSIM_FLAWS_PER_WRITE TQPROTO_FLAWS_PER_WRITE
/** Tap gains the camera stores. */
#define TQSIM_TAP_GAIN_MAX TQPROTO_TAP_GAIN_MAX

/** Request 2 / 3 / 9: camera information (220 bytes), extended information
 * (272), device state (88). This one reads the camera information.
 * @param camera the simulator id
 * @param info receives the record
 * @return 0, or -1 for an unknown camera */
TQSIM_API int TqsimGetCameraInfo(uint32_t camera, TQDEV_CAMERA_INFO *info);
/** Replaces the camera information that request 2 reads.
 * @param camera the simulator id
 * @param info the record
 * @return 0, or -1 for an unknown camera */
TQSIM_API int TqsimSetCameraInfo(uint32_t camera, const TQDEV_CAMERA_INFO *info);
/** Reads the extended information that request 3 reads.
 * @param camera the simulator id
 * @param info receives the record
 * @return 0, or -1 for an unknown camera */
TQSIM_API int TqsimGetExtendedInfo(uint32_t camera, TQDEV_EXTENDED_CAMERA_INFO *info);
/** Replaces the extended information that request 3 reads.
 * @param camera the simulator id
 * @param info the record
 * @return 0, or -1 for an unknown camera */
TQSIM_API int TqsimSetExtendedInfo(uint32_t camera, const TQDEV_EXTENDED_CAMERA_INFO *info);
/** Reads the device state that request 9 reads.
 * @param camera the simulator id
 * @param state receives the record
 * @return 0, or -1 for an unknown camera */
TQSIM_API int TqsimGetDeviceState(uint32_t camera, TQDEV_DEVICE_STATE *state);
/** Replaces the device state that request 9 reads.
 * @param camera the simulator id
 * @param state the record
 * @return 0, or -1 for an unknown camera */
TQSIM_API int TqsimSetDeviceState(uint32_t camera, const TQDEV_DEVICE_STATE *state);

/** Requests 22, 23, 24: the register file, any 32-bit address, at most
 * TQSIM_REGISTER_CAPACITY addresses written. Request 22 selects the address
 * for the handle it arrives on; 23 and 24 without a selected address give
 * status 3, and so does 23 with a new address when the file is full
 * (TqsimWriteRegister then returns -1). */
#define TQSIM_REGISTER_CAPACITY TQPROTO_REGISTER_CAPACITY
/** Reads a register as request 24 would (0 when never written).
 * @param camera the simulator id
 * @param address the register's address
 * @param value receives its value
 * @return 0, or -1 for an unknown camera */
TQSIM_API int TqsimReadRegister(uint32_t camera, uint32_t address, uint32_t *value);
/** Writes a register as request 23 would.
 * @param camera the simulator id
 * @param address the register's address
 * @param value the value
 * @return 0, or -1 for an unknown camera or a new address when the file is
 * full */
TQSIM_API int TqsimWriteRegister(uint32_t camera, uint32_t address, uint32_t value);

/** Requests 11, 12, 13: the defect list. Request 11 replies (entry count,
 * TQSIM_FLAW_CAPACITY). Request 12 copies the first size / 20 entries; a size
 * that is not a multiple of 20 or asks more entries than stored gives 5.
 * Request 13 with 0 entries empties the list; with 1 to 128 entries appends
 * them; more than 128 entries, or a list that would exceed the capacity, gives
 * 3 and stores nothing; a size that is not a multiple of 20 gives 5.
 * TqsimGetFlaws copies at most capacity entries and stores the full count;
 * TqsimSetFlaws replaces the list (count up to TQSIM_FLAW_CAPACITY).
 * @param camera the simulator id
 * @param entries receives the entries
 * @param capacity entries that fit
 * @param count receives the full count
 * @return 0, or -1 for an unknown camera */
TQSIM_API int TqsimGetFlaws(uint32_t camera, TQDEV_FLAW *entries, uint32_t capacity,
                            uint32_t *count);
/** Replaces the defect list (count up to TQSIM_FLAW_CAPACITY).
 * @param camera the simulator id
 * @param entries the entries
 * @param count how many
 * @return 0, or -1 for an unknown camera or a count over the capacity */
TQSIM_API int TqsimSetFlaws(uint32_t camera, const TQDEV_FLAW *entries, uint32_t count);

/** Request 15 writes the colour matrix (nine floats); request 14 reads the
 * same nine values back, bit for bit.
 * @param camera the simulator id
 * @param matrix receives the nine values
 * @return 0, or -1 for an unknown camera */
TQSIM_API int TqsimGetMatrix(uint32_t camera, float matrix[9]);
/** Replaces the colour matrix that request 14 reads.
 * @param camera the simulator id
 * @param matrix the nine values
 * @return 0, or -1 for an unknown camera */
TQSIM_API int TqsimSetMatrix(uint32_t camera, const float matrix[9]);

/** Request 16: the Bayer pattern byte.
 * @param camera the simulator id
 * @param pattern receives the byte
 * @return 0, or -1 for an unknown camera */
TQSIM_API int TqsimGetBayerPattern(uint32_t camera, uint8_t *pattern);
/** Sets the Bayer pattern byte, as request 16 does.
 * @param camera the simulator id
 * @param pattern the byte
 * @return 0, or -1 for an unknown camera */
TQSIM_API int TqsimSetBayerPattern(uint32_t camera, uint8_t pattern);

/** Request 17 writes the dark level, request 18 reads it back. Its low 12 bits
 * are the value of the frames' reference samples.
 * @param camera the simulator id
 * @param level receives the dark level
 * @return 0, or -1 for an unknown camera */
TQSIM_API int TqsimGetDarkLevel(uint32_t camera, uint16_t *level);
/** Sets the dark level, as request 17 does.
 * @param camera the simulator id
 * @param level the dark level
 * @return 0, or -1 for an unknown camera */
TQSIM_API int TqsimSetDarkLevel(uint32_t camera, uint16_t level);

/** Request 19: tap gains, size / 4 floats replacing the stored ones (0 to
 * TQSIM_TAP_GAIN_MAX; more gives 3). Get copies at most capacity gains and
 * stores the full count.
 * @param camera the simulator id
 * @param gains receives the gains
 * @param capacity gains that fit
 * @param count receives the full count
 * @return 0, or -1 for an unknown camera */
TQSIM_API int TqsimGetTapGains(uint32_t camera, float *gains, uint32_t capacity, uint32_t *count);
/** Replaces the tap gains (0 to TQSIM_TAP_GAIN_MAX), as request 19 does.
 * @param camera the simulator id
 * @param gains the gains
 * @param count how many
 * @return 0, or -1 for an unknown camera or too many gains */
TQSIM_API int TqsimSetTapGains(uint32_t camera, const float *gains, uint32_t count);

/** Request 20: the driver's two values.
 * @param camera the simulator id
 * @param values receives the two values
 * @return 0, or -1 for an unknown camera */
TQSIM_API int TqsimGetDriverPair(uint32_t camera, uint32_t values[2]);
/** Replaces the two values that request 20 reads.
 * @param camera the simulator id
 * @param values the two values
 * @return 0, or -1 for an unknown camera */
TQSIM_API int TqsimSetDriverPair(uint32_t camera, const uint32_t values[2]);

/** @} */

/* ---- Frames ----------------------------------------------------------------*/
/** @defgroup sim_frames Frames
 * How the camera turns settings into frames, and what it reports.
 *
 * Settings words the camera reads (TQDEV_CAPTURE_SETTINGS):
 *   - setup_words[0]  window origin: left in bits 0..15, top in bits 16..31.
 *   - setup_words[1]  window size: width in bits 0..15, height in bits 16..31;
 *                     0 = up to the sensor's edge.
 *   - extra_words[0]  readout: horizontal binning in bits 0..7, vertical binning
 *                     in bits 8..15 (0 = 1, at most TQSIM_BINNING_MAX), and the
 *                     TQSIM_READOUT_* bits; other bits are ignored.
 *   - extra_words[1]  exposure in microseconds, 0 = the configured exposure; at
 *                     most TQSIM_EXPOSURE_MAX_US.
 *   - flags           TQDEV_FLAG_PACKED_OUTPUT (0x8) asks for the packed stream.
 *   - mode, ticket    mode 1 (averaged) is checked below; the ticket is reported.
 *
 * setup_words[2..5] are not read: the library stores status words there after
 * a capture, so a record can be used again unchanged.
 *
 * Window rule: the window must start on the sensor and fit on it; its width
 * and height are cut down to whole bins and must stay at least one bin;
 * mirrored readout needs a width that is a multiple of 64. Anything else is
 * an impossible window: requests 6 and 0 give status 3 and write nothing.
 *
 * The frame descriptor (request 6) for a window (x0, y0, w, h) with binning
 * (hb, vb), m = h / vb rows and n = w / hb columns:
 *   - line_width = TQSIM_DARK_COLUMNS + w, left = TQSIM_DARK_COLUMNS
 *   - top = vb (one reference line), height = h, width = w
 *   - line_count = h + 2 vb (reference line, window lines, status line)
 *   - h_binning = hb, v_binning = vb
 *   - image_size = m * n * 2
 *   - packed_size = (m + 2) * ((line_width + 7) / 8) * 12
 *   - flags: TQDEV_FRAME_MIRROR (0x4), TQDEV_FRAME_FLIP (0x8),
 *            TQDEV_FRAME_SUBSAMPLE (0x20) as the readout bits ask, and
 *            TQDEV_FRAME_PACKED (0x1) when the frame is delivered packed in place
 *   - ext_flags: TQDEV_FRAME_EXT_PHASE1 (0x40) as asked
 *   - reserved_a 0; reserved_b = (x0, y0, exposure in microseconds, 0)
 *
 * Delivery (request 0): the data buffer must hold packed_size bytes with
 * TQDEV_FLAG_PACKED_OUTPUT and image_size bytes without it (else status 5).
 *   - With TQDEV_FLAG_PACKED_OUTPUT: the packed stream; status word 5 = 0.
 *   - Without: the packed stream, packed in place (TQDEV_FRAME_PACKED in the
 *     descriptor, status word 5 = 1), when the camera is not set to deliver
 *     unpacked and packed_size <= image_size, so the stream fits the buffer.
 *     Otherwise the camera unpacks itself and delivers the image_size bytes
 *     of 16-bit pixels that TqsimExpectedPixel describes; status word 5 = 0.
 *   - An averaged capture (mode 1) has the stream delivered into an image
 *     buffer of image_size bytes, so a window whose packed_size exceeds its
 *     image_size is refused for mode 1 with status 3.
 *
 * The packed stream: m + 2 lines of line_width samples, each padded with 0 to
 * a multiple of 8 and packed 8 samples to 12 bytes (the worked group layout:
 * samples 0x123 0x456 0x789 0xABC 0xDEF 0x012 0x345 0x678 are the bytes
 * 89 45 61 23 2D EF AB C7 67 83 45 01).
 *   - line 0 (reference): every sample = dark level & 0xFFF.
 *   - line 1 + i, window row i (0 <= i < m): samples 0..3 = dark level & 0xFFF;
 *       sample 4 + j (0 <= j < w) = min(4095, sum over k < vb of
 *       TqsimPatternSample(y0 + i vb + k, x0 + j, frame, seed)).
 *   - line m + 1 (status): samples 0..2 = frame number bits 0..11, 12..23,
 *       24..31; samples 3..5 = the settings' ticket likewise; the rest 0.
 *
 * Frame numbers count the frames a camera has delivered, from 0.
 *
 * Timing: the exposure (settings or configured) and the frame period are
 * waited out in real time; a frame takes max(exposure, frame period): exposing
 * for the exposure, reading out for the rest. Clearing (request 10) and homing
 * (request 21) take one frame period. Every wait ends at once on cancel, close
 * or unplug.
 *
 * Capture state (request 1 reply: ticket, state word): the ticket of the
 * settings the camera served last with request 6 or 0 (-1 before any), and
 *   0 set up (descriptor given, no frame under way; also after an aborted
 *     frame), 1 exposing, 2 reading out, 3 frame delivered.
 * Clearing and homing carry no settings and change neither.
 *
 * Integration time: the exposure in microseconds of the settings served last
 * (request 6 or 0), or the configured exposure before any.
 *
 * Status words of the capture requests 0, 6, 10, 21:
 *   - word 1 the settings' ticket (10, 21: the capture-state ticket)
 *   - word 2 the integration time
 *   - word 3 the request number served
 *   - word 4 bytes written into the data buffer
 *   - word 5 1 when the frame was delivered packed in place, else 0
 *   - word 6 the frame number (6, 10, 21: the number the next frame will get)
 *
 * Request 8: word 2 the integration time. Every other request: words 1..6 0.
 *
 * Sequence faults: a status transfer with no data transfer before it on its
 * handle delivers status word 0 = 4 (TQDEV_RESULT_SYSTEM_ERROR). Requests 0
 * and 6 without a settings transfer just before them give 3. A settings
 * transfer of another size than 44 ends with ERROR_INVALID_PARAMETER (87).
 * Codes 4, 5 and request 7 (the settings code sent with no buffer) succeed and
 * do nothing; an unknown code is refused at issue with ERROR_INVALID_FUNCTION
 * (1).
 * @{ */

/** Reference samples at the start of every stream line. */
#define TQSIM_DARK_COLUMNS TQPROTO_DARK_COLUMNS
/** Largest binning factor, either way. */
#define TQSIM_BINNING_MAX TQPROTO_BINNING_MAX
/** Longest exposure the settings may ask, in microseconds. */
#define TQSIM_EXPOSURE_MAX_US TQPROTO_EXPOSURE_MAX_US

/** setup_words[0]: the window's origin.
 * @param left samples left of the window
 * @param top lines above the window */
#define TQSIM_SETUP_ORIGIN(left, top) TQPROTO_SETUP_ORIGIN(left, top)
/** setup_words[1]: the window's size (0 = up to the sensor's edge).
 * @param width the window's columns
 * @param height the window's rows */
#define TQSIM_SETUP_SIZE(width, height) TQPROTO_SETUP_SIZE(width, height)
/** extra_words[0]: the binning factors, to combine with TQSIM_READOUT_* bits.
 * @param h horizontal binning
 * @param v vertical binning */
#define TQSIM_READOUT_BINNING(h, v) TQPROTO_READOUT_BINNING(h, v)
#define TQSIM_READOUT_MIRROR TQPROTO_READOUT_MIRROR /**< reverse the columns */
#define TQSIM_READOUT_FLIP TQPROTO_READOUT_FLIP     /**< reverse the rows */
#define TQSIM_READOUT_SUBSAMPLE                                                                    \
    TQPROTO_READOUT_SUBSAMPLE /**< keep one sample per horizontal bin                              \
                               */
#define TQSIM_READOUT_PHASE1                                                                       \
    TQPROTO_READOUT_PHASE1 /**< ... the second one instead of the first                            \
                            */

/** Capture state: descriptor given, no frame under way. */
#define TQSIM_STATE_SET_UP TQPROTO_STATE_SET_UP
/** Capture state: exposing. */
#define TQSIM_STATE_EXPOSING TQPROTO_STATE_EXPOSING
/** Capture state: reading out. */
#define TQSIM_STATE_READING_OUT TQPROTO_STATE_READING_OUT
/** Capture state: frame delivered. */
#define TQSIM_STATE_DELIVERED TQPROTO_STATE_DELIVERED

/** The pattern: sample of sensor line, column for frame number and seed. With
 * x = line * 0x9E3779B1 ^ column * 0x85EBCA77 ^ seed * 0x27D4EB2F (32-bit
 * arithmetic), then x ^= x >> 15; x *= 0x2C1B3C6D; x ^= x >> 12;
 * x *= 0x297A2D39; x ^= x >> 15, the sample is (x & 0xFFF) ^ the frame's
 * mask (frame * 0x9E5) & 0xFFF. One mask over the whole frame lets the camera
 * make a frame from its pattern at memory speed.
 * @param line the sensor line
 * @param column the sensor column
 * @param frame the frame number
 * @param seed the camera's seed
 * @return the 12-bit sample */
TQSIM_API uint16_t TqsimPatternSample(uint32_t line, uint32_t column, uint32_t frame,
                                      uint32_t seed);

/** The descriptor that request 6 gives for these settings on a camera with this
 * config (sensor, exposure, delivery).
 * @param config the camera
 * @param settings the capture settings
 * @param info receives the descriptor
 * @return the status word 0 of request 6: 0, or 3 for an impossible window;
 * info is written only on 0. */
TQSIM_API uint32_t TqsimDeriveFrameInfo(const TQSIM_CAMERA_CONFIG *config,
                                        const TQDEV_CAPTURE_SETTINGS *settings,
                                        TQDEV_FRAME_INFO *info);

/** The 16-bit pixel at row, column of the image that frame number frame of
 * these settings unpacks to (what the library delivers, and what the camera
 * delivers itself when not packed in place): the window samples of the stream
 * binned horizontally (summed up to 4095, or one kept when sub-sampling),
 * mirrored and flipped as asked.
 * @param config the camera
 * @param settings the capture settings
 * @param frame the frame number
 * @param row the image row
 * @param column the image column
 * @return the pixel; 0 for a position outside the image or an impossible
 * window. */
TQSIM_API uint16_t TqsimExpectedPixel(const TQSIM_CAMERA_CONFIG *config,
                                      const TQDEV_CAPTURE_SETTINGS *settings, uint32_t frame,
                                      uint32_t row, uint32_t column);

/** The frames the camera has delivered so far (the next frame's number).
 * @param camera the simulator id
 * @param count receives the count
 * @return 0, or -1 for an unknown camera */
TQSIM_API int TqsimFrameCount(uint32_t camera, uint32_t *count);

/** The capture state that request 1 would reply now.
 * @param camera the simulator id
 * @param ticket receives the ticket
 * @param state receives the state (TQSIM_STATE_*)
 * @return 0, or -1 for an unknown camera */
TQSIM_API int TqsimCaptureState(uint32_t camera, int32_t *ticket, int32_t *state);

/** Changes timing or delivery of a plugged camera (as the config fields of the
 * same names); affects requests served afterwards. This one changes timing.
 * @param camera the simulator id
 * @param frame_period_us as TQSIM_CAMERA_CONFIG.frame_period_us
 * @param exposure_us as TQSIM_CAMERA_CONFIG.exposure_us
 * @return 0, or -1 for an unknown camera */
TQSIM_API int TqsimSetTiming(uint32_t camera, uint32_t frame_period_us, uint32_t exposure_us);
/** Changes delivery of a plugged camera; affects requests served afterwards.
 * @param camera the simulator id
 * @param deliver_unpacked as TQSIM_CAMERA_CONFIG.deliver_unpacked
 * @return 0, or -1 for an unknown camera */
TQSIM_API int TqsimSetDelivery(uint32_t camera, uint32_t deliver_unpacked);

/** The config the camera was plugged with, timing and delivery as now.
 * @param camera the simulator id
 * @param config receives the config
 * @return 0, or -1 for an unknown camera */
TQSIM_API int TqsimGetConfig(uint32_t camera, TQSIM_CAMERA_CONFIG *config);

/** @} */

/* ---- Platform fault injection ------------------------------------------- */
/** @defgroup sim_faults Platform fault injection
 * Failures of the platform calls the library makes, picked by name and count.
 * @{ */

/** Makes the nth next call (1 = the very next) of the named platform function
 * fail with the given error: "CreateMutexA", "CreateEventA", "CreateThread",
 * "CreateFileA", "DeviceIoControl", "GetOverlappedResult",
 * "SetupDiGetClassDevsA", "SetupDiEnumDeviceInterfaces",
 * "SetupDiGetDeviceInterfaceDetailA", "SetupDiOpenDevRegKey",
 * "RegQueryValueExA", "HeapAlloc", "LoadLibraryExA", "FormatMessageA". Calls
 * counted are those of every thread.
 * @param function the platform function's name
 * @param nth which call fails, 1 = the very next
 * @param error the error it fails with
 * @return 0, or -1 for an unknown name. */
TQSIM_API int TqsimFailCall(const char *function, uint32_t nth, uint32_t error);

/** As TqsimFailCall, counting only the calls the calling thread makes; also
 * "WaitForSingleObject", which the library's own threads call as well.
 * @param function the platform function's name
 * @param nth which call fails, 1 = the very next
 * @param error the error it fails with
 * @return 0, or -1 for an unknown name */
TQSIM_API int TqsimFailCallOnThread(const char *function, uint32_t nth, uint32_t error);

/** As TqsimFailCallOnThread, counting only the calls of the next thread that
 * CreateThread makes (a completion thread, say), from its start.
 * @param function the platform function's name
 * @param nth which call fails, 1 = the very next
 * @param error the error it fails with
 * @return 0, or -1 for an unknown name */
TQSIM_API int TqsimFailCallOnNextThread(const char *function, uint32_t nth, uint32_t error);

/** Makes the nth next HeapAlloc of exactly this many bytes, by any thread,
 * fail: an allocation picked out by its size.
 * @param bytes the allocation's size
 * @param nth which allocation of that size fails, 1 = the very next
 * @return 0, or -1 for nth 0 */
TQSIM_API int TqsimFailAllocationOfSize(uint64_t bytes, uint32_t nth);

/** Forgets every pending fault. */
TQSIM_API void TqsimClearFaults(void);

/** @} */

/* ---- Accounting (to prove that nothing is left behind) ------------------ */
/** @defgroup sim_accounting Accounting
 * To prove that nothing is left behind.
 * @{ */

/** Kernel objects not closed.
 * @return the count */
TQSIM_API uint32_t TqsimOpenHandleCount(void);
/** CreateThread threads still running.
 * @return the count */
TQSIM_API uint32_t TqsimRunningThreadCount(void);
/** HeapAlloc blocks not freed.
 * @return the count */
TQSIM_API uint32_t TqsimHeapBlockCount(void);

/** Counts, from now on, the HeapAlloc calls of the calling thread and of every
 * thread CreateThread makes from now on; not those of threads already running
 * (a notification thread's passes). A new start restarts the count. */
TQSIM_API void TqsimStartAllocationCount(void);
/** HeapAlloc calls counted since the start (TqsimStartAllocationCount).
 * @return the count */
TQSIM_API uint32_t TqsimAllocationCount(void);

/** @} */

#ifdef __cplusplus
}
#endif

#endif /* TQSIM_H */
