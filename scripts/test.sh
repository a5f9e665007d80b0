#!/usr/bin/env bash
# Builds the native debug build (AddressSanitizer + UndefinedBehaviorSanitizer)
# and runs every test.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
"${HOLVAR_ROOT}/scripts/setup.sh" tests
cd "${HOLVAR_ROOT}"
cmake --preset dev
cmake --build --preset dev
# Every outcome report and journal the tests make is also kept, and then held
# to the published schemas by Debian's validator (the system's own python3,
# whatever else a developer has put first on the PATH).
export HOLVAR_CONTRACT_CAPTURE="${HOLVAR_ROOT}/build/dev/contract"
rm -rf "${HOLVAR_CONTRACT_CAPTURE}"
ctest --preset dev
/usr/bin/python3 scripts/validate-contract.py "${HOLVAR_CONTRACT_CAPTURE}"
