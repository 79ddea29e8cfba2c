#!/usr/bin/env bash
# Plays the sample files through the plug-in in txtplay (the player stand-in) with the espeak-ng
# voice of the speech engine stand-in, into a wave file, then prints where it is, how long it lasts
# and its format. Runs inside scripts/with-wine.sh.
# Usage: demo.sh BUILD_DIR [txtplay options...]
set -euo pipefail
build=$(cd "$1" && pwd)
shift
top=$(cd "$(dirname "$0")/.." && pwd)

out_dir="$build/demo"
player="$out_dir/player"
mkdir -p "$player/Plugins"
wav="$out_dir/demo.wav"
rm -f "$out_dir"/demo*.wav

# A player folder of the demo's own, with settings that choose the English espeak-ng voice (48000 Hz,
# 16 bit, mono: the plug-in's defaults) and play e-books too.
cp "$build/bin/txtplay.exe" "$player/"
cp "$build/bin/Plugins/in_txt.dll" "$player/Plugins/"
printf '[in_txt]\r\nVoiceID=HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Speech\\Voices\\Tokens\\TxtEspeakEnglish\r\nDocuments=1\r\n' \
  >"$player/Plugins/plugin.ini"

command -v espeak-ng >/dev/null && command -v sox >/dev/null ||
  echo "espeak-ng or sox is not installed: the tone voice speaks instead (make deps)"

samples=()
for f in "$top"/samples/*; do samples+=("$(winepath -w "$f")"); done
# The sample e-books, written from the story by the project's own script.
bash "$top/scripts/make-books.sh" "$out_dir/books" >/dev/null
for f in "$out_dir"/books/story.epub "$out_dir"/books/story.fb2; do samples+=("$(winepath -w "$f")"); done

wine "$player/txtplay.exe" --out "$(winepath -w "$wav")" --speed 16 --non-interactive "$@" "${samples[@]}" \
  | tr -d '\r'

for f in "$out_dir"/demo*.wav; do
  echo "Wave file: $f"
  echo "  duration: $(soxi -D "$f") s; format: $(soxi -r "$f") Hz, $(soxi -b "$f") bits, $(soxi -c "$f") channel(s)"
done
