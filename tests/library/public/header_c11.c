/* The public header compiled as strict C11: the layout C callers see. */
#include <stddef.h>

#include "tqdev.h"

#define FIELD(record, field) offsetof(record, field)

const size_t tqdev_c_layout[] = {
    sizeof(TQDEV_DEVICE_INFO),
    FIELD(TQDEV_DEVICE_INFO, DeviceIndex),
    FIELD(TQDEV_DEVICE_INFO, DeviceType),
    FIELD(TQDEV_DEVICE_INFO, DeviceSubtype),
    FIELD(TQDEV_DEVICE_INFO, DeviceName),
    FIELD(TQDEV_DEVICE_INFO, SerialNumber),
    FIELD(TQDEV_DEVICE_INFO, DriverMajorVersion),
    FIELD(TQDEV_DEVICE_INFO, DriverMinorVersion),
    FIELD(TQDEV_DEVICE_INFO, DriverVersionString),
    FIELD(TQDEV_DEVICE_INFO, DriverBuildDate),
    FIELD(TQDEV_DEVICE_INFO, MajorVersion),
    FIELD(TQDEV_DEVICE_INFO, MinorVersion),
    FIELD(TQDEV_DEVICE_INFO, VersionString),
    FIELD(TQDEV_DEVICE_INFO, BuildDate),
    FIELD(TQDEV_DEVICE_INFO, reserved1),
    sizeof(TQDEV_DEVICE_ARRAY),
    FIELD(TQDEV_DEVICE_ARRAY, DeviceCount),
    FIELD(TQDEV_DEVICE_ARRAY, Devices),
    sizeof(TQDEV_LIBRARY_VERSION),
    FIELD(TQDEV_LIBRARY_VERSION, VersionString),
    FIELD(TQDEV_LIBRARY_VERSION, BuildDate),
    sizeof(TQDEV_PROGRESS),
    FIELD(TQDEV_PROGRESS, Done),
    FIELD(TQDEV_PROGRESS, Percent),
    FIELD(TQDEV_PROGRESS, Result),
    FIELD(TQDEV_PROGRESS, reserved),
    FIELD(TQDEV_PROGRESS, Callback),
    FIELD(TQDEV_PROGRESS, UserData),
    sizeof(TQDEV_CAPTURE_PARAMS),
    FIELD(TQDEV_CAPTURE_PARAMS, mode),
    FIELD(TQDEV_CAPTURE_PARAMS, flags),
    FIELD(TQDEV_CAPTURE_PARAMS, setup_words),
    FIELD(TQDEV_CAPTURE_PARAMS, status5),
    FIELD(TQDEV_CAPTURE_PARAMS, buffer),
    FIELD(TQDEV_CAPTURE_PARAMS, ticket),
    FIELD(TQDEV_CAPTURE_PARAMS, frame_count),
    FIELD(TQDEV_CAPTURE_PARAMS, status6),
    FIELD(TQDEV_CAPTURE_PARAMS, sum_buffer),
    FIELD(TQDEV_CAPTURE_PARAMS, sequence_buffers),
    FIELD(TQDEV_CAPTURE_PARAMS, ring_index),
    FIELD(TQDEV_CAPTURE_PARAMS, ring_size),
    FIELD(TQDEV_CAPTURE_PARAMS, mean_level),
    FIELD(TQDEV_CAPTURE_PARAMS, ring_buffers),
    FIELD(TQDEV_CAPTURE_PARAMS, extra_words),
    FIELD(TQDEV_CAPTURE_PARAMS, reserved),
    sizeof(TQDEV_CAPTURE_SETTINGS),
    FIELD(TQDEV_CAPTURE_SETTINGS, ticket),
    FIELD(TQDEV_CAPTURE_SETTINGS, setup_words),
    FIELD(TQDEV_CAPTURE_SETTINGS, extra_words),
    sizeof(TQDEV_STATUS),
    sizeof(TQDEV_FRAME_INFO),
    FIELD(TQDEV_FRAME_INFO, packed_size),
    FIELD(TQDEV_FRAME_INFO, flags),
    FIELD(TQDEV_FRAME_INFO, line_width),
    FIELD(TQDEV_FRAME_INFO, line_count),
    FIELD(TQDEV_FRAME_INFO, width),
    FIELD(TQDEV_FRAME_INFO, height),
    FIELD(TQDEV_FRAME_INFO, left),
    FIELD(TQDEV_FRAME_INFO, top),
    FIELD(TQDEV_FRAME_INFO, h_binning),
    FIELD(TQDEV_FRAME_INFO, v_binning),
    FIELD(TQDEV_FRAME_INFO, ext_flags),
    FIELD(TQDEV_FRAME_INFO, reserved_b),
    sizeof(TQDEV_IMAGE_HEADER),
    FIELD(TQDEV_IMAGE_HEADER, header_size),
    FIELD(TQDEV_IMAGE_HEADER, frame_info),
    sizeof(TQDEV_CAMERA_INFO),
    FIELD(TQDEV_CAMERA_INFO, capability_flags),
    sizeof(TQDEV_EXTENDED_CAMERA_INFO),
    FIELD(TQDEV_EXTENDED_CAMERA_INFO, xform_matrix),
    FIELD(TQDEV_EXTENDED_CAMERA_INFO, average_dark),
    FIELD(TQDEV_EXTENDED_CAMERA_INFO, driver_pair),
    sizeof(TQDEV_DEVICE_STATE),
    sizeof(TQDEV_FLAW),
};

const size_t tqdev_c_layout_count = sizeof tqdev_c_layout / sizeof tqdev_c_layout[0];

/* Exports taken through pointers of the declared types: a C caller and the
 * header agree on the signatures, and the C program links the library. */
typedef void (*any_function)(void);
typedef uint32_t(TQDEV_CALL *unpack_function)(const void *, uint16_t *, uint32_t *, uintptr_t);
typedef uint32_t(TQDEV_CALL *integration_function)(uint32_t, uint32_t *, const uint32_t *,
                                                   TQDEV_PROGRESS *);
static const unpack_function unpack = TqdevUnpackImage;
static const integration_function integration = TqdevGetIntegrationTime;
const any_function tqdev_c_exports[] = {(any_function)unpack, (any_function)integration};
