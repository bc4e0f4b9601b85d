#!/bin/sh
# Runs one libFuzzer target of a clang build made with -DTESSERA_FUZZ=ON for a number of seconds,
# seeded and given dictionaries as fuzz/targets says; an input that crashes, leaks or takes more
# than a second (FUZZ_TIMEOUT) is written to ARTIFACTS (default: the current folder) and fails the
# run.
#   CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DTESSERA_FUZZ=ON -DTESSERA_TESTS=OFF
#   ninja -C build-fuzz fuzz_cert_loaders
#   fuzz/run.sh build-fuzz/bin fuzz_cert_loaders 600 [CORPUS [ARTIFACTS]]
# CORPUS keeps what the run learns (a folder of its own otherwise, removed afterwards). The run
# starts from the target's seeds, what earlier campaigns kept in fuzz/corpus/<target>, and with
# REAL_SEEDS=DIR (fuzz/real-seeds.sh's output) the real files of the kinds fuzz/targets names.
# FUZZ_TIMEOUT=S: the seconds an input may take (default 1); a long campaign on a machine that does
# other work meanwhile needs more, lest a busy moment pass for a finding.
# The stand-ins are shared libraries, so the sanitizer runtime is too; it must be loaded first.
set -eu
bin=$(cd "$1" && pwd)
target=$2
seconds=$3
here=$(cd "$(dirname "$0")" && pwd)
repo=$(dirname "$here")
line=$(grep -E "^$target[[:space:]]" "$here/targets") || { echo "run.sh: $target is not in fuzz/targets" >&2; exit 2; }
seeds=$(echo "$line" | awk '{print $2}')
dictionaries=$(echo "$line" | awk '{print $3}')
real=$(echo "$line" | awk '{print $4}')

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
corpus=${4:-$work/corpus}
artifacts=${5:-.}
mkdir -p "$corpus" "$artifacts"
for seed in $(echo "$seeds" | tr ',' ' '); do
  case "$seed" in
    fuzz/*) folder="$repo/$seed" ;;
    *) folder="$repo/tests/fixtures/$seed" ;;
  esac
  find "$folder" -maxdepth 1 -type f -size -1024k -exec cp {} "$corpus" \;
done
if [ -d "$here/corpus/$target" ]; then
  cp "$here/corpus/$target"/* "$corpus" 2>/dev/null || true
fi
if [ -n "${REAL_SEEDS:-}" ] && [ "$real" != - ]; then
  for kind in $(echo "$real" | tr ',' ' '); do
    cp "$REAL_SEEDS/$kind"/* "$corpus" 2>/dev/null || true
  done
fi
for name in $(echo "$dictionaries" | tr ',' ' '); do
  cat "$here/dictionaries/$name.dict" >> "$work/all.dict"
done

runtime=$(clang -print-file-name=libclang_rt.asan-x86_64.so)
# A smaller quarantine than ASan's 256 MB: OpenSSL's key derivation allocates on every iteration,
# and cycling that much freed memory made a PKCS #12 import within its derivation bound take over
# the second an input may take (0.4 s here with 32 MB, up to 3 s with the default). A use of a
# block freed by the same parser moments before still shows.
# Files the targets write go into the work folder, which goes with the run whatever happens.
TMPDIR="$work" LD_PRELOAD="$runtime" ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1:quarantine_size_mb=32 \
  UBSAN_OPTIONS=print_stacktrace=1 \
  "$bin/$target" -max_total_time="$seconds" -runs="${FUZZ_RUNS:--1}" -timeout="${FUZZ_TIMEOUT:-1}" -rss_limit_mb=2048 -print_final_stats=1 \
  -dict="$work/all.dict" -artifact_prefix="$artifacts/$target-" "$corpus"
