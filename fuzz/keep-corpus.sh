#!/bin/sh
# Keeps what a campaign reached: merges each target's corpus from a campaign (fuzz/all.sh with
# KEEP_CORPUS=1, OUT/corpus/<target>) with what fuzz/corpus/<target> already holds into the
# smallest set of inputs that covers as much, and writes it back to fuzz/corpus/<target>. Inputs
# over LIMIT bytes (default 64 KiB) are left out, so that the kept corpus stays small, and so are
# inputs that take longer than TIMEOUT seconds (default 1, the bound of fuzz/run.sh, which starts
# every run from the kept corpus). The run prints each target's inputs, bytes, edges and the time
# its slowest input takes.
#   fuzz/keep-corpus.sh build-fuzz/bin OUT [TARGET...]
set -eu
bin=$(cd "$1" && pwd)
out=$(cd "$2" && pwd)
shift 2
here=$(cd "$(dirname "$0")" && pwd)
limit=${LIMIT:-65536}
timeout=${TIMEOUT:-1}
targets=${*:-$(grep -Ev '^(#|$)' "$here/targets" | awk '{print $1}')}
runtime=$(clang -print-file-name=libclang_rt.asan-x86_64.so)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

printf '%-22s %8s %10s %8s %8s\n' target inputs bytes edges slowest
for target in $targets; do
  candidates="$work/$target.candidates"
  merged="$work/$target.merged"
  mkdir -p "$candidates" "$merged"
  for folder in "$here/corpus/$target" "$out/corpus/$target"; do
    [ -d "$folder" ] && find "$folder" -maxdepth 1 -type f -size -$((limit + 1))c -exec cp {} "$candidates" \;
  done
  TMPDIR="$work" LD_PRELOAD="$runtime" ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1:quarantine_size_mb=32 \
    "$bin/$target" -merge=1 -timeout="$timeout" -rss_limit_mb=2048 "$merged" "$candidates" > "$work/$target.log" 2>&1 || {
    echo "keep-corpus.sh: merging $target failed, see:" >&2
    tail -20 "$work/$target.log" >&2
    exit 1
  }
  rm -rf "$here/corpus/$target"
  mkdir -p "$here/corpus/$target"
  cp "$merged"/* "$here/corpus/$target/" 2>/dev/null || true
  inputs=$(find "$here/corpus/$target" -type f | wc -l)
  bytes=$(du -sb "$here/corpus/$target" | awk '{print $1}')
  TMPDIR="$work" LD_PRELOAD="$runtime" ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1 \
    "$bin/$target" -runs=0 -timeout=10 -print_final_stats=1 "$here/corpus/$target" > "$work/$target.check" 2>&1 || true
  edges=$(grep -oE 'INITED cov: [0-9]+' "$work/$target.check" | awk '{print $3}' | tail -1)
  slowest=$(grep -oE 'slowest_unit_time_sec: +[0-9]+' "$work/$target.check" | awk '{print $2}' | tail -1)
  printf '%-22s %8s %10s %8s %7ss\n' "$target" "$inputs" "$bytes" "${edges:--}" "${slowest:--}"
done
