"""Simulated cameras (Linux): plug, unplug, script the driver, inject faults, and the
simulator's accounting of what is left behind."""

from __future__ import annotations

import ctypes
from ctypes import byref, c_char_p, c_int32, c_uint8, c_uint32
from dataclasses import dataclass

from ._lib import simulator


class REGISTRY_VALUE(ctypes.Structure):
    """One value of a simulated camera's registry key, as in tqsim.h."""

    _fields_ = [("name", c_char_p), ("present", c_int32), ("size", c_uint32),
                ("data", c_uint8 * 256)]


class CAMERA_CONFIG(ctypes.Structure):
    """What a simulated camera is plugged with, as in tqsim.h."""

    _fields_ = [("registry", REGISTRY_VALUE * 12), ("sensor_width", c_uint32),
                ("sensor_height", c_uint32), ("capability_flags", c_uint32), ("seed", c_uint32),
                ("frame_period_us", c_uint32), ("exposure_us", c_uint32),
                ("deliver_unpacked", c_uint32), ("reserved", c_uint32 * 9)]


def _sim():
    sim = simulator()
    if not hasattr(sim, "_config_declared"):
        sim.TqsimDefaultCamera.argtypes = [ctypes.POINTER(CAMERA_CONFIG)]
        sim.TqsimDefaultCamera.restype = None
        sim.TqsimGetConfig.argtypes = [c_uint32, ctypes.POINTER(CAMERA_CONFIG)]
        sim.TqsimGetConfig.restype = ctypes.c_int
        sim._config_declared = True
    return sim


class SimError(RuntimeError):
    """The simulator refused a control call (unknown or unplugged camera, bad geometry)."""


def _ok(code: int, what: str) -> None:
    if code != 0:
        raise SimError(f"{what} failed")


@dataclass
class SimCamera:
    """A plugged simulated camera; `id` is the simulator's, not the library's index."""

    id: int

    def unplug(self) -> None:
        """Unplugs the camera, as pulling its cable would."""
        _ok(_sim().TqsimUnplugCamera(self.id), "unplug")

    def config(self) -> CAMERA_CONFIG:
        """The config the camera runs with now."""
        config = CAMERA_CONFIG()
        _ok(_sim().TqsimGetConfig(self.id, byref(config)), "config")
        return config

    def frame_count(self) -> int:
        """Frames delivered so far: the number the next frame gets."""
        count = c_uint32(0)
        _ok(_sim().TqsimFrameCount(self.id, byref(count)), "frame count")
        return count.value

    def set_timing(self, frame_period_us: int = 0, exposure_us: int = 0) -> None:
        """Changes the frame period and exposure for requests served from now on."""
        _ok(_sim().TqsimSetTiming(self.id, frame_period_us, exposure_us), "timing")

    def set_delivery(self, unpacked: bool) -> None:
        """Makes the camera deliver unpacked (True) or packed frames from now on."""
        _ok(_sim().TqsimSetDelivery(self.id, 1 if unpacked else 0), "delivery")

    def script_result(self, request: int, result: int) -> None:
        """The next driver request with this number completes with this result."""
        _ok(_sim().TqsimScriptResult(self.id, request, result), "script")

    def refuse_call(self, code: int, error: int) -> None:
        """The next call with this control code fails with this system error."""
        _ok(_sim().TqsimRefuseCall(self.id, code, error), "refuse")

    def hold(self, hold: bool = True) -> None:
        """Holds the requests issued from now on pending (False resumes service)."""
        _ok(_sim().TqsimHoldRequests(self.id, 1 if hold else 0), "hold")

    def release(self) -> None:
        """Serves every request issued so far, even while holding."""
        _ok(_sim().TqsimReleaseRequests(self.id), "release")

    def clear_scripts(self) -> None:
        """Forgets the camera's scripted results and refusals; a hold stays."""
        _ok(_sim().TqsimClearScripts(self.id), "clear scripts")

    def register(self, address: int) -> int:
        """A register's value as the camera holds it."""
        value = c_uint32(0)
        _ok(_sim().TqsimReadRegister(self.id, address, byref(value)), "register")
        return value.value


def default_config() -> CAMERA_CONFIG:
    """A default camera's config (1024 x 768, seed 1, no timing), to change and plug."""
    config = CAMERA_CONFIG()
    _sim().TqsimDefaultCamera(byref(config))
    return config


def plug(config: CAMERA_CONFIG | None = None, *, width: int | None = None,
         height: int | None = None, seed: int | None = None,
         frame_period_us: int | None = None) -> SimCamera:
    """Plugs a simulated camera (the default one, changed as given)."""
    config = config if config is not None else default_config()
    for name, value in (("sensor_width", width), ("sensor_height", height), ("seed", seed),
                        ("frame_period_us", frame_period_us)):
        if value is not None:
            setattr(config, name, value)
    camera = c_uint32(0)
    _ok(_sim().TqsimPlugCamera(byref(config), byref(camera)), "plug")
    return SimCamera(camera.value)


def reset() -> None:
    """Unplugs every camera, stops the plug timer, clears scripts and faults."""
    _sim().TqsimReset()


def start_plug_timer(period_ms: int, max_cameras: int) -> None:
    """Every period_ms plugs a default camera, or unplugs the oldest once max_cameras are
    plugged; 0 stops the timer."""
    _sim().TqsimStartPlugTimer(period_ms, max_cameras)


def fail_call(function: str, nth: int, error: int) -> None:
    """Makes the nth next call of a platform function fail with this error."""
    _ok(_sim().TqsimFailCall(function.encode(), nth, error), "fault")


def clear_faults() -> None:
    """Forgets every pending fault."""
    _sim().TqsimClearFaults()


def pattern_sample(line: int, column: int, frame: int, seed: int) -> int:
    """The sensor sample the simulated camera makes at this line and column of this frame."""
    return _sim().TqsimPatternSample(line, column, frame, seed)


def accounting() -> tuple[int, int, int]:
    """(open kernel objects, running threads, heap blocks) the simulator counts."""
    sim = _sim()
    return (sim.TqsimOpenHandleCount(), sim.TqsimRunningThreadCount(), sim.TqsimHeapBlockCount())


__all__ = ["SimCamera", "SimError", "CAMERA_CONFIG", "plug", "reset", "default_config",
           "start_plug_timer", "fail_call", "clear_faults", "pattern_sample", "accounting"]
