"""The library's session: setting up and shutting down, the camera list and hot-plug."""

from __future__ import annotations

import atexit
import threading
from ctypes import byref
from dataclasses import dataclass
from typing import Callable, Optional

from . import _dispatch
from . import _records as r
from ._lib import check, library

_session_lock = threading.Lock()
_initialised = False
# Live views still running; terminate() stops them before the library goes.
live_views: set = set()


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
    for view in list(live_views):
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

