"""Finding and loading the library, its prototypes, its result codes as exceptions, and the
check every integer argument passes before a call."""

from __future__ import annotations

import ctypes
import ctypes.util
import enum
import os
import sys
import threading
from ctypes import POINTER, c_char_p, c_int, c_int32, c_size_t, c_uint8, c_uint16, c_uint32
from ctypes import c_uint64, c_void_p
from pathlib import Path
from typing import Optional

from . import _records as r


class Result(enum.IntEnum):
    """The library's result codes, TQDEV_RESULT_* in tqdev.h; other codes are the driver's."""

    OK = 0
    INVALID_PARAMETER = 3
    SYSTEM_ERROR = 4
    INVALID_BUFFER = 5
    CANCELLED = 7
    DEVICE_NOT_FOUND = 8
    DEVICE_NOT_OPEN = 10
    DEVICE_ALREADY_OPEN = 11
    OPEN_FAILED = 12
    OUT_OF_MEMORY = 14
    INVALID_DEVICE = 16
    NOT_INITIALIZED = 18
    LIVE_FOCUS_STOPPED = 25


RESULT_NAMES = {code.value: f"TQDEV_RESULT_{code.name}" for code in Result}


def result_name(code: int) -> str:
    """The name of a library result code, or "driver result N" for a code the driver reported."""
    return RESULT_NAMES.get(code, f"driver result {code}")


class TqdevError(Exception):
    """A call the library refused or a capture that failed; `code` and `name` say why."""

    def __init__(self, code: int, operation: str = ""):
        self.code = int(code)
        self.name = result_name(self.code)
        self.operation = operation
        where = f"{operation}: " if operation else ""
        super().__init__(f"{where}{self.name} ({self.code})")


def check(code: int, operation: str) -> None:
    """Raises TqdevError for any result but OK."""
    if code != Result.OK:
        raise TqdevError(code, operation)


def check_int(name: str, value, low: int, high: Optional[int] = None) -> int:
    """An argument checked before it reaches the library: an int (not a bool) in low..high."""
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError(f"{name} must be an int, not {type(value).__name__}")
    if value < low or (high is not None and value > high):
        limit = f"{low} to {high}" if high is not None else f"at least {low}"
        raise ValueError(f"{name} must be {limit}, not {value}")
    return value


# An installed run-time package may hold only the versioned names.
_LIB_NAMES = (["tqdev_lib64.dll"] if sys.platform == "win32"
              else ["libtqdev_lib64.so", "libtqdev_lib64.so.2"])
_SIM_NAMES = ["libtqsim.so", "libtqsim.so.2"]


def _candidates(name: str) -> list[str]:
    """Where a library is looked for: the folders of TQDEV_LIBRARY_DIR (a path list),
    beside the package, then the system's library path (on Windows, PATH)."""
    folders = [Path(f) for f in os.environ.get("TQDEV_LIBRARY_DIR", "").split(os.pathsep) if f]
    here = Path(__file__).resolve().parent
    folders += [here, here.parent]
    # Run from a checkout: its default build.
    build = here.parent.parent / "build" / "default"
    folders += [build / "library", build / "platform" / "posix"]
    found = [str(f / name) for f in folders if (f / name).exists()]
    # Windows loads a bare DLL name without searching PATH; find_library does.
    if sys.platform == "win32":
        on_path = ctypes.util.find_library(name)
        if on_path:
            found.append(on_path)
    return found + [name]


def _load(names: list[str], mode: int) -> ctypes.CDLL:
    errors = []
    paths = [p for name in names for p in _candidates(name)]
    # Files found in a folder first, then the system's search by name.
    paths = [p for p in paths if os.sep in p] + [p for p in paths if os.sep not in p]
    for path in paths:
        try:
            if sys.platform == "win32":
                return ctypes.WinDLL(path)
            return ctypes.CDLL(path, mode=mode)
        except OSError as error:
            errors.append(f"{path}: {error}")
    raise OSError(f"cannot load {names[0]}; set TQDEV_LIBRARY_DIR. Tried:\n  " +
                  "\n  ".join(errors))


_lock = threading.Lock()
_lib = None
_sim = None


def _declare(lib, name, args, restype=c_uint32):
    function = getattr(lib, name)
    function.argtypes = args
    function.restype = restype


def _declare_library(lib) -> None:
    P = POINTER
    table = {
        "TqdevInitLibrary": [],
        "TqdevTerminateLibrary": [],
        "TqdevCreateDeviceArray": [P(r.DEVICE_ARRAY)],
        "TqdevDestroyDeviceArray": [P(r.DEVICE_ARRAY)],
        "TqdevRegisterNotification": [r.NOTIFY_CALLBACK, c_uint64],
        "TqdevLibraryVersion": [P(r.LIBRARY_VERSION)],
        "TqdevEnableDebugPrint": [c_int32],
        "TqdevOpenDevice": [c_uint32],
        "TqdevCloseDevice": [c_uint32],
        "TqdevCancelIo": [c_uint32],
        "TqdevCameraInfo": [c_uint32, P(r.CAMERA_INFO)],
        "TqdevExtendedCameraInfo": [c_uint32, P(r.EXTENDED_CAMERA_INFO)],
        "TqdevGetDeviceState": [c_uint32, P(r.DEVICE_STATE)],
        "TqdevReadRegister": [c_uint32, c_uint32, P(c_uint32)],
        "TqdevWriteRegister": [c_uint32, c_uint32, c_uint32],
        "TqdevReadFlaws": [c_uint32, P(c_int32), P(c_uint32), P(r.FLAW)],
        "TqdevWriteFlaws": [c_uint32, c_int32, P(r.FLAW)],
        "TqdevWriteXFormMatrix": [c_uint32, P(ctypes.c_float)],
        "TqdevWriteBayerPattern": [c_uint32, c_uint8],
        "TqdevWriteAverageDark": [c_uint32, c_uint16],
        "TqdevWriteTapGain": [c_uint32, c_int32, P(ctypes.c_float)],
        "TqdevFrameSize": [c_uint32, P(r.CAPTURE_PARAMS), P(c_uint32)],
        "TqdevWriteCaptureParams": [c_uint32, P(r.CAPTURE_PARAMS)],
        "TqdevCaptureImage": [c_uint32, P(r.CAPTURE_PARAMS), P(r.PROGRESS)],
        "TqdevCancelLiveFocus": [c_uint32],
        "TqdevGetCaptureState": [c_uint32, c_int32, P(c_int32)],
        "TqdevGetIntegrationTime": [c_uint32, P(c_uint32), P(c_uint32), P(r.PROGRESS)],
        "TqdevUnpackImage": [c_void_p, P(c_uint16), P(c_uint32), ctypes.c_size_t],
    }
    for name, args in table.items():
        _declare(lib, name, args)


def _declare_simulator(sim) -> None:
    P = POINTER
    u = c_uint32
    table = {
        "TqsimPlugCamera": ([c_void_p, P(u)], c_int),
        "TqsimUnplugCamera": ([u], c_int),
        "TqsimReset": ([], None),
        "TqsimStartPlugTimer": ([u, u], None),
        "TqsimDevicePath": ([u, c_char_p, c_size_t], c_int),
        "TqsimScriptResult": ([u, u, u], c_int),
        "TqsimRefuseCall": ([u, u, u], c_int),
        "TqsimFailStatusTransfer": ([u, u], c_int),
        "TqsimHoldRequests": ([u, c_int], c_int),
        "TqsimReleaseRequests": ([u], c_int),
        "TqsimClearScripts": ([u], c_int),
        "TqsimFailCall": ([c_char_p, u, u], c_int),
        "TqsimClearFaults": ([], None),
        "TqsimFrameCount": ([u, P(u)], c_int),
        "TqsimSetTiming": ([u, u, u], c_int),
        "TqsimSetDelivery": ([u, u], c_int),
        "TqsimPatternSample": ([u, u, u, u], c_uint16),
        "TqsimOpenHandleCount": ([], u),
        "TqsimRunningThreadCount": ([], u),
        "TqsimHeapBlockCount": ([], u),
        "TqsimReadRegister": ([u, u, P(u)], c_int),
        "TqsimGetDarkLevel": ([u, P(c_uint16)], c_int),
        "TqsimSetDarkLevel": ([u, c_uint16], c_int),
    }
    for name, (args, restype) in table.items():
        _declare(sim, name, args, restype)


def simulator():
    """libtqsim, the simulated camera driver (Linux only), loaded once."""
    global _sim
    with _lock:
        if _sim is None:
            if sys.platform == "win32":
                raise OSError("simulated cameras exist only on Linux")
            sim = _load(_SIM_NAMES, ctypes.RTLD_GLOBAL)
            _declare_simulator(sim)
            _sim = sim
        return _sim


def library():
    """tqdev_lib64, loaded and declared once."""
    global _lib
    if _lib is not None:
        return _lib
    if sys.platform != "win32":
        # An older library without a run path finds libtqsim through the global scope.
        try:
            simulator()
        except OSError:
            pass
    with _lock:
        if _lib is None:
            lib = _load(_LIB_NAMES, ctypes.RTLD_GLOBAL if sys.platform != "win32" else 0)
            _declare_library(lib)
            _lib = lib
        return _lib
