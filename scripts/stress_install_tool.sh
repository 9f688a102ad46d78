#!/usr/bin/env bash
# Runs the camera install tool install / list / remove CYCLES times (300) under
# Wine, to catch its rare failures: (a) from inside a Wine process, through the
# suite's own helper (RunInstallToolStarted, which starts the tool again only
# when Wine's loader failed the start), with the library loaded and polling as
# in the hot-plug tests; (b) directly from the shell, without any retry. Both
# run at once, each in its own fresh prefix. Every run's exit code and output
# go to build/wine/stress/<mode>/runs.txt. Wine's debug channels ($CHANNELS)
# are recorded for every tool run, but kept only for the runs that failed or
# were started again (failed-runs.txt, failed-run-N.txt). Not part of CI.
# Needs a built preset `wine`. Exit status: 0 when nothing failed.
set -euo pipefail
cd "$(dirname "$0")/.."

cycles=${1:-300}
CHANNELS=${CHANNELS:-+timestamp,+pid,+process,+seh,+loaddll,+setupapi}
bin=$PWD/build/wine/bin
out=$PWD/build/wine/stress
[[ -x $bin/tqcamctl.exe && -f $bin/tqdev_lib64.dll ]] || {
  echo "build preset wine first" >&2
  exit 2
}
rm -rf "$out"
mkdir -p "$out"
export WINEDLLOVERRIDES="mscoree,mshtml="

# The in-process runner: the suite's helper, run from a Wine process that has
# the library initialised with a notification callback (its thread enumerates
# the cameras every 200 ms) and, as the hot-plug tests do, the new camera open
# when it is removed.
cat >"$out/runner.cpp" <<'EOF'
#include "wine_support.h"

#include <functional>

namespace {
void TQDEV_CALL Notified(uint32_t, uint32_t, uint64_t) {}

int failures = 0;
int runs = 0;
int restarts = 0;

// One tool run; a line per run on stdout, markers around it on stderr,
// where the child's Wine debug output goes too.
wine::ToolRun Run(int cycle, const std::string &arguments,
                  const std::function<bool(const wine::ToolRun &)> &ok) {
    const int number = ++runs;
    std::fprintf(stderr, "@@ run %d begin: %s\n", number, arguments.c_str());
    const wine::ToolRun run = wine::RunInstallToolStarted(arguments);
    const bool good = ok(run);
    failures += !good;
    restarts += run.starts - 1;
    const char *end = run.starts > 1 ? "started again" : "ok";
    std::fprintf(stderr, "@@ run %d end: %s\n", number, good ? end : "FAILED");
    std::printf("%s run %d cycle %d: %s (%d starts)\n", good ? "ok" : "FAILED", number, cycle,
                run.Describe(arguments).c_str(), run.starts);
    std::fflush(stdout);
    return run;
}

bool Ended(const wine::ToolRun &run) {
    return run.started && !run.timedOut && run.codeError == 0 && run.code == 0;
}

// The library's newest camera once it sees `count` of them; 0xFFFFFFFF if not.
uint32_t Newest(uint32_t count) {
    uint32_t newest = 0xFFFFFFFF;
    wine::Eventually([&] {
        TQDEV_DEVICE_ARRAY array{};
        TqdevCreateDeviceArray(&array);
        const bool seen = array.DeviceCount == count;
        newest = seen && count != 0 ? array.Devices[0].DeviceIndex : 0xFFFFFFFF;
        TqdevDestroyDeviceArray(&array);
        return seen;
    });
    return newest;
}
} // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        return 2;
    }
    const int cycles = std::atoi(argv[1]);
    // The children's debug channels; this process keeps its own.
    SetEnvironmentVariableA("WINEDEBUG", argv[2]);
    if (TqdevInitLibrary() != TQDEV_RESULT_OK ||
        TqdevRegisterNotification(&Notified, 0) != TQDEV_RESULT_OK) {
        return 2;
    }
    int failed = 0;
    for (int cycle = 1; cycle <= cycles; ++cycle) {
        // After a failure, back to the two cameras, so that one failure
        // does not fail every later cycle.
        if (failures != failed) {
            failed = failures;
            Run(cycle, "remove all", Ended);
            Run(cycle, "install 2", Ended);
            Newest(2);
        }
        const wine::ToolRun added = Run(cycle, "install 1", [](const wine::ToolRun &run) {
            return Ended(run) && run.output.rfind("ROOT\\TQCAM\\", 0) == 0;
        });
        const std::string instance = added.output.substr(0, added.output.find_first_of("\r\n"));
        if (instance.empty()) {
            continue;
        }
        const uint32_t device = Newest(3);
        if (device == 0xFFFFFFFF || TqdevOpenDevice(device) != TQDEV_RESULT_OK) {
            std::printf("FAILED cycle %d: the library did not open %s\n", cycle, instance.c_str());
            ++failures;
        }
        Run(cycle, "list", [&](const wine::ToolRun &run) {
            return Ended(run) && run.output.find(instance) != std::string::npos;
        });
        Run(cycle, "remove " + instance, Ended);
        if (Newest(2) == 0xFFFFFFFF) {
            std::printf("FAILED cycle %d: the library still lists %s\n", cycle, instance.c_str());
            ++failures;
        }
    }
    TqdevTerminateLibrary();
    std::printf("%d runs, %d failed, %d started again\n", runs, failures, restarts);
    return failures == 0 ? 0 : 1;
}
EOF
x86_64-w64-mingw32-g++-posix -std=c++20 -O2 -Wall -Wextra -Werror -DGTEST_HAS_PTHREAD=0 \
  -Itests/wine -Idriver -Ilibrary/include -Isim -Isim/include \
  -isystem /usr/src/googletest/googletest/include \
  -o "$bin/stress_install_tool.exe" "$out/runner.cpp" \
  build/wine/library/tqdev_lib64.dll.a -lsetupapi -static

pids=()
cleanup() {
  for p in "${pids[@]}"; do kill -- "$p" 2>/dev/null || true; done
  for prefix in "$out"/prefix-*; do
    [[ -d $prefix ]] && WINEPREFIX=$prefix timeout 30 wineserver -k 2>/dev/null || true
  done
}
trap cleanup EXIT

# A fresh prefix with a persistent server, as scripts/test_windows.sh makes it.
new_prefix() {
  export WINEPREFIX=$out/prefix-$1 WINEDEBUG=-all
  timeout 180 wine wineboot -i >/dev/null 2>&1
  timeout 120 wineserver -w
  timeout 30 wineserver -p
  timeout 120 wine wineboot >/dev/null 2>&1
}

in_process() {
  local dir=$out/helper
  mkdir -p "$dir"
  new_prefix helper
  timeout 120 wine "$bin/tqcamctl.exe" install 2 >"$dir/setup.txt" 2>&1
  local status=0
  WINEDEBUG=+timestamp,+pid,+process,+seh timeout -k 10 $((cycles * 30 + 120)) \
    wine "$bin/stress_install_tool.exe" "$cycles" "$CHANNELS" \
    >"$dir/runs.txt" 2>"$dir/debug.txt" || status=$?
  echo "runner exit status $status" >>"$dir/runs.txt"
  # Only the debug lines of the runs that did not simply succeed.
  awk '/^@@ run [0-9]+ begin/ { run = $0 "\n"; next }
       /^@@ run [0-9]+ end/ { if ($0 !~ /end: ok\r?$/) printf "%s%s\n", run, $0; run = ""; next }
       { run = run $0 "\n" }' "$dir/debug.txt" >"$dir/failed-runs.txt"
  rm -f "$dir/debug.txt"
  [[ -s $dir/failed-runs.txt ]] || rm -f "$dir/failed-runs.txt"
  return 0
}

# One tool run from the shell: its stdout, stderr (with the debug channels)
# and exit status; the stderr is kept only for a failed run.
direct_run() {
  local dir=$1 number=$2 cycle=$3
  shift 3
  local status=0
  WINEDEBUG=$CHANNELS timeout -k 5 60 wine "$bin/tqcamctl.exe" "$@" \
    >"$dir/out.txt" 2>"$dir/err.txt" || status=$?
  output=$(tr -d '\r' <"$dir/out.txt")
  local good=$((status == 0))
  [[ $1 == install ]] && [[ $output != ROOT\\TQCAM\\* ]] && good=0
  [[ $1 == list ]] && [[ $output != *"$instance"* ]] && good=0
  if ((good)); then
    echo "ok run $number cycle $cycle: $* status $status output [${output//$'\n'/ }]"
  else
    echo "FAILED run $number cycle $cycle: $* status $status output [${output//$'\n'/ }]"
    cp "$dir/err.txt" "$dir/failed-run-$number.txt"
  fi >>"$dir/runs.txt"
}

direct() {
  local dir=$out/direct number=0 cycle
  mkdir -p "$dir"
  new_prefix direct
  timeout 120 wine "$bin/tqcamctl.exe" install 2 >"$dir/setup.txt" 2>&1
  for ((cycle = 1; cycle <= cycles; ++cycle)); do
    instance=
    direct_run "$dir" $((++number)) "$cycle" install 1
    instance=${output%%$'\n'*}
    [[ $instance == ROOT\\TQCAM\\* ]] || continue
    direct_run "$dir" $((++number)) "$cycle" list
    direct_run "$dir" $((++number)) "$cycle" remove "$instance"
  done
  rm -f "$dir/out.txt" "$dir/err.txt"
}

in_process &
pids+=($!)
direct &
pids+=($!)
wait "${pids[@]}"
pids=()

failed=0
for mode in helper direct; do
  runs=$(grep -c '^ok run\|^FAILED run' "$out/$mode/runs.txt" || true)
  bad=$(grep -c '^FAILED' "$out/$mode/runs.txt" || true)
  again=$(grep -c '([23] starts)$' "$out/$mode/runs.txt" || true)
  echo "$mode: $runs runs, $bad failed, $again started again"
  grep '([23] starts)$' "$out/$mode/runs.txt" || true
  grep '^FAILED' "$out/$mode/runs.txt" || true
  failed=$((failed + bad))
done
((failed == 0))
