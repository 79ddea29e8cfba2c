#!/usr/bin/env bash
# Plays the sample files through the plug-in in txtplay (the player stand-in) into a wave file, then
# prints where it is, how long it lasts and its format. Runs inside scripts/with-wine.sh.
# Usage: demo.sh BUILD_DIR [txtplay options...]
set -euo pipefail
build=$(cd "$1" && pwd)
shift
top=$(cd "$(dirname "$0")/.." && pwd)

out_dir="$build/demo"
mkdir -p "$out_dir"
wav="$out_dir/demo.wav"
rm -f "$out_dir"/demo*.wav

samples=()
for f in "$top"/samples/*; do samples+=("$(winepath -w "$f")"); done

wine "$build/bin/txtplay.exe" --out "$(winepath -w "$wav")" --speed 16 --non-interactive "$@" "${samples[@]}" \
  | tr -d '\r'

for f in "$out_dir"/demo*.wav; do
  echo "Wave file: $f"
  echo "  duration: $(soxi -D "$f") s; format: $(soxi -r "$f") Hz, $(soxi -b "$f") bits, $(soxi -c "$f") channel(s)"
done
