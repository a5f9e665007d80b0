#!/usr/bin/env bash
# CI's check of the release signing, with a throwaway self-signed certificate
# made for this run (no real key ever reaches CI): scripts/sign-release.sh
# signs and verifies every release executable of the windows preset; each
# signed copy keeps its version resource, and one altered byte makes it fail
# verification; the unsigned build output is left exactly as it was, so the
# reproducibility check that follows still compares the compiler's bytes.
#   scripts/check-signed-release.sh [BUILD-DIR]        (build/windows by default)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "${HOLVAR_ROOT}"

build="${1:-build/windows}"
fail() {
    echo "signed-release: $*" >&2
    exit 1
}

keys=$(mktemp -d "${TMPDIR:-/tmp}/holvar-signing.XXXXXX")
trap 'rm -rf "${keys}"' EXIT
openssl req -x509 -newkey rsa:3072 -nodes -days 2 -subj "/CN=Holvar CI throwaway code signing" \
    -addext "extendedKeyUsage=codeSigning" -addext "keyUsage=digitalSignature" \
    -keyout "${keys}/key.pem" -out "${keys}/cert.pem" >/dev/null 2>&1 ||
    fail "openssl could not make a throwaway certificate"

unsigned=()
for name in holvar-service-install.exe holvar-explain.exe; do
    [[ -f "${build}/tools/windows/${name}" ]] && unsigned+=("${build}/tools/windows/${name}")
done
((${#unsigned[@]} > 0)) || fail "no release executable in ${build}/tools/windows"
before=$(sha256sum "${unsigned[@]}")

HOLVAR_SIGN_CERT="${keys}/cert.pem" HOLVAR_SIGN_KEY="${keys}/key.pem" HOLVAR_SIGN_CA_FILE="${keys}/cert.pem" \
    scripts/sign-release.sh "${build}"

[[ "$(sha256sum "${unsigned[@]}")" == "${before}" ]] || fail "signing changed the unsigned build output"
version=$(sed -n 's/.*engine_version = "\([0-9.]*\)".*/\1/p' src/txn/outcome/outcome.hpp)
for exe in "${unsigned[@]}"; do
    name=$(basename "${exe}")
    signed="${build}/signed/${name}"
    [[ -f "${signed}" ]] || fail "${name} was not signed"
    (cd "${build}/signed" && sha256sum --check --strict --quiet "${name}.sha256")
    osslsigncode verify -in "${signed}" -CAfile "${keys}/cert.pem" -ignore-cdp >/dev/null 2>&1 ||
        fail "${signed} does not verify"

    # The version resource's strings are UTF-16 and survive signing.
    resource=$(strings -a -el "${signed}")
    grep -A1 -x FileVersion <<<"${resource}" | grep -qx "${version}" ||
        fail "${signed} lost its version resource"

    # One byte in the middle of the image, then one in the code's first page:
    # either must break the signature.
    size=$(stat -c %s "${exe}")
    for offset in $((size / 2)) 4096; do
        cp "${signed}" "${keys}/altered.exe"
        byte=$(od -An -t u1 -j "${offset}" -N 1 "${keys}/altered.exe" | tr -d ' ')
        printf "\\x$(printf '%02x' $(((byte + 1) % 256)))" |
            dd of="${keys}/altered.exe" bs=1 seek="${offset}" conv=notrunc status=none
        cmp -s "${signed}" "${keys}/altered.exe" && fail "the byte at ${offset} of ${name} was not altered"
        if osslsigncode verify -in "${keys}/altered.exe" -CAfile "${keys}/cert.pem" -ignore-cdp >/dev/null 2>&1; then
            fail "${name} with its byte at ${offset} altered still verifies"
        fi
    done
    echo "signed-release: ${name}: verifies, keeps its version resource ${version}, fails verification with a byte altered"
done
