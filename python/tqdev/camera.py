"""Cameras: listing, opening, synchronous operations and captures as numpy arrays."""

from __future__ import annotations

import ctypes
from ctypes import byref, c_int32, c_uint32
from dataclasses import dataclass, field, replace
from typing import Callable, Iterable, Optional, Sequence

import numpy as np

from . import _protocol as p
from . import _records as r
from ._lib import Result, TqdevError, check, check_int, library
from .async_capture import CaptureFuture, AsyncCapture, capture_result
from .frames import Frames
from .live import LiveView
from .session import init
from .settings import AVERAGED, LIVE_FOCUS, MODES, SEQUENCE, SINGLE, WORD_MAX, Settings

# Closing a camera that is gone, or after the library was shut down, leaves nothing open.
_CLOSED_ANYWAY = (Result.OK, Result.DEVICE_NOT_FOUND, Result.INVALID_DEVICE,
                  Result.NOT_INITIALIZED)


def _word(name: str, value) -> int:
    return check_int(name, value, 0, WORD_MAX)


def _settings(settings: Optional[Settings]) -> Settings:
    if settings is None:
        return Settings()
    if not isinstance(settings, Settings):
        raise TypeError("settings must be a tqdev.Settings")
    return settings


def _mode(mode) -> int:
    if mode not in MODES:
        raise ValueError(f"mode must be one of {sorted(MODES)}, not {mode!r}")
    return MODES[mode]


def _text(data: bytes) -> str:
    return data.split(b"\0", 1)[0].decode(errors="replace")


@dataclass(frozen=True)
class CameraInfo:
    """A camera's information: its sensor as the driver describes it, and its capability
    flags (TQDEV_CAMERA_CAP_*); `raw` is the whole record as the library returned it."""

    sensor_width: int
    sensor_height: int
    bits_per_sample: int
    max_binning: int
    model: str
    serial_number: str
    capability_flags: int
    raw: bytes = field(repr=False)

    @classmethod
    def from_record(cls, record: r.CAMERA_INFO) -> "CameraInfo":
        """Decodes the record: the sensor's words, then the model and serial texts."""
        data = bytes(record.driver_data)

        def word(offset: int) -> int:
            return int.from_bytes(data[offset:offset + 4], "little")

        def text(offset: int) -> str:
            return _text(data[offset:offset + p.INFO_TEXT_SIZE])

        return cls(word(p.INFO_SENSOR_WIDTH), word(p.INFO_SENSOR_HEIGHT),
                   word(p.INFO_BITS_PER_SAMPLE), word(p.INFO_MAX_BINNING), text(p.INFO_MODEL),
                   text(p.INFO_SERIAL), record.capability_flags, bytes(record))


class Camera:
    """One camera, opened for I/O. Use as a context manager: `with tqdev.Camera(0) as cam:`."""

    def __init__(self, index: int):
        self.index = _word("camera index", index)
        self.is_open = False
        self._shapes: dict[Settings, tuple[int, int]] = {}

    # ---- channel ----------------------------------------------------------

    def open(self) -> "Camera":
        """Opens the camera (setting the library up first); raises TqdevError if refused."""
        init()
        check(library().TqdevOpenDevice(self.index), "TqdevOpenDevice")
        self.is_open = True
        return self

    def close(self) -> None:
        """Closes the camera; closing one that was unplugged or never opened is no error."""
        if self.is_open:
            self.is_open = False
            code = library().TqdevCloseDevice(self.index)
            if code not in _CLOSED_ANYWAY:
                raise TqdevError(code, "TqdevCloseDevice")

    def __enter__(self) -> "Camera":
        return self.open()

    def __exit__(self, *exc) -> None:
        self.close()

    def cancel(self) -> None:
        """Cancels the camera's outstanding I/O; running captures end with a failure."""
        check(library().TqdevCancelIo(self.index), "TqdevCancelIo")

    # ---- synchronous operations ------------------------------------------

    def info(self) -> CameraInfo:
        """The camera's information: sensor size, model, serial number, capability flags."""
        record = r.CAMERA_INFO()
        check(library().TqdevCameraInfo(self.index, byref(record)), "TqdevCameraInfo")
        return CameraInfo.from_record(record)

    def extended_info(self) -> r.EXTENDED_CAMERA_INFO:
        """The extended information record, with the blocks the capability flags announce."""
        record = r.EXTENDED_CAMERA_INFO()
        check(library().TqdevExtendedCameraInfo(self.index, byref(record)),
              "TqdevExtendedCameraInfo")
        return record

    def state(self) -> bytes:
        """The device state, the driver's 88 bytes."""
        record = r.DEVICE_STATE()
        check(library().TqdevGetDeviceState(self.index, byref(record)), "TqdevGetDeviceState")
        return bytes(record.driver_data)

    def read_register(self, register: int) -> int:
        """Reads one of the camera's 32-bit registers."""
        value = c_uint32(0)
        check(library().TqdevReadRegister(self.index, _word("register", register), byref(value)),
              "TqdevReadRegister")
        return value.value

    def write_register(self, register: int, value: int) -> None:
        """Writes one of the camera's 32-bit registers."""
        check(library().TqdevWriteRegister(self.index, _word("register", register),
                                           _word("value", value)), "TqdevWriteRegister")

    def flaws(self) -> list[tuple[int, ...]]:
        """The camera's defect list, five words per entry."""
        count, second = c_int32(0), c_uint32(0)
        check(library().TqdevReadFlaws(self.index, byref(count), byref(second), None),
              "TqdevReadFlaws")
        if count.value <= 0:
            return []
        entries = (r.FLAW * count.value)()
        check(library().TqdevReadFlaws(self.index, byref(count), byref(second), entries),
              "TqdevReadFlaws")
        return [tuple(e.words) for e in entries]

    def write_flaws(self, entries: Sequence[Sequence[int]]) -> None:
        """Appends defect entries (0 to 128, five words each); none empties the list."""
        entries = list(entries)
        if len(entries) > 128:
            raise ValueError("at most 128 defect entries per write")
        array = (r.FLAW * max(len(entries), 1))()
        for i, entry in enumerate(entries):
            if len(entry) != 5:
                raise ValueError("a defect entry has five words")
            array[i].words[:] = [_word("defect word", w) for w in entry]
        check(library().TqdevWriteFlaws(self.index, len(entries), array), "TqdevWriteFlaws")

    def write_matrix(self, matrix: Iterable[float]) -> None:
        """Writes the colour transform matrix (nine numbers)."""
        values = [float(v) for v in np.asarray(matrix, dtype=float).ravel()]
        if len(values) != 9:
            raise ValueError("the matrix has nine values")
        check(library().TqdevWriteXFormMatrix(self.index, (ctypes.c_float * 9)(*values)),
              "TqdevWriteXFormMatrix")

    def write_bayer_pattern(self, pattern: int) -> None:
        """Writes the colour filter pattern code (one byte)."""
        check_int("pattern", pattern, 0, 0xFF)
        check(library().TqdevWriteBayerPattern(self.index, pattern), "TqdevWriteBayerPattern")

    def write_average_dark(self, level: int) -> None:
        """Writes the average dark level (16 bits)."""
        check_int("level", level, 0, 0xFFFF)
        check(library().TqdevWriteAverageDark(self.index, level), "TqdevWriteAverageDark")

    def write_tap_gains(self, gains: Iterable[float]) -> None:
        """Writes one gain per readout tap."""
        values = [float(g) for g in gains]
        array = (ctypes.c_float * max(len(values), 1))(*values)
        check(library().TqdevWriteTapGain(self.index, len(values), array), "TqdevWriteTapGain")

    def integration_time(self) -> int:
        """The integration time in microseconds."""
        value, guard = c_uint32(0), c_uint32(0)
        check(library().TqdevGetIntegrationTime(self.index, byref(value), byref(guard), None),
              "TqdevGetIntegrationTime")
        return value.value

    def capture_state(self, ticket: int) -> int:
        """Where the capture with this ticket stands: 0 queued, the driver's word, 4, 5 complete."""
        state = c_int32(0)
        check(library().TqdevGetCaptureState(self.index, ctypes.c_int32(_word("ticket", ticket)),
                                             byref(state)), "TqdevGetCaptureState")
        return state.value

    # ---- geometry ----------------------------------------------------------

    def frame_size(self, settings: Optional[Settings] = None, mode: str = "single") -> int:
        """Bytes of one frame buffer for these settings (a container with packed output)."""
        params = _settings(settings).params(_mode(mode))
        size = c_uint32(0)
        check(library().TqdevFrameSize(self.index, byref(params), byref(size)), "TqdevFrameSize")
        return size.value

    def write_settings(self, settings: Optional[Settings] = None, mode: str = "single") -> None:
        """Hands capture settings to the camera without capturing."""
        params = _settings(settings).params(_mode(mode))
        check(library().TqdevWriteCaptureParams(self.index, byref(params)),
              "TqdevWriteCaptureParams")

    def frame_info(self, settings: Optional[Settings] = None) -> r.FRAME_INFO:
        """The frame descriptor the camera gives for these settings.

        Taken from the header of one packed single capture (the library hands the
        descriptor out only there), so it costs a frame.
        """
        probe = replace(_settings(settings), packed=True, stamp=False)
        params = probe.params(SINGLE)
        size = self.frame_size(probe)
        frames = Frames(1, max(size, r.IMAGE_HEADER_SIZE), None, True)
        params.buffer = frames.pointer(0)
        check(library().TqdevCaptureImage(self.index, byref(params), None), "TqdevCaptureImage")
        return r.IMAGE_HEADER.from_buffer_copy(frames.frame(0)[: r.IMAGE_HEADER_SIZE]).frame_info

    def shape(self, settings: Optional[Settings] = None) -> tuple[int, int]:
        """(rows, columns) of the images these settings give; remembered per settings."""
        settings = _settings(settings)
        # Exposure and output form do not change the image's geometry.
        key = replace(settings, packed=False, stamp=False, exposure_us=0)
        if key not in self._shapes:
            self._shapes[key] = self.frame_info(settings).shape
        return self._shapes[key]

    # ---- captures ----------------------------------------------------------

    def _prepare(self, settings: Settings, mode: int, frames: int):
        if mode == AVERAGED:
            check_int("frames", frames, 1, 0x7FFFFFFF)
            if settings.packed:
                raise ValueError("averaged captures deliver pixels, not packed output")
        shape = None if settings.packed else self.shape(settings)
        params = settings.params(mode)
        size = c_uint32(0)
        check(library().TqdevFrameSize(self.index, byref(params), byref(size)), "TqdevFrameSize")
        count = 3 if mode == SEQUENCE else 1
        buffers = Frames(count, size.value, shape, settings.packed)
        if mode == SEQUENCE:
            for i in range(3):
                params.sequence_buffers[i] = buffers.pointer(i)
        else:
            params.buffer = buffers.pointer(0)
        if mode == AVERAGED:
            params.frame_count = frames
        return params, buffers

    def capture(self, settings: Optional[Settings] = None, mode: str = "single",
                frames: int = 4):
        """Captures and waits.

        single, averaged (over `frames` frames): a (rows, columns) numpy.uint16 image;
        sequence: a (3, rows, columns) array. With packed output: the container as
        bytes (a list of three for a sequence); decode with tqdev.unpack.
        """
        settings, number = _settings(settings), _mode(mode)
        if number == LIVE_FOCUS:
            raise ValueError("live focus runs with Camera.live()")
        params, buffers = self._prepare(settings, number, frames)
        check(library().TqdevCaptureImage(self.index, byref(params), None), "TqdevCaptureImage")
        return capture_result(number, buffers)

    def capture_async(self, settings: Optional[Settings] = None, mode: str = "single",
                      frames: int = 4,
                      on_progress: Optional[Callable[[int], None]] = None
                      ) -> "CaptureFuture":
        """Starts a capture and returns a future of what capture() would return.

        on_progress(100) is called on a library thread when the capture has ended,
        after the future is complete; the future's `percent` follows it meanwhile.
        """
        settings, number = _settings(settings), _mode(mode)
        if number == LIVE_FOCUS:
            raise ValueError("live focus runs with Camera.live()")
        if on_progress is not None and not callable(on_progress):
            raise TypeError("on_progress must be callable")
        params, buffers = self._prepare(settings, number, frames)
        return AsyncCapture(self.index, params, buffers, number, on_progress).start()

    def live(self, settings: Optional[Settings] = None, ring: int = 3, keep: int = 2,
             on_frame: Optional[Callable[[object], None]] = None) -> "LiveView":
        """Live focus: frames from a ring of `ring` buffers until stopped.

        Iterate the returned view (or use it as a context manager) for frames; at most
        `keep` unread frames are held, older ones are dropped. on_frame(frame) is
        called on the library's thread for every frame instead, if given.
        """
        return LiveView(self, _settings(settings), ring, keep, on_frame)
