#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing.
# usage: install-deps.sh [native|all]   (native: what the demo needs; all: also MinGW and Wine,
# with Wine's 32-bit half so that the shipping i686 program runs under WoW64; the replay's report
# schema check and the disk-image capture's registry hives need python3-jsonschema and hivex; the
# scenarios check the metrics file with prometheus's promtool)
set -u
sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
want=(cmake ninja-build g++ make file diffutils libgtest-dev googletest libcurl4-openssl-dev python3
      libpugixml-dev clang libclang-rt-14-dev valgrind python3-jsonschema libhivex-bin libwin-hivex-perl prometheus)
if [ "${1:-all}" = all ]; then
    want+=(g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
           gcc-mingw-w64-x86-64-posix binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 wine wine64 wine32:i386
           unzip clang-format clang-tidy)
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        $sudo dpkg --add-architecture i386 || exit 1
    fi
fi
missing=()
for package in "${want[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq || exit 1
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null || exit 1
