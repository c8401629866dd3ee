# Sourced by the Windows scripts: how Windows programs run on this machine.
# Some machines cannot execute 32-bit (i386) code at all, so wine32 cannot
# start there; they test the x86-64 build under 64-bit wine instead.
#   UPDATER_WINDOWS_ARCH   i686 where 32-bit code runs, x86_64 where it does
#                          not (set it to choose)
#   UPDATER_WINDOWS_PRESET the CMake preset of that build
# wine_loader prints the wine loader for that build's programs.

# Runs a 32-bit program that only exits with status 7: the answer needs no
# i386 package installed (a fresh machine has none). The program is an ELF
# header, one loadable segment, and "mov eax,1; mov ebx,7; int 0x80".
machine_runs_i386() {
  local probe status=0
  probe=$(mktemp "${TMPDIR:-/tmp}/updater-i386-probe.XXXXXX")
  python3 - "$probe" <<'PY'
import os, struct, sys
base = 0x08048000
code = bytes.fromhex("b801000000" "bb07000000" "cd80")
size = 52 + 32 + len(code)
header = struct.pack("<16sHHIIIIIHHHHHH", b"\x7fELF\x01\x01\x01" + bytes(9), 2, 3, 1,
                     base + 84, 52, 0, 0, 52, 32, 1, 0, 0, 0)
segment = struct.pack("<8I", 1, 0, base, base, size, size, 5, 0x1000)
with open(sys.argv[1], "wb") as f:
    f.write(header + segment + code)
os.chmod(sys.argv[1], 0o755)
PY
  "$probe" 2>/dev/null || status=$?
  rm -f "$probe"
  [ "$status" -eq 7 ]
}

if [ -z "${UPDATER_WINDOWS_ARCH:-}" ]; then
  if machine_runs_i386; then UPDATER_WINDOWS_ARCH=i686; else UPDATER_WINDOWS_ARCH=x86_64; fi
fi
case "$UPDATER_WINDOWS_ARCH" in
  i686 | x86_64) ;;
  *) echo "wine-env: UPDATER_WINDOWS_ARCH must be i686 or x86_64, not '$UPDATER_WINDOWS_ARCH'" >&2; return 64 ;;
esac
export UPDATER_WINDOWS_ARCH
export UPDATER_WINDOWS_PRESET=windows-$UPDATER_WINDOWS_ARCH

# Debian's /usr/bin/wine prefers the 32-bit loader whenever wine32 is
# installed, even where it cannot run: 64-bit work names wine64 itself.
wine_loader() {
  if [ "$UPDATER_WINDOWS_ARCH" = x86_64 ]; then echo /usr/lib/wine/wine64; else echo wine; fi
}
