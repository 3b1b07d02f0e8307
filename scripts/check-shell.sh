#!/usr/bin/env bash
# Runs shellcheck over the project's shell scripts and the CI driver.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh shellcheck
mapfile -t files < <(git ls-files '*.sh' '*.bash' .ci/run)
shellcheck "${files[@]}"
echo "shellcheck: ${#files[@]} scripts clean"
