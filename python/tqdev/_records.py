"""The library's records as ctypes structures, laid out exactly as in tqdev.h."""

from __future__ import annotations

import ctypes
import sys
from ctypes import POINTER, c_char, c_int32, c_uint8, c_uint32, c_uint64, c_void_p

if sys.platform == "win32":  # the library's calls and callbacks are __stdcall
    FUNCTYPE = ctypes.WINFUNCTYPE
else:
    FUNCTYPE = ctypes.CFUNCTYPE

PROGRESS_CALLBACK = FUNCTYPE(None, c_uint32, c_uint64)
NOTIFY_CALLBACK = FUNCTYPE(None, c_uint32, c_uint32, c_uint64)

IMAGE_MAGIC = 0x54517069
IMAGE_HEADER_SIZE = 76


class DEVICE_INFO(ctypes.Structure):
    _fields_ = [
        ("DeviceIndex", c_uint32),
        ("DeviceType", c_uint32),
        ("DeviceSubtype", c_uint32),
        ("reserved0", c_uint32),
        ("DeviceName", c_char * 40),
        ("SerialNumber", c_char * 40),
        ("DriverMajorVersion", c_uint32),
        ("DriverMinorVersion", c_uint32),
        ("DriverVersionString", c_char * 40),
        ("DriverBuildDate", c_char * 40),
        ("MajorVersion", c_uint32),
        ("MinorVersion", c_uint32),
        ("VersionString", c_char * 40),
        ("BuildDate", c_char * 40),
        ("reserved1", c_uint8 * 40),
    ]


class DEVICE_ARRAY(ctypes.Structure):
    _fields_ = [
        ("DeviceCount", c_uint32),
        ("reserved", c_uint32),
        ("Devices", POINTER(DEVICE_INFO)),
    ]


class LIBRARY_VERSION(ctypes.Structure):
    _fields_ = [
        ("MajorVersion", c_uint32),
        ("MinorVersion", c_uint32),
        ("VersionString", c_char * 40),
        ("BuildDate", c_char * 40),
    ]


class PROGRESS(ctypes.Structure):
    _fields_ = [
        ("Done", c_uint32),
        ("Percent", c_uint32),
        ("Result", c_uint32),
        ("reserved", c_uint32),
        ("Callback", PROGRESS_CALLBACK),
        ("UserData", c_uint64),
    ]


class _AveragedPart(ctypes.Structure):
    _fields_ = [("sum_buffer", POINTER(c_uint32)), ("mean_level", c_int32), ("unused68", c_uint32)]


class _LivePart(ctypes.Structure):
    _fields_ = [("ring_index", c_uint32), ("ring_size", c_int32), ("ring_buffers", c_void_p * 3)]


class _ModeWords(ctypes.Union):
    _fields_ = [("ticket", c_uint32), ("frame_count", c_int32)]


class _ModeBuffers(ctypes.Union):
    _anonymous_ = ("averaged", "live")
    _fields_ = [
        ("averaged", _AveragedPart),
        ("sequence_buffers", c_void_p * 3),
        ("live", _LivePart),
    ]


class CAPTURE_PARAMS(ctypes.Structure):
    _anonymous_ = ("_words", "_buffers")
    _fields_ = [
        ("mode", c_uint32),
        ("flags", c_uint32),
        ("setup_words", c_uint32 * 6),
        ("status5", c_uint32),
        ("unused36", c_uint32),
        ("buffer", c_void_p),
        ("_words", _ModeWords),
        ("status6", c_uint32),
        ("_buffers", _ModeBuffers),
        ("extra_words", c_uint32 * 2),
        ("reserved", c_uint32 * 8),
    ]


class CAPTURE_SETTINGS(ctypes.Structure):
    _fields_ = [
        ("mode", c_uint32),
        ("flags", c_uint32),
        ("ticket", c_uint32),
        ("setup_words", c_uint32 * 6),
        ("extra_words", c_uint32 * 2),
    ]


class STATUS(ctypes.Structure):
    _fields_ = [("word", c_uint32 * 7)]


class FRAME_INFO(ctypes.Structure):
    _fields_ = [
        ("image_size", c_uint32),
        ("packed_size", c_uint32),
        ("flags", c_uint32),
        ("reserved_a", c_uint32),
        ("line_width", c_int32),
        ("line_count", c_int32),
        ("width", c_uint32),
        ("height", c_uint32),
        ("left", c_int32),
        ("top", c_int32),
        ("h_binning", c_uint32),
        ("v_binning", c_uint32),
        ("ext_flags", c_uint32),
        ("reserved_b", c_uint32 * 4),
    ]

    @property
    def shape(self) -> tuple[int, int]:
        """(rows, columns) of the 16-bit image this frame unpacks to."""
        hb = self.h_binning or 1
        vb = self.v_binning or 1
        return self.height // vb, self.width // hb


class IMAGE_HEADER(ctypes.Structure):
    _fields_ = [("magic", c_uint32), ("header_size", c_uint32), ("frame_info", FRAME_INFO)]


class CAMERA_INFO(ctypes.Structure):
    _fields_ = [
        ("driver_data", c_uint8 * 180),
        ("capability_flags", c_uint32),
        ("driver_data_b", c_uint8 * 36),
    ]


class EXTENDED_CAMERA_INFO(ctypes.Structure):
    _fields_ = [
        ("driver_data", c_uint8 * 196),
        ("xform_matrix", c_uint32 * 9),
        ("average_dark", c_uint32),
        ("driver_pair", c_uint32 * 2),
        ("driver_data_b", c_uint8 * 28),
    ]


class DEVICE_STATE(ctypes.Structure):
    _fields_ = [("driver_data", c_uint8 * 88)]


class FLAW(ctypes.Structure):
    _fields_ = [("words", c_uint32 * 5)]


# Every record the layout check compares with the C header: Python name -> C type name.
RECORDS = {
    "DEVICE_INFO": DEVICE_INFO,
    "DEVICE_ARRAY": DEVICE_ARRAY,
    "LIBRARY_VERSION": LIBRARY_VERSION,
    "PROGRESS": PROGRESS,
    "CAPTURE_PARAMS": CAPTURE_PARAMS,
    "CAPTURE_SETTINGS": CAPTURE_SETTINGS,
    "STATUS": STATUS,
    "FRAME_INFO": FRAME_INFO,
    "IMAGE_HEADER": IMAGE_HEADER,
    "CAMERA_INFO": CAMERA_INFO,
    "EXTENDED_CAMERA_INFO": EXTENDED_CAMERA_INFO,
    "DEVICE_STATE": DEVICE_STATE,
    "FLAW": FLAW,
}

