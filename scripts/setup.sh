#!/usr/bin/env bash
# Installs the Debian packages the build, the tests, the fuzzers and the
# Windows cross build need, only those that are missing. Safe to run again.
set -euo pipefail

packages=(
    cmake ninja-build g++ ccache
    nlohmann-json3-dev libgtest-dev libgmock-dev googletest libbenchmark-dev
    g++-mingw-w64-x86-64-posix
    clang-16 libc++-16-dev libc++abi-16-dev libclang-rt-16-dev
    wine wine64
)

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

echo "setup: installing ${missing[*]}"
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
