"""Live viewer: `python3 -m tqdev.viewer [--sim N]`.

Live focus of a chosen camera with its frame rate, a histogram with adjustable
levels, exposure, binning, window, flip and mirror, snapshots to 16-bit TIFF,
and the camera list kept up to date as cameras come and go.

Frames reach the GUI through a one-frame mailbox: the library's thread puts
the newest frame there (replacing one not yet shown) and never waits for the
GUI; the GUI takes it on its own refresh timer.
"""

from __future__ import annotations

import argparse
import sys
import threading
import time
from collections import deque
from typing import Optional

import numpy as np
import pyqtgraph as pg
from pyqtgraph.Qt import QtCore, QtWidgets

import tqdev
from tqdev import Result, Settings, TqdevError

REFRESH_MS = 30
SIM_FRAME_PERIOD_US = 25000
USER_ROLE = getattr(QtCore.Qt, "UserRole", None) or QtCore.Qt.ItemDataRole.UserRole


class Mailbox:
    """Holds the newest frame; put never blocks on the reader."""

    def __init__(self):
        self._lock = threading.Lock()
        self._frame = None
        self.put_count = 0
        self.dropped = 0

    def put(self, frame) -> None:
        """Leaves frame for the reader, replacing (and counting as dropped) one not yet taken."""
        with self._lock:
            if self._frame is not None:
                self.dropped += 1
            self._frame = frame
            self.put_count += 1

    def take(self):
        """The newest frame, or None if none arrived since the last take."""
        with self._lock:
            frame, self._frame = self._frame, None
            return frame


def save_tiff(path: str, image: np.ndarray) -> None:
    """Writes a 16-bit grey TIFF."""
    import tifffile

    tifffile.imwrite(path, np.ascontiguousarray(image, dtype=np.uint16))


def main(argv: Optional[list[str]] = None) -> int:
    """Runs the viewer with these command-line arguments; returns the exit status."""
    parser = argparse.ArgumentParser(prog="python3 -m tqdev.viewer",
                                     description=__doc__.split("\n")[0])
    parser.add_argument("--sim", type=int, default=0, metavar="N",
                        help="plug N simulated cameras first (Linux)")
    parser.add_argument("--plug-timer", type=int, default=0, metavar="MS",
                        help="every MS milliseconds plug a simulated camera, or unplug the "
                             "oldest once --sim + 1 are plugged (a hot-plug demo)")
    parser.add_argument("--camera", type=int, default=None, help="camera index to start with")
    parser.add_argument("--quit-after", type=float, default=0, metavar="S",
                        help="run for S seconds, then save --snapshot/--screenshot and quit")
    parser.add_argument("--snapshot", help="with --quit-after: the shown frame as 16-bit TIFF")
    parser.add_argument("--screenshot", help="with --quit-after: the window as PNG")
    args = parser.parse_args(argv)
    if args.sim < 0 or args.plug_timer < 0:
        parser.error("--sim and --plug-timer need 0 or more")

    for _ in range(args.sim):
        tqdev.sim.plug(frame_period_us=SIM_FRAME_PERIOD_US)

    if args.plug_timer:
        tqdev.sim.start_plug_timer(args.plug_timer, args.sim + 1)

    app = pg.mkQApp("tqdev viewer")
    window = ViewerWindow()
    window.show()
    if args.camera is not None:
        window.select(args.camera)
    elif window.camera_list.count():
        window.camera_list.setCurrentRow(0)
    if args.quit_after > 0:
        deadline = time.monotonic() + args.quit_after + 20

        def finish():
            # A slow start may not have shown a frame yet: give it a little longer.
            if window.shown is None and window.view is not None and time.monotonic() < deadline:
                QtCore.QTimer.singleShot(200, finish)
                return
            if args.screenshot:
                window.grab().save(args.screenshot)
            if args.snapshot:
                window.snapshot(args.snapshot)
            window.close()
        QtCore.QTimer.singleShot(int(args.quit_after * 1000), finish)
    app.exec_() if hasattr(app, "exec_") else app.exec()
    tqdev.terminate()
    return 0


class HotplugBridge(QtCore.QObject):
    """Carries hot-plug events from the library's notification thread to the GUI thread."""

    # Emitted on the library's thread; delivered queued on the GUI thread.
    changed = (QtCore.pyqtSignal if hasattr(QtCore, "pyqtSignal") else QtCore.Signal)(str, int)


class ViewerWindow(QtWidgets.QMainWindow):
    """The viewer's window: the camera list and settings beside the live image."""

    def __init__(self):
        super().__init__()
        self.setWindowTitle("tqdev viewer")
        self.resize(1100, 680)
        self.camera: Optional[tqdev.Camera] = None
        self.view: Optional[tqdev.LiveView] = None
        self.mailbox = Mailbox()
        self.shown = None
        self.shown_times: deque = deque(maxlen=30)

        self.image = pg.ImageView()
        self.image.ui.roiBtn.hide()
        self.image.ui.menuBtn.hide()

        self.camera_list = QtWidgets.QListWidget()
        self.camera_list.currentRowChanged.connect(self._camera_chosen)
        self.exposure = QtWidgets.QSpinBox()
        self.exposure.setRange(0, 10_000_000)
        self.exposure.setSuffix(" µs")
        self.exposure.setSpecialValueText("camera's")
        self.binning = QtWidgets.QComboBox()
        self.binning.addItems(["1", "2", "4", "8"])
        self.window_edits = []
        for name in ("left", "top", "width", "height"):
            edit = QtWidgets.QSpinBox()
            edit.setRange(0, 16384)
            edit.setSpecialValueText("full" if name in ("width", "height") else "0")
            self.window_edits.append(edit)
        self.flip = QtWidgets.QCheckBox("Flip")
        self.mirror = QtWidgets.QCheckBox("Mirror")
        apply = QtWidgets.QPushButton("Apply")
        apply.clicked.connect(self.restart)
        self.start_stop = QtWidgets.QPushButton("Stop")
        self.start_stop.clicked.connect(self._start_stop)
        snap = QtWidgets.QPushButton("Snapshot…")
        snap.clicked.connect(self._snapshot_dialog)
        self.status = QtWidgets.QLabel("no camera")
        self.status.setWordWrap(True)

        form = QtWidgets.QFormLayout()
        form.addRow("Exposure", self.exposure)
        form.addRow("Binning", self.binning)
        for name, edit in zip(("Left", "Top", "Width", "Height"), self.window_edits):
            form.addRow(name, edit)
        flips = QtWidgets.QHBoxLayout()
        flips.addWidget(self.flip)
        flips.addWidget(self.mirror)
        form.addRow(flips)
        panel = QtWidgets.QVBoxLayout()
        panel.addWidget(QtWidgets.QLabel("Cameras"))
        panel.addWidget(self.camera_list)
        panel.addLayout(form)
        panel.addWidget(apply)
        panel.addWidget(self.start_stop)
        panel.addWidget(snap)
        panel.addWidget(self.status)
        side = QtWidgets.QWidget()
        side.setLayout(panel)
        side.setFixedWidth(240)
        splitter = QtWidgets.QSplitter()
        splitter.addWidget(side)
        splitter.addWidget(self.image)
        self.setCentralWidget(splitter)

        self.bridge = HotplugBridge()
        self.bridge.changed.connect(self._hotplug)
        tqdev.on_hotplug(lambda event, index: self.bridge.changed.emit(event, index))
        self.refresh_cameras()

        self.timer = QtCore.QTimer(self)
        self.timer.timeout.connect(self._refresh)
        self.timer.start(REFRESH_MS)

    # ---- cameras ----------------------------------------------------

    def refresh_cameras(self):
        """Lists the attached cameras again, keeping the open one selected."""
        current = self.camera.index if self.camera else None
        self.camera_list.blockSignals(True)
        self.camera_list.clear()
        for c in sorted(tqdev.cameras(), key=lambda c: c.index):
            item = QtWidgets.QListWidgetItem(f"{c.index}: {c.name} ({c.serial_number})")
            item.setData(USER_ROLE, c.index)
            self.camera_list.addItem(item)
            if c.index == current:
                self.camera_list.setCurrentItem(item)
        self.camera_list.blockSignals(False)

    def select(self, index: int):
        """Selects (and so opens) the camera with this library index, if listed."""
        for row in range(self.camera_list.count()):
            if self.camera_list.item(row).data(USER_ROLE) == index:
                self.camera_list.setCurrentRow(row)

    def _hotplug(self, event: str, index: int):
        self.refresh_cameras()
        if event == "removed" and self.camera and self.camera.index == index:
            self._close_camera(f"camera {index} was unplugged")
        else:
            self.status.setText(f"camera {index} {event}")

    def _camera_chosen(self, row: int):
        if row < 0:
            return
        index = self.camera_list.item(row).data(USER_ROLE)
        if self.camera and self.camera.index == index:
            return
        self._close_camera("")
        try:
            self.camera = tqdev.Camera(index).open()
        except TqdevError as error:
            self.camera = None
            self.status.setText(f"cannot open camera {index}: {error.name}")
            return
        self.restart()

    def _close_camera(self, message: str):
        self.stop()
        if self.camera:
            try:
                self.camera.close()
            except TqdevError:
                pass
            self.camera = None
        if message:
            self.status.setText(message)

    # ---- live focus -------------------------------------------------

    def settings(self) -> Settings:
        """The capture settings the panel shows; an empty width or height reaches the edge."""
        left, top, width, height = (e.value() for e in self.window_edits)
        window = None
        if (left, top, width, height) != (0, 0, 0, 0):
            info = self.camera.info()
            window = (left, top, width or info.sensor_width - left,
                      height or info.sensor_height - top)
        b = int(self.binning.currentText())
        return Settings(window=window, binning=(b, b), mirror=self.mirror.isChecked(),
                        flip=self.flip.isChecked(), exposure_us=self.exposure.value())

    def restart(self):
        """Starts live focus anew with the panel's settings."""
        if not self.camera:
            return
        self.stop()
        try:
            self.view = self.camera.live(self.settings(), on_frame=self.mailbox.put).start()
        except (TqdevError, ValueError) as error:
            self.view = None
            self.status.setText(f"live focus refused: {error}")
            return
        self.start_stop.setText("Stop")
        self.shown_times.clear()
        self.status.setText(f"live: camera {self.camera.index}")

    def stop(self):
        """Stops live focus and waits until the library is done with the ring."""
        if self.view:
            self.view.stop(timeout=5)
            self.view = None
        self.start_stop.setText("Start")

    def _start_stop(self):
        if self.view and self.view.running:
            self.stop()
        else:
            self.restart()

    def _refresh(self):
        frame = self.mailbox.take()
        if frame is not None:
            first = self.shown is None
            self.shown = frame
            # Rows down the screen: pyqtgraph's first image axis is x.
            self.image.setImage(frame.T, autoLevels=first, autoHistogramRange=first,
                                autoRange=first)
            self.shown_times.append(time.monotonic())
            if len(self.shown_times) > 1:
                span = self.shown_times[-1] - self.shown_times[0]
                rate = (len(self.shown_times) - 1) / span if span > 0 else 0.0
                self.status.setText(
                    f"live: camera {self.camera.index if self.camera else '-'}, "
                    f"{frame.shape[1]} x {frame.shape[0]}, {rate:.1f} frames/s shown, "
                    f"{self.mailbox.dropped} dropped")
        ended = self.view.result if self.view and not self.view.running else None
        if ended not in (None, Result.LIVE_FOCUS_STOPPED):
            self.view = None
            self.start_stop.setText("Start")
            self.status.setText(f"live focus ended: {tqdev.result_name(ended)}")

    # ---- snapshots --------------------------------------------------

    def snapshot(self, path: str) -> bool:
        """Saves the shown frame as a 16-bit TIFF; False if no frame has been shown yet."""
        if self.shown is None:
            self.status.setText("no frame to save yet")
            return False
        save_tiff(path, self.shown)
        self.status.setText(f"saved {path}")
        return True

    def _snapshot_dialog(self):
        path, _ = QtWidgets.QFileDialog.getSaveFileName(self, "Snapshot", "snapshot.tiff",
                                                        "TIFF (*.tif *.tiff)")
        if path:
            self.snapshot(path)

    def closeEvent(self, event):
        """Stops the refresh, hot-plug delivery and live focus, and closes the camera."""
        self.timer.stop()
        tqdev.on_hotplug(None)
        self._close_camera("")
        super().closeEvent(event)


if __name__ == "__main__":
    sys.exit(main())
