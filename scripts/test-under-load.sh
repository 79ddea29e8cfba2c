#!/usr/bin/env bash
# Runs the test suite while two other processes keep both cores busy: the tests must not depend on
# the machine's speed. The busy processes are started here and stopped by process id at the end.
# Usage: test-under-load.sh BUILD_DIR [TEST_JOBS]
set -euo pipefail
build=$1
jobs=${2:-1}
cd "$(dirname "$0")/.."

busy=()
stop_busy() {
  for pid in "${busy[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
}
trap stop_busy EXIT

for _ in 1 2; do
  (while :; do :; done) &
  busy+=($!)
done
echo "test-under-load: processes ${busy[*]} keep the cores busy"

bash scripts/with-wine.sh "$build" ctest --test-dir "$build" --output-on-failure -j "$jobs"
