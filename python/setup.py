"""The version for pyproject.toml's dynamic field, the only thing it cannot state itself."""

import importlib.util
from pathlib import Path

from setuptools import setup

HERE = Path(__file__).resolve().parent


def _version() -> str:
    # From a checkout: the project's CMakeLists.txt. From an sdist (no CMakeLists.txt beside
    # it): the version the sdist was made with, in its PKG-INFO.
    cmakelists = HERE.parent / "CMakeLists.txt"
    if cmakelists.is_file():
        found = importlib.util.spec_from_file_location("_version", HERE / "tqdev" / "_version.py")
        module = importlib.util.module_from_spec(found)
        found.loader.exec_module(module)
        return module.cmake_version(cmakelists)
    for line in (HERE / "PKG-INFO").read_text().splitlines():
        if line.startswith("Version:"):
            return line.split(":", 1)[1].strip()
    raise RuntimeError("no CMakeLists.txt above and no PKG-INFO: cannot tell the version")


setup(version=_version())
