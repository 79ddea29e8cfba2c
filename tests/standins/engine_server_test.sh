#!/usr/bin/env bash
# The engine as an in-process COM server: in a Wine prefix of its own, txtplay --no-engine (which
# registers no classes itself) cannot speak with Wine's own speech classes; after
# `regsvr32 txtengine_server.dll` it speaks the file to its end with the espeak-ng voice; after
# `regsvr32 /u` Wine's own registrations are back exactly as they were.
# Usage: engine_server_test.sh BUILD_DIR SAMPLE_FILE
set -euo pipefail
build=$(cd "$1" && pwd)
sample=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
top=$(cd "$(dirname "$0")/../.." && pwd)
prefix="$build/server-wineprefix"

if [ -z "${ENGINE_SERVER_TEST_INSIDE:-}" ]; then
  # A prefix left registered by an interrupted run is no longer Wine's own: start afresh.
  if [ -f "$prefix/system.reg" ] && grep -qi 'txtengine_server' "$prefix/system.reg"; then rm -rf "$prefix"; fi
  export WINEPREFIX="$prefix" ENGINE_SERVER_TEST_INSIDE=1
  exec bash "$top/scripts/with-wine.sh" "$build" bash "$0" "$@"
fi

fail() { echo "FAIL: $*"; exit 1; }
work="$build/server-test"
rm -rf "$work"
mkdir -p "$work/player/Plugins"
# A player folder of its own, so its plugin.ini is private.
cp "$build/bin/txtplay.exe" "$work/player/"
cp "$build/bin/Plugins/in_txt.dll" "$work/player/Plugins/"
server=$(winepath -w "$build/bin/txtengine_server.dll")
classes='HKLM\Software\Classes\CLSID'
voice="$classes\\{96749377-3391-11D2-9EE3-00C04F797396}\\InprocServer32"
translator="$classes\\{E2AE5372-5D40-11D2-960E-00C04F8EE628}"
category="$classes\\{A910187F-0C7A-45AC-92CC-59EDAFB77B53}\\InprocServer32"

query() { wine reg query "$1" 2>&1 | tr -d '\r'; }
play() {  # play OUT.wav: txtplay's output, exit status kept in $played
  set +e
  output=$(timeout 120 wine "$work/player/txtplay.exe" --no-engine --non-interactive --instant \
           --out "$(winepath -w "$1")" "$(winepath -w "$sample")" 2>&1 | tr -d '\r')
  played=${PIPESTATUS[0]}
  set -e
  echo "$output"
}

voice_before=$(query "$voice")
category_before=$(query "$category")
grep -qi 'sapi.dll' <<<"$voice_before" || fail "Wine's voice class is not registered in the fresh prefix: $voice_before"
wine reg query "$translator" >/dev/null 2>&1 && fail "the fresh prefix already has a notify translator class"

echo "--- without the server"
play "$work/without.wav"
[ "$played" -ne 0 ] || fail "txtplay --no-engine spoke without the server: it must have registered classes itself"

echo "--- registered"
wine regsvr32 /s "$server" || fail "regsvr32 failed"
query "$voice" | grep -qi 'txtengine_server.dll' || fail "the voice class does not point at the server"
query "$category" | grep -qi 'txtengine_server.dll' || fail "the token category class does not point at the server"
query "$translator\\InprocServer32" | grep -q 'ThreadingModel.*Both' || fail "the translator class is not registered"
play "$work/with.wav"
[ "$played" -eq 0 ] || fail "txtplay did not play the file to its end (exit $played)"
grep -q 'message box' <<<"$output" && fail "a message box came up"
seconds=$(soxi -D "$work/with.wav")
peak=$(sox "$work/with.wav" -n stat 2>&1 | awk '/Maximum amplitude/ {print $3}')
echo "spoken: $seconds s, peak amplitude $peak"
awk -v s="$seconds" 'BEGIN { exit !(s > 5) }' || fail "only $seconds s of sound for the sample"
awk -v p="$peak" 'BEGIN { exit !(p > 0.1) }' || fail "the sound is silent (peak $peak)"

echo "--- registered twice, then unregistered"
wine regsvr32 /s "$server" || fail "registering again failed"
wine regsvr32 /s /u "$server" || fail "regsvr32 /u failed"
[ "$(query "$voice")" = "$voice_before" ] || fail "the voice class was not restored: $(query "$voice")"
[ "$(query "$category")" = "$category_before" ] || fail "the category class was not restored: $(query "$category")"
wine reg query "$translator" >/dev/null 2>&1 && fail "the translator class key was left behind"
echo "PASS"
