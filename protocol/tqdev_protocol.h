/*
 * tqdev_protocol.h - the camera driver's interface, written once: the
 * control codes and the request table, the codes the device channel sends on
 * its own, the meaning of the status words, the settings-word encodings, the
 * camera-information fields, the capacities and the registry value names.
 *
 * Plain C, freestanding (only <stdint.h>): the library, the camera, both
 * drivers (the kernel-mode one included), the tool and the simulator's control
 * header include it. Python's copy of these facts is checked against it.
 */
#ifndef TQDEV_PROTOCOL_H
#define TQDEV_PROTOCOL_H

#include <stdint.h>

/* ---- Control codes -------------------------------------------------------
 * Composed as the platform's CTL_CODE does: device type, any access, the
 * function number and the transfer method. */

#define TQPROTO_DEVICE_TYPE 0xA300u
#define TQPROTO_METHOD_BUFFERED 0u
#define TQPROTO_METHOD_IN_DIRECT 1u
#define TQPROTO_CONTROL_CODE(function, method)                                                     \
    ((TQPROTO_DEVICE_TYPE << 16) | ((uint32_t)(function) << 2) | (uint32_t)(method))

/* The 44-byte capture settings sent ahead of a capture request (input). */
#define TQPROTO_SETTINGS_CODE TQPROTO_CONTROL_CODE(0xA48u, TQPROTO_METHOD_BUFFERED)
/* The 28-byte status record that ends every request (output). */
#define TQPROTO_STATUS_CODE TQPROTO_CONTROL_CODE(0xA5Cu, TQPROTO_METHOD_BUFFERED)
/* Cancels every outstanding request of the handle; no buffer. */
#define TQPROTO_CANCEL_CODE TQPROTO_CONTROL_CODE(0xA5Du, TQPROTO_METHOD_BUFFERED)
/* The test drivers' own control channel (scripting, counters), not a camera
 * request. */
#define TQPROTO_TEST_CONTROL_CODE TQPROTO_CONTROL_CODE(0xA70u, TQPROTO_METHOD_BUFFERED)

#define TQPROTO_SETTINGS_SIZE 44u
#define TQPROTO_STATUS_SIZE 28u
#define TQPROTO_STATUS_WORDS 7u

/* ---- The request table -----------------------------------------------------
 * X(number, name, function, method, direction, fixed size, entry size): the
 * library's request numbers (not the order of the function numbers), the
 * control code's parts, whether the driver writes the data buffer (OUT) or
 * reads it (IN), and the data size: fixed bytes, or a whole number of entries
 * of the entry size when fixed is 0 and entry is not (any size when both are
 * 0 and the request carries data at all). */

#define TQPROTO_IN 0u
#define TQPROTO_OUT 1u

#define TQPROTO_REQUESTS(X)                                                                        \
    X(0, FRAME_DATA, 0xA44u, TQPROTO_METHOD_IN_DIRECT, TQPROTO_OUT, 0u, 0u)                        \
    X(1, CAPTURE_STATE, 0xA4Fu, TQPROTO_METHOD_BUFFERED, TQPROTO_OUT, 8u, 0u)                      \
    X(2, CAMERA_INFO, 0xA45u, TQPROTO_METHOD_BUFFERED, TQPROTO_OUT, 220u, 0u)                      \
    X(3, EXTENDED_INFO, 0xA4Eu, TQPROTO_METHOD_BUFFERED, TQPROTO_OUT, 272u, 0u)                    \
    X(4, RESERVED_4, 0xA30u, TQPROTO_METHOD_BUFFERED, TQPROTO_OUT, 0u, 0u)                         \
    X(5, RESERVED_5, 0xA47u, TQPROTO_METHOD_BUFFERED, TQPROTO_IN, 0u, 0u)                          \
    X(6, FRAME_INFO, 0xA49u, TQPROTO_METHOD_BUFFERED, TQPROTO_OUT, 68u, 0u)                        \
    X(7, SETTINGS_ONLY, 0xA48u, TQPROTO_METHOD_BUFFERED, TQPROTO_IN, 0u, 0u)                       \
    X(8, INTEGRATION_TIME, 0xA46u, TQPROTO_METHOD_BUFFERED, TQPROTO_OUT, 0u, 0u)                   \
    X(9, DEVICE_STATE, 0xA4Du, TQPROTO_METHOD_BUFFERED, TQPROTO_OUT, 88u, 0u)                      \
    X(10, CLEAR, 0xA50u, TQPROTO_METHOD_BUFFERED, TQPROTO_IN, 0u, 0u)                              \
    X(11, FLAW_COUNT, 0xA51u, TQPROTO_METHOD_BUFFERED, TQPROTO_OUT, 8u, 0u)                        \
    X(12, READ_FLAWS, 0xA52u, TQPROTO_METHOD_BUFFERED, TQPROTO_OUT, 0u, 20u)                       \
    X(13, WRITE_FLAWS, 0xA53u, TQPROTO_METHOD_BUFFERED, TQPROTO_IN, 0u, 20u)                       \
    X(14, READ_MATRIX, 0xA54u, TQPROTO_METHOD_BUFFERED, TQPROTO_OUT, 36u, 0u)                      \
    X(15, WRITE_MATRIX, 0xA55u, TQPROTO_METHOD_BUFFERED, TQPROTO_IN, 36u, 0u)                      \
    X(16, BAYER_PATTERN, 0xA56u, TQPROTO_METHOD_BUFFERED, TQPROTO_IN, 1u, 0u)                      \
    X(17, WRITE_DARK, 0xA57u, TQPROTO_METHOD_BUFFERED, TQPROTO_IN, 2u, 0u)                         \
    X(18, READ_DARK, 0xA58u, TQPROTO_METHOD_BUFFERED, TQPROTO_OUT, 2u, 0u)                         \
    X(19, TAP_GAINS, 0xA59u, TQPROTO_METHOD_BUFFERED, TQPROTO_IN, 0u, 4u)                          \
    X(20, DRIVER_PAIR, 0xA5Au, TQPROTO_METHOD_BUFFERED, TQPROTO_OUT, 8u, 0u)                       \
    X(21, HOMING, 0xA5Bu, TQPROTO_METHOD_BUFFERED, TQPROTO_IN, 0u, 0u)                             \
    X(22, REGISTER_ADDRESS, 0xA4Au, TQPROTO_METHOD_BUFFERED, TQPROTO_IN, 4u, 0u)                   \
    X(23, REGISTER_VALUE, 0xA4Bu, TQPROTO_METHOD_BUFFERED, TQPROTO_IN, 4u, 0u)                     \
    X(24, READ_REGISTER, 0xA4Cu, TQPROTO_METHOD_BUFFERED, TQPROTO_OUT, 4u, 0u)

#define TQPROTO_REQUEST_COUNT 25u

/* TQPROTO_REQUEST_<name>: the request number. */
#define TQPROTO_DEFINE_NUMBER_(number, name, function, method, direction, fixed, entry)            \
    TQPROTO_REQUEST_##name = number,
enum { TQPROTO_REQUESTS(TQPROTO_DEFINE_NUMBER_) };
#undef TQPROTO_DEFINE_NUMBER_

/* Initialisers of arrays indexed by request number: the control codes, and
 * TQPROTO_OUT where the driver writes the data buffer. */
#define TQPROTO_REQUEST_CODE_(number, name, function, method, direction, fixed, entry)             \
    TQPROTO_CONTROL_CODE(function, method),
#define TQPROTO_REQUEST_DIRECTION_(number, name, function, method, direction, fixed, entry)        \
    direction,
#define TQPROTO_REQUEST_CODES                                                                      \
    { TQPROTO_REQUESTS(TQPROTO_REQUEST_CODE_) }
#define TQPROTO_REQUEST_DIRECTIONS                                                                 \
    { TQPROTO_REQUESTS(TQPROTO_REQUEST_DIRECTION_) }

/* ---- Status words --------------------------------------------------------
 * The status record's seven 32-bit words. Word 0 is the request's result, in
 * the library's result numbering. For the capture requests (0, 6, 10, 21): */
#define TQPROTO_STATUS_RESULT 0u          /* result code */
#define TQPROTO_STATUS_TICKET 1u          /* the settings' ticket */
#define TQPROTO_STATUS_INTEGRATION 2u     /* integration time, microseconds */
#define TQPROTO_STATUS_REQUEST 3u         /* the request number served */
#define TQPROTO_STATUS_BYTES 4u           /* bytes written into the data buffer */
#define TQPROTO_STATUS_PACKED_IN_PLACE 5u /* 1: the frame came packed in place */
#define TQPROTO_STATUS_FRAME_NUMBER 6u    /* the frame's number */

/* Capture state words of request 1's reply. */
#define TQPROTO_STATE_SET_UP 0
#define TQPROTO_STATE_EXPOSING 1
#define TQPROTO_STATE_READING_OUT 2
#define TQPROTO_STATE_DELIVERED 3

/* ---- Settings words --------------------------------------------------------
 * setup_words[0] the window origin, setup_words[1] its size: two 16-bit
 * halves each (0 size = up to the sensor's edge). extra_words[0] the readout:
 * horizontal binning in bits 0..7, vertical in bits 8..15 (0 counts as 1) and
 * the flag bits. extra_words[1] the exposure in microseconds (0 = the
 * camera's own). */
#define TQPROTO_SETUP_ORIGIN(left, top)                                                            \
    ((((uint32_t)(top)&0xFFFFu) << 16) | ((uint32_t)(left)&0xFFFFu))
#define TQPROTO_SETUP_SIZE(width, height)                                                          \
    ((((uint32_t)(height)&0xFFFFu) << 16) | ((uint32_t)(width)&0xFFFFu))
#define TQPROTO_SETUP_LOW(word) ((uint32_t)(word)&0xFFFFu)
#define TQPROTO_SETUP_HIGH(word) (((uint32_t)(word) >> 16) & 0xFFFFu)
#define TQPROTO_READOUT_BINNING(h, v) ((((uint32_t)(v)&0xFFu) << 8) | ((uint32_t)(h)&0xFFu))
#define TQPROTO_READOUT_H_BINNING(word) ((uint32_t)(word)&0xFFu)
#define TQPROTO_READOUT_V_BINNING(word) (((uint32_t)(word) >> 8) & 0xFFu)
#define TQPROTO_READOUT_MIRROR 0x10000u    /* reverse the columns */
#define TQPROTO_READOUT_FLIP 0x20000u      /* reverse the rows */
#define TQPROTO_READOUT_SUBSAMPLE 0x40000u /* keep one sample per horizontal bin */
#define TQPROTO_READOUT_PHASE1 0x80000u    /* ... the second one instead of the first */
/* A mirrored window's width is a whole number of these. */
#define TQPROTO_MIRROR_WIDTH_STEP 64u

/* ---- Camera information ------------------------------------------------
 * Byte offsets into driver_data of the camera-information record (request 2). */
#define TQPROTO_INFO_SENSOR_WIDTH 0u    /* 32-bit */
#define TQPROTO_INFO_SENSOR_HEIGHT 4u   /* 32-bit */
#define TQPROTO_INFO_BITS_PER_SAMPLE 8u /* 32-bit */
#define TQPROTO_INFO_MAX_BINNING 12u    /* 32-bit */
#define TQPROTO_INFO_MODEL 16u          /* text, 40 bytes */
#define TQPROTO_INFO_SERIAL 56u         /* text, 40 bytes */
#define TQPROTO_INFO_TEXT_SIZE 40u
/* And into driver_data of the extended record (request 3). */
#define TQPROTO_EXTENDED_SENSOR_WIDTH 0u
#define TQPROTO_EXTENDED_SENSOR_HEIGHT 4u
#define TQPROTO_EXTENDED_DARK_COLUMNS 8u

/* ---- Capacities ----------------------------------------------------------- */
#define TQPROTO_BINNING_MAX 16         /* per axis */
#define TQPROTO_DARK_COLUMNS 4         /* reference samples ahead of each line */
#define TQPROTO_REGISTER_CAPACITY 1024 /* register addresses a camera keeps */
#define TQPROTO_FLAW_CAPACITY 1024     /* defect entries a camera keeps */
#define TQPROTO_FLAWS_PER_WRITE 128    /* defect entries one write carries */
#define TQPROTO_TAP_GAIN_MAX 16        /* tap gains a camera keeps */
#define TQPROTO_EXPOSURE_MAX_US 10000000u

/* ---- Registry values -------------------------------------------------------
 * X(index, name, is_text): the twelve values of a camera's device key, in
 * the order of the device record's fields; numbers are 32-bit, texts at most
 * 39 characters. */
#define TQPROTO_REGISTRY_VALUES(X)                                                                 \
    X(0, "DeviceType", 0)                                                                          \
    X(1, "DeviceSubtype", 0)                                                                       \
    X(2, "DeviceName", 1)                                                                          \
    X(3, "SerialNumber", 1)                                                                        \
    X(4, "MajorVersion", 0)                                                                        \
    X(5, "MinorVersion", 0)                                                                        \
    X(6, "VersionString", 1)                                                                       \
    X(7, "BuildDate", 1)                                                                           \
    X(8, "DriverMajorVersion", 0)                                                                  \
    X(9, "DriverMinorVersion", 0)                                                                  \
    X(10, "DriverVersionString", 1)                                                                \
    X(11, "DriverBuildDate", 1)

#define TQPROTO_REGISTRY_VALUE_COUNT 12

/* Initialisers of arrays indexed like the values: their names, and 1 for
 * the texts. */
#define TQPROTO_REGISTRY_NAME_(index, name, is_text) name,
#define TQPROTO_REGISTRY_IS_TEXT_(index, name, is_text) is_text,
#define TQPROTO_REGISTRY_NAMES                                                                     \
    { TQPROTO_REGISTRY_VALUES(TQPROTO_REGISTRY_NAME_) }
#define TQPROTO_REGISTRY_TEXTS                                                                     \
    { TQPROTO_REGISTRY_VALUES(TQPROTO_REGISTRY_IS_TEXT_) }

#endif /* TQDEV_PROTOCOL_H */
