"""Packed image containers: their descriptor, and decoding them into 16-bit pixels."""

from __future__ import annotations

import ctypes

import numpy as np

from . import _records as r
from ._lib import check, library


def frame_info(container: bytes | bytearray | memoryview) -> r.FRAME_INFO:
    """The frame descriptor in a packed container's header."""
    if not isinstance(container, (bytes, bytearray, memoryview)):
        raise TypeError("a packed container is bytes")
    if len(container) < r.IMAGE_HEADER_SIZE:
        raise ValueError("shorter than a container header")
    header = r.IMAGE_HEADER.from_buffer_copy(bytes(container[: r.IMAGE_HEADER_SIZE]))
    if header.magic != r.IMAGE_MAGIC:
        raise ValueError("not a packed image container (wrong magic)")
    return header.frame_info


def unpack(container: bytes | bytearray | memoryview) -> np.ndarray:
    """Decodes a packed container into a (rows, columns) numpy.uint16 image."""
    info = frame_info(container)
    rows, columns = info.shape
    # The library reads the descriptor's sizes, so the whole stream must be there.
    header = r.IMAGE_HEADER.from_buffer_copy(bytes(container[: r.IMAGE_HEADER_SIZE]))
    if len(container) < header.header_size + info.packed_size:
        raise ValueError("container is shorter than its header says")
    source = (ctypes.c_uint8 * len(container)).from_buffer_copy(bytes(container))
    size = ctypes.c_uint32(0)
    check(library().TqdevUnpackImage(source, None, ctypes.byref(size), 0), "TqdevUnpackImage")
    pixels = np.zeros(max(size.value // 2, rows * columns, 1), dtype=np.uint16)
    size.value = pixels.nbytes
    check(
        library().TqdevUnpackImage(
            source, pixels.ctypes.data_as(ctypes.POINTER(ctypes.c_uint16)), ctypes.byref(size), 0
        ),
        "TqdevUnpackImage",
    )
    return pixels[: rows * columns].reshape(rows, columns).copy()
