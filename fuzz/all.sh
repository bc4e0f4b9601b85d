#!/bin/bash
# Runs every target of fuzz/targets for SECONDS each, JOBS at a time (default 2), and fails when
# any finds something. Logs and findings go to OUT (default: a temporary folder, printed); with
# KEEP_CORPUS=1 each target's corpus is kept in OUT/corpus/<target> and grows from run to run;
# FUZZ_RUNS=N ends a target after N executions if that comes before SECONDS.
#   fuzz/all.sh build-fuzz/bin 60 [JOBS [OUT]]
set -eu
bin=$(cd "$1" && pwd)
seconds=$2
jobs=${3:-2}
here=$(cd "$(dirname "$0")" && pwd)
out=${4:-$(mktemp -d)}
mkdir -p "$out"
out=$(cd "$out" && pwd)
targets=$(grep -Ev '^(#|$)' "$here/targets" | awk '{print $1}')

run_one() {
  target=$1
  corpus="$out/corpus/$target"
  [ "${KEEP_CORPUS:-0}" = 1 ] || corpus="$out/scratch/$target"
  if "$here/run.sh" "$bin" "$target" "$seconds" "$corpus" "$out/findings" > "$out/$target.log" 2>&1; then
    echo ok > "$out/$target.status"
  else
    echo failed > "$out/$target.status"
  fi
  [ "${KEEP_CORPUS:-0}" = 1 ] || rm -rf "$corpus"
}

# At most JOBS at once.
running=0
for target in $targets; do
  run_one "$target" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n
    running=$((running - 1))
  fi
done
wait

failed=0
printf '%-22s %-7s %12s %8s %8s\n' target result executions edges "exec/s"
for target in $targets; do
  log="$out/$target.log"
  status=$(cat "$out/$target.status" 2>/dev/null || echo missing)
  runs=$(grep -E 'stat::number_of_executed_units:' "$log" | awk '{print $2}' | tail -1)
  speed=$(grep -E 'stat::average_exec_per_sec:' "$log" | awk '{print $2}' | tail -1)
  edges=$(grep -oE 'cov: [0-9]+' "$log" | tail -1 | awk '{print $2}')
  printf '%-22s %-7s %12s %8s %8s\n' "$target" "$status" "${runs:--}" "${edges:--}" "${speed:--}"
  [ "$status" = ok ] || failed=1
done
if [ "$failed" -ne 0 ]; then
  echo "fuzzing found something: see $out (findings in $out/findings)" >&2
  ls "$out/findings" 2>/dev/null >&2 || true
fi
exit "$failed"
