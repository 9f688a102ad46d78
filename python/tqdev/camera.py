"""Cameras: listing, opening, synchronous operations and captures as numpy arrays."""

from __future__ import annotations

import atexit
import collections
import concurrent.futures
import ctypes
import threading
from ctypes import byref, c_int32, c_uint32
from dataclasses import dataclass
from typing import Callable, Iterable, Optional, Sequence

import numpy as np

from . import _dispatch
from . import _records as r
from ._lib import TqdevError, check, library
from .settings import AVERAGED, LIVE_FOCUS, MODES, SEQUENCE, SINGLE, Settings

RESULT_LIVE_FOCUS_STOPPED = 25

_session_lock = threading.Lock()
_initialised = False
_live_views: "set[LiveView]" = set()


def init() -> None:
    """Sets the library up (once; later calls do nothing). Called by everything that needs it."""
    global _initialised
    with _session_lock:
        if not _initialised:
            check(library().TqdevInitLibrary(), "TqdevInitLibrary")
            _initialised = True


def terminate() -> None:
    """Stops live views, closes every camera and shuts the library down.

    Must not be called from a tqdev callback. Cameras get new indices after the next init().
    """
    global _initialised
    for view in list(_live_views):
        view.stop()
    with _session_lock:
        if _initialised:
            check(library().TqdevTerminateLibrary(), "TqdevTerminateLibrary")
            _initialised = False


atexit.register(terminate)


def enable_diagnostics(enable: bool = True) -> None:
    """Switches the library's diagnostics on standard output on or off."""
    library().TqdevEnableDebugPrint(1 if enable else 0)


def version() -> tuple[int, int, str, str]:
    """(major, minor, version text, build stamp) of the library."""
    record = r.LIBRARY_VERSION()
    check(library().TqdevLibraryVersion(byref(record)), "TqdevLibraryVersion")
    return (record.MajorVersion, record.MinorVersion, record.VersionString.decode(),
            record.BuildDate.decode())


@dataclass(frozen=True)
class CameraDescription:
    """One attached camera as the device list describes it."""

    index: int
    device_type: int
    device_subtype: int
    name: str
    serial_number: str
    version: str
    driver_version: str


def cameras() -> list[CameraDescription]:
    """The attached cameras, newest first."""
    init()
    array = r.DEVICE_ARRAY()
    check(library().TqdevCreateDeviceArray(byref(array)), "TqdevCreateDeviceArray")
    try:
        found = []
        for i in range(array.DeviceCount):
            d = array.Devices[i]
            found.append(CameraDescription(
                d.DeviceIndex, d.DeviceType, d.DeviceSubtype, d.DeviceName.decode(errors="replace"),
                d.SerialNumber.decode(errors="replace"), d.VersionString.decode(errors="replace"),
                d.DriverVersionString.decode(errors="replace")))
        return found
    finally:
        library().TqdevDestroyDeviceArray(byref(array))


def on_hotplug(callback: Optional[Callable[[str, int], None]]) -> None:
    """Calls callback("added" | "removed", index) on a library thread for every camera
    plugged in or removed; None stops delivery."""
    if callback is not None and not callable(callback):
        raise TypeError("callback must be callable or None")
    init()
    _dispatch.set_notify_user(callback)
    thunk = _dispatch.NOTIFY_THUNK if callback is not None else r.NOTIFY_CALLBACK()
    check(library().TqdevRegisterNotification(thunk, 0), "TqdevRegisterNotification")


def _index(value) -> int:
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError(f"a camera index is an int, not {type(value).__name__}")
    if not 0 <= value <= 0xFFFFFFFF:
        raise ValueError(f"camera index {value} is out of range")
    return value


def _word(name: str, value) -> int:
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError(f"{name} must be an int")
    if not 0 <= value <= 0xFFFFFFFF:
        raise ValueError(f"{name} must fit in 32 bits")
    return value


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


class _Frames:
    """The buffers of one capture and how to read frames out of them."""

    def __init__(self, count: int, size: int, shape: Optional[tuple[int, int]], packed: bool):
        self.size = size
        self.shape = shape
        self.packed = packed
        # 16-bit elements keep pixels aligned; one spare element for odd sizes.
        self.buffers = [np.zeros((size + 1) // 2, dtype=np.uint16) for _ in range(count)]

    def pointer(self, i: int) -> int:
        return self.buffers[i].ctypes.data

    def frame(self, i: int):
        buffer = self.buffers[i]
        if self.packed:
            return buffer.view(np.uint8)[: self.size].tobytes()
        rows, columns = self.shape
        return buffer[: rows * columns].reshape(rows, columns).copy()


class Camera:
    """One camera, opened for I/O. Use as a context manager: `with tqdev.Camera(0) as cam:`."""

    def __init__(self, index: int):
        self.index = _index(index)
        self.is_open = False
        self._shapes: dict[Settings, tuple[int, int]] = {}

    # ---- channel ----------------------------------------------------------

    def open(self) -> "Camera":
        init()
        check(library().TqdevOpenDevice(self.index), "TqdevOpenDevice")
        self.is_open = True
        return self

    def close(self) -> None:
        if self.is_open:
            self.is_open = False
            code = library().TqdevCloseDevice(self.index)
            # An unplugged camera is closed already.
            if code not in (0, 8):
                raise TqdevError(code, "TqdevCloseDevice")

    def __enter__(self) -> "Camera":
        return self.open()

    def __exit__(self, *exc) -> None:
        self.close()

    def cancel(self) -> None:
        """Cancels the camera's outstanding I/O; running captures end with a failure."""
        check(library().TqdevCancelIo(self.index), "TqdevCancelIo")

    # ---- synchronous operations ------------------------------------------

    def info(self) -> r.CAMERA_INFO:
        """Camera information (driver data with the capability flags)."""
        record = r.CAMERA_INFO()
        check(library().TqdevCameraInfo(self.index, byref(record)), "TqdevCameraInfo")
        return record

    def extended_info(self) -> r.EXTENDED_CAMERA_INFO:
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
        value = c_uint32(0)
        check(library().TqdevReadRegister(self.index, _word("register", register), byref(value)),
              "TqdevReadRegister")
        return value.value

    def write_register(self, register: int, value: int) -> None:
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
        if isinstance(pattern, bool) or not isinstance(pattern, int):
            raise TypeError("pattern must be an int")
        if not 0 <= pattern <= 255:
            raise ValueError("pattern is one byte")
        check(library().TqdevWriteBayerPattern(self.index, pattern), "TqdevWriteBayerPattern")

    def write_average_dark(self, level: int) -> None:
        if isinstance(level, bool) or not isinstance(level, int):
            raise TypeError("level must be an int")
        if not 0 <= level <= 0xFFFF:
            raise ValueError("level is 16 bits")
        check(library().TqdevWriteAverageDark(self.index, level), "TqdevWriteAverageDark")

    def write_tap_gains(self, gains: Iterable[float]) -> None:
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
        probe = Settings(**{**_settings(settings).__dict__, "packed": True, "stamp": False})
        params = probe.params(SINGLE)
        size = self.frame_size(probe)
        frames = _Frames(1, max(size, r.IMAGE_HEADER_SIZE), None, True)
        params.buffer = frames.pointer(0)
        check(library().TqdevCaptureImage(self.index, byref(params), None), "TqdevCaptureImage")
        return r.IMAGE_HEADER.from_buffer_copy(frames.frame(0)[: r.IMAGE_HEADER_SIZE]).frame_info

    def shape(self, settings: Optional[Settings] = None) -> tuple[int, int]:
        """(rows, columns) of the images these settings give; remembered per settings."""
        settings = _settings(settings)
        # Exposure and output form do not change the image's geometry.
        key = Settings(**{**settings.__dict__, "packed": False, "stamp": False, "exposure_us": 0})
        if key not in self._shapes:
            self._shapes[key] = self.frame_info(settings).shape
        return self._shapes[key]

    # ---- captures ----------------------------------------------------------

    def _prepare(self, settings: Settings, mode: int, frames: int):
        if mode == AVERAGED:
            if isinstance(frames, bool) or not isinstance(frames, int):
                raise TypeError("frames must be an int")
            if frames < 1:
                raise ValueError("an averaged capture needs at least one frame")
            if settings.packed:
                raise ValueError("averaged captures deliver pixels, not packed output")
        shape = None if settings.packed else self.shape(settings)
        params = settings.params(mode)
        size = c_uint32(0)
        check(library().TqdevFrameSize(self.index, byref(params), byref(size)), "TqdevFrameSize")
        count = 3 if mode == SEQUENCE else 1
        buffers = _Frames(count, size.value, shape, settings.packed)
        if mode == SEQUENCE:
            for i in range(3):
                params.sequence_buffers[i] = buffers.pointer(i)
        else:
            params.buffer = buffers.pointer(0)
        if mode == AVERAGED:
            params.frame_count = frames
        return params, buffers

    @staticmethod
    def _result(mode: int, buffers: _Frames):
        if mode == SEQUENCE:
            frames = [buffers.frame(i) for i in range(3)]
            return frames if buffers.packed else np.stack(frames)
        return buffers.frame(0)

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
        return self._result(number, buffers)

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
        return _AsyncCapture(self.index, params, buffers, number, on_progress).start()

    def live(self, settings: Optional[Settings] = None, ring: int = 3, keep: int = 2,
             on_frame: Optional[Callable[[object], None]] = None) -> "LiveView":
        """Live focus: frames from a ring of `ring` buffers until stopped.

        Iterate the returned view (or use it as a context manager) for frames; at most
        `keep` unread frames are held, older ones are dropped. on_frame(frame) is
        called on the library's thread for every frame instead, if given.
        """
        return LiveView(self, _settings(settings), ring, keep, on_frame)


class CaptureFuture(concurrent.futures.Future):
    """The future result of an asynchronous capture. `percent` is how far the library
    reports it (averaged captures count their frames); Camera.cancel() ends it early."""

    def __init__(self, progress: r.PROGRESS):
        super().__init__()
        self._record = progress

    @property
    def percent(self) -> int:
        return 100 if self.done() else self._record.Percent


class _AsyncCapture:
    def __init__(self, index, params, buffers, mode, on_progress):
        self.index = index
        self.params = params
        self.buffers = buffers
        self.mode = mode
        self.on_progress = on_progress
        self.progress = r.PROGRESS()
        self.future = CaptureFuture(self.progress)
        self.key = 0

    def start(self) -> CaptureFuture:
        self.key = _dispatch.register(self)
        self.progress.Callback = _dispatch.PROGRESS_THUNK
        self.progress.UserData = self.key
        code = library().TqdevCaptureImage(self.index, byref(self.params), byref(self.progress))
        if code != 0:
            # The refusal was delivered through the record already, on this thread.
            _dispatch.unregister(self.key)
            raise TqdevError(code, "TqdevCaptureImage")
        return self.future

    def _progress(self, result: int) -> None:
        # The only call for a non-live capture: its end.
        _dispatch.unregister(self.key)
        if self.future.done():
            return
        if result != 0:
            self.future.set_exception(TqdevError(result, "TqdevCaptureImage"))
        else:
            self.future.set_result(Camera._result(self.mode, self.buffers))
        if self.on_progress is not None:
            try:
                self.on_progress(100)
            except BaseException:
                _dispatch.report_exception("on_progress")


class LiveView:
    """A running live-focus capture. Iterating yields frames until stop(); a capture that
    fails (a camera unplugged) raises TqdevError from the iteration."""

    def __init__(self, camera: Camera, settings: Settings, ring: int, keep: int,
                 on_frame: Optional[Callable[[object], None]]):
        if isinstance(ring, bool) or ring not in (2, 3):
            raise ValueError("the ring holds 2 or 3 buffers")
        if isinstance(keep, bool) or not isinstance(keep, int) or keep < 1:
            raise ValueError("keep must be an int of at least 1")
        if on_frame is not None and not callable(on_frame):
            raise TypeError("on_frame must be callable")
        self.camera = camera
        self.settings = settings
        self.on_frame = on_frame
        self.frames_received = 0
        self.frames_dropped = 0
        self.result: Optional[int] = None  # the final result once ended
        self._queue: collections.deque = collections.deque()
        self._keep = keep
        self._cond = threading.Condition()
        self._ended = threading.Event()
        self._key = 0
        self._stopping = False
        shape = None if settings.packed else camera.shape(settings)
        self.params = settings.params(LIVE_FOCUS)
        self.params.ring_size = ring
        size = c_uint32(0)
        check(library().TqdevFrameSize(camera.index, byref(self.params), byref(size)),
              "TqdevFrameSize")
        self.buffers = _Frames(ring, size.value, shape, settings.packed)
        for i in range(ring):
            self.params.ring_buffers[i] = self.buffers.pointer(i)
        self.progress = r.PROGRESS()
        self.started = False

    @property
    def shape(self) -> Optional[tuple[int, int]]:
        return self.buffers.shape

    def start(self) -> "LiveView":
        if self.started:
            return self
        self.started = True
        self._key = _dispatch.register(self)
        self.progress.Callback = _dispatch.PROGRESS_THUNK
        self.progress.UserData = self._key
        _live_views.add(self)
        code = library().TqdevCaptureImage(self.camera.index, byref(self.params),
                                           byref(self.progress))
        if code != 0:
            self._finish(code)
            raise TqdevError(code, "TqdevCaptureImage")
        return self

    def _finish(self, result: int) -> None:
        _dispatch.unregister(self._key)
        _live_views.discard(self)
        with self._cond:
            self.result = result
            self._cond.notify_all()
        self._ended.set()

    def _progress(self, result: int) -> None:
        # Every frame arrives with result 0; the last one with 25 after a stop.
        if result in (0, RESULT_LIVE_FOCUS_STOPPED):
            frame = self.buffers.frame(self.params.ring_index % len(self.buffers.buffers))
            self.frames_received += 1
            if self.on_frame is not None:
                try:
                    self.on_frame(frame)
                except BaseException:
                    _dispatch.report_exception("on_frame")
            else:
                with self._cond:
                    if len(self._queue) >= self._keep:
                        self._queue.popleft()
                        self.frames_dropped += 1
                    self._queue.append(frame)
                    self._cond.notify_all()
        if result != 0:
            self._finish(result)

    def stop(self, timeout: Optional[float] = None) -> None:
        """Ends live focus at its next frame and waits until the library is done with the ring."""
        if not self.started or self._ended.is_set():
            return
        if not self._stopping:
            self._stopping = True
            if library().TqdevCancelLiveFocus(self.camera.index) != 0:
                library().TqdevCancelIo(self.camera.index)
        self._ended.wait(timeout)

    @property
    def running(self) -> bool:
        return self.started and not self._ended.is_set()

    def next_frame(self, timeout: Optional[float] = None):
        """The oldest unread frame; None on timeout or when stopped; raises when failed."""
        with self._cond:
            if not self._cond.wait_for(lambda: self._queue or self.result is not None, timeout):
                return None
            if self._queue:
                return self._queue.popleft()
            if self.result not in (RESULT_LIVE_FOCUS_STOPPED,):
                raise TqdevError(self.result, "live focus")
            return None

    def __iter__(self):
        self.start()
        while True:
            frame = self.next_frame()
            if frame is None:
                return
            yield frame

    def __enter__(self) -> "LiveView":
        return self.start()

    def __exit__(self, *exc) -> None:
        self.stop()
