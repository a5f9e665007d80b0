#!/usr/bin/env bash
# Builds the native debug build (AddressSanitizer + UndefinedBehaviorSanitizer)
# and runs every test.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
"${HOLVAR_ROOT}/scripts/setup.sh" tests
cd "${HOLVAR_ROOT}"
cmake --preset dev
cmake --build --preset dev
# Every outcome report and journal the engines of the transaction tests write
# is also kept (tests/CMakeLists.txt), and then held to the published schemas
# by Debian's validator (the system's own python3, whatever else a developer
# has put first on the PATH).
rm -rf build/dev/contract
ctest --preset dev
/usr/bin/python3 scripts/validate-contract.py build/dev/contract
