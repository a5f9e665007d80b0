#!/usr/bin/env bash
# A manual measurement, not run by CI: the wall time of a whole upgrade under
# Wine (wine-engine.exe: the engine over the Wine adapter, a real v3 service)
# beside a plain copy of the same payload in the same prefix and run, one
# CopyFileW a file (conformance-helper.exe copy-tree), as installers that copy
# do. Payloads of 1k and 10k data files (most a few KiB, one in a hundred 1 to
# 2 MiB; scripts/wine-payload.py). Prints one line a size for bench/README.md.
#   scripts/wine-measure-upgrade.sh [build/windows/tools/windows] [SIZES...]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "${HOLVAR_ROOT}"

windows=$(realpath "${1:-build/windows/tools/windows}")
shift || true
sizes=("$@")
((${#sizes[@]} > 0)) || sizes=(1000 10000)
for file in wine-engine.exe holvar-service.exe conformance-helper.exe; do
    if [[ ! -f "${windows}/${file}" ]]; then
        echo "wine-measure-upgrade: ${windows}/${file} is missing (the windows preset builds it)" >&2
        exit 1
    fi
done

source "$(dirname "${BASH_SOURCE[0]}")/wine-prefix.sh"
wine_loader wine-measure-upgrade
wine_prefix measure
scratch=$(mktemp -d "${TMPDIR:-/tmp}/holvar-measure.XXXXXX")
holder_pid=
trap wine_prefix_remove EXIT
wine_boot

parent_unix="${prefix}/drive_c/Program Files"
parent_win='C:\Program Files'
root_win="${parent_win}"'\Holvar'
mkdir -p "${parent_unix}/Holvar-Install-Diagnostics"
txn=0

# Runs the engine from a new stage holding PAYLOAD; sets `seconds` and `code`.
run_stage() {
    txn=$((txn + 1))
    local txid stage_unix started_ns
    txid=$(printf '%032x' "${txn}")
    stage_unix="${parent_unix}/.Holvar-upgrade-${txid}"
    mkdir -p "${stage_unix}"
    cp -r "$1" "${stage_unix}/payload"
    cp "${windows}/wine-engine.exe" "${stage_unix}/holvar-service-install.exe"
    sync
    started_ns=$(date +%s%N)
    code=0
    "${loader}" "${parent_win}\\.Holvar-upgrade-${txid}\\holvar-service-install.exe" \
        --apply --root "${root_win}" >/dev/null 2>&1 || code=$?
    seconds=$(awk -v ns=$(($(date +%s%N) - started_ns)) 'BEGIN { printf "%.2f", ns / 1e9 }')
}

echo "wine-measure-upgrade: $(wine --version 2>/dev/null), $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
for n in "${sizes[@]}"; do
    rm -rf "${scratch:?}/v1" "${scratch:?}/v2"
    /usr/bin/python3 scripts/wine-payload.py "${scratch}/v1" v1 "${windows}" --files "${n}"
    /usr/bin/python3 scripts/wine-payload.py "${scratch}/v2" v2 "${windows}" --files "${n}"
    files=$(find "${scratch}/v2" -type f | wc -l)
    bytes=$(du -sb "${scratch}/v2" | cut -f1)

    run_stage "${scratch}/v1"
    [[ "${code}" == 0 ]] || { echo "wine-measure-upgrade: the install of ${n} files exited ${code}" >&2; exit 1; }
    run_stage "${scratch}/v2"
    [[ "${code}" == 0 ]] || { echo "wine-measure-upgrade: the upgrade of ${n} files exited ${code}" >&2; exit 1; }
    upgrade=${seconds}

    # The same payload copied file by file into a folder of its own, from a
    # copy of the stage's payload, as a copying installer would.
    mkdir -p "${parent_unix}/copy-source"
    cp -r "${scratch}/v2/." "${parent_unix}/copy-source/"
    sync
    started_ns=$(date +%s%N)
    "${loader}" "${windows}/conformance-helper.exe" copy-tree "${parent_win}"'\copy-source' \
        "${parent_win}"'\copy-target' >/dev/null 2>&1 || { echo "wine-measure-upgrade: the copy failed" >&2; exit 1; }
    copy=$(awk -v ns=$(($(date +%s%N) - started_ns)) 'BEGIN { printf "%.2f", ns / 1e9 }')
    rm -rf "${parent_unix}/copy-source" "${parent_unix}/copy-target"

    # Removed between sizes so that each upgrade starts from a fresh install.
    txn=$((txn + 1))
    stage_unix="${parent_unix}/.Holvar-upgrade-$(printf '%032x' "${txn}")"
    mkdir -p "${stage_unix}/payload"
    cp "${windows}/wine-engine.exe" "${stage_unix}/holvar-service-install.exe"
    "${loader}" "${parent_win}\\.Holvar-upgrade-$(printf '%032x' "${txn}")\\holvar-service-install.exe" \
        --remove --root "${root_win}" >/dev/null 2>&1 || true

    ratio=$(awk -v a="${upgrade}" -v b="${copy}" 'BEGIN { printf "%.2f", a / b }')
    echo "Wine, shimmed: ${files} files, $((bytes / 1048576)) MiB: upgrade ${upgrade} s, CopyFileW per file ${copy} s, ratio ${ratio}"
done
