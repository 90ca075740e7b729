#!/usr/bin/env bash
# Runs every fuzz target in BUILD_DIR/bin for FUZZ_SECONDS each, one after the other, and stops at
# the first crash, leak, timeout or undefined behaviour (the reproducer is left in
# BUILD_DIR/artifacts). Each target grows its own corpus in BUILD_DIR/corpus/<target>, seeded from
# fuzz/corpus/<target>.
#   fuzz/run.sh [BUILD_DIR] [target ...]
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-build-fuzz}"
shift || true
seconds="${FUZZ_SECONDS:-60}"

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for exe in "$build"/bin/*_fuzz; do targets+=("$(basename "$exe")"); done
fi

mkdir -p "$build/artifacts"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
# Targets write scratch files; memory-backed storage keeps them (and fsync) cheap.
if [ -z "${TMPDIR:-}" ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi

for t in "${targets[@]}"; do
  corpus="$build/corpus/$t"
  mkdir -p "$corpus"
  [ -d "$here/corpus/$t" ] && cp -n "$here/corpus/$t"/* "$corpus"/ 2>/dev/null || true
  opts=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
        -artifact_prefix="$build/artifacts/$t-")
  [ -f "$here/$t.dict" ] && opts+=(-dict="$here/$t.dict")
  # A target may name its own options (one per line, e.g. -max_len=400) in fuzz/<target>.options.
  if [ -f "$here/$t.options" ]; then
    while read -r o; do [ -n "$o" ] && opts+=("$o"); done <"$here/$t.options"
  fi
  echo "== $t: ${seconds}s"
  log="$build/$t.log"
  if ! "$build/bin/$t" "${opts[@]}" "$corpus" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "== $t FAILED; reproducer in $build/artifacts/, full log $log" >&2
    exit 1
  fi
  grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "$log" | sed "s/^/   /"
  echo "   corpus: $(ls "$corpus" | wc -l) inputs"
done
echo "== all ${#targets[@]} fuzz targets passed"
