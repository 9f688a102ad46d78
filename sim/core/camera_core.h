/* The camera's rules shared by every host of the camera (the simulated driver
 * and the kernel-mode driver): the request table, the record requests, the
 * capture requests and the capture state they leave, and the twelve registry
 * values a camera starts with. Freestanding: no allocation, no locking, no
 * waiting. The host owns the storage, holds its lock around every call and
 * does the waiting that exposure and readout take. Plain C interface so that
 * C hosts can call it. */
#ifndef TQDEV_CAMERA_CORE_H
#define TQDEV_CAMERA_CORE_H

#include <stddef.h>
#include <stdint.h>

#include "tqdev.h"
#include "tqdev_protocol.h"

#ifdef __cplusplus
extern "C" {
#endif

#define TQCORE_NO_REQUEST 0xFFFFFFFFu
#define TQCORE_REGISTER_MAX TQPROTO_REGISTER_CAPACITY

/* What kind of work a request number is. */
#define TQCORE_KIND_RECORD 0  /* answered at once from the records */
#define TQCORE_KIND_STATE 1   /* capture state: must not wait behind a frame */
#define TQCORE_KIND_FRAME 2   /* exposure and readout, then the frame */
#define TQCORE_KIND_PREPARE 3 /* clearing or homing: one frame period */

/* The sensor a camera is built around. */
typedef struct TQCORE_SENSOR {
    uint32_t width, height;
    uint32_t capability_flags;
    uint32_t seed;
    uint32_t frame_period_us;
    uint32_t exposure_us;
    uint32_t deliver_unpacked;
    char serial[40];
} TQCORE_SENSOR;

/* What the camera's requests read and write. */
typedef struct TQCORE_RECORDS {
    TQDEV_CAMERA_INFO info;
    TQDEV_EXTENDED_CAMERA_INFO extended;
    TQDEV_DEVICE_STATE state;
    uint32_t register_count;
    uint32_t register_address[TQCORE_REGISTER_MAX];
    uint32_t register_value[TQCORE_REGISTER_MAX];
    uint32_t flaw_count;
    TQDEV_FLAW flaws[TQPROTO_FLAW_CAPACITY];
    float matrix[9];
    uint8_t bayer;
    uint16_t dark;
    uint32_t tap_gain_count;
    float tap_gains[TQPROTO_TAP_GAIN_MAX];
    uint32_t driver_pair[2];
} TQCORE_RECORDS;

typedef struct TQCORE_CAMERA {
    TQCORE_SENSOR sensor;
    TQCORE_RECORDS records;
    uint32_t frames_delivered;
    int32_t state_ticket;
    int32_t state_word;
    uint32_t have_exposure;
    uint32_t last_exposure_us;
} TQCORE_CAMERA;

/* Per open handle: the register address request 22 selected. */
typedef struct TQCORE_HANDLE {
    uint32_t register_selected;
    uint32_t register_address;
} TQCORE_HANDLE;

/* One request as the host took it; the core fills data_bytes and record. */
typedef struct TQCORE_REQUEST {
    uint32_t number;
    const void *in;
    uint32_t in_size;
    void *out;
    uint32_t out_size;
    uint32_t have_settings;
    TQDEV_CAPTURE_SETTINGS settings;
    TQCORE_HANDLE *handle;
    uint32_t data_bytes;
    TQDEV_STATUS record;
} TQCORE_REQUEST;

/* Request number of a control code; TQCORE_NO_REQUEST when unknown. */
uint32_t TqcoreRequestNumber(uint32_t code);
/* Control code of a request number; TQCORE_NO_REQUEST past the table. */
uint32_t TqcoreRequestCode(uint32_t number);
int TqcoreRequestKind(uint32_t number);
/* Whether the driver writes the caller's buffer for this code. */
int TqcoreIsOutputCode(uint32_t code);

/* One of the twelve registry values a camera starts with (index 0..11). A
 * text's value is in text (serial for "SerialNumber"), a number's in number. */
typedef struct TQCORE_REGISTRY_DEFAULT {
    const char *name;
    int is_text;
    uint32_t number;
    const char *text;
} TQCORE_REGISTRY_DEFAULT;
void TqcoreRegistryDefault(int index, const char *serial, TQCORE_REGISTRY_DEFAULT *value);

/* A fresh camera: default sensor (1024 x 768) and records. */
void TqcoreDefaultSensor(TQCORE_SENSOR *sensor);
void TqcoreInitCamera(TQCORE_CAMERA *camera, const TQCORE_SENSOR *sensor);

/* The register file: a register never written reads 0; storing fails (-1)
 * when the file is full. */
uint32_t TqcoreRegisterValue(const TQCORE_RECORDS *records, uint32_t address);
int TqcoreStoreRegister(TQCORE_RECORDS *records, uint32_t address, uint32_t value);

/* Serves a record or capture-state request at once. */
void TqcoreServeRecord(TQCORE_CAMERA *camera, TQCORE_REQUEST *request);

/* Frame request (0): the host calls Start; when it gives OK, waits
 * exposure_us, calls ReadingOut, waits until period_us has passed since the
 * start, then calls Finish (or, to write the frame without its lock, reads
 * the frame's number and dark level, calls Fill unlocked and Delivered under
 * the lock again). An aborted frame calls Abort instead. */
uint32_t TqcoreStartFrame(TQCORE_CAMERA *camera, TQCORE_REQUEST *request, uint32_t *exposure_us,
                          uint32_t *period_us);
void TqcoreReadingOut(TQCORE_CAMERA *camera, const TQCORE_REQUEST *request);
void TqcoreFinishFrame(TQCORE_CAMERA *camera, TQCORE_REQUEST *request);
/* Writes frame `number` into the request's buffer; returns the bytes written. */
uint32_t TqcoreFillFrame(const TQCORE_SENSOR *sensor, const TQCORE_REQUEST *request,
                         uint32_t number, uint16_t dark);
/* The same from a pattern prepared for the request's settings (null: none),
 * which makes a packed frame at memory speed. The host keeps the pattern:
 * TqcorePatternIdentity gives its size for settings (0: none would help) and
 * what it depends on, TqcorePreparePattern writes it. */
uint32_t TqcoreFillFrameFrom(const TQCORE_SENSOR *sensor, const TQCORE_REQUEST *request,
                             uint32_t number, uint16_t dark, const void *pattern);
/* What a prepared pattern depends on: settings with equal identities share
 * one (their tickets and status words may differ). */
typedef struct TQCORE_PATTERN_ID {
    uint32_t x0, y0, width, height, line_width, lines, seed, bytes;
} TQCORE_PATTERN_ID;
void TqcorePatternIdentity(const TQCORE_SENSOR *sensor, const TQDEV_CAPTURE_SETTINGS *settings,
                           TQCORE_PATTERN_ID *id);
void TqcorePreparePattern(const TQCORE_SENSOR *sensor, const TQDEV_CAPTURE_SETTINGS *settings,
                          void *pattern);
void TqcoreFrameDelivered(TQCORE_CAMERA *camera, TQCORE_REQUEST *request, uint32_t bytes);
void TqcoreAbortFrame(TQCORE_CAMERA *camera, const TQCORE_REQUEST *request);
/* Clearing and homing (10, 21): the host waits period_us, then calls Finish. */
uint32_t TqcorePreparePeriod(const TQCORE_CAMERA *camera);
void TqcoreFinishPrepare(TQCORE_CAMERA *camera, TQCORE_REQUEST *request);

#ifdef __cplusplus
}
#endif

#endif
