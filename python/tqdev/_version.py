"""The package's version: the project's one version, the VERSION of project() in the top-level
CMakeLists.txt. Standalone, so that setup.py can load it without the package."""

from __future__ import annotations

import re
from pathlib import Path

# In a checkout the package sits in python/ beside the project's CMakeLists.txt.
_CHECKOUT_CMAKELISTS = Path(__file__).resolve().parents[2] / "CMakeLists.txt"


def cmake_version(cmakelists: Path) -> str:
    """The VERSION given in the project() call of a CMakeLists.txt."""
    match = re.search(r"^\s*project\s*\(\s*\w+\s+VERSION\s+([0-9]+(?:\.[0-9]+)*)\b",
                      cmakelists.read_text(), re.IGNORECASE | re.MULTILINE)
    if match is None:
        raise ValueError(f"{cmakelists}: no project() with a VERSION")
    return match.group(1)


def version() -> str:
    """The checkout's version when run from one, else the installed distribution's."""
    if _CHECKOUT_CMAKELISTS.is_file():
        return cmake_version(_CHECKOUT_CMAKELISTS)
    from importlib import metadata

    return metadata.version("tqdev")
