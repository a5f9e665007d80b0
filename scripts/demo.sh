#!/usr/bin/env bash
# The main job: the engine on a simulated Windows machine, one readable line
# per step with the exit code, the outcome and the report it left. Each step
# also says what the contract expects; the script fails when a step differs.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
"${HOLVAR_ROOT}/scripts/setup.sh"
cd "${HOLVAR_ROOT}"
cmake --preset release >/dev/null
cmake --build --preset release --target holvar-sim

sim="${HOLVAR_ROOT}/build/release/tools/holvar-sim/holvar-sim"
work="${HOLVAR_ROOT}/build/demo"
machine="${work}/machine.json"
mkdir -p "${work}"

root='C:\Program Files\Holvar'
diagnostics='C:\Program Files\Holvar-Install-Diagnostics'
failures=0

# The report a run wrote: the file of the diagnostics directory whose id
# changed (every report is a new file renamed over the old one).
listing() { "${sim}" ls "${machine}" "${diagnostics}" 2>/dev/null | sort || true; }
new_report() {
    comm -13 <(echo "$1") <(echo "$2") | awk '$1 == "file" && $5 ~ /^engine-/ { print $5 }' | tail -n 1
}
field() { grep -o "\"$1\":\"[a-z_0-9]*\"" <<<"$2" | head -n 1 | cut -d'"' -f4 || true; }

# step TITLE EXPECTED_EXIT EXPECTED_OUTCOME ENGINE_EXE ARG...
# EXPECTED_EXIT "!N" means any exit code but N; EXPECTED_OUTCOME "*" means any,
# "-" that no report was written.
step() {
    local title=$1 want_exit=$2 want_outcome=$3 exe=$4
    shift 4
    local before after report="" text="" outcome="-" reason="-" code=0
    before=$(listing)
    "${sim}" run "${machine}" --exe "${exe}" -- "$@" || code=$?
    after=$(listing)
    report=$(new_report "${before}" "${after}")
    if [[ -n "${report}" ]]; then
        text=$("${sim}" cat "${machine}" "${diagnostics}\\${report}")
        outcome=$(field outcome "${text}")
        reason=$(field reason "${text}")
    fi
    local verdict="ok" exit_ok=1
    if [[ "${want_exit}" == '!'* ]]; then
        [[ "${code}" != "${want_exit#!}" ]] || exit_ok=0
    else
        [[ "${code}" == "${want_exit}" ]] || exit_ok=0
    fi
    if ((exit_ok == 0)) || [[ "${want_outcome}" != "*" && "${outcome}" != "${want_outcome}" ]]; then
        verdict="UNEXPECTED (wanted exit ${want_exit}, outcome ${want_outcome})"
        failures=$((failures + 1))
    fi
    printf '%-58s exit %-3s outcome %-22s reason %-18s report %s  [%s]\n' \
        "${title}" "${code}" "${outcome}" "${reason}" "${report:-none}" "${verdict}"
}

"${sim}" init --force "${machine}" >/dev/null
engine=$("${sim}" stage "${machine}" --root "${root}" --txid 0123456789abcdef0123456789abcdef | tail -n 1)
echo "machine ${machine}: fresh, stage directory and engine at ${engine}"

step "no arguments" 11 refused "${engine}"
step "mode in the wrong case (--Apply)" 11 refused "${engine}" --Apply --root "${root}"
step "--purge-session-vault with --apply" 11 refused "${engine}" --apply --root "${root}" --purge-session-vault

holder=$("${sim}" hold-lock "${machine}" | tail -n 1)
echo "another engine (process ${holder}) holds the transaction lock"
step "--apply while the lock is held" 12 busy "${engine}" --apply --root "${root}"
step "--remove while the lock is held" 12 busy "${engine}" --remove --root "${root}"
"${sim}" kill "${machine}" "${holder}"
echo "process ${holder} ended without releasing the lock (abandoned)"
step "--apply after the holder died: the lock is taken" '!12' "*" "${engine}" --apply --root "${root}"

bad=$("${sim}" stage "${machine}" --root "${root}" --txid FEDCBA9876543210FEDCBA9876543210 | tail -n 1)
step "stage directory named with upper-case hex digits" 11 refused "${bad}" --apply --root "${root}"
step "root elsewhere, where no diagnostics directory exists" 11 - "${engine}" --apply --root 'C:\Elsewhere\Holvar'
step "--repair run from the stage directory" 11 refused "${engine}" --repair --root "${root}"

echo "inspect the machine with: ${sim} show ${machine}"
if ((failures > 0)); then
    echo "demo: ${failures} step(s) did not end as the contract says" >&2
    exit 1
fi
