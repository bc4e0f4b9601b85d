#!/bin/sh
# The Debian package as a user gets it: built from the build tree (what `make deb` does), installed
# with apt-get, then the installed programs, desktop entry, icons and manual pages checked from
# outside the trees, and the package removed again.
#   tests/package/deb-install.sh BUILD_DIR SOURCE_DIR
# Installing a package needs root: elsewhere the script says so and exits 77, which CTest counts as
# skipped.
set -eu
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)

if [ "$(id -u)" -ne 0 ]; then
    echo "skipped: installing the package needs root"
    exit 77
fi
if dpkg-query -W -f='${Status}' tessera 2>/dev/null | grep -q "install ok installed"; then
    echo "skipped: a tessera package is installed already, and this test would remove it"
    exit 77
fi

work=$(mktemp -d)
cleanup() {
    apt-get purge -y -qq tessera >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAILED: $*" >&2
    exit 1
}

cd "$build"
cpack -G DEB -B "$work/package" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack"; }
deb=$(ls "$work"/package/tessera_*.deb)
echo "built $(basename "$deb")"

# The dependencies were computed: the libraries the programs and stand-ins link are named.
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libqt6widgets6 libssl3 libcurl4; do
    case "$depends" in *"$library"*) ;; *) fail "Depends lacks $library: $depends" ;; esac
done

cd "$work/package"
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "./$(basename "$deb")" \
    >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get install"; }

cd /
# Programs and stand-ins: every library found, the report the same as the build tree's.
for file in /usr/bin/tessera /usr/bin/tessera-report /usr/lib/tessera/*.so; do
    if ldd "$file" | grep -q "not found"; then
        ldd "$file"
        fail "$file misses a library"
    fi
done
cp "$source/tests/fixtures/signed/ts-rfc3161.exe" "$source/tests/fixtures/certs/three.p7b" \
    "$source/tests/fixtures/trust-tessera.pem" "$work/"
for file in ts-rfc3161.exe three.p7b; do
    SSL_CERT_FILE="$work/trust-tessera.pem" TZ=UTC LC_ALL=C.UTF-8 /usr/bin/tessera-report "$work/$file" >"$work/installed.txt" ||
        fail "installed tessera-report on $file"
    SSL_CERT_FILE="$work/trust-tessera.pem" TZ=UTC LC_ALL=C.UTF-8 "$build/bin/tessera-report" "$work/$file" >"$work/built.txt"
    cmp -s "$work/installed.txt" "$work/built.txt" || { diff "$work/built.txt" "$work/installed.txt"; fail "report on $file"; }
done
# The installed trust provider judged the signature: the verdict names the publisher.
SSL_CERT_FILE="$work/trust-tessera.pem" /usr/bin/tessera-report "$work/ts-rfc3161.exe" |
    grep -q "^Publisher: Tessera Test Code Signing$" || fail "the installed trust provider did not judge the signature"
/usr/bin/tessera --version | grep -q "^Tessera 1\." || fail "tessera --version"

# The window starts: still running when stopped after a few seconds.
status=0
QT_QPA_PLATFORM=offscreen timeout 5 /usr/bin/tessera "$work/three.p7b" >/dev/null 2>&1 || status=$?
[ "$status" -eq 124 ] || fail "tessera ended with status $status instead of running"

desktop-file-validate --no-hints /usr/share/applications/tessera.desktop || fail "desktop entry"
for size in 16 24 32 48 64 128 256; do
    [ -f "/usr/share/icons/hicolor/${size}x${size}/apps/tessera.png" ] || fail "icon ${size}x${size}"
done
for page in tessera tessera-report; do
    zcat "/usr/share/man/man1/$page.1.gz" | grep -q "^\.TH " || fail "manual page $page"
done
[ -f /usr/share/doc/tessera/copyright ] || fail "copyright file"

apt-get purge -y -qq tessera >/dev/null 2>&1 || fail "apt-get purge"
[ ! -e /usr/bin/tessera ] || fail "tessera left behind after purge"
echo "the package installs, works and goes"
