#!/usr/bin/env bash
# Installs the Debian packages one command needs, only those that are missing.
# Safe to run again.
#   scripts/setup.sh demo    the native build: holvar-sim and the demo
#   scripts/setup.sh tests   that, and the test and benchmark libraries
#   scripts/setup.sh ci      that, and the Windows cross compiler, Wine, the
#                            fuzzing toolchain (clang-16 with libc++) and the
#                            release signing (osslsigncode, openssl)
# Each profile holds the one before it, so a newcomer's first command (the
# demo) fetches only the native build and never Wine or clang.
set -euo pipefail

profile="${1:-ci}"
demo_packages=(cmake ninja-build g++ ccache nlohmann-json3-dev)
tests_packages=(libgtest-dev libgmock-dev googletest libbenchmark-dev libtcmalloc-minimal4 python3-minimal python3-jsonschema)
ci_packages=(
    g++-mingw-w64-x86-64-posix
    clang-16 libc++-16-dev libc++abi-16-dev libclang-rt-16-dev
    wine wine64
    osslsigncode openssl
)
case "${profile}" in
    demo) packages=("${demo_packages[@]}") ;;
    tests) packages=("${demo_packages[@]}" "${tests_packages[@]}") ;;
    ci) packages=("${demo_packages[@]}" "${tests_packages[@]}" "${ci_packages[@]}") ;;
    *)
        echo "usage: scripts/setup.sh [demo|tests|ci] (ci, everything, when none is given)" >&2
        exit 2
        ;;
esac

missing=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || true)
    if [[ "$status" != "installed" ]]; then
        missing+=("$package")
    fi
done

if ((${#missing[@]} == 0)); then
    exit 0
fi

echo "setup (${profile}): installing ${missing[*]}"
if [[ $(id -u) -ne 0 ]]; then
    if command -v sudo >/dev/null; then
        as_root=(sudo)
    else
        echo "setup: these packages are missing and installing them needs root: ${missing[*]}" >&2
        exit 1
    fi
else
    as_root=()
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -q
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
