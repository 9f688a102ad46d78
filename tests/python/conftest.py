"""Shared fixtures and helpers of the Python tests: simulated cameras, the frame formula
in numpy, and the check that nothing is left behind after a test."""

from __future__ import annotations

import os
import sys
from pathlib import Path

import numpy as np
import pytest

ROOT = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("TQDEV_BUILD_DIR", ROOT / "build" / "default"))
os.environ.setdefault(
    "TQDEV_LIBRARY_DIR",
    os.pathsep.join([str(BUILD / "library"), str(BUILD / "platform" / "posix")]))
sys.path.insert(0, str(ROOT / "python"))

import tqdev  # noqa: E402
from tqdev import _dispatch  # noqa: E402

DARK_COLUMNS = 4


def pattern(line, column, frame, seed):
    """The simulator's pattern sample, vectorised over line and column arrays."""
    def u32(v):
        return np.asarray(v, dtype=np.uint32)

    with np.errstate(over="ignore"):
        x = (u32(line) * np.uint32(0x9E3779B1)) ^ (u32(column) * np.uint32(0x85EBCA77))
        x = x ^ (u32(seed) * np.uint32(0x27D4EB2F))
        x ^= x >> np.uint32(15)
        x *= np.uint32(0x2C1B3C6D)
        x ^= x >> np.uint32(12)
        x *= np.uint32(0x297A2D39)
        x ^= x >> np.uint32(15)
        mask = (u32(frame) * np.uint32(0x9E5)) & np.uint32(0xFFF)
    return ((x & np.uint32(0xFFF)) ^ mask).astype(np.int64)


def expected_image(settings: tqdev.Settings, frame: int, sensor=(1024, 768), seed=1):
    """The 16-bit image that frame number `frame` of these settings unpacks to."""
    left, top, width, height = settings.window or (0, 0, sensor[0], sensor[1])
    hb, vb = settings.binning
    m, n = height // vb, width // hb
    lines = top + np.arange(m * vb)
    columns = left + np.arange(n * hb)
    samples = pattern(lines[:, None], columns[None, :], frame, seed)
    rows = np.minimum(samples.reshape(m, vb, n * hb).sum(axis=1), 4095)
    binned = rows.reshape(m, n, hb)
    image = binned[:, :, 0] if settings.subsample else np.minimum(binned.sum(axis=2), 4095)
    if settings.mirror:
        image = image[:, ::-1]
    if settings.flip:
        image = image[::-1, :]
    return image.astype(np.uint16)


@pytest.fixture(autouse=True)
def nothing_left_behind():
    """Every test starts from a clean simulator and leaves nothing behind."""
    tqdev.terminate()
    tqdev.sim.reset()
    yield
    tqdev.terminate()
    tqdev.sim.reset()
    assert tqdev.sim.accounting() == (0, 0, 0)
    assert _dispatch.pending_count() == 0


@pytest.fixture
def sim_camera():
    """A plugged default simulated camera (library index 0)."""
    return tqdev.sim.plug()


@pytest.fixture
def camera(sim_camera):
    """The simulated camera, opened."""
    with tqdev.Camera(0) as cam:
        yield cam
