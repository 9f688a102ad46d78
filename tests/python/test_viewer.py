"""The viewer runs live under a virtual display; its snapshot is a frame of the camera."""

import os
import shutil
import subprocess
import sys

import numpy as np
import pytest

from conftest import BUILD, ROOT, expected_image, pattern

from tqdev import Settings

SECONDS = 3


@pytest.mark.skipif(shutil.which("xvfb-run") is None, reason="needs xvfb-run (scripts/deps.sh)")
def test_viewer_shows_live_frames_and_saves_them(tmp_path):
    tifffile = pytest.importorskip("tifffile")
    snapshot = tmp_path / "snapshot.tiff"
    screenshot = BUILD / "python" / "viewer.png"
    screenshot.parent.mkdir(parents=True, exist_ok=True)
    env = dict(os.environ, PYTHONPATH=str(ROOT / "python"), QT_QPA_PLATFORM="xcb")
    run = subprocess.run(
        ["xvfb-run", "-a", "-s", "-screen 0 1280x800x24", sys.executable, "-m", "tqdev.viewer",
         "--sim", "2", "--quit-after", str(SECONDS), "--snapshot", str(snapshot),
         "--screenshot", str(screenshot)],
        env=env, capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    image = tifffile.imread(snapshot)
    assert image.dtype == np.uint16 and image.shape == (768, 1024)
    # Which frame it is: the one whose first row matches, then the whole of it.
    numbers = np.arange(2000)
    first_rows = pattern(0, np.arange(1024)[None, :], numbers[:, None], 1)
    matches = numbers[(first_rows == image[0]).all(axis=1)]
    assert len(matches) == 1 and matches[0] > 0  # live frames, not the first probe
    np.testing.assert_array_equal(image, expected_image(Settings(), int(matches[0])))
    assert screenshot.stat().st_size > 10_000
