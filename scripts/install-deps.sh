#!/usr/bin/env bash
# Installs the cross toolchain, Wine (32-bit), Xvfb, clang for native fuzzing and the tools the tests and demo use.
# Safe to run again: it skips the work when everything is already there.
set -euo pipefail

need=()
command -v i686-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-i686-posix)
command -v i686-w64-mingw32-windres >/dev/null || need+=(binutils-mingw-w64-i686)
command -v cmake >/dev/null || need+=(cmake)
command -v make >/dev/null || need+=(make)
command -v Xvfb >/dev/null || need+=(xvfb)
command -v import >/dev/null || need+=(imagemagick)
command -v espeak-ng >/dev/null || need+=(espeak-ng)
command -v soxi >/dev/null || need+=(sox)
command -v makensis >/dev/null || need+=(nsis)
# zlib for the zip containers of e-books, built for the cross toolchain; Debian's zip writes the samples.
[ -f /usr/i686-w64-mingw32/include/zlib.h ] || need+=(libz-mingw-w64-dev)
command -v zip >/dev/null || need+=(zip)
# Native zlib for the fuzzers of the zip reader.
[ -f /usr/include/zlib.h ] || need+=(zlib1g-dev)
[ -x /usr/lib/wine/wine ] || [ -x /usr/bin/wine ] || need+=(wine)
dpkg -s wine32:i386 >/dev/null 2>&1 || need+=(wine32:i386)
[ -d /usr/src/googletest/googletest ] || need+=(googletest)
# Native fuzzing: clang, and libFuzzer with the sanitizer run-times.
command -v clang++ >/dev/null || need+=(clang)
[ -n "$(ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a 2>/dev/null)" ] || need+=(libclang-rt-14-dev)

if [ ${#need[@]} -eq 0 ]; then
  echo "install-deps: everything is installed"
  exit 0
fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" </dev/null
