"""Capture settings: the window, binning and readout a camera is asked for."""

from __future__ import annotations

from dataclasses import dataclass
from typing import Optional, Tuple

from . import _protocol as p
from . import _records as r
from ._lib import check_int

SINGLE, AVERAGED, SEQUENCE, LIVE_FOCUS = 0, 1, 2, 3
MODES = {"single": SINGLE, "averaged": AVERAGED, "sequence": SEQUENCE, "live": LIVE_FOCUS}

FLAG_PACKED_OUTPUT = 0x8
FLAG_LIVE_FOCUS = 0x800
FLAG_CALIBRATION_STAMP = 0x40000000

WORD_MAX = 0xFFFFFFFF

# The camera driver's readout switches.
READOUT_MIRROR = p.READOUT_MIRROR
READOUT_FLIP = p.READOUT_FLIP
READOUT_SUBSAMPLE = p.READOUT_SUBSAMPLE
READOUT_PHASE1 = p.READOUT_PHASE1


@dataclass(frozen=True)
class Settings:
    """What a capture asks of the camera.

    window: (left, top, width, height) on the sensor, or None for the whole sensor;
    binning: (horizontal, vertical) factors; exposure_us: 0 for the camera's own;
    packed: deliver packed containers instead of 16-bit pixels;
    stamp: write the calibration stamp into single and averaged images.
    """

    window: Optional[Tuple[int, int, int, int]] = None
    binning: Tuple[int, int] = (1, 1)
    mirror: bool = False
    flip: bool = False
    subsample: bool = False
    exposure_us: int = 0
    packed: bool = False
    stamp: bool = False

    def __post_init__(self):
        if self.window is not None:
            if not isinstance(self.window, (tuple, list)) or len(self.window) != 4:
                raise TypeError("window must be (left, top, width, height)")
            for name, value in zip(("left", "top", "width", "height"), self.window):
                check_int(f"window {name}", value, 1 if name in ("width", "height") else 0, 0xFFFF)
            object.__setattr__(self, "window", tuple(self.window))
        if not isinstance(self.binning, (tuple, list)) or len(self.binning) != 2:
            raise TypeError("binning must be (horizontal, vertical)")
        for name, value in zip(("horizontal", "vertical"), self.binning):
            check_int(f"{name} binning", value, 1, 0xFF)
        object.__setattr__(self, "binning", tuple(self.binning))
        check_int("exposure_us", self.exposure_us, 0, WORD_MAX)
        for name in ("mirror", "flip", "subsample", "packed", "stamp"):
            if not isinstance(getattr(self, name), bool):
                raise TypeError(f"{name} must be a bool")

    def params(self, mode: int) -> r.CAPTURE_PARAMS:
        """A capture record for this mode with these settings (buffers not yet set)."""
        params = r.CAPTURE_PARAMS()
        params.mode = mode
        params.flags = (FLAG_PACKED_OUTPUT if self.packed else 0) | (
            FLAG_CALIBRATION_STAMP if self.stamp else 0
        )
        left, top, width, height = self.window or (0, 0, 0, 0)
        params.setup_words[0] = p.setup_word(left, top)
        params.setup_words[1] = p.setup_word(width, height)
        h, v = self.binning
        params.extra_words[0] = (
            p.readout_binning(h, v)
            | (READOUT_MIRROR if self.mirror else 0)
            | (READOUT_FLIP if self.flip else 0)
            | (READOUT_SUBSAMPLE if self.subsample else 0)
        )
        params.extra_words[1] = self.exposure_us
        return params

    def settings_record(self, mode: int = SINGLE) -> r.CAPTURE_SETTINGS:
        """The driver's form of these settings (what the camera is sent)."""
        params = self.params(mode)
        record = r.CAPTURE_SETTINGS()
        record.mode = params.mode
        record.flags = params.flags
        record.setup_words[:] = params.setup_words[:]
        record.extra_words[:] = params.extra_words[:]
        return record
