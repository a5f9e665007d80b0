#!/usr/bin/env bash
# Checks the release artifacts of the windows preset: holvar-service-install.exe
# and holvar-explain.exe, each with its .sha256 beside it (sha256sum -c reads
# it), a version resource that says the outcome report's engine_version, and
# reproducibility: a second clean build of the preset in another folder gives
# the same bytes. These are the unsigned bytes; scripts/sign-release.sh leaves
# them as they are and checks that each signed copy is them plus a signature.
#   scripts/check-release-artifact.sh [BUILD-DIR] [SECOND-BUILD-DIR]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "${HOLVAR_ROOT}"

first="${1:-build/windows}"
again="${2:-build/windows-again}"
names=(holvar-service-install.exe holvar-explain.exe)
version=$(sed -n 's/.*engine_version = "\([0-9.]*\)".*/\1/p' src/txn/outcome/outcome.hpp)

for name in "${names[@]}"; do
    exe="${first}/tools/windows/${name}"
    if [[ ! -f "${exe}" || ! -f "${exe}.sha256" ]]; then
        echo "release-artifact: ${exe} or its .sha256 is missing (cmake --build --preset windows)" >&2
        exit 1
    fi
    (cd "$(dirname "${exe}")" && sha256sum --check --strict "${name}.sha256")

    # The version resource's strings are UTF-16; both versions must be the report's.
    resource=$(strings -a -el "${exe}")
    for key in FileVersion ProductVersion; do
        if ! grep -A1 -x "${key}" <<<"${resource}" | grep -qx "${version}"; then
            echo "release-artifact: ${exe} has no ${key} ${version} in its version resource" >&2
            exit 1
        fi
    done
done

# The second build starts clean, in a folder of another name.
rm -rf "${again}"
cmake --preset windows -B "${again}" >/dev/null
cmake --build "${again}" --target holvar-service-install-sha256 holvar-explain-sha256 >/dev/null
for name in "${names[@]}"; do
    exe="${first}/tools/windows/${name}"
    if ! cmp "${exe}" "${again}/tools/windows/${name}"; then
        echo "release-artifact: two clean builds of the windows preset differ in ${name}" >&2
        exit 1
    fi
    if ! cmp "${exe}.sha256" "${again}/tools/windows/${name}.sha256"; then
        echo "release-artifact: the two builds' hash files of ${name} differ" >&2
        exit 1
    fi
    echo "release-artifact: ${name} ${version}, $(cut -d' ' -f1 "${exe}.sha256"), the same bytes from two clean builds"
done
