#!/usr/bin/env bash
# Start-up without the Rich Edit library: one message, and files are still spoken to their end.
# Usage: startup_without_rich_edit.sh TXTPLAY_EXE SAMPLE_FILE
set -euo pipefail
output=$(WINEDLLOVERRIDES="riched20=d" wine "$1" --non-interactive --instant "$(winepath -w "$2")" 2>&1 | tr -d '\r')
echo "$output"
messages=$(grep -c "Microsoft Rich Edit v2.0 library is missing on this system" <<<"$output" || true)
[ "$messages" -eq 1 ] || { echo "expected the message once, saw it $messages times"; exit 1; }
grep -q "ended" <<<"$output" || { echo "the file was not spoken to its end"; exit 1; }
