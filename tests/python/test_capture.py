"""Captures in every mode, checked pixel for pixel against the simulator's frame formula."""

from dataclasses import replace

import numpy as np
import pytest

from conftest import expected_image

import tqdev
from tqdev import Result, Settings

SETTINGS = [
    Settings(),
    Settings(window=(8, 4, 256, 96), binning=(2, 3)),
    Settings(window=(64, 0, 128, 64), mirror=True, flip=True),
    Settings(window=(3, 5, 60, 40), binning=(4, 2), subsample=True),
]


@pytest.mark.parametrize("settings", SETTINGS, ids=range(len(SETTINGS)))
@pytest.mark.parametrize("packed", [False, True])
def test_single_and_sequence_give_the_formula_frames(camera, sim_camera, settings, packed):
    settings = replace(settings, packed=packed)
    camera.shape(settings)  # the descriptor probe takes a frame of its own
    first = sim_camera.frame_count()
    single = camera.capture(settings)
    sequence = camera.capture(settings, "sequence")
    if packed:
        assert isinstance(single, bytes) and len(single) == camera.frame_size(settings)
        single = tqdev.unpack(single)
        sequence = np.stack([tqdev.unpack(c) for c in sequence])
    assert single.dtype == np.uint16
    np.testing.assert_array_equal(single, expected_image(settings, first))
    assert sequence.shape == (3,) + single.shape
    for i in range(3):
        np.testing.assert_array_equal(sequence[i], expected_image(settings, first + 1 + i))


@pytest.mark.parametrize("settings", [Settings(), Settings(window=(16, 8, 100, 50), flip=True)])
def test_averaged_capture_is_the_rounded_mean(camera, sim_camera, settings):
    camera.shape(settings)
    first = sim_camera.frame_count()
    frames = 3
    image = camera.capture(settings, "averaged", frames=frames)
    total = sum(expected_image(settings, first + k).astype(np.int64) for k in range(frames))
    np.testing.assert_array_equal(image, (total + frames // 2) // frames)


def test_asynchronous_capture_completes_its_future(camera, sim_camera):
    settings = Settings(window=(0, 0, 128, 32))
    camera.shape(settings)
    first = sim_camera.frame_count()
    calls = []
    sim_camera.set_timing(frame_period_us=100_000)  # homing and three frames: 0.4 s
    future = camera.capture_async(settings, "sequence", on_progress=calls.append)
    assert not future.done() and future.percent == 0
    frames = future.result(timeout=10)
    np.testing.assert_array_equal(frames[2], expected_image(settings, first + 2))
    assert calls == [100] and future.percent == 100


def test_live_focus_yields_ring_frames_until_stopped(camera, sim_camera):
    settings = Settings(window=(0, 0, 64, 16))
    frames = []
    with camera.live(settings, keep=100) as view:
        for frame in view:
            frames.append(frame)
            if len(frames) == 6:
                break
    assert view.result == Result.LIVE_FOCUS_STOPPED and not view.running
    # Consecutive frames, in the order the camera delivered them.
    first = next(n for n in range(sim_camera.frame_count())
                 if np.array_equal(frames[0], expected_image(settings, n)))
    for i, frame in enumerate(frames):
        np.testing.assert_array_equal(frame, expected_image(settings, first + i))


def test_live_view_drops_frames_it_cannot_hold(camera, sim_camera):
    view = camera.live(Settings(window=(0, 0, 64, 16)), keep=2).start()
    while view.frames_received < 10:
        view._ended.wait(0.01)
    view.stop()
    assert view.frames_dropped >= view.frames_received - 3
    assert sum(1 for _ in view) <= 2
