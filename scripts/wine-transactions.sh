#!/usr/bin/env bash
# Whole transactions under Wine: the engine's real front end and drivers over
# the Wine adapter (wine-engine.exe, never the shipped executable), real files
# under C:\Program Files, the real service manager, registry, pipes and
# processes, and a real v3 service (holvar-service.exe). Each scenario runs in
# the same order on a simulated machine (holvar-sim) from the same payload
# folders: the exit codes must agree, the reports must be equal byte for byte
# except process ids and the fields a named Wine gap changes, and the install
# roots equal by name, kind and size.
#   scripts/wine-transactions.sh [build/windows/tools/windows] [path/to/holvar-sim]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "${HOLVAR_ROOT}"

windows="${1:-build/windows/tools/windows}"
sim="${2:-build/release/tools/holvar-sim/holvar-sim}"
for file in "${windows}/wine-engine.exe" "${windows}/holvar-service.exe" \
    "${windows}/conformance-helper.exe" "${sim}"; do
    if [[ ! -f "${file}" ]]; then
        echo "wine-transactions: ${file} is missing (the windows and release presets build it)" >&2
        exit 1
    fi
done
windows=$(realpath "${windows}")
sim=$(realpath "${sim}")

source "$(dirname "${BASH_SOURCE[0]}")/wine-prefix.sh"
wine_loader wine-transactions
wine_prefix transactions
scratch=$(mktemp -d "${TMPDIR:-/tmp}/holvar-transactions.XXXXXX")
holder_pid=
trap wine_prefix_remove EXIT
started=${SECONDS}
wine_boot

payloads="${scratch}/payloads"
for version in v1 v2 v2-broken; do
    /usr/bin/python3 scripts/wine-payload.py "${payloads}/${version}" "${version}" "${windows}"
done
mkdir -p "${payloads}/none"

parent_win='C:\Program Files'
root_win="${parent_win}"'\Holvar'
diagnostics_win="${parent_win}"'\Holvar-Install-Diagnostics'
parent_unix="${prefix}/drive_c/Program Files"
root_unix="${parent_unix}/Holvar"
diagnostics_unix="${parent_unix}/Holvar-Install-Diagnostics"
mkdir -p "${diagnostics_unix}"
export HOLVAR_WINE_SHIM_LOG="${scratch}/shims.log"

machine="${scratch}/machine.json"
"${sim}" init "${machine}" >/dev/null
txn=0
passed=0
failed=0

# A stage for the next transaction on both sides, with a payload folder
# (none: an empty payload, as for a removal). Sets txid and engine_win.
stage() {
    txn=$((txn + 1))
    txid=$(printf '%032x' "${txn}")
    local stage_unix="${parent_unix}/.Holvar-upgrade-${txid}"
    mkdir -p "${stage_unix}"
    cp -r "${payloads}/$1" "${stage_unix}/payload"
    cp "${windows}/wine-engine.exe" "${stage_unix}/holvar-service-install.exe"
    local source=()
    [[ "$1" != none ]] && source=(--payload "${payloads}/$1")
    engine_win=$("${sim}" stage "${machine}" --root "${root_win}" --txid "${txid}" "${source[@]}" | tail -n 1)
}

# The reports with the process ids written as "pid", and each field a named
# Wine gap changes as "(gap NAME)" (tests/conformance/README.md lists them).
normalise() {
    sed -E 's/"pid":[0-9]+/"pid":"pid"/g' | case "${gap:-}" in
        restart_manager_holders) sed -E 's/"holders":\{"status":"[a-z_]*","win32":[^,]*,"processes":\[[^]]*\]\}/"holders":"(gap restart_manager_holders)"/' ;;
        *) cat ;;
    esac
}

# The install root as kind, size, relative path a line: both sides alike.
wine_tree() {
    [[ -d "${root_unix}" ]] || return 0
    (cd "${root_unix}" && find . -mindepth 1 \( -type d -printf 'dir 0 %P\n' \) -o \( -type f -printf 'file %s %P\n' \)) | sort
}
sim_tree() {
    "${sim}" ls "${machine}" "${root_win}" >/dev/null 2>&1 || return 0
    "${sim}" show "${machine}" tree "${root_win}" | awk '{ k = $1; s = $3; $1 = $2 = $3 = ""; sub(/^ +/, ""); gsub(/\\/, "/"); print k, s, $0 }' | sort
}

# scenario NAME EXPECTED-CODE OUTCOME ENGINE-WIN ARG...: one run on each side.
# WINE_ENV may hold NAME=VALUE words for the Wine side; SIM_OPTIONS options of
# `holvar-sim run`.
scenario() {
    local name="$1" expected="$2" outcome="$3" engine="$4"
    shift 4
    local wine_status=0 sim_status=0 problems=() began=${SECONDS}
    find "${diagnostics_unix}" -maxdepth 1 -type f -delete
    local before
    before=$("${sim}" ls "${machine}" "${diagnostics_win}" | grep -o 'engine-[^ ]*\.json' | sort || true)
    env ${WINE_ENV:-} timeout 300 "${loader}" "${engine}" "$@" >"${scratch}/wine.out" 2>&1 || wine_status=$?
    "${sim}" run "${machine}" --exe "${engine}" ${SIM_OPTIONS:-} -- "$@" >/dev/null 2>&1 || sim_status=$?
    [[ "${wine_status}" == "${expected}" ]] || problems+=("exit ${wine_status} under Wine, expected ${expected}")
    [[ "${sim_status}" == "${expected}" ]] || problems+=("exit ${sim_status} on the simulated machine, expected ${expected}")
    # The report of this run on each side: the diagnostics directory's new
    # file. A repair's txid is drawn by the engine itself, so it is compared
    # as the pids are.
    local wine_report sim_report equal="no report on either side"
    wine_report=$(find "${diagnostics_unix}" -maxdepth 1 -type f -name 'engine-*.json' -printf '%f\n' | head -n 1)
    sim_report=$(comm -13 <(echo "${before}") <("${sim}" ls "${machine}" "${diagnostics_win}" |
        grep -o 'engine-[^ ]*\.json' | sort) | head -n 1)
    if [[ -n "${wine_report}" && -n "${sim_report}" ]]; then
        local wine_text sim_text
        wine_text=$(normalise <"${diagnostics_unix}/${wine_report}")
        sim_text=$("${sim}" cat "${machine}" "${diagnostics_win}\\${sim_report}" | normalise)
        if [[ "${command}" == repair ]]; then
            wine_text=$(sed -E 's/"txid":"[0-9a-f]{32}"/"txid":"txid"/' <<<"${wine_text}")
            sim_text=$(sed -E 's/"txid":"[0-9a-f]{32}"/"txid":"txid"/' <<<"${sim_text}")
        fi
        if [[ "${wine_text}" == "${sim_text}" ]]; then
            equal="report equal to the simulated machine's"
        else
            problems+=("the reports differ: Wine ${wine_text} simulated machine ${sim_text}")
        fi
        grep -q "\"outcome\":\"${outcome}\"" <<<"${wine_text}" || problems+=("outcome is not ${outcome}")
    elif [[ "${outcome}" != - || -n "${wine_report}${sim_report}" ]]; then
        problems+=("report under Wine: ${wine_report:-none}; on the simulated machine: ${sim_report:-none}")
    fi
    if ! diff <(wine_tree) <(sim_tree) >"${scratch}/tree.diff"; then
        problems+=("the install roots differ: $(tr '\n' ' ' <"${scratch}/tree.diff")")
    fi
    if ((${#problems[@]} == 0)); then
        passed=$((passed + 1))
        echo "  ${name}: exit ${wine_status}, ${outcome}; ${equal}${gap:+ (except the holders: gap ${gap})}; the roots agree ($((SECONDS - began)) s)"
    else
        failed=$((failed + 1))
        echo "  ${name}: FAILED: ${problems[*]}"
        if [[ -s "${scratch}/wine.out" ]]; then sed 's/^/    wine: /' "${scratch}/wine.out" | head -5; fi
    fi
}


echo "wine-transactions: $(wine --version 2>/dev/null || echo wine), a fresh 64-bit prefix"
command=apply
stage v1
scenario "a fresh install" 0 committed "${engine_win}" --apply --root "${root_win}"

stage v2
scenario "an upgrade over the running service" 0 committed "${engine_win}" --apply --root "${root_win}"

stage v2-broken
scenario "an upgrade whose service fails verification" 10 rolled_back "${engine_win}" --apply --root "${root_win}"

stage v2
held='lib\core\runtime.dll'
"${loader}" "${windows}/conformance-helper.exe" hold-file "${root_win}\\${held}" 'C:\held.ready' >/dev/null 2>&1 &
holder_pid=$!
for _ in $(seq 1 300); do
    [[ -e "${prefix}/drive_c/held.ready" ]] && break
    sleep 0.1
done
sim_holder=$("${sim}" hold-file "${machine}" "${root_win}\\${held}" | tail -n 1)
gap=restart_manager_holders
scenario "an upgrade with a file held open past the budget" 10 rolled_back "${engine_win}" --apply --root "${root_win}"
gap=
kill "${holder_pid}" 2>/dev/null || true
wait "${holder_pid}" 2>/dev/null || true
holder_pid=
"${sim}" kill "${machine}" "${sim_holder}" >/dev/null

# An administrator sets the service to start on demand; the repair must set it
# back to automatic.
start_type() { "${loader}" "${windows}/conformance-helper.exe" start-type holvar_service "$@" >/dev/null 2>&1 || echo $?; }
[[ "$(start_type 3)" == 3 ]] || echo "wine-transactions: the start type did not change to demand under Wine" >&2
"${sim}" service-start "${machine}" demand >/dev/null
command=repair
scenario "a repair after the start type was changed" 0 repaired "${root_win}"'\resources\holvar-service-install.exe' --repair --root "${root_win}"
if [[ "$(start_type)" != 2 ]]; then
    echo "  a repair after the start type was changed: FAILED: the start type under Wine is $(start_type), not automatic (2)"
    failed=$((failed + 1))
    passed=$((passed - 1))
fi

# A kill in the middle of placing: the Wine side ends itself right after its
# 4th rename by handle; the simulated machine's power is cut at the first call
# after which its journal says "placing" and 4 objects have moved.
stage v1
command=apply
crash_point=0
for n in $(seq 5 400); do
    cp "${machine}" "${scratch}/try.json"
    out=$("${sim}" run "${scratch}/try.json" --exe "${engine_win}" --trace --crash-after "${n}" -- --apply --root "${root_win}" 2>/dev/null || true)
    grep -q '^journal marks: [a-z_ ]*placing;' <<<"${out}" || continue
    moved=$(grep -o 'moved by handle: [0-9]*' <<<"${out}" | grep -o '[0-9]*$')
    if ((moved >= 4)); then
        crash_point=${n}
        break
    fi
done
WINE_ENV="HOLVAR_WINE_END_AFTER_RENAMES=4" SIM_OPTIONS="--crash-after ${crash_point}" \
    scenario "killed in the middle of placing v1 over v2" 3 - "${engine_win}" --apply --root "${root_win}"
command=recover
scenario "--recover after the kill" 10 rolled_back "${engine_win}" --recover --root "${root_win}"

stage none
command=remove
scenario "a removal" 30 removed "${engine_win}" --remove --root "${root_win}"

echo "wine-transactions: shims used (runs, then changed answers):"
awk '/^shims / { for (i = 2; i <= NF; ++i) { split($i, kv, "="); n[kv[1]] += kv[2]; if (kv[2] > 0) r[kv[1]]++ } }
     END { for (k in n) printf "  %s: %d runs, %d answers\n", k, r[k], n[k] }' "${HOLVAR_WINE_SHIM_LOG}" | sort
echo "wine-transactions: the boundary methods the engine called:"
/usr/bin/python3 scripts/boundary-coverage.py --transactions "${HOLVAR_WINE_SHIM_LOG}" | sed 's/^/  /'
echo "wine-transactions: ${passed} passed, ${failed} failed in $((SECONDS - started)) s"
((failed == 0))
