#!/usr/bin/env bash
# Checks a cross-built updater.exe without running it:
#   tools/windows/check-program.sh ARCH PROGRAM.exe      (ARCH: i686 or x86_64)
# - a GUI program of that architecture (PE32 for i686, PE32+ for x86_64);
# - it imports only DLLs that every Windows system has (linked statically,
#   it needs no runtime DLL of the compiler or of a library beside it);
# - its resources hold dialog 102, icon group 128 and the version information.
set -euo pipefail
arch=${1:?usage: check-program.sh ARCH PROGRAM.exe}
program=${2:?usage: check-program.sh ARCH PROGRAM.exe}

fail() {
  echo "check-program: $program: $*" >&2
  exit 1
}
[ -f "$program" ] || fail "no such file"
case "$arch" in
  i686) want_file='PE32 executable (GUI) Intel 80386'; objdump=i686-w64-mingw32-objdump ;;
  x86_64) want_file='PE32+ executable (GUI) x86-64'; objdump=x86_64-w64-mingw32-objdump ;;
  *) fail "unknown architecture '$arch'" ;;
esac
file -b "$program" | grep -qF "$want_file" || fail "is not a $want_file: $(file -b "$program")"

headers=$("$objdump" -p "$program")

system_dlls='^(kernel32|user32|gdi32|shell32|comctl32|comdlg32|advapi32|ws2_32|msvcrt|ole32|oleaut32|version|crypt32|secur32|bcrypt|ncrypt|ntdll|shlwapi|psapi|userenv|imm32|winmm|rpcrt4)\.dll$'
dlls=$(awk '/DLL Name:/ { print tolower($3) }' <<<"$headers" | sort -u)
[ -n "$dlls" ] || fail "imports no DLL at all (not a linked program?)"
others=$(grep -vE "$system_dlls" <<<"$dlls" || true)
[ -z "$others" ] || fail "needs DLLs that are not part of Windows: $(echo $others)"

# The resource directory as objdump prints it: level-1 entries (three blanks
# after the offset) are types, level-2 entries (five blanks) their names.
resources=$(awk '/^The .rsrc Resource Directory section/ { on = 1; next }
  on && /^[0-9a-f]+   Entry: ID:/ { type = $4; sub(",", "", type) }
  on && /^[0-9a-f]+     Entry: ID:/ { name = $4; sub(",", "", name); print type, name }' <<<"$headers")
has_resource() { grep -qx "$1 $2" <<<"$resources"; }
has_resource 0x000005 0x000066 || fail "has no dialog 102"
has_resource 0x00000e 0x000080 || fail "has no icon group 128"
grep -q '^0x000010 ' <<<"$resources" || fail "has no version information"

echo "check-program: $program: $want_file; imports $(echo $dlls); dialog 102, icon group 128, version information"
