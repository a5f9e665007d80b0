#!/usr/bin/env bash
# Runs holvar-explain.exe under Wine on every journal and report of
# tests/data/explain (a journal of each row of recovery's decision table, a
# report of each outcome, and damaged or foreign files) and on journals the
# engine left on a simulated machine cut by power cuts, and holds it to
# `holvar-sim explain` on the same files: the same exit code, the same text and
# the same JSON byte for byte, the same message for a file it refuses.
#   - --offline against `holvar-sim explain FILE`: the file alone;
#   - asking the machine against `holvar-sim explain --machine`, on a fresh
#     simulated machine and a fresh Wine prefix, both without the service and
#     the root, and then with the transaction lock held by another process;
#   - a stage directory standing for its journal.
# Every decision of the table and every outcome must show up.
#   scripts/wine-explain.sh [path/to/holvar-explain.exe] [path/to/holvar-sim]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "${HOLVAR_ROOT}"

exe="${1:-build/windows/tools/windows/holvar-explain.exe}"
sim="${2:-build/release/tools/holvar-sim/holvar-sim}"
helper="$(dirname "${exe}")/conformance-helper.exe"
for file in "${exe}" "${sim}" "${helper}"; do
    if [[ ! -f "${file}" ]]; then
        echo "wine-explain: ${file} is missing (the windows and release presets build it)" >&2
        exit 1
    fi
done
exe=$(realpath "${exe}")
sim=$(realpath "${sim}")
helper=$(realpath "${helper}")
data="${HOLVAR_ROOT}/tests/data/explain"

source "$(dirname "${BASH_SOURCE[0]}")/wine-prefix.sh"
wine_loader wine-explain
wine_prefix explain
scratch=$(mktemp -d "${TMPDIR:-/tmp}/holvar-explain-sim.XXXXXX")
holder_pid=
trap wine_prefix_remove EXIT

started=${SECONDS}
wine_boot

# Wine shows the host's / as Z:.
winpath() { printf 'Z:%s' "${1//\//\\}"; }

machine="${scratch}/machine.json"
"${sim}" init "${machine}" >/dev/null
"${sim}" mkdir "${machine}" 'C:\explain' >/dev/null

failures=0
fail() {
    echo "wine-explain: FAILED: $*" >&2
    failures=$((failures + 1))
}
seen_decisions=
seen_outcomes=
compared=0

# Runs a command; sets status, out and err.
capture() {
    status=0
    out=$("$@" 2>"${scratch}/err") || status=$?
    err=$(cat "${scratch}/err")
}

# compare NAME SHOWN-BY-SIM SHOWN-BY-WINE: runs sim_cmd and wine_cmd (arrays)
# and holds the two to each other. A refusal is compared by its message, with
# each tool's name and its spelling of the path taken out.
compare() {
    local name="$1" sim_shown="$2" wine_shown="$3"
    compared=$((compared + 1))
    capture "${sim_cmd[@]}"
    local sim_status=${status} sim_out=${out} sim_err=${err}
    capture timeout 60 "${loader}" "${exe}" "${wine_args[@]}"
    if [[ "${status}" != "${sim_status}" ]]; then
        fail "${name}: exit ${status} under Wine, ${sim_status} from holvar-sim (${err}${sim_err})"
        return
    fi
    if ((status != 0)); then
        local sim_message=${sim_err#holvar-sim: explain: } wine_message=${err#holvar-explain: }
        sim_message=${sim_message//"${sim_shown}"/FILE}
        wine_message=${wine_message//"${wine_shown}"/FILE}
        [[ "${sim_message}" == "${wine_message}" ]] ||
            fail "${name}: refused with \"${wine_message}\" under Wine, \"${sim_message}\" by holvar-sim"
        return
    fi
    if [[ "${out}" != "${sim_out}" ]]; then
        fail "${name}: the texts differ"
        diff <(printf '%s\n' "${sim_out}") <(printf '%s\n' "${out}") >&2 || true
        return
    fi
    seen_decisions+=$(sed -n 's/^--recover would decide \([a-z_]*\):.*/\1/p' <<<"${out}")$'\n'
    seen_outcomes+=$(sed -n 's/^outcome \([a-z_]*\), exit code.*/\1/p' <<<"${out}")$'\n'
}

# Journals the engine itself left: an install of the demo runtime cut by a
# power cut before the commit, after it, while finalizing and once finalized.
real="${scratch}/real"
mkdir -p "${real}"
cut_machine="${scratch}/cut.json"
txid=0123456789abcdef0123456789abcdef
for call in 60 125 140 160; do
    "${sim}" init "${cut_machine}" --force >/dev/null
    engine=$("${sim}" stage "${cut_machine}" --root 'C:\Program Files\Holvar' --txid "${txid}" \
        --demo-payload v1 | tail -n 1)
    "${sim}" run "${cut_machine}" --crash-after "${call}" --exe "${engine}" -- \
        --apply --root 'C:\Program Files\Holvar' >/dev/null || true
    "${sim}" cat "${cut_machine}" "${engine%\\*}\\journal\\txn.json" >"${real}/journal-cut-${call}.json" ||
        fail "no journal left by a power cut at mutating call ${call}"
done

files=("${data}"/*.json "${data}"/unreadable/*.json "${real}"/*.json)
echo "wine-explain: ${#files[@]} files, offline and asking the machine, as text and as JSON"
for file in "${files[@]}"; do
    name=${file#"${data}/"}
    name=${name#"${real}/"}
    machine_path='C:\explain\'$(basename "${file}")
    "${sim}" write "${machine}" "${machine_path}" --from "${file}" >/dev/null
    for form in text json; do
        json=()
        [[ "${form}" == json ]] && json=(--json)
        sim_cmd=("${sim}" explain "${file}" "${json[@]}")
        wine_args=("${json[@]}" --offline "$(winpath "${file}")")
        compare "${name} (${form}, offline)" "${file}" "$(winpath "${file}")"
        # Only a journal asks the machine: the JSON of a report or a refusal
        # asked of it is the offline one, already compared.
        [[ "${form}" == json && "${name}" != journal-* ]] && continue
        sim_cmd=("${sim}" explain "${machine_path}" --machine "${machine}" "${json[@]}")
        wine_args=("${json[@]}" "$(winpath "${file}")")
        compare "${name} (${form}, this machine)" "${machine_path}" "$(winpath "${file}")"
    done
done

echo "wine-explain: a stage directory stands for its journal"
stage="${scratch}/.Holvar-upgrade-0123456789abcdef0123456789abcdef"
mkdir -p "${stage}/journal"
cp "${data}/journal-confirm_and_finalize.json" "${stage}/journal/txn.json"
sim_cmd=("${sim}" explain "${stage}")
wine_args=(--offline "$(winpath "${stage}")")
compare "stage directory" "${stage}" "$(winpath "${stage}")"

echo "wine-explain: a transaction lock held by another process is reported"
mutex='Global\Holvar.ManagedInstaller.Transaction.v3'
ready="${scratch}/mutex.ready"
if ! wine_hold_mutex "${helper}" "${mutex}" "${ready}" "$(winpath "${ready}")"; then
    fail "the helper did not take ${mutex}"
else
    locked="${scratch}/locked.json"
    cp "${machine}" "${locked}"
    "${sim}" hold-lock "${locked}" >/dev/null
    file="${data}/journal-roll_back.json"
    sim_cmd=("${sim}" explain 'C:\explain\journal-roll_back.json' --machine "${locked}")
    wine_args=("$(winpath "${file}")")
    compare "lock held" x x
    grep -q 'the transaction lock is held' <<<"${out}" || fail "lock held: not reported: ${out}"
fi
wine_release_mutex

for decision in ended root_lost remove_empty_root resume_finalize confirm_and_finalize roll_back \
    abort_removal resume_removal; do
    grep -qx "${decision}" <<<"${seen_decisions}" || fail "no file showed the decision ${decision}"
done
for outcome in committed repaired committed_finalize_pending rolled_back refused busy \
    reboot_required recovery_required nothing_to_recover recovery_pending recovery_unsupported \
    removed removed_reboot_pending remove_incomplete; do
    grep -qx "${outcome}" <<<"${seen_outcomes}" || fail "no report showed the outcome ${outcome}"
done

echo "wine-explain: $((SECONDS - started)) s under $("${loader}" --version 2>/dev/null || echo wine)"
if ((failures > 0)); then
    echo "wine-explain: ${failures} comparison(s) failed" >&2
    exit 1
fi
echo "wine-explain: ${compared} comparisons: holvar-explain.exe said what holvar-sim explain says" \
    "on every file; every decision of the table and every outcome showed up"
