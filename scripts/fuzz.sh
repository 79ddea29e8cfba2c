#!/usr/bin/env bash
# Native fuzzing of the plug-in's pure pieces: builds every target in tests/fuzz with clang, libFuzzer,
# AddressSanitizer and UndefinedBehaviorSanitizer into <dir>, runs each <runs> times from its seed
# corpus with a fixed seed, then the walk over the format table and the chunk grid.
# Usage: scripts/fuzz.sh <dir> <runs>. Exits non-zero when any target reports a finding.
set -euo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 <dir> <runs>" >&2
  exit 2
fi
out=$(mkdir -p "$1" && cd "$1" && pwd)
runs=$2
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

CXX=${CXX:-clang++}
SANITIZE=(-fsanitize=address,undefined -fno-sanitize-recover=all)
FLAGS=(-std=c++17 -g -O1 -Wall -Wextra -I"$root")
SHIM=(-I"$root/tests/fuzz/shim")  # Windows types for the stream format table only
SEED=1

# target | longest input | sources beside the target's own file
targets=(
  "text_decoding_fuzz|4096|base/text_decoder.cpp base/text_encoding.cpp"
  "text_encoding_fuzz|512|base/text_encoding.cpp"
  "settings_values_fuzz|600|settings/settings_values.cpp"
  "chunk_arithmetic_fuzz|17|playback/chunk_arithmetic.cpp"
  "stream_format_fuzz|8|playback/stream_format.cpp playback/chunk_arithmetic.cpp tests/fuzz/shim/task_memory.cpp"
  "zip_archive_fuzz|8192|documents/zip_archive.cpp -lz"
  "markup_text_fuzz|4096|documents/markup_text.cpp"
  "book_package_fuzz|512|documents/book_package.cpp documents/zip_archive.cpp -lz"
)

failed=0
for entry in "${targets[@]}"; do
  IFS='|' read -r name max_len sources <<<"$entry"
  # shellcheck disable=SC2086
  "$CXX" "${FLAGS[@]}" "${SHIM[@]}" -fsanitize=fuzzer "${SANITIZE[@]}" "tests/fuzz/$name.cpp" $sources -o "$out/$name"

  # A fresh working corpus each time, so a run depends only on the seed corpus and the seed.
  work="$out/corpus/$name"
  rm -rf "$work" && mkdir -p "$work"
  seeds=()
  [ -d "tests/fuzz/corpus/$name" ] && seeds=("tests/fuzz/corpus/$name")
  log="$out/$name.log"
  start=$(date +%s%N)
  if "$out/$name" -runs="$runs" -seed="$SEED" -max_len="$max_len" -timeout=10 -artifact_prefix="$out/$name-" \
      "$work" "${seeds[@]}" >"$log" 2>&1; then
    end=$(date +%s%N)
    done_runs=$(sed -n 's/^Done \([0-9]*\) runs.*/\1/p' "$log" | tail -1)
    tenths=$(( (end - start) / 100000000 ))
    printf 'fuzz %-22s %10s runs in %5d.%d s: no findings\n' "$name" "${done_runs:-?}" $((tenths / 10)) $((tenths % 10))
  else
    echo "fuzz $name: FINDING (log: $log)"
    grep -E 'check failed|ERROR|SUMMARY|Test unit written' -A2 "$log" | head -20
    failed=1
  fi
done

# The table walk needs no fuzzer: it goes through every index and the whole chunk grid.
"$CXX" "${FLAGS[@]}" "${SHIM[@]}" "${SANITIZE[@]}" tests/fuzz/table_walk.cpp playback/stream_format.cpp \
  playback/chunk_arithmetic.cpp settings/settings_values.cpp tests/fuzz/shim/task_memory.cpp -o "$out/table_walk"
if ! "$out/table_walk"; then
  echo "table walk: FINDING"
  failed=1
fi

exit "$failed"
