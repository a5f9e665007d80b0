#!/usr/bin/env bash
# Builds the native debug build (AddressSanitizer + UndefinedBehaviorSanitizer)
# and runs every test.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
"${HOLVAR_ROOT}/scripts/setup.sh" tests
cd "${HOLVAR_ROOT}"
cmake --preset dev
cmake --build --preset dev
ctest --preset dev
