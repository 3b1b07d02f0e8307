#!/usr/bin/env bash
# clang-tidy over the project's own sources (module, simulator, harness, update-file tools, vupdate), with
# the checks of .clang-tidy as errors. Uses the default build's compile commands.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v run-clang-tidy >/dev/null || scripts/install-deps.sh tidy
cmake --preset default >/dev/null
files=$(git ls-files 'app/*.cpp' 'panels/*.cpp' 'package/*.cpp' 'install/*.cpp' 'gx/*.cpp' 'services/*.cpp' \
  'sim/*.cpp' 'harness/*.cpp' 'updatefile/*.cpp' 'cli/*.cpp')
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
# The files vupdate's link optimises together carry GCC's -ffat-lto-objects, which clang does not know.
# shellcheck disable=SC2086
run-clang-tidy -quiet -p build/default -j "$(nproc)" -extra-arg=-Wno-ignored-optimization-argument $files \
  >"$log" 2>&1 || status=$?
grep -E '(error|warning):' "$log" | sort -u || true
if [ $status -ne 0 ] || grep -q 'error:' "$log"; then
  echo "tidy: clang-tidy found problems" >&2
  exit 1
fi
echo "tidy: $(echo "$files" | wc -w) files clean"
