"""Bad input, library refusals, failed captures, hot-plug and callbacks that raise."""

import threading
import time

import pytest

import tqdev
from tqdev import Result, Settings, TqdevError

REQUEST_FRAME = 0


@pytest.mark.parametrize("call, error", [
    (lambda cam: Settings(binning=(0, 1)), ValueError),
    (lambda cam: Settings(window=(0, 0, 0, 8)), ValueError),
    (lambda cam: Settings(window="all"), TypeError),
    (lambda cam: Settings(mirror=1), TypeError),
    (lambda cam: tqdev.Camera("0"), TypeError),
    (lambda cam: tqdev.Camera(-1), ValueError),
    (lambda cam: cam.capture(mode="burst"), ValueError),
    (lambda cam: cam.capture(Settings(packed=True), "averaged"), ValueError),
    (lambda cam: cam.capture(mode="averaged", frames=0), ValueError),
    (lambda cam: cam.capture(settings={"binning": 2}), TypeError),
    (lambda cam: cam.live(ring=4), ValueError),
    (lambda cam: cam.write_register(1, 1 << 32), ValueError),
    (lambda cam: cam.write_bayer_pattern(256), ValueError),
    (lambda cam: cam.write_flaws([(1, 2, 3, 4, 5)] * 129), ValueError),
    (lambda cam: cam.write_matrix([1.0] * 8), ValueError),
])
def test_bad_input_raises_before_the_library_is_called(camera, sim_camera, call, error):
    with pytest.raises(error):
        call(camera)
    assert sim_camera.frame_count() == 0


@pytest.mark.parametrize("action, code", [
    (lambda cam: tqdev.Camera(7).open(), Result.INVALID_DEVICE),
    (lambda cam: tqdev.Camera(0).open(), Result.DEVICE_ALREADY_OPEN),
    (lambda cam: cam.capture(Settings(window=(1020, 0, 8, 8))), Result.INVALID_PARAMETER),
])
def test_library_refusals_carry_code_and_name(camera, action, code):
    with pytest.raises(TqdevError) as refused:
        action(camera)
    assert refused.value.code == code
    assert refused.value.name == tqdev.RESULT_NAMES[code]


def test_driver_result_is_passed_on_unchanged(camera, sim_camera):
    camera.shape()
    sim_camera.script_result(REQUEST_FRAME, 0x1234)
    with pytest.raises(TqdevError) as failed:
        camera.capture()
    assert (failed.value.code, failed.value.name) == (0x1234, "driver result 4660")
    sim_camera.script_result(REQUEST_FRAME, 0x99)
    with pytest.raises(TqdevError, match="driver result 153"):
        camera.capture_async().result(timeout=10)


def test_synchronous_operations_reach_the_camera(camera, sim_camera):
    camera.write_register(0x40, 0xDEADBEEF)
    assert camera.read_register(0x40) == 0xDEADBEEF == sim_camera.register(0x40)
    camera.write_flaws([(1, 2, 3, 4, 5), (6, 7, 8, 9, 10)])
    assert camera.flaws() == [(1, 2, 3, 4, 5), (6, 7, 8, 9, 10)]
    info = camera.info()
    config = sim_camera.config()
    assert (info.sensor_width, info.sensor_height, info.capability_flags) == (
        config.sensor_width, config.sensor_height, config.capability_flags)
    description = tqdev.cameras()[0]
    assert (info.model, info.serial_number) == (description.name, description.serial_number)


def test_unplug_during_live_focus_ends_it_with_the_failure(camera, sim_camera):
    sim_camera.set_timing(frame_period_us=5000)
    view = camera.live(Settings(window=(0, 0, 64, 16))).start()
    assert view.next_frame(timeout=5) is not None
    sim_camera.unplug()
    with pytest.raises(TqdevError):
        for _ in view:
            pass
    assert not view.running and view.result not in (Result.OK, Result.LIVE_FOCUS_STOPPED)


def test_raising_callbacks_leave_the_library_threads_running(camera, sim_camera, capfd):
    arrived = threading.Semaphore(0)

    def explode(frame):
        arrived.release()
        raise RuntimeError("callback failure")

    view = camera.live(Settings(window=(0, 0, 64, 16)), on_frame=explode).start()
    for _ in range(5):  # frames keep arriving after the first raised
        assert arrived.acquire(timeout=5)
    view.stop()
    assert view.result == Result.LIVE_FOCUS_STOPPED
    tqdev.on_hotplug(lambda event, index: 1 / 0)
    tqdev.sim.plug()
    deadline = time.monotonic() + 5
    while len(tqdev.cameras()) < 2 and time.monotonic() < deadline:
        time.sleep(0.01)
    assert "callback failure" in capfd.readouterr().err
    with tqdev.Camera(1) as cam_again:  # the library still answers
        assert cam_again.capture(Settings(window=(0, 0, 8, 8))).shape == (8, 8)


def test_hotplug_reports_added_and_removed_cameras(sim_camera):
    events = []
    changed = threading.Event()

    def record(event, index):
        events.append((event, index))
        changed.set()

    tqdev.on_hotplug(record)
    plugged = tqdev.sim.plug()
    assert changed.wait(5)
    changed.clear()
    plugged.unplug()
    assert changed.wait(5)
    assert events == [("added", 1), ("removed", 1)]
    assert [c.index for c in tqdev.cameras()] == [0]
