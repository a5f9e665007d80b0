#!/usr/bin/env bash
# Signs the release executables of the windows preset with Authenticode and
# verifies what it signed. The unsigned build output is never touched: the
# signed copies go to <BUILD-DIR>/signed/ with their .sha256 beside them, so
# the reproducibility check keeps comparing the bytes the compiler made, and
# each signed copy is checked to be exactly those bytes plus a signature.
#   scripts/sign-release.sh [BUILD-DIR]        (build/windows by default)
#
# The key and certificate come from the environment, never from the tree:
#   HOLVAR_SIGN_CERT            the certificate chain, leaf first (PEM or DER)
#   HOLVAR_SIGN_KEY             the private key (PEM or DER)
#   HOLVAR_SIGN_KEY_PASS_FILE   optional: a file holding the key's passphrase
#                               (read by osslsigncode, never on a command line)
#   HOLVAR_SIGN_TIMESTAMP_URL   optional: RFC 3161 time-stamp servers, separated
#                               by spaces; without one the signature carries no
#                               counter-signature (CI has no network)
#   HOLVAR_SIGN_CA_FILE         optional: the root certificates the signature
#                               must chain to (the system's bundle by default)
#   HOLVAR_SIGN_TSA_CA_FILE     optional: the time-stamp authority's roots
# The digest is SHA-256. The verification also pins the leaf: a signature by
# any other certificate, even one the roots trust, fails.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "${HOLVAR_ROOT}"

build="${1:-build/windows}"
out_dir="${build}/signed"
names=(holvar-service-install.exe holvar-explain.exe)

fail() {
    echo "sign-release: $*" >&2
    exit 1
}

command -v osslsigncode >/dev/null || fail "osslsigncode is missing (scripts/setup.sh ci installs it)"
for variable in HOLVAR_SIGN_CERT HOLVAR_SIGN_KEY; do
    [[ -n "${!variable:-}" ]] || fail "${variable} is not set: it names the signing ${variable#HOLVAR_SIGN_} file"
    [[ -r "${!variable}" ]] || fail "${variable} names ${!variable}, which cannot be read"
done

# The leaf's SHA-256 fingerprint, from PEM or DER alike.
leaf_hash() {
    local form
    for form in PEM DER; do
        if openssl x509 -inform "${form}" -in "$1" -noout -fingerprint -sha256 2>/dev/null; then
            return 0
        fi
    done
    return 1
}
fingerprint=$(leaf_hash "${HOLVAR_SIGN_CERT}") || fail "${HOLVAR_SIGN_CERT} holds no certificate"
fingerprint=$(sed 's/.*=//; s/://g' <<<"${fingerprint}" | tr 'A-F' 'a-f')

sign_args=(-certs "${HOLVAR_SIGN_CERT}" -key "${HOLVAR_SIGN_KEY}" -h sha256
    -n "Holvar managed runtime installer engine")
if [[ -n "${HOLVAR_SIGN_KEY_PASS_FILE:-}" ]]; then
    sign_args+=(-readpass "${HOLVAR_SIGN_KEY_PASS_FILE}")
fi
for url in ${HOLVAR_SIGN_TIMESTAMP_URL:-}; do
    sign_args+=(-ts "${url}")
done

# CRL distribution points are not fetched: what this step proves is that the
# bytes are signed by this certificate, intact, and chain to the given roots.
verify_args=(-require-leaf-hash "sha256:${fingerprint}" -ignore-cdp)
if [[ -n "${HOLVAR_SIGN_CA_FILE:-}" ]]; then
    verify_args+=(-CAfile "${HOLVAR_SIGN_CA_FILE}")
fi
if [[ -n "${HOLVAR_SIGN_TSA_CA_FILE:-}" ]]; then
    verify_args+=(-TSA-CAfile "${HOLVAR_SIGN_TSA_CA_FILE}")
fi

# Whether a file whose signature was taken off is the unsigned file: the same
# bytes but for the two fields signing sets and taking the signature off leaves
# (the PE checksum, and zeros padding the file to 8 bytes, where the
# certificate table began).
same_but_signing() {
    local unsigned="$1" bare="$2" size bare_size pe
    size=$(stat -c %s "${unsigned}")
    bare_size=$(stat -c %s "${bare}")
    ((bare_size >= size && bare_size - size < 8)) || return 1
    if ((bare_size > size)) && [[ -n "$(tail -c +$((size + 1)) "${bare}" | tr -d '\0')" ]]; then
        return 1
    fi
    # The checksum is the optional header's 64th byte on: 88 past "PE\0\0".
    pe=$(od -An -t u4 -j 60 -N 4 "${unsigned}" | tr -d ' ')
    { cmp -l -n "${size}" "${unsigned}" "${bare}" || true; } |
        awk -v first=$((pe + 89)) -v last=$((pe + 92)) '$1 < first || $1 > last { bad = 1 } END { exit bad }'
}

mkdir -p "${out_dir}"
scratch=$(mktemp -d "${TMPDIR:-/tmp}/holvar-sign.XXXXXX")
trap 'rm -rf "${scratch}"' EXIT

signed_any=0
for name in "${names[@]}"; do
    unsigned="${build}/tools/windows/${name}"
    if [[ ! -f "${unsigned}" ]]; then
        # The engine is the release; the support tool ships beside it when built.
        [[ "${name}" == holvar-service-install.exe ]] && fail "${unsigned} is missing (cmake --build --preset windows)"
        continue
    fi
    signed="${out_dir}/${name}"
    rm -f "${signed}" "${signed}.sha256"
    osslsigncode sign "${sign_args[@]}" -in "${unsigned}" -out "${scratch}/${name}" >"${scratch}/sign.log" 2>&1 ||
        { cat "${scratch}/sign.log" >&2; fail "signing ${name} failed"; }

    if ! osslsigncode verify "${verify_args[@]}" -in "${scratch}/${name}" >"${scratch}/verify.log" 2>&1; then
        cat "${scratch}/verify.log" >&2
        fail "the signature of ${name} does not verify"
    fi
    grep -q 'Message digest algorithm *: SHA256' "${scratch}/verify.log" ||
        fail "the signature of ${name} is not made with SHA-256"

    # Without its signature the signed file is the build's output: signing
    # added a signature and nothing else.
    osslsigncode remove-signature -in "${scratch}/${name}" -out "${scratch}/${name}.bare" >/dev/null 2>&1 ||
        fail "the signature of ${name} cannot be taken off again"
    same_but_signing "${unsigned}" "${scratch}/${name}.bare" ||
        fail "${name} without its signature differs from the unsigned build"

    mv "${scratch}/${name}" "${signed}"
    (cd "${out_dir}" && sha256sum "${name}" >"${name}.sha256")
    echo "sign-release: ${signed}: signed with SHA-256 by ${fingerprint}, verified, $(cut -d' ' -f1 "${signed}.sha256")"
    signed_any=1
done
((signed_any)) || fail "nothing to sign in ${build}/tools/windows"
