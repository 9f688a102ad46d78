"""The camera driver's interface as the package uses it: the settings-word encodings and
the camera-information fields. protocol/tqdev_protocol.h is where they are written; the
layout test holds this copy to it."""

# Settings words: origin and size in 16-bit halves (low: left or width, high: top or
# height); the readout word's binning in bits 0..7 (horizontal) and 8..15 (vertical).
SETUP_HIGH_SHIFT = 16
READOUT_V_BINNING_SHIFT = 8
READOUT_MIRROR = 0x10000
READOUT_FLIP = 0x20000
READOUT_SUBSAMPLE = 0x40000
READOUT_PHASE1 = 0x80000

# Byte offsets into the camera-information record's driver_data.
INFO_SENSOR_WIDTH = 0
INFO_SENSOR_HEIGHT = 4
INFO_BITS_PER_SAMPLE = 8
INFO_MAX_BINNING = 12
INFO_MODEL = 16
INFO_SERIAL = 56
INFO_TEXT_SIZE = 40


def setup_word(low: int, high: int) -> int:
    """A settings word of two 16-bit halves."""
    return (high << SETUP_HIGH_SHIFT) | low


def readout_binning(horizontal: int, vertical: int) -> int:
    """The readout word's binning bits."""
    return (vertical << READOUT_V_BINNING_SHIFT) | horizontal
