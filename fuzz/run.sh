#!/bin/sh
# Runs one libFuzzer target of a clang build configured with -DTESSERA_FUZZ=ON for a number of
# seconds, seeded with fixture folders; crashes are written to the current folder.
#   CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DTESSERA_FUZZ=ON -DTESSERA_TESTS=OFF
#   ninja -C build-fuzz fuzz_cert_loaders
#   fuzz/run.sh build-fuzz/bin/fuzz_cert_loaders 600 tests/fixtures/certs
# The stand-ins are shared libraries, so the sanitizer runtime is too; it must be loaded first.
set -eu
target=$1
seconds=$2
shift 2
runtime=$(clang -print-file-name=libclang_rt.asan-x86_64.so)
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
for seeds in "$@"; do
  find "$seeds" -maxdepth 1 -type f -size -1024k -exec cp {} "$corpus" \;
done
LD_PRELOAD="$runtime" ASAN_OPTIONS=detect_leaks=1 \
  "$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 "$corpus"
