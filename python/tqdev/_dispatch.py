"""Calls from library threads into Python.

One permanent ctypes thunk per callback kind forwards to the Python object
registered under the record's user data. The object (with the records and
buffers the library writes) stays in the table until the library has made its
last call for it, and an exception raised by Python code is reported and
swallowed so the library's thread never sees it.
"""

from __future__ import annotations

import itertools
import sys
import threading
import traceback

from . import _records as r

_lock = threading.Lock()
_pending: dict[int, object] = {}
_keys = itertools.count(1)


def report_exception(where: str) -> None:
    """Reports an exception raised by user code on a library thread; the thread goes on."""
    print(f"tqdev: exception in {where} (ignored):", file=sys.stderr)
    traceback.print_exc()


def register(owner) -> int:
    """Keeps owner alive until unregister; returns the user data the library passes back."""
    with _lock:
        key = next(_keys)
        _pending[key] = owner
        return key


def unregister(key: int) -> None:
    with _lock:
        _pending.pop(key, None)


def pending_count() -> int:
    with _lock:
        return len(_pending)


def _on_progress(result: int, user_data: int) -> None:
    with _lock:
        owner = _pending.get(user_data)
    if owner is None:
        return
    try:
        owner._progress(result)  # the owner unregisters itself on its last call
    except BaseException:
        report_exception("progress callback")


PROGRESS_THUNK = r.PROGRESS_CALLBACK(_on_progress)

_notify_lock = threading.Lock()
_notify_user = None


def _on_notify(event: int, device: int, _user_value: int) -> None:
    with _notify_lock:
        user = _notify_user
    if user is None:
        return
    try:
        user("added" if event == 1 else "removed", device)
    except BaseException:
        report_exception("hot-plug callback")


NOTIFY_THUNK = r.NOTIFY_CALLBACK(_on_notify)


def set_notify_user(callback) -> None:
    global _notify_user
    with _notify_lock:
        _notify_user = callback
