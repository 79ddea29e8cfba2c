#!/usr/bin/env bash
# Runs a command with a working Wine: its own Xvfb display, a private 32-bit Wine prefix (made on first
# use, with Wine's virtual desktop on) and one wineserver kept for the whole command.
# Usage: with-wine.sh BUILD_DIR COMMAND [ARGS...]
set -euo pipefail

build_dir=$(mkdir -p "$1" && cd "$1" && pwd)
shift

export WINEPREFIX="${WINEPREFIX:-$build_dir/wineprefix}"
export WINEARCH=win32
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

xvfb_pid=""
server_pid=""

cleanup() {
  if [ -n "$server_pid" ]; then
    wineserver -k 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
}
trap cleanup EXIT

# A free display number: no X socket and no lock file for it.
display=99
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do
  display=$((display + 1))
done
Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 1 100); do
  [ -e "/tmp/.X11-unix/X$display" ] && break
  sleep 0.1
done
export DISPLAY=":$display"

# A wineserver that survives between the command's Wine processes; a server left from an earlier run
# may hold a desktop without a display, so it goes first.
wineserver -k 2>/dev/null || true
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "with-wine: creating the Wine prefix $WINEPREFIX"
  wineboot -i >/dev/null 2>&1 </dev/null
  wineserver -w
  # Wine's virtual desktop: without a window manager every window that closes costs two seconds.
  wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
  wineserver -w
fi
# A crash prints its backtrace and ends the program, instead of waiting on a crash dialog nobody sees.
if ! grep -q '"ShowCrashDialog"=dword:00000000' "$WINEPREFIX/user.reg" 2>/dev/null; then
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
  wineserver -w
fi
wineserver -f -p &
server_pid=$!
# Wine's service processes start with the first Wine program and inherit its output; start them here,
# detached from the caller's pipes, or a test runner waits on those pipes until it times out.
wine cmd /c exit </dev/null >/dev/null 2>&1 || true

set +e
"$@"
status=$?
set -e
exit $status
