"""The buffers of one capture and how frames are read out of them."""

from __future__ import annotations

from typing import Optional

import numpy as np


class Frames:
    """The buffers of one capture and how to read frames out of them."""

    def __init__(self, count: int, size: int, shape: Optional[tuple[int, int]], packed: bool):
        self.size = size
        self.shape = shape
        self.packed = packed
        # 16-bit elements keep pixels aligned; one spare element for odd sizes.
        self.buffers = [np.zeros((size + 1) // 2, dtype=np.uint16) for _ in range(count)]

    def pointer(self, i: int) -> int:
        """The address of buffer i, for the capture record."""
        return self.buffers[i].ctypes.data

    def frame(self, i: int):
        """A copy of what buffer i holds: the container as bytes, or the image."""
        buffer = self.buffers[i]
        if self.packed:
            return buffer.view(np.uint8)[: self.size].tobytes()
        rows, columns = self.shape
        return buffer[: rows * columns].reshape(rows, columns).copy()

