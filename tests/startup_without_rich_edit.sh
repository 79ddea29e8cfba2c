#!/usr/bin/env bash
# Start-up without the Rich Edit library: one message, and every file of a playlist is still spoken to
# its end (the player stops each one and plays the next), and the player closes cleanly.
# Usage: startup_without_rich_edit.sh TXTPLAY_EXE SAMPLE_FILE...
set -euo pipefail
txtplay=$1
shift
files=()
for file in "$@"; do files+=("$(winepath -w "$file")"); done
set +e
output=$(WINEDLLOVERRIDES="riched20=d" wine "$txtplay" --non-interactive --instant "${files[@]}" 2>&1 | tr -d '\r')
status=${PIPESTATUS[0]}
set -e
echo "$output"
messages=$(grep -c "Microsoft Rich Edit v2.0 library is missing on this system" <<<"$output" || true)
[ "$messages" -eq 1 ] || { echo "expected the message once, saw it $messages times"; exit 1; }
ended=$(grep -c "ended" <<<"$output" || true)
[ "$ended" -eq $# ] || { echo "expected $# files spoken to their end, saw $ended"; exit 1; }
[ "$status" -eq 0 ] || { echo "txtplay exited with $status"; exit 1; }
