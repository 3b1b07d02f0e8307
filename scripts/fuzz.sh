#!/usr/bin/env bash
# Fuzzes the update-file verification for SECONDS (default 60, what CI runs) under ASan + UBSan.
#   scripts/fuzz.sh [SECONDS] [BUILD_DIR]
# The seed corpus in fuzz/corpus/ is copied into BUILD_DIR/corpus, which keeps what the run finds; crashing
# inputs land in BUILD_DIR/artifacts/. Exit status 0 when nothing was found.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
build=${2:-build/fuzz}

scripts/install-deps.sh fuzz
cmake --preset fuzz -B "$build" >/dev/null
cmake --build "$build" -j"${JOBS:-2}" --target verify_fuzz

mkdir -p "$build/corpus" "$build/artifacts" "$build/tmp"
# Anything the target puts in a temporary folder lives here, so a run cut short leaves nothing in /tmp.
TMPDIR=$(cd "$build/tmp" && pwd)
export TMPDIR
cp -n fuzz/corpus/* "$build/corpus/" 2>/dev/null || true
# The camera the target keeps holds its own log lines and sounds on purpose: per-input leak checks would
# take them for leaks and spend most of the time scanning the heap. Every allocation records the stack
# that made it; ten frames reach from the card model into the module, and recording thirty costs an eighth
# of the time (the stack of a faulting access itself is always whole).
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:malloc_context_size=10}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
"$build/verify_fuzz" -max_total_time="$seconds" -detect_leaks=0 -print_final_stats=1 \
  -artifact_prefix="$build/artifacts/" "$build/corpus"
