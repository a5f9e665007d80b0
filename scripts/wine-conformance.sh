#!/usr/bin/env bash
# Runs the Windows build of the conformance suite (conformance-tests.exe, from
# the windows preset) under Wine: a fresh prefix in a temporary folder, no
# display. Wine is a partial Windows: the cases that need what it lacks skip
# themselves there, naming the gap; this script prints the counts.
#   scripts/wine-conformance.sh [path/to/conformance-tests.exe]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "${HOLVAR_ROOT}"

exe="${1:-build/windows/tools/windows/conformance-tests.exe}"
if [[ ! -f "${exe}" ]]; then
    echo "wine-conformance: ${exe} is missing (cmake --build --preset windows builds it)" >&2
    exit 1
fi
exe=$(realpath "${exe}")

source "$(dirname "${BASH_SOURCE[0]}")/wine-prefix.sh"
wine_loader wine-conformance
wine_prefix wine
log="${prefix}.log"
cleanup() {
    wine_prefix_remove
    rm -f "${log}" "${log}.crlf"
}
trap cleanup EXIT

started=${SECONDS}
wine_boot

# The shipped engine starts on Windows, prints nothing, and refuses a bare
# start with exit code 11 (invalid arguments).
engine="$(dirname "${exe}")/holvar-service-install.exe"
if [[ -f "${engine}" ]]; then
    engine_status=0
    engine_output=$(timeout 60 "${loader}" "${engine}" 2>&1) || engine_status=$?
    if [[ "${engine_status}" != 11 || -n "${engine_output}" ]]; then
        echo "wine-conformance: holvar-service-install.exe without arguments exited" \
            "${engine_status} (expected 11) and printed: ${engine_output:-nothing}" >&2
        exit 1
    fi
    echo "wine-conformance: holvar-service-install.exe starts, prints nothing, exits 11 without arguments"
    # The Wine adapter is test-only: the shipped engine never asks whether it
    # runs under Wine.
    if grep -qa wine_get_version "${engine}"; then
        echo "wine-conformance: holvar-service-install.exe holds test-only Wine code" >&2
        exit 1
    fi
fi
status=0
timeout 120 "${loader}" "${exe}" --gtest_color=no >"${log}.crlf" 2>&1 || status=$?
tr -d '\r' <"${log}.crlf" >"${log}"
rm -f "${log}.crlf"

# The failures in full; the rest as counts.
grep -E '^\[  FAILED  \]|Failure$|^Expected|^  Actual|Which is|Win32 error' "${log}" || true
passed=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\{0,1\}\./\1/p' "${log}" | tail -n 1)
failed=$(sed -n 's/^ *\([0-9]*\) FAILED TESTS\{0,1\}$/\1/p' "${log}" | tail -n 1)
skipped=$(sed -n 's/^\[  SKIPPED \] \([0-9]*\) tests\{0,1\}, listed below:$/\1/p' "${log}" | tail -n 1)
echo "wine-conformance: skipped cases by gap:"
grep -o 'wine gap: .*' "${log}" | sort | uniq -c | sed 's/^/  /' || true
echo "wine-conformance: $((SECONDS - started)) s under $("${loader}" --version 2>/dev/null || echo wine)"
if [[ -z "${passed}" ]]; then
    echo "wine-conformance: the suite did not finish (exit ${status}); its last lines:" >&2
    tail -n 20 "${log}" >&2
    exit 1
fi
echo "conformance on wine: ${passed} passed, ${failed:-0} failed, ${skipped:-0} skipped"

# The adapter that runs the engine under Wine (test-only, beside the suite):
# each of its six shims shown in the same prefix.
shims="$(dirname "${exe}")/wine-shims-tests.exe"
if [[ -f "${shims}" ]]; then
    shims_status=0
    timeout 60 "${loader}" "${shims}" --gtest_color=no >"${log}.crlf" 2>&1 || shims_status=$?
    tr -d '\r' <"${log}.crlf" >"${log}"
    grep -E '^\[  FAILED  \]|Failure$|^Expected|^  Actual|Which is' "${log}" || true
    shims_passed=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\{0,1\}\./\1/p' "${log}" | tail -n 1)
    shims_failed=$(sed -n 's/^ *\([0-9]*\) FAILED TESTS\{0,1\}$/\1/p' "${log}" | tail -n 1)
    echo "wine shims: ${shims_passed:-0} passed, ${shims_failed:-0} failed"
    if [[ -z "${shims_passed}" || "${shims_status}" != 0 ]]; then
        [[ -n "${shims_passed}" ]] || tail -n 20 "${log}" >&2
        status=1
    fi
fi
exit "${status}"
