"""tqdev: 12-bit cameras from Python, frames as numpy arrays.

    import tqdev
    with tqdev.Camera(0) as cam:
        image = cam.capture()          # numpy.uint16, (rows, columns)

On Linux the cameras are simulated; `tqdev.sim` plugs them. `tqdev.__version__` is this
package's version, `tqdev.version()` the loaded library's.
"""

from ._lib import RESULT_NAMES, Result, TqdevError, result_name
from ._version import version as _package_version
from .async_capture import CaptureFuture
from .camera import Camera, CameraInfo
from .live import LiveView
from .session import (CameraDescription, cameras, enable_diagnostics, init, on_hotplug,
                      terminate, version)
from .image import frame_info, unpack
from .settings import Settings

__version__ = _package_version()

__all__ = ["Camera", "CameraDescription", "CameraInfo", "CaptureFuture", "LiveView", "Result",
           "Settings", "TqdevError", "RESULT_NAMES", "cameras", "enable_diagnostics",
           "frame_info", "init", "on_hotplug", "result_name", "terminate", "unpack", "version"]


def __getattr__(name):
    # The simulator is loaded only when asked for.
    if name == "sim":
        import importlib
        return importlib.import_module(".sim", __name__)
    raise AttributeError(name)
