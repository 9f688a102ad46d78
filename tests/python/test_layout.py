"""The package matches the project: its records and result codes tqdev.h, its version the
one CMake configures; and every public name is documented."""

import ctypes
import importlib
import inspect
import pkgutil
import re
import subprocess

from conftest import BUILD, ROOT

import tqdev
from tqdev import _protocol, _records


def c_layout(tmp_path):
    lines = ['#include <stdio.h>', '#include "tqdev.h"', 'int main(void) {']
    for name, record in _records.RECORDS.items():
        c_type = f"TQDEV_{name}"
        lines.append(f'printf("{name} size %zu\\n", sizeof({c_type}));')
        for field, *_ in record._fields_:
            if not field.startswith("_"):
                lines.append(f'printf("{name} {field} %zu\\n", offsetof({c_type}, {field}));')
    params_members = ["ticket", "frame_count", "sum_buffer", "mean_level", "sequence_buffers",
                      "ring_index", "ring_size", "ring_buffers"]
    for field in params_members:
        lines.append(f'printf("CAPTURE_PARAMS {field} %zu\\n", '
                     f'offsetof(TQDEV_CAPTURE_PARAMS, {field}));')
    lines += ["return 0;", "}"]
    source = tmp_path / "layout.c"
    source.write_text("\n".join(lines))
    binary = tmp_path / "layout"
    subprocess.run(["cc", "-std=c11", "-I", str(ROOT / "library" / "include"), str(source),
                    "-o", str(binary)], check=True)
    output = subprocess.run([str(binary)], check=True, capture_output=True, text=True).stdout
    return dict((" ".join(line.split()[:2]), int(line.split()[2])) for line in output.splitlines())


def test_every_record_size_and_offset_matches_the_header(tmp_path):
    expected = c_layout(tmp_path)
    actual = {}
    for name, record in _records.RECORDS.items():
        actual[f"{name} size"] = ctypes.sizeof(record)
        for field, *_ in record._fields_:
            if not field.startswith("_"):
                actual[f"{name} {field}"] = getattr(record, field).offset
    for field in ["ticket", "frame_count", "sum_buffer", "mean_level", "sequence_buffers",
                  "ring_index", "ring_size", "ring_buffers"]:
        # Members of the anonymous unions: their offset within the record.
        actual[f"CAPTURE_PARAMS {field}"] = _member_offset(_records.CAPTURE_PARAMS, field)
    assert actual == expected


def _member_offset(record, name):
    """Offset of a member reached through anonymous structures and unions."""
    for field, kind, *_ in record._fields_:
        if field == name:
            return getattr(record, field).offset
        if field in getattr(record, "_anonymous_", ()):
            inner = _member_offset(kind, name)
            if inner is not None:
                return getattr(record, field).offset + inner
    return None


def test_result_codes_are_the_headers():
    header = (ROOT / "library" / "include" / "tqdev.h").read_text()
    codes = {name: int(value) for name, value in
             re.findall(r"#define TQDEV_RESULT_(\w+) (\d+)u", header)}
    assert {code.name: code.value for code in tqdev.Result} == codes


def test_protocol_constants_are_the_headers(tmp_path):
    # What the package knows of the driver's interface, as the C compiler reads the header.
    names = {"SETUP_HIGH_SHIFT": "TQPROTO_SETUP_ORIGIN(0, 1) == 0x10000 ? 16 : 0",
             "READOUT_V_BINNING_SHIFT": "TQPROTO_READOUT_BINNING(0, 1) == 0x100 ? 8 : 0"}
    for name in dir(_protocol):
        if name.isupper() and name not in names:
            names[name] = f"TQPROTO_{name}"
    lines = ['#include <stdio.h>', '#include "tqdev_protocol.h"', 'int main(void) {']
    lines += [f'printf("{name} %u\\n", (unsigned)({expression}));'
              for name, expression in names.items()]
    lines += ["return 0;", "}"]
    source = tmp_path / "protocol.c"
    source.write_text("\n".join(lines))
    binary = tmp_path / "protocol"
    subprocess.run(["cc", "-std=c11", "-I", str(ROOT / "protocol"), str(source), "-o",
                    str(binary)], check=True)
    output = subprocess.run([str(binary)], check=True, capture_output=True, text=True).stdout
    expected = {line.split()[0]: int(line.split()[1]) for line in output.splitlines()}
    assert {name: getattr(_protocol, name) for name in names} == expected
    assert _protocol.setup_word(3, 5) == (5 << 16) | 3


def test_version_is_the_projects():
    # The version CMake configured the build with, as its pkg-config file states it.
    assert f"Version: {tqdev.__version__}\n" in (BUILD / "library" / "tqdev.pc").read_text()


def _public_names():
    """Every public class, function, method and property of the package, by full name."""
    found = {f"tqdev.{name}": getattr(tqdev, name) for name in tqdev.__all__}
    for info in pkgutil.iter_modules(tqdev.__path__):
        if not info.name.startswith("_"):
            module = importlib.import_module(f"tqdev.{info.name}")
            found.update({f"{module.__name__}.{name}": value for name, value in vars(module).items()
                          if getattr(value, "__module__", None) == module.__name__})
    for owner, value in list(found.items()):
        if inspect.isclass(value):
            found.update({f"{owner}.{name}": member for name, member in vars(value).items()})
    return {name: value for name, value in found.items()
            if not name.rsplit(".", 1)[1].startswith("_")
            and (inspect.isclass(value) or inspect.isfunction(value)
                 or isinstance(value, (property, classmethod)))}


def test_every_public_name_has_a_docstring():
    assert [name for name, value in _public_names().items() if not value.__doc__] == []
