#!/usr/bin/env bash
# Installs the Debian packages that building and testing the updater need.
# Idempotent: only packages that are missing are installed, and apt-get runs
# only when something is missing.
#   tools/install-deps.sh build     compiler, CMake, libraries
#   tools/install-deps.sh test      build + the loopback peers and archivers
#   tools/install-deps.sh windows   the MinGW cross-builds, wine and Xvfb: 32-bit
#                                   wine where this machine runs i386 code,
#                                   64-bit wine where it cannot
#   tools/install-deps.sh demo      build + what tools/demo.sh serves the sample with
#   tools/install-deps.sh all       everything above
set -euo pipefail

build_pkgs=(cmake ninja-build g++ pkg-config clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev zlib1g-dev dpkg-dev libsodium-dev libssl-dev minisign)
test_pkgs=(nginx tinyproxy microsocks dante-server openssh-server openssh-client squid
  openssl zip unzip p7zip-full libarchive-tools curl python3 procps gcovr)
windows_pkgs=(g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix libz-mingw-w64-dev
  binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine wine64 xvfb x11-utils imagemagick fonts-wqy-zenhei locales dpkg-dev python3 file
  autoconf automake libtool make
  winbind)  # ntlm_auth: wine's NTLM, and the NTLM helper of the tests' squid

# wine32 only where the Windows tests run the 32-bit build; elsewhere it
# cannot start (wine-env.sh decides, from what this machine executes).
add_windows_wine() {
  # shellcheck source=tools/windows/wine-env.sh
  . "$(dirname "${BASH_SOURCE[0]}")/windows/wine-env.sh"
  [ "$UPDATER_WINDOWS_ARCH" = x86_64 ] || windows_pkgs+=(wine32:i386)
}

want=()
for group in "${@:-build}"; do
  case "$group" in
    build) want+=("${build_pkgs[@]}") ;;
    test) want+=("${build_pkgs[@]}" "${test_pkgs[@]}") ;;
    windows) add_windows_wine; want+=("${build_pkgs[@]}" "${windows_pkgs[@]}") ;;
    demo) want+=("${build_pkgs[@]}" zip python3) ;;
    all) add_windows_wine; want+=("${build_pkgs[@]}" "${test_pkgs[@]}" "${windows_pkgs[@]}") ;;
    *) echo "install-deps: unknown group '$group'" >&2; exit 64 ;;
  esac
done

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

needs_i386=0
for p in "${missing[@]}"; do [[ "$p" == *:i386 ]] && needs_i386=1; done
if [ "$needs_i386" -eq 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo_cmd[@]}" dpkg --add-architecture i386
fi

if [ "${#missing[@]}" -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}" >&2
  # Servers are started by the tests on free ports, never as system services.
  policy=/usr/sbin/policy-rc.d
  had_policy=0; [ -e "$policy" ] && had_policy=1
  if [ "$had_policy" -eq 0 ]; then
    printf '#!/bin/sh\nexit 101\n' | "${sudo_cmd[@]}" tee "$policy" >/dev/null
    "${sudo_cmd[@]}" chmod +x "$policy"
  fi
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  [ "$had_policy" -eq 1 ] || "${sudo_cmd[@]}" rm -f "$policy"
fi

# wine under LC_ALL=zh_CN.UTF-8 needs that locale to exist.
if printf '%s\n' "${want[@]}" | grep -qx locales; then
  if ! locale -a 2>/dev/null | grep -qix 'zh_CN.utf8'; then
    "${sudo_cmd[@]}" sed -i 's/^# *zh_CN.UTF-8 UTF-8/zh_CN.UTF-8 UTF-8/' /etc/locale.gen
    grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' | "${sudo_cmd[@]}" tee -a /etc/locale.gen >/dev/null
    "${sudo_cmd[@]}" locale-gen >/dev/null
  fi
fi
