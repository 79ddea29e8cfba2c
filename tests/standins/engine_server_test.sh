#!/usr/bin/env bash
# The engine as an in-process COM server: in a Wine prefix of its own, txtplay --no-engine (which
# registers no classes itself) cannot speak with Wine's own speech classes; after
# `regsvr32 txtengine_server.dll` it speaks the file to its end with the espeak-ng voice; after
# `regsvr32 /u` Wine's own registrations are back exactly as they were. In between, an ordinary SAPI
# program of its own (sapi_client.exe) goes through what any program in the prefix gets: voices by
# attributes, a saved voice id reopened, speech on the default sound device (ALSA's default device
# made a file for this test), the notification forms and the other calls; the audio output category
# answers as it did before registration. A VBScript run by Wine's cscript uses the voice through
# automation (CreateObject("SAPI.SpVoice"), Rate, Volume, GetVoices, Voice with its DataKey and Category,
# AudioOutput read and chosen by token, Speak, Status).
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
client_exe=$(winepath -w "$build/bin/sapi_client.exe")
# ALSA's default device writes what is played to a wave file; Wine's ALSA driver plays on it.
capture="$work/captured.wav"
echo "pcm.!default { type file; slave.pcm { type null }; file \"$capture\"; format \"wav\" }" >"$work/asound.conf"
wine reg add 'HKCU\Software\Wine\Drivers' /v Audio /d alsa /f >/dev/null 2>&1
client() {  # client [--device] STEP ARGS...: the program's output, exit status kept in $client_status
  local device=()
  if [ "$1" = --device ]; then device=(env ALSA_CONFIG_PATH="$work/asound.conf"); shift; fi
  set +e
  client_output=$("${device[@]}" timeout 120 wine "$client_exe" "$@" 2>&1 | tr -d '\r' | grep -v '^ALSA lib')
  client_status=${PIPESTATUS[0]}
  set -e
  echo "$client_output"
}
client_step() { client "$@"; [ "$client_status" -eq 0 ] || fail "sapi_client $*"; }
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
client_step category-audio
audio_before=$client_output
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

echo "--- a SAPI program of its own"
client_step category-audio
[ "$client_output" = "$audio_before" ] || fail "the audio output category answers otherwise than Wine's own"
client_step voices
client_step reopen
client_step no-device
sentence="Hello world, this is the speech engine speaking."
rm -f "$capture"
client_step --device speak "$sentence" "$(winepath -w "$capture")"
on_return=$(sed -n 's/^captured on return: //p' <<<"$client_output")
final=$(stat -c %s "$capture")
espeak-ng -v en-us -w "$work/reference.wav" "$sentence"
heard=$(soxi -D "$capture")
expected=$(soxi -D "$work/reference.wav")
peak=$(sox "$capture" -n stat 2>&1 | awk '/Maximum amplitude/ {print $3}')
echo "heard $heard s (espeak-ng alone: $expected s), peak $peak, $on_return of $final bytes captured when Speak returned"
awk -v h="$heard" -v e="$expected" 'BEGIN { exit !(h > 0.85 * e && h < 1.2 * e) }' || fail "the sound heard is not the sentence"
awk -v p="$peak" 'BEGIN { exit !(p > 0.1) }' || fail "the default output is silent (peak $peak)"
awk -v r="$on_return" -v f="$final" 'BEGIN { exit !(r >= 0.95 * f) }' || fail "a synchronous Speak returned before its sound was played"
client_step --device notify
client_step --device calls
client_step apartment
client_step --device events
client_step --device priority

echo "--- a script through automation (CreateObject(\"SAPI.SpVoice\") in cscript)"
query 'HKLM\Software\Classes\SAPI.SpVoice\CLSID' | grep -qi '{96749377-3391-11D2-9EE3-00C04F797396}' ||
  fail "the ProgID SAPI.SpVoice does not lead to the voice class"
rm -f "$capture"
set +e
said=$(ALSA_CONFIG_PATH="$work/asound.conf" timeout 120 wine cscript //nologo \
       "$(winepath -w "$top/tests/standins/sapi_client/automation.vbs")" "$sentence" 2>&1 | tr -d '\r' | grep -v '^ALSA lib')
set -e
echo "$said"
said() { sed -n "s/^$1: //p" <<<"$said"; }
[ "$(said type)" = ISpeechVoice ] || fail "the script's voice is not an ISpeechVoice"
[ "$(said rate)" = 3 ] && [ "$(said volume)" = 80 ] || fail "Rate or Volume did not keep what the script set"
# VBScript reports E_INVALIDARG as its own error 5, "Invalid procedure call or argument".
[ "$(said 'volume 101')" = 5 ] || fail "a volume of 101 did not reach the script as E_INVALIDARG"
voices=$(said voices)
[ "${voices:-0}" -gt 1 ] && [ "$(said 'for each')" = "$voices" ] || fail "GetVoices and For Each disagree"
[ "$(said english)" -ge 1 ] && [ "$(said english)" -lt "$voices" ] || fail "GetVoices(\"Language=409\") did not filter"
grep -q '^eSpeak NG English' <<<"$(said voice)" && grep -q '409' <<<"$(said 'voice language')" ||
  fail "the voice the script chose is not English"
[ "$(said 'data key')" = "$(said voice)" ] && grep -q '\\Voices$' <<<"$(said category)" ||
  fail "the voice token's DataKey or Category"
grep -q '\\AudioOutput\\' <<<"$(said 'audio output')" && [ "$(said 'audio output chosen')" = "$(said 'audio output')" ] &&
  [ "$(said 'no output stream')" = True ] || fail "AudioOutput is not the sound device's token, or choosing it by token failed"
[ "$(said 'running state')" = 1 ] && [ "$(said 'last stream')" -ge 1 ] || fail "Status after a synchronous Speak"
heard=$(soxi -D "$capture")
peak=$(sox "$capture" -n stat 2>&1 | awk '/Maximum amplitude/ {print $3}')
echo "the script's Speak: $heard s at rate 3 (at rate 0: $expected s), peak $peak"
awk -v p="$peak" 'BEGIN { exit !(p > 0.1) }' || fail "the script's Speak was silent (peak $peak)"
awk -v h="$heard" -v e="$expected" 'BEGIN { exit !(h > 0.4 * e && h < 0.9 * e) }' ||
  fail "the script's Speak is not the sentence at a faster rate"

echo "--- registered twice, then unregistered"
wine regsvr32 /s "$server" || fail "registering again failed"
wine regsvr32 /s /u "$server" || fail "regsvr32 /u failed"
[ "$(query "$voice")" = "$voice_before" ] || fail "the voice class was not restored: $(query "$voice")"
[ "$(query "$category")" = "$category_before" ] || fail "the category class was not restored: $(query "$category")"
wine reg query "$translator" >/dev/null 2>&1 && fail "the translator class key was left behind"
tokens=$(query 'HKLM\SOFTWARE\Microsoft\Speech\Voices\Tokens')
grep -q 'TxtTone\|TxtEspeak' <<<"$tokens" && fail "voice tokens were left behind: $tokens"
grep -q 'Wine Default Voice' <<<"$tokens" || fail "Wine's own voice token went too: $tokens"
echo "PASS"
