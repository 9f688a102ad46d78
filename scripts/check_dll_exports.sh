#!/usr/bin/env bash
# The Windows DLL exports exactly the names of the .def file, undecorated.
set -euo pipefail
dll=$1
def=$2
actual=$(x86_64-w64-mingw32-objdump -p "$dll" |
  awk '/\[Ordinal\/Name Pointer\] Table/ {on=1; next} on && NF==0 {on=0} on {print $NF}' | sort)
expected=$(awk 'f && NF {print $1} /^EXPORTS/ {f=1}' "$def" | sort)
if [[ "$actual" != "$expected" ]]; then
  echo "DLL exports differ from $def:"
  diff <(echo "$expected") <(echo "$actual") || true
  exit 1
fi
echo "$(echo "$actual" | wc -l) exports, exactly the Tqdev functions: OK"
