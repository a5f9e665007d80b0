#!/usr/bin/env bash
# The main job: the engine on a simulated Windows machine, told as a story.
# A fresh install, an upgrade over the running service, upgrades that fail and
# are undone, power cuts in the middle of an upgrade that `--recover` brings
# to the old or the new installation, a repair, a removal, and the failures
# the front end refuses at once. One line per step: the exit code, the
# outcome, the fault that decided it, the journal's marks, how many objects
# moved by handle and how many payload bytes were copied (always 0). Each
# step also says what the contract expects; the script fails when a step
# differs.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
"${HOLVAR_ROOT}/scripts/setup.sh" demo
cd "${HOLVAR_ROOT}"
cmake --preset release >/dev/null
cmake --build --preset release --target holvar-sim

sim="${HOLVAR_ROOT}/build/release/tools/holvar-sim/holvar-sim"
work="${HOLVAR_ROOT}/build/demo"
machine="${work}/machine.json"
scratch="${work}/scratch.json"
mkdir -p "${work}"

root='C:\Program Files\Holvar'
diagnostics='C:\Program Files\Holvar-Install-Diagnostics'
failures=0
txn=0

# The report a run wrote: the file of the diagnostics directory whose id
# changed (every report is a new file renamed over the old one).
listing() { "${sim}" ls "$1" "${diagnostics}" 2>/dev/null | sort || true; }
new_report() {
    comm -13 <(echo "$1") <(echo "$2") | awk '$1 == "file" && $5 ~ /^engine-/ { print $5 }' | tail -n 1
}
field() { grep -o "\"$1\":\"[a-z_0-9]*\"" <<<"$2" | head -n 1 | cut -d'"' -f4 || true; }
fault() {
    local primary
    primary=$(grep -o '"primary":{[^}]*}' <<<"$1" || true)
    [[ -n "${primary}" ]] || { echo "-"; return; }
    echo "$(field phase "${primary}")/$(field reason "${primary}")"
}

# A stage directory for the next transaction with a demo payload; sets
# `engine` to the path of the engine in it.
stage() {
    txn=$((txn + 1))
    engine=$("${sim}" stage "${machine}" --root "${root}" --txid "$(printf '%032x' "${txn}")" \
        --demo-payload "$1" | tail -n 1)
}

# step TITLE EXPECTED_EXIT EXPECTED_OUTCOME ENGINE_EXE [--crash-after N] -- ARG...
# EXPECTED_EXIT "!N" means any exit code but N; EXPECTED_OUTCOME "*" means any,
# "-" that no report was written.
step() {
    local title=$1 want_exit=$2 want_outcome=$3 exe=$4
    shift 4
    local run_options=()
    while [[ $1 != -- ]]; do run_options+=("$1"); shift; done
    shift
    local before after report="" text="" outcome="-" reason="-" code=0 output trace
    before=$(listing "${machine}")
    output=$("${sim}" run "${machine}" --exe "${exe}" --trace "${run_options[@]}" -- "$@") || code=$?
    after=$(listing "${machine}")
    report=$(new_report "${before}" "${after}")
    if [[ -n "${report}" && ${code} -ne 3 ]]; then
        text=$("${sim}" cat "${machine}" "${diagnostics}\\${report}")
        outcome=$(field outcome "${text}")
        reason=$(fault "${text}")
    fi
    trace=$(grep '^journal marks:' <<<"${output}" | sed 's/^journal marks: //' || true)
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
    printf '%-56s exit %-3s %-26s %-30s [%s]\n' "${title}" "${code}" "${outcome}" "${reason}" "${verdict}"
    printf '%56s marks: %s\n' "" "${trace:--}"
}

# check TITLE COMMAND...: a fact about the machine that must hold.
check() {
    local title=$1
    shift
    if "$@" >/dev/null 2>&1; then
        printf '%56s %s [ok]\n' "" "${title}"
    else
        printf '%56s %s [UNEXPECTED]\n' "" "${title}"
        failures=$((failures + 1))
    fi
}
service_runs() { "${sim}" show "${machine}" services | grep -q 'state running'; }
service_starts_auto() { "${sim}" show "${machine}" services | grep -q 'start auto'; }
absent() { ! "${sim}" ls "${machine}" "$1"; }

# A process that keeps a file open, sharing only read; sets `holder` to its PID.
hold() {
    holder=$("${sim}" hold-file "${machine}" "$1" | tail -n 1)
    echo "process ${holder} keeps $1 open (sharing only read)"
}

# The first power cut after which the journal's marks end with MARK (and
# placement has moved at least MOVED objects), tried on a copy of the machine.
crash_point() {
    local exe=$1 mark=$2 moved=${3:-0} n output did
    for n in $(seq 5 400); do
        cp "${machine}" "${scratch}"
        output=$("${sim}" run "${scratch}" --exe "${exe}" --trace --crash-after "${n}" -- --apply --root "${root}" || true)
        grep -q "^journal marks: [a-z_ ]*${mark};" <<<"${output}" || continue
        did=$(grep -o 'moved by handle: [0-9]*' <<<"${output}" | grep -o '[0-9]*$')
        if ((did >= moved)); then
            echo "${n}"
            return
        fi
    done
    echo 0
}

"${sim}" init --force "${machine}" >/dev/null
echo "machine ${machine}: a fresh C: drive, no Holvar installed"

stage v1
step "install v1 on a fresh machine" 0 committed "${engine}" -- --apply --root "${root}"
check "v1's service runs" service_runs

stage v2
step "upgrade to v2 over the running service" 0 committed "${engine}" -- --apply --root "${root}"
check "v2's service runs" service_runs

stage v2-broken
step "upgrade to v2-broken: its service fails verification" 10 rolled_back "${engine}" -- --apply --root "${root}"
check "v2 is installed and running again" service_runs

stage v2
hold 'C:\Program Files\Holvar\holvar-client.exe'
step "reinstall v2 while a file stays held past the budget" 10 rolled_back "${engine}" -- --apply --root "${root}"
text=$("${sim}" cat "${machine}" "${diagnostics}\\engine-$(printf '%032x' "${txn}")-apply.json")
check "the report names the holder: $(grep -o '"holders":{[^]]*]}' <<<"${text}")" grep -q '"image":"holder.exe"' <<<"${text}"
"${sim}" kill "${machine}" "${holder}" >/dev/null
check "v2's service runs" service_runs

stage v1
step "downgrade to v1: the running service will not stop" 10 rolled_back "${engine}" \
    --fail control_service:1053 -- --apply --root "${root}"
check "v2's service runs" service_runs

stage v1
step "downgrade to v1: a registry write fails after the commit" 5 committed_finalize_pending "${engine}" \
    --fail reg_set_value:5 -- --apply --root "${root}"
step "--recover: the finalize is finished" 0 committed "${engine}" -- --recover --root "${root}"

stage v2
step "upgrade to v2 again" 0 committed "${engine}" -- --apply --root "${root}"

stage v3-reshaped
step "upgrade to v3-reshaped: a file became a folder" 11 refused "${engine}" -- --apply --root "${root}"

stage v1
n=$(crash_point "${engine}" placing 4)
step "power cut in the middle of placing v1 over v2" 3 "*" "${engine}" --crash-after "${n}" -- --apply --root "${root}"
"${sim}" show "${machine}" journal "${engine%\\*}" | sed -n '/ops/p;/ended/p' | sed 's/^ */                                                         /'
step "--recover: the placement is undone" 10 rolled_back "${engine}" -- --recover --root "${root}"
check "v2 is installed and running again" service_runs

stage v1
n=$(crash_point "${engine}" committed)
step "power cut right after v1's commit" 3 "*" "${engine}" --crash-after "${n}" -- --apply --root "${root}"
step "--recover: the commit is confirmed and finished" 0 committed "${engine}" -- --recover --root "${root}"
check "v1's service runs" service_runs
step "--recover again: nothing is left to do" 15 nothing_to_recover "${engine}" -- --recover --root "${root}"

"${sim}" service-start "${machine}" demand
echo "an administrator sets holvar_service to start on demand"
installed_engine="${root}\\resources\\holvar-service-install.exe"
step "--repair from the installed engine" 0 repaired "${installed_engine}" -- --repair --root "${root}"
check "the service starts automatically again, and runs" service_starts_auto
check "v1's service runs" service_runs

stage v1
hold 'C:\Program Files\Holvar\assets\icons\app.ico'
step "--remove while a file stays open" 31 removed_reboot_pending "${engine}" -- --remove --root "${root}"
check "the service is gone" bash -c "! '${sim}' show '${machine}' services | grep -q holvar_service"
"${sim}" reboot "${machine}" >/dev/null
echo "the machine restarts: what waited for the restart is deleted"
check "nothing of the installation is left" absent "${root}"

echo "the machine: ${sim} show ${machine}"
stage v1
step "no arguments" 11 refused "${engine}" --
step "mode in the wrong case (--Apply)" 11 refused "${engine}" -- --Apply --root "${root}"
step "--purge-session-vault with --apply" 11 refused "${engine}" -- --apply --root "${root}" --purge-session-vault

holder=$("${sim}" hold-lock "${machine}" | tail -n 1)
echo "another engine (process ${holder}) holds the transaction lock"
step "--apply while the lock is held" 12 busy "${engine}" -- --apply --root "${root}"
"${sim}" kill "${machine}" "${holder}"
echo "process ${holder} ended without releasing the lock (abandoned)"

bad=$("${sim}" stage "${machine}" --root "${root}" --txid FEDCBA9876543210FEDCBA9876543210 | tail -n 1)
step "stage directory named with upper-case hex digits" 11 refused "${bad}" -- --apply --root "${root}"
step "root elsewhere, where no diagnostics directory exists" 11 - "${engine}" -- --apply --root 'C:\Elsewhere\Holvar'
step "--repair run from the stage directory" 11 refused "${engine}" -- --repair --root "${root}"

if ((failures > 0)); then
    echo "demo: ${failures} step(s) did not end as the contract says" >&2
    exit 1
fi
