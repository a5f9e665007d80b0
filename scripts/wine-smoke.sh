#!/usr/bin/env bash
# Starts the shipped holvar-service-install.exe under Wine as a real process
# with real command lines and checks the command-line contract by its exit
# codes: malformed command lines exit 11, a second engine exits 12 while
# another process holds the transaction mutex, an engine outside a stage
# directory exits 11 and writes no report under Wine, and a root with spaces, quotes and
# non-ASCII characters reaches the engine as one argument. Each case also runs
# on the simulated machine (holvar-sim): the exit codes must agree, and so must
# the report wherever Wine lets one be written.
#
# Wine cannot let a run go further than the checks of the stage directory:
# every file belongs to the Wine user, so no directory is trusted and no report
# is written; its volumes report neither hard links nor POSIX rename. The cases
# say when that gap is what stopped them.
#   scripts/wine-smoke.sh [path/to/holvar-service-install.exe] [path/to/holvar-sim]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "${HOLVAR_ROOT}"

exe="${1:-build/windows/tools/windows/holvar-service-install.exe}"
sim="${2:-build/release/tools/holvar-sim/holvar-sim}"
helper="$(dirname "${exe}")/conformance-helper.exe"
for file in "${exe}" "${sim}" "${helper}"; do
    if [[ ! -f "${file}" ]]; then
        echo "wine-smoke: ${file} is missing (the windows and release presets build it)" >&2
        exit 1
    fi
done
exe=$(realpath "${exe}")
sim=$(realpath "${sim}")
helper=$(realpath "${helper}")

source "$(dirname "${BASH_SOURCE[0]}")/wine-prefix.sh"
wine_loader wine-smoke
wine_prefix smoke
scratch=$(mktemp -d "${TMPDIR:-/tmp}/holvar-smoke-sim.XXXXXX")
holder_pid=
trap wine_prefix_remove EXIT

started=${SECONDS}
wine_boot

# The layout a setup program prepares, in C:\ of the prefix and of a simulated
# machine alike: the stage directory beside the root holds the engine, the
# diagnostics directory beside both receives reports.
parent_win='C:\holvar smoke'
root_win="${parent_win}"'\Holvar'
odd_root_win="${parent_win}"'\Prog "Q" '"'"'x'"'"' Hölvär ☃ ⅯⅯ'
txid=0123456789abcdef0123456789abcdef
stage_win="${parent_win}\\.Holvar-upgrade-${txid}"
engine_win="${stage_win}"'\holvar-service-install.exe'
elsewhere_win="${parent_win}"'\not-a-stage\holvar-service-install.exe'
mutex='Global\Holvar.ManagedInstaller.Transaction.v3'

drive_c="${prefix}/drive_c"
parent_unix="${drive_c}/holvar smoke"
diagnostics_unix="${parent_unix}/Holvar-Install-Diagnostics"
mkdir -p "${parent_unix}/.Holvar-upgrade-${txid}/payload" "${parent_unix}/not-a-stage" "${diagnostics_unix}"
cp "${exe}" "${parent_unix}/.Holvar-upgrade-${txid}/holvar-service-install.exe"
cp "${exe}" "${parent_unix}/.Holvar-upgrade-${txid}/payload/holvar-service-install.exe"
cp "${exe}" "${parent_unix}/not-a-stage/holvar-service-install.exe"

machine="${scratch}/machine.json"
"${sim}" init "${machine}" >/dev/null
"${sim}" stage "${machine}" --root "${root_win}" --txid "${txid}" --demo-payload v1 >/dev/null
"${sim}" mkdir "${machine}" "${parent_win}"'\not-a-stage' >/dev/null
"${sim}" write "${machine}" "${elsewhere_win}" --engine >/dev/null

gap_owner="gap: owners are the Wine user, so no directory is trusted and no report is written"
failures=0
fail() {
    echo "wine-smoke: FAILED: $*" >&2
    failures=$((failures + 1))
}

# The reports a run left, one name a line.
wine_reports() { find "${diagnostics_unix}" -maxdepth 1 -type f -name 'engine-*.json' -printf '%f\n' | sort; }
sim_reports() {
    "${sim}" ls "$1" "${parent_win}"'\Holvar-Install-Diagnostics' | grep -o 'engine-[^ ]*\.json' | sort || true
}

# One run on each side: a fresh copy of the simulated machine, the Wine
# prefix's diagnostics directory emptied. Sets wine_status, sim_status and
# sim_machine; prints nothing.
run_both() {
    local engine="$1"
    shift
    find "${diagnostics_unix}" -maxdepth 1 -type f -delete
    sim_machine="${scratch}/case.json"
    cp "${machine}" "${sim_machine}"
    if [[ -n "${sim_setup:-}" ]]; then "${sim_setup}" "${sim_machine}"; fi
    sim_status=0
    "${sim}" run "${sim_machine}" --exe "${engine}" -- "$@" >/dev/null 2>&1 || sim_status=$?
    wine_status=0
    wine_output=$(timeout 60 "${loader}" "${engine}" "$@" 2>&1) || wine_status=$?
}

# case NAME EXPECTED ENGINE ARG...: the exit code on both sides, and the
# report wherever Wine wrote one.
check_case() {
    local name="$1" expected="$2"
    shift 2
    run_both "$@"
    local seen="exit ${wine_status} (simulated machine ${sim_status})"
    if [[ "${wine_status}" != "${expected}" || "${sim_status}" != "${expected}" ]]; then
        fail "${name}: ${seen}, expected ${expected}"
        return
    fi
    if [[ -n "${wine_output}" ]]; then
        fail "${name}: the engine printed: ${wine_output}"
        return
    fi
    local written
    written=$(wine_reports)
    if [[ -z "${written}" ]]; then
        echo "  ${name}: ${seen}; no report (${gap_owner})"
        return
    fi
    local report
    for report in ${written}; do
        if ! cmp -s "${diagnostics_unix}/${report}" \
            <("${sim}" cat "${sim_machine}" "${parent_win}\\Holvar-Install-Diagnostics\\${report}"); then
            fail "${name}: ${report} differs from the simulated machine's"
            return
        fi
    done
    echo "  ${name}: ${seen}; report ${written} byte for byte as on the simulated machine"
}

echo "wine-smoke: malformed command lines exit 11"
check_case "no arguments" 11 "${engine_win}"
check_case "only a mode" 11 "${engine_win}" --apply
check_case "--root without a path" 11 "${engine_win}" --apply --root
check_case "mode in the wrong case (--Apply)" 11 "${engine_win}" --Apply --root "${root_win}"
check_case "unknown mode (--install)" 11 "${engine_win}" --install --root "${root_win}"
check_case "options swapped" 11 "${engine_win}" --root "${root_win}" --apply
check_case "root beginning with --" 11 "${engine_win}" --apply --root --purge-session-vault
check_case "--purge-session-vault with --apply" 11 "${engine_win}" --apply --root "${root_win}" --purge-session-vault
check_case "--purge-session-vault with --recover" 11 "${engine_win}" --recover --root "${root_win}" --purge-session-vault
check_case "an extra argument" 11 "${engine_win}" --remove --root "${root_win}" --purge-session-vault extra
check_case "two modes" 11 "${engine_win}" --apply --remove --root "${root_win}"
check_case "an empty argument" 11 "${engine_win}" --apply --root "${root_win}" ""

echo "wine-smoke: an engine outside a stage directory exits 11 and writes no report"
check_case "started from not-a-stage" 11 "${elsewhere_win}" --apply --root "${root_win}"
if [[ -n "$(find "${drive_c}" -name 'engine-*.json' -print -quit)" ]]; then
    fail "started from not-a-stage: a report was written under C:"
fi
# The simulated machine, whose diagnostics directory is trusted, shows what a
# Windows machine would keep: the early-failure report of a refused stage.
sim_written=$(sim_reports "${sim_machine}")
echo "  started from not-a-stage: no report anywhere under C: of the prefix;" \
    "the simulated machine wrote: ${sim_written:-nothing}"

# Wine stops a good command line at the stage directory's owners; on a
# simulated machine whose folders belong to the administrator's own account, as
# Wine's do, the engine stops at the same place.
owned_like_wine() {
    local path
    for path in "${parent_win}" "${stage_win}" "${stage_win}"'\payload' "${engine_win}" \
        "${parent_win}"'\Holvar-Install-Diagnostics'; do
        "${sim}" chown "$1" "${path}" admin >/dev/null
    done
}
echo "wine-smoke: well-formed command lines stop at the stage directory (${gap_owner};" \
    "Wine volumes report neither hard links nor POSIX rename)"
sim_setup=owned_like_wine
check_case "--apply" 11 "${engine_win}" --apply --root "${root_win}"
check_case "--remove --purge-session-vault" 11 "${engine_win}" --remove --root "${root_win}" --purge-session-vault
check_case "--apply, root with spaces, quotes and non-ASCII" 11 "${engine_win}" --apply --root "${odd_root_win}"
sim_setup=

# A second engine: the lock is taken right after the command line is parsed and
# the root's full path is known, so 12 also shows that the odd root arrived as
# one well-formed argument (split or mangled, it would be 11).
echo "wine-smoke: a second engine exits 12 while another process holds ${mutex}"
hold_lock() { "${sim}" hold-lock "$1" >/dev/null; }
if ! wine_hold_mutex "${helper}" "${mutex}" "${parent_unix}/mutex.ready" "${parent_win}"'\mutex.ready'; then
    fail "the helper did not take ${mutex}"
else
    sim_setup=hold_lock
    check_case "--apply while the lock is held" 12 "${engine_win}" --apply --root "${root_win}"
    check_case "--recover while the lock is held" 12 "${engine_win}" --recover --root "${root_win}"
    check_case "--apply, odd root, while the lock is held" 12 "${engine_win}" --apply --root "${odd_root_win}"
    check_case "malformed while the lock is held" 11 "${engine_win}" --apply --root "${odd_root_win}" x
    sim_setup=
fi
wine_release_mutex

echo "wine-smoke: $((SECONDS - started)) s under $("${loader}" --version 2>/dev/null || echo wine)"
if ((failures > 0)); then
    echo "wine-smoke: ${failures} case(s) failed" >&2
    exit 1
fi
echo "wine-smoke: every case gave the exit code of the command-line contract"
