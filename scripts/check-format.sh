#!/usr/bin/env bash
# Every C++ source of the project laid out as .clang-format says; clang-format names the lines that drift
# (clang-format -i FILE lays a file out).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh format
mapfile -t files < <(git ls-files '*.cpp' '*.h')
clang-format --dry-run -Werror "${files[@]}"
echo "format: ${#files[@]} files clean"
