#!/bin/sh
# Relay fan-out benchmark: builds bench_relay and runs it. For a side-by-side comparison it
# installs Debian's rtklib (for its str2str stream server) here, and only here: the program and
# its tests do not need it, so scripts/setup-deps leaves it out.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-bench}
if ! command -v str2str >/dev/null 2>&1; then
  if apt-cache policy rtklib 2>/dev/null | grep -q 'Candidate: [0-9]'; then
    if [ "$(id -u)" = 0 ]; then apt-get install -y --no-install-recommends rtklib >/dev/null
    else sudo apt-get install -y --no-install-recommends rtklib >/dev/null; fi
  fi
fi
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPLOWVIEW_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --target bench_relay
exec "$build/bin/bench_relay" "$@"
