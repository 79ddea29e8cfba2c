#!/usr/bin/env bash
# Checks the plug-in DLL's tables: a PE32 i386 DLL whose only export is winampGetInModule2 and whose
# imports are Windows system DLLs only (no MinGW runtime DLL).
set -euo pipefail
dll=$1
dump=$(i686-w64-mingw32-objdump -p "$dll")
fail=0

grep -q 'file format pei-i386' <<<"$dump" || { echo "not a PE32 i386 file"; fail=1; }
grep -Eq '^\s+DLL$|DLL' <<<"$(grep -A12 '^Characteristics' <<<"$dump")" || { echo "not flagged as a DLL"; fail=1; }

exports=$(awk '/\[Ordinal\/Name Pointer\] Table/{on=1; next} on && /^[ \t]*\[/{print $NF; next} on{on=0}' <<<"$dump")
if [ "$exports" != "winampGetInModule2" ]; then
  echo "exports are not exactly winampGetInModule2:"; echo "$exports"; fail=1
fi

allowed='^(kernel32|user32|gdi32|comctl32|comdlg32|ole32|oleaut32|advapi32|shell32|shlwapi|msvcrt|version|winmm)\.dll$'
imports=$(grep -i 'DLL Name:' <<<"$dump" | awk '{print tolower($3)}')
for dll_name in $imports; do
  grep -Eq "$allowed" <<<"$dll_name" || { echo "unexpected import: $dll_name"; fail=1; }
done
grep -qi 'kernel32.dll' <<<"$imports" || { echo "kernel32.dll not imported"; fail=1; }

[ $fail -eq 0 ] && echo "exports: $exports; imports: $(echo $imports)"
exit $fail
