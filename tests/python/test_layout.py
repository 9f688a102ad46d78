"""The ctypes records match tqdev.h field for field."""

import ctypes
import subprocess

from conftest import ROOT

from tqdev import _records


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
