#!/bin/sh
# Reports on the system's CA bundle concatenated 1, 10 and 40 times (about 140, 1,400 and 5,600
# certificates in one .pem) and compares the wall time of tessera-report with the openssl pipeline
# that prints the same certificates as text, both measured here in the same run (medians of 5).
#   bench/cert-bundle.sh [path/to/tessera-report]
set -eu
report=${1:-build/bin/tessera-report}
bundle=${CA_BUNDLE:-/etc/ssl/certs/ca-certificates.crt}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

median_seconds() { # command... ; prints the median wall time of 5 runs
  for i in 1 2 3 4 5; do
    start=$(date +%s.%N)
    "$@" >/dev/null
    end=$(date +%s.%N)
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f\n", b - a }'
  done | sort -n | sed -n 3p
}

openssl_text() {
  openssl crl2pkcs7 -nocrl -certfile "$1" | openssl pkcs7 -print_certs -text -noout
}

printf '%-6s %8s %10s %10s %8s\n' copies certs tessera/s openssl/s ratio
for copies in 1 10 40; do
  file="$work/bundle-$copies.pem"
  : >"$file"
  i=0
  while [ $i -lt "$copies" ]; do cat "$bundle" >>"$file"; i=$((i + 1)); done
  certs=$(grep -c 'BEGIN CERTIFICATE' "$file")
  t=$(median_seconds "$report" "$file")
  o=$(median_seconds openssl_text "$file")
  printf '%-6s %8s %10.3f %10.3f %8.3f\n' "$copies" "$certs" "$t" "$o" "$(awk -v a="$t" -v b="$o" 'BEGIN { print a / b }')"
done
