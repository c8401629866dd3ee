#!/usr/bin/env bash
# Checks a cross-built updater.exe without running it:
#   tools/windows/check-program.sh ARCH PROGRAM.exe      (ARCH: i686 or x86_64)
# - a GUI program of that architecture (PE32 for i686, PE32+ for x86_64);
# - it imports only DLLs that every Windows system has (linked statically,
#   it needs no runtime DLL of the compiler or of a library beside it);
# - its resources hold dialog 102, icon group 128, the version information and
#   the application manifest (type 24, id 1): run as invoker, every system
#   from Vista to 11 named as supported.
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

system_dlls='^(kernel32|user32|gdi32|shell32|comctl32|comdlg32|advapi32|ws2_32|msvcrt|ole32|oleaut32|version|crypt32|secur32|winhttp|bcrypt|ncrypt|ntdll|shlwapi|psapi|userenv|imm32|winmm|rpcrt4)\.dll$'
dlls=$(awk '/DLL Name:/ { print tolower($3) }' <<<"$headers" | sort -u)
[ -n "$dlls" ] || fail "imports no DLL at all (not a linked program?)"
others=$(grep -vE "$system_dlls" <<<"$dlls" || true)
[ -z "$others" ] || fail "needs DLLs that are not part of Windows: $(echo $others)"

# The resource directory as objdump prints it: level-1 entries (three blanks
# after the offset) are types, level-2 entries (five blanks) their names.
# Each name comes with the address (RVA) and size of its data, from the leaf
# below its language entry.
resources=$(awk '/^The .rsrc Resource Directory section/ { on = 1; next }
  on && /^[0-9a-f]+   Entry: ID:/ { type = $4; sub(",", "", type) }
  on && /^[0-9a-f]+     Entry: ID:/ { name = $4; sub(",", "", name) }
  on && /^[0-9a-f]+ +Leaf: Addr:/ { addr = $4; sub(",", "", addr); size = $6; sub(",", "", size)
    print type, name, addr, size }' <<<"$headers")
has_resource() { grep -q "^$1 $2 " <<<"$resources"; }
has_resource 0x000005 0x000066 || fail "has no dialog 102"
has_resource 0x00000e 0x000080 || fail "has no icon group 128"
grep -q '^0x000010 ' <<<"$resources" || fail "has no version information"

# The manifest's bytes, read from the file at the place its RVA maps to.
has_resource 0x000018 0x000001 || fail "has no application manifest (type 24, id 1)"
read -r _ _ manifest_rva manifest_size < <(grep '^0x000018 0x000001 ' <<<"$resources" | head -n 1)
image_base=$(awk '$1 == "ImageBase" { print $2 }' <<<"$headers")
read -r rsrc_vma rsrc_offset < <("$objdump" -h "$program" | awk '$2 == ".rsrc" { print $4, $6 }')
offset=$(( 0x$rsrc_offset + manifest_rva - (0x$rsrc_vma - 0x$image_base) ))
manifest=$(dd if="$program" bs=1 skip="$offset" count=$((manifest_size)) status=none | tr -d '\0')
grep -q 'requestedExecutionLevel level="asInvoker"' <<<"$manifest" ||
  fail "its manifest does not ask to run as invoker"
# Vista, 7, 8, 8.1, 10 and 11 (which shares the id of 10).
for os in e2011457-1546-43c5-a5fe-008deee3d3f0 35138b9a-5d96-4fbd-8e2d-a2440225f93a \
  4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38 1f676c76-80e1-4239-95bb-83d0f6d0da78 \
  8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a; do
  grep -q "<supportedOS Id=\"{$os}\"/>" <<<"$manifest" || fail "its manifest does not name $os"
done

echo "check-program: $program: $want_file; imports $(echo $dlls); dialog 102, icon group 128, version information, manifest (asInvoker, Vista to 11)"
