#!/usr/bin/env bash
# Runs in_txt-setup.exe and its uninstaller silently under Wine against player folders made for the test
# in the Wine prefix's drive C, and checks files and registry afterwards. Runs inside scripts/with-wine.sh,
# which provides WINEPREFIX, the display and one wineserver.
#
# Usage: installer_test.sh CASE SETUP_EXE PLUGIN_DLL RUN_COMMAND_LINE_EXE ENGINE_DLL
#   CASE: install_and_uninstall | player_folder_from_registry | shared_uninstall_entry |
#         folder_without_player | plugin_in_use | speech_engine_under_wine
# speech_engine_under_wine registers the speech engine for a whole prefix, so it runs in a prefix of
# its own (the engine server test's), never in the one the other tests share.
set -uo pipefail

if [ $# -ne 5 ] || [ -z "${WINEPREFIX:-}" ]; then
  echo "usage: installer_test.sh CASE SETUP_EXE PLUGIN_DLL RUN_COMMAND_LINE_EXE ENGINE_DLL (inside scripts/with-wine.sh)" >&2
  exit 2
fi
case_name=$1
setup=$2
plugin_dll=$3
runner=$4
engine_dll=$5

if [ "$case_name" = speech_engine_under_wine ] && [ -z "${INSTALLER_TEST_ENGINE_PREFIX:-}" ]; then
  build=$(cd "$(dirname "$setup")/.." && pwd)
  prefix="$build/server-wineprefix"
  # A prefix left registered by an interrupted run is no longer Wine's own: start afresh.
  if [ -f "$prefix/system.reg" ] && grep -qi 'txtengine_server' "$prefix/system.reg"; then rm -rf "$prefix"; fi
  export WINEPREFIX="$prefix" INSTALLER_TEST_ENGINE_PREFIX=1
  exec bash "$(dirname "$0")/../../scripts/with-wine.sh" "$build" bash "$0" "$@"
fi

UNINSTALL_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\in_txt'
PLAYER_KEY='HKCU\Software\Winamp'
PLAYER_UNINSTALL_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Winamp'
DISPLAY_NAME='Tavrin Text Speech plug-in v1.01 (x86)'
UNINSTALLER=uninstall_in_txt.exe
# What the installer and uninstaller return when they did nothing.
EXIT_NOTHING_DONE=2

# Folder names with spaces: /D= and _?= take the rest of the command line, unquoted.
root="$WINEPREFIX/drive_c/in_txt setup tests/$case_name"
log="$WINEPREFIX/drive_c/in_txt setup tests/$case_name.log"

passed=0
failed=0

# ---- checks ------------------------------------------------------------------------------------------

check() {  # DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
    echo "ok   - $what"
  else
    failed=$((failed + 1))
    echo "FAIL - $what"
  fi
}

equals() {
  [ "$1" = "$2" ] && return 0
  echo "       got '$1', expected '$2'"
  return 1
}
same_file() { cmp -s "$1" "$2"; }
is_file() { [ -f "$1" ]; }
is_dir() { [ -d "$1" ]; }
absent() { [ ! -e "$1" ]; }
not_empty() { [ -n "$1" ]; }

# ---- Wine and the registry ---------------------------------------------------------------------------

win_path() { winepath -w "$1" 2>/dev/null | tr -d '\r'; }

# Runs a raw Windows command line (optionally: --hold DLL first) and returns its exit code.
run_windows() {
  echo "> $*" >>"$log"
  wine "$runner" "$@" </dev/null >>"$log" 2>&1
}

# The cases install without the speech engine, which would point the prefix's speech classes at it
# while other tests share the prefix; only the engine's own case, in a prefix of its own, takes it.
setup_options="/S /NOENGINE"

install_silently() {  # [PLAYER_FOLDER]
  local command_line="\"$(win_path "$setup")\" $setup_options"
  [ $# -gt 0 ] && command_line+=" /D=$(win_path "$1")"
  run_windows "$command_line"
}

# Runs the uninstaller in its own folder (_?=): without it, the uninstaller copies itself to the temp
# folder, starts the copy and returns at once.
uninstall_in_place() {  # PLAYER_FOLDER [--hold DLL]
  local plugins
  plugins=$(win_path "$1/Plugins")
  shift
  run_windows "$@" "\"$plugins\\$UNINSTALLER\" /S _?=$plugins"
}

reg_value() {  # KEY NAME: the data of one value, empty when missing
  wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^    $2    REG_[A-Z_]*    //p"
}
reg_default() {  # KEY: its default value's data, empty when missing
  wine reg query "$1" /ve 2>/dev/null | tr -d '\r' | sed -n 's/^    (Default)    REG_[A-Z_]*    //p'
}
key_exists() { wine reg query "$1" >/dev/null 2>&1; }
no_key() { ! key_exists "$1"; }
delete_key() { wine reg delete "$1" /f >/dev/null 2>&1 || true; }
set_default_value() { wine reg add "$1" /ve /d "$2" /f >/dev/null 2>&1; }
set_value() { wine reg add "$1" /v "$2" /d "$3" /f >/dev/null 2>&1; }

clear_registry() {
  delete_key "$UNINSTALL_KEY"
  delete_key "$PLAYER_KEY"
  delete_key "$PLAYER_UNINSTALL_KEY"
}

# ---- player folders ----------------------------------------------------------------------------------

# plugin.ini as the player and its other plug-ins left it, with settings of an earlier in_txt too.
plugin_ini() {
  printf '[in_other]\r\nVolume=80\r\n\r\n[in_txt]\r\nRate=3\r\n\r\n[gen_tray]\r\nShow=1\r\n'
}

make_player() {  # FOLDER: winamp.exe and a Plugins folder with another plug-in and plugin.ini
  mkdir -p "$1/Plugins"
  printf 'player stand-in\r\n' >"$1/winamp.exe"
  printf 'another plug-in\r\n' >"$1/Plugins/in_other.dll"
  plugin_ini >"$1/Plugins/plugin.ini"
}

player_files_untouched() {  # FOLDER
  local ok=0
  cmp -s <(plugin_ini) "$1/Plugins/plugin.ini" || { echo "       plugin.ini changed or gone"; ok=1; }
  cmp -s <(printf 'another plug-in\r\n') "$1/Plugins/in_other.dll" || { echo "       in_other.dll changed"; ok=1; }
  [ -f "$1/winamp.exe" ] || { echo "       winamp.exe gone"; ok=1; }
  return $ok
}

installed_in() {  # FOLDER: the built DLL and the uninstaller are in its Plugins folder
  same_file "$plugin_dll" "$1/Plugins/in_txt.dll" && is_file "$1/Plugins/$UNINSTALLER"
}
nothing_installed_in() {  # FOLDER
  absent "$1/Plugins/in_txt.dll" && absent "$1/Plugins/$UNINSTALLER"
}

entry_points_at() {  # FOLDER: the Add/Remove Programs entry runs that folder's uninstaller
  equals "$(reg_value "$UNINSTALL_KEY" UninstallString)" "\"$(win_path "$1/Plugins")\\$UNINSTALLER\""
}

wait_until() {  # SECONDS COMMAND...: true once the command succeeds, false when time runs out
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ $SECONDS -ge $deadline ] && return 1
    sleep 0.5
  done
}

uninstalled_from() {  # FOLDER
  nothing_installed_in "$1" && no_key "$UNINSTALL_KEY"
}
# Run in place (_?=), the uninstaller cannot delete its own running file; the rest must be gone.
plugin_and_entry_removed() {  # FOLDER
  absent "$1/Plugins/in_txt.dll" && no_key "$UNINSTALL_KEY"
}

# ---- cases -------------------------------------------------------------------------------------------

case_install_and_uninstall() {
  local one="$root/Player One"
  make_player "$one"
  printf 'older in_txt build\r\n' >"$one/Plugins/in_txt.dll"

  install_silently "$one"
  check "silent install with /D= exits with 0" equals "$?" 0
  check "the built DLL replaces the older one in Plugins" same_file "$plugin_dll" "$one/Plugins/in_txt.dll"
  check "the uninstaller is written beside the plug-in" is_file "$one/Plugins/$UNINSTALLER"
  check "plugin.ini, other plug-ins and the player are untouched" player_files_untouched "$one"
  check "Add/Remove Programs entry shows the plug-in's name" \
    equals "$(reg_value "$UNINSTALL_KEY" DisplayName)" "$DISPLAY_NAME"
  check "the entry's version is 1.01" equals "$(reg_value "$UNINSTALL_KEY" DisplayVersion)" 1.01
  check "the entry names a publisher" not_empty "$(reg_value "$UNINSTALL_KEY" Publisher)"
  check "the entry runs this folder's uninstaller" entry_points_at "$one"

  uninstall_in_place "$one"
  check "silent uninstall exits with 0" equals "$?" 0
  check "the uninstaller removes in_txt.dll" absent "$one/Plugins/in_txt.dll"
  check "the uninstaller removes the Add/Remove Programs entry" no_key "$UNINSTALL_KEY"
  check "plugin.ini, other plug-ins and the player survive the uninstall" player_files_untouched "$one"

  # As Add/Remove Programs runs it: the quiet command line, no _?=, so the copy in the temp folder
  # finishes the work after the first process has returned, and removes the uninstaller too.
  install_silently "$one"
  check "a second install into the same folder exits with 0" equals "$?" 0
  local quiet
  quiet=$(reg_value "$UNINSTALL_KEY" QuietUninstallString)
  check "the entry has a quiet uninstall command" not_empty "$quiet"
  run_windows "$quiet"
  check "the quiet uninstall command exits with 0" equals "$?" 0
  check "the uninstaller removes the plug-in, itself and the entry" wait_until 60 uninstalled_from "$one"
  check "the Plugins folder stays with the player's files" player_files_untouched "$one"
}

case_player_folder_from_registry() {
  local one="$root/Player One" two="$root/Player Two" stale="$root/Old Player" four="$root/Player Four"
  make_player "$one"
  mkdir -p "$two"
  printf 'player stand-in\r\n' >"$two/winamp.exe"
  set_default_value "$PLAYER_KEY" "$(win_path "$two")"

  install_silently "$one"
  check "/D= wins over the player's registry entry" installed_in "$one"
  check "nothing goes to the registered folder when /D= names another" absent "$two/Plugins"

  install_silently
  check "without /D= the install exits with 0" equals "$?" 0
  check "without /D= the plug-in goes to the folder the player records (Plugins created)" installed_in "$two"
  check "the entry follows the latest install" entry_points_at "$two"

  # A recorded folder that no longer holds the player gives way to the folder of the player's uninstaller.
  make_player "$four"
  mkdir -p "$stale"
  set_default_value "$PLAYER_KEY" "$(win_path "$stale")"
  set_value "$PLAYER_UNINSTALL_KEY" UninstallString "\"$(win_path "$four")\\UninstWA.exe\""
  install_silently
  check "a recorded folder without the player falls back to the player's uninstaller entry" installed_in "$four"
  check "the folder without the player gets nothing" absent "$stale/Plugins"

  # With no registry entry at all, the usual place under Program Files.
  clear_registry
  local usual
  usual=$(winepath -u 'C:\Program Files\Winamp' 2>/dev/null | tr -d '\r')
  if [ -e "$usual" ]; then
    echo "skip - $usual already exists in this prefix; the default folder is not tried"
  else
    make_player "$usual"
    install_silently
    check "without registry entries the plug-in goes to Program Files\\Winamp" installed_in "$usual"
    rm -rf "$usual"
  fi
}

case_shared_uninstall_entry() {
  local one="$root/Player One" two="$root/Player Two"
  make_player "$one"
  make_player "$two"
  install_silently "$one"
  # The second folder typed in capitals: Windows paths are case-blind, and the entry must still be
  # recognised as that folder's when its uninstaller, spelled as usual, runs.
  local two_typed
  two_typed=$(win_path "$two")
  run_windows "\"$(win_path "$setup")\" $setup_options /D=${two_typed^^}"
  check "the plug-in is in both folders" installed_in "$one"
  check "and in the second" installed_in "$two"
  local two_location="${two_typed^^}\\Plugins"
  check "the one entry points at the latest install" \
    equals "$(reg_value "$UNINSTALL_KEY" InstallLocation)" "$two_location"

  uninstall_in_place "$one"
  check "uninstalling the first folder exits with 0" equals "$?" 0
  check "the first folder's plug-in is removed" absent "$one/Plugins/in_txt.dll"
  check "the second folder's plug-in stays" installed_in "$two"
  check "the entry of the second folder stays" \
    equals "$(reg_value "$UNINSTALL_KEY" InstallLocation)" "$two_location"

  uninstall_in_place "$two"
  check "uninstalling the second folder removes the entry" no_key "$UNINSTALL_KEY"
  check "and its plug-in" absent "$two/Plugins/in_txt.dll"
}

case_folder_without_player() {
  local empty="$root/Not A Player"
  mkdir -p "$empty"

  install_silently "$empty"
  check "silent install into a folder without winamp.exe fails" equals "$?" "$EXIT_NOTHING_DONE"
  check "it creates no Plugins folder there" absent "$empty/Plugins"
  check "it writes no Add/Remove Programs entry" no_key "$UNINSTALL_KEY"

  set_default_value "$PLAYER_KEY" "$(win_path "$empty")"
  install_silently
  check "silent install to a recorded folder without the player fails" equals "$?" "$EXIT_NOTHING_DONE"
  check "the recorded folder gets nothing" absent "$empty/Plugins"

  clear_registry
  if [ -e "$(winepath -u 'C:\Program Files\Winamp\winamp.exe' 2>/dev/null | tr -d '\r')" ]; then
    echo "skip - this prefix holds a player in Program Files\\Winamp"
  else
    install_silently
    check "silent install with no player anywhere fails" equals "$?" "$EXIT_NOTHING_DONE"
    check "and writes no entry" no_key "$UNINSTALL_KEY"
  fi
}

# The player keeps the plug-in loaded while it runs; neither program may half-do its work then.
case_plugin_in_use() {
  local one="$root/Player One"
  make_player "$one"
  install_silently "$one"
  check "the first install exits with 0" equals "$?" 0
  local loaded
  loaded=$(win_path "$one/Plugins/in_txt.dll")

  run_windows --hold "$loaded" "\"$(win_path "$setup")\" $setup_options /D=$(win_path "$one")"
  check "installing over a loaded plug-in fails" equals "$?" "$EXIT_NOTHING_DONE"
  check "the loaded plug-in stays in place" installed_in "$one"

  uninstall_in_place "$one" --hold "$loaded"
  check "uninstalling a loaded plug-in fails" equals "$?" "$EXIT_NOTHING_DONE"
  check "the loaded plug-in and its uninstaller stay" installed_in "$one"
  check "the entry stays, so the uninstall can be run again" entry_points_at "$one"

  uninstall_in_place "$one"
  check "once the player has let go, the uninstall exits with 0" equals "$?" 0
  check "and removes the plug-in and the entry" plugin_and_entry_removed "$one"
}

# Under Wine the speech engine comes with the plug-in (a silent install takes every component): it is
# copied beside the plug-in and SAPI's classes point at it; the uninstaller puts Wine's own back.
case_speech_engine_under_wine() {
  local one="$root/Player One"
  local classes='HKLM\Software\Classes\CLSID'
  local voice="$classes\\{96749377-3391-11D2-9EE3-00C04F797396}\\InprocServer32"
  local category="$classes\\{A910187F-0C7A-45AC-92CC-59EDAFB77B53}\\InprocServer32"
  local translator_class="$classes\\{E2AE5372-5D40-11D2-960E-00C04F8EE628}"
  local translator="$translator_class\\InprocServer32"
  local engine_in_plugins
  make_player "$one"
  engine_in_plugins="$(win_path "$one/Plugins")\\txtengine_server.dll"
  local voice_before category_before
  voice_before=$(wine reg query "$voice" 2>&1 | tr -d '\r')
  category_before=$(wine reg query "$category" 2>&1 | tr -d '\r')
  check "the fresh prefix has Wine's own voice class" grep -qi 'sapi.dll' <<<"$voice_before"

  setup_options="/S /NOENGINE"
  install_silently "$one"
  check "with /NOENGINE the install exits with 0" equals "$?" 0
  check "with /NOENGINE no engine is copied" absent "$one/Plugins/txtengine_server.dll"
  check "with /NOENGINE the voice class stays Wine's" equals "$(wine reg query "$voice" 2>&1 | tr -d '\r')" "$voice_before"

  setup_options="/S"
  install_silently "$one"
  check "silent install under Wine exits with 0" equals "$?" 0
  check "the plug-in is installed" installed_in "$one"
  check "the speech engine is copied beside the plug-in" same_file "$engine_dll" "$one/Plugins/txtengine_server.dll"
  check "the voice class points at the engine" equals "$(reg_default "$voice")" "$engine_in_plugins"
  check "the token category class points at the engine" equals "$(reg_default "$category")" "$engine_in_plugins"
  check "the notify translator class points at the engine" equals "$(reg_default "$translator")" "$engine_in_plugins"

  uninstall_in_place "$one"
  check "the silent uninstall exits with 0" equals "$?" 0
  check "the uninstaller removes the engine" absent "$one/Plugins/txtengine_server.dll"
  check "the voice class is Wine's own again" equals "$(wine reg query "$voice" 2>&1 | tr -d '\r')" "$voice_before"
  check "the token category class is Wine's own again" \
    equals "$(wine reg query "$category" 2>&1 | tr -d '\r')" "$category_before"
  check "the translator class Wine lacks is gone again" no_key "$translator_class"
  check "plugin.ini, other plug-ins and the player survive" player_files_untouched "$one"
}

# ---- main --------------------------------------------------------------------------------------------

if ! declare -F "case_$case_name" >/dev/null; then
  echo "unknown case: $case_name" >&2
  exit 2
fi
for file in "$setup" "$plugin_dll" "$runner" "$engine_dll"; do
  [ -f "$file" ] || { echo "missing: $file" >&2; exit 2; }
done

rm -rf "$root" "$log"
mkdir -p "$root"
clear_registry
trap clear_registry EXIT

"case_$case_name"

echo "installer.$case_name: $passed passed, $failed failed"
if [ $failed -ne 0 ]; then
  echo "Wine's output: $log; folders left in $root"
  exit 1
fi
rm -rf "$root" "$log"
