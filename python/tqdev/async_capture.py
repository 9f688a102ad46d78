"""Asynchronous single, averaged and sequence captures as futures."""

from __future__ import annotations

import concurrent.futures
from ctypes import byref

import numpy as np

from . import _dispatch
from . import _records as r
from ._lib import Result, TqdevError, library
from .frames import Frames
from .settings import SEQUENCE


def capture_result(mode: int, buffers: Frames):
    """What a finished capture hands back: one frame, or the sequence's three."""
    if mode == SEQUENCE:
        frames = [buffers.frame(i) for i in range(3)]
        return frames if buffers.packed else np.stack(frames)
    return buffers.frame(0)


class CaptureFuture(concurrent.futures.Future):
    """The future result of an asynchronous capture. `percent` is how far the library
    reports it (averaged captures count their frames); Camera.cancel() ends it early."""

    def __init__(self, progress: r.PROGRESS):
        super().__init__()
        self._record = progress

    @property
    def percent(self) -> int:
        """How far the capture is, 0 to 100."""
        return 100 if self.done() else self._record.Percent


class AsyncCapture:
    """A capture started with a progress record; completes its future on the library's call."""

    def __init__(self, index, params, buffers, mode, on_progress):
        self.index = index
        self.params = params
        self.buffers = buffers
        self.mode = mode
        self.on_progress = on_progress
        self.progress = r.PROGRESS()
        self.future = CaptureFuture(self.progress)
        self.key = 0

    def start(self) -> CaptureFuture:
        """Starts the capture; raises TqdevError if the library refuses it."""
        self.key = _dispatch.register(self)
        self.progress.Callback = _dispatch.PROGRESS_THUNK
        self.progress.UserData = self.key
        code = library().TqdevCaptureImage(self.index, byref(self.params), byref(self.progress))
        if code != Result.OK:
            # The refusal was delivered through the record already, on this thread.
            _dispatch.unregister(self.key)
            raise TqdevError(code, "TqdevCaptureImage")
        return self.future

    def _progress(self, result: int) -> None:
        # The only call for a non-live capture: its end.
        _dispatch.unregister(self.key)
        if self.future.done():
            return
        if result != Result.OK:
            self.future.set_exception(TqdevError(result, "TqdevCaptureImage"))
        else:
            self.future.set_result(capture_result(self.mode, self.buffers))
        if self.on_progress is not None:
            try:
                self.on_progress(100)
            except BaseException:
                _dispatch.report_exception("on_progress")


