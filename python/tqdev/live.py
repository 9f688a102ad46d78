"""Live focus: frames from a ring of buffers until stopped."""

from __future__ import annotations

import collections
import threading
from ctypes import byref, c_uint32
from typing import Callable, Optional

from . import _dispatch
from . import _records as r
from . import session
from ._lib import Result, TqdevError, check, check_int, library
from .frames import Frames
from .settings import LIVE_FOCUS, Settings


class LiveView:
    """A running live-focus capture. Iterating yields frames until stop(); a capture that
    fails (a camera unplugged) raises TqdevError from the iteration."""

    def __init__(self, camera, settings: Settings, ring: int, keep: int,
                 on_frame: Optional[Callable[[object], None]]):
        check_int("ring", ring, 2, 3)
        check_int("keep", keep, 1)
        if on_frame is not None and not callable(on_frame):
            raise TypeError("on_frame must be callable")
        self.camera = camera
        self.settings = settings
        self.on_frame = on_frame
        self.frames_received = 0
        self.frames_dropped = 0
        self.result: Optional[int] = None  # the final result once ended
        self._queue: collections.deque = collections.deque()
        self._keep = keep
        self._cond = threading.Condition()
        self._ended = threading.Event()
        self._key = 0
        self._stopping = False
        shape = None if settings.packed else camera.shape(settings)
        self.params = settings.params(LIVE_FOCUS)
        self.params.ring_size = ring
        size = c_uint32(0)
        check(library().TqdevFrameSize(camera.index, byref(self.params), byref(size)),
              "TqdevFrameSize")
        self.buffers = Frames(ring, size.value, shape, settings.packed)
        for i in range(ring):
            self.params.ring_buffers[i] = self.buffers.pointer(i)
        self.progress = r.PROGRESS()
        self.started = False

    @property
    def shape(self) -> Optional[tuple[int, int]]:
        """(rows, columns) of the frames, or None for packed output."""
        return self.buffers.shape

    def start(self) -> "LiveView":
        """Starts live focus (once); raises TqdevError if the library refuses it."""
        if self.started:
            return self
        self.started = True
        self._key = _dispatch.register(self)
        self.progress.Callback = _dispatch.PROGRESS_THUNK
        self.progress.UserData = self._key
        session.live_views.add(self)
        code = library().TqdevCaptureImage(self.camera.index, byref(self.params),
                                           byref(self.progress))
        if code != Result.OK:
            self._finish(code)
            raise TqdevError(code, "TqdevCaptureImage")
        return self

    def _finish(self, result: int) -> None:
        _dispatch.unregister(self._key)
        session.live_views.discard(self)
        with self._cond:
            self.result = result
            self._cond.notify_all()
        self._ended.set()

    def _progress(self, result: int) -> None:
        # Every frame arrives with OK; the last one with LIVE_FOCUS_STOPPED after a stop.
        if result in (Result.OK, Result.LIVE_FOCUS_STOPPED):
            frame = self.buffers.frame(self.params.ring_index % len(self.buffers.buffers))
            self.frames_received += 1
            if self.on_frame is not None:
                try:
                    self.on_frame(frame)
                except BaseException:
                    _dispatch.report_exception("on_frame")
            else:
                with self._cond:
                    if len(self._queue) >= self._keep:
                        self._queue.popleft()
                        self.frames_dropped += 1
                    self._queue.append(frame)
                    self._cond.notify_all()
        if result != Result.OK:
            self._finish(result)

    def stop(self, timeout: Optional[float] = None) -> None:
        """Ends live focus at its next frame and waits until the library is done with the ring."""
        if not self.started or self._ended.is_set():
            return
        if not self._stopping:
            self._stopping = True
            if library().TqdevCancelLiveFocus(self.camera.index) != Result.OK:
                library().TqdevCancelIo(self.camera.index)
        self._ended.wait(timeout)

    @property
    def running(self) -> bool:
        """Whether the library is still delivering frames (or still has the ring)."""
        return self.started and not self._ended.is_set()

    def next_frame(self, timeout: Optional[float] = None):
        """The oldest unread frame; None on timeout or when stopped; raises when failed."""
        with self._cond:
            if not self._cond.wait_for(lambda: self._queue or self.result is not None, timeout):
                return None
            if self._queue:
                return self._queue.popleft()
            if self.result != Result.LIVE_FOCUS_STOPPED:
                raise TqdevError(self.result, "live focus")
            return None

    def __iter__(self):
        self.start()
        while True:
            frame = self.next_frame()
            if frame is None:
                return
            yield frame

    def __enter__(self) -> "LiveView":
        return self.start()

    def __exit__(self, *exc) -> None:
        self.stop()
