#!/bin/sh
# The Debian packages as a user gets them: built from the build tree (what `make deb` does),
# checked by lintian, installed with apt-get, then the installed programs, desktop entry, icons,
# metainfo, manual pages and the folders for the context-menu entries checked from outside the
# trees, and the packages purged again with what the window wrote.
#   tests/package/deb-install.sh BUILD_DIR SOURCE_DIR
# Installing a package needs root and apt: elsewhere the script says so and exits 77, which CTest
# counts as skipped.
set -eu
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)

skip() {
    echo "skipped: $*"
    exit 77
}
[ "$(id -u)" -eq 0 ] || skip "installing the packages needs root"
if ! command -v apt-get >/dev/null || ! command -v dpkg-deb >/dev/null; then
    skip "no apt-get and dpkg-deb to install with"
fi
for package in tessera tessera-report; do
    if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        skip "$package is installed already, and this test would remove it"
    fi
done
# Purging removes what the window wrote for all users: never what a real installation keeps.
for kept in /var/lib/tessera/registry /usr/local/share/kio/servicemenus/tessera-verb-* \
    /usr/local/share/nemo/actions/tessera-verb-*; do
    [ ! -e "$kept" ] || skip "$kept exists, and purging the package in this test would remove it"
done
# The folders the package and the window make, unless they are there already; they must go again.
made=""
for dir in /usr/local/share/kio /usr/local/share/kio/servicemenus /usr/local/share/nemo /usr/local/share/nemo/actions \
    /var/lib/tessera; do
    [ -e "$dir" ] || made="$made $dir"
done

work=$(mktemp -d)
cleanup() {
    apt-get purge -y -qq tessera tessera-report >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAILED: $*" >&2
    exit 1
}

"$source/tools/make-deb" "$build" "$work/package" >"$work/debs" 2>"$work/make-deb.log" ||
    { cat "$work/make-deb.log"; fail "tools/make-deb"; }
report=$(ls "$work"/package/tessera-report_*.deb)
window=$(ls "$work"/package/tessera_*.deb)
echo "built $(basename "$report") $(basename "$window")"

# Every tag lintian may give, but no error or warning.
if command -v lintian >/dev/null; then
    lintian --fail-on error,warning --display-info --display-experimental --pedantic "$report" "$window" ||
        fail "lintian"
fi

# The dependencies were computed: the libraries each package's programs and stand-ins link are
# named, and the command line needs nothing of a window system.
depends=$(dpkg-deb -f "$report" Depends)
for library in libc6 libqt6core6 libssl3 libcurl4; do
    case "$depends" in *"$library"*) ;; *) fail "tessera-report's Depends lacks $library: $depends" ;; esac
done
for library in libqt6gui6 libqt6widgets6 libx11 libwayland; do
    case "$depends" in *"$library"*) fail "tessera-report depends on $library: $depends" ;; esac
done
depends=$(dpkg-deb -f "$window" Depends)
for library in "tessera-report (= $(dpkg-deb -f "$report" Version))" libqt6widgets6 libqt6gui6; do
    case "$depends" in *"$library"*) ;; *) fail "tessera's Depends lacks $library: $depends" ;; esac
done

cd "$work/package"
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "./$(basename "$report")" "./$(basename "$window")" >"$work/apt.log" 2>&1 ||
    { cat "$work/apt.log"; fail "apt-get install"; }

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
/usr/bin/tessera --version | grep -q "^tessera (Tessera) 1\." || fail "tessera --version"
/usr/bin/tessera-report --version | grep -q "^tessera-report (Tessera) 1\." || fail "tessera-report --version"

# The window starts: still running when stopped after a few seconds.
status=0
QT_QPA_PLATFORM=offscreen timeout 5 /usr/bin/tessera "$work/three.p7b" >/dev/null 2>&1 || status=$?
[ "$status" -eq 124 ] || fail "tessera ended with status $status instead of running"

desktop-file-validate --no-hints /usr/share/applications/tessera.desktop || fail "desktop entry"
if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net /usr/share/metainfo/example.tessera.Tessera.metainfo.xml >"$work/appstream.log" ||
        { cat "$work/appstream.log"; fail "metainfo"; }
fi
for size in 16 24 32 48 64 128 256; do
    [ -f "/usr/share/icons/hicolor/${size}x${size}/apps/tessera.png" ] || fail "icon ${size}x${size}"
done
for page in tessera tessera-report; do
    zcat "/usr/share/man/man1/$page.1.gz" | grep -q "^\.TH " || fail "manual page $page"
done
for package in tessera tessera-report; do
    [ -f "/usr/share/doc/$package/copyright" ] || fail "copyright file of $package"
    zcat "/usr/share/doc/$package/changelog.gz" | head -n 1 | grep -q "^tessera (" || fail "changelog of $package"
done
bash -n /usr/share/bash-completion/completions/tessera-report || fail "bash completion"
cmp -s /usr/share/tessera/report.schema.json "$source/docs/report.schema.json" || fail "JSON schema"

# The folders the file managers watch are there for the window's entry.
for dir in /usr/local/share/kio/servicemenus /usr/local/share/nemo/actions; do
    [ -d "$dir" ] || fail "$dir was not made"
done
# What the window writes when its box is ticked: the registry and the two entries.
mkdir -p /var/lib/tessera/registry/HKEY_CLASSES_ROOT
: >/var/lib/tessera/registry/HKEY_CLASSES_ROOT/values
: >/usr/local/share/kio/servicemenus/tessera-verb-Tessera.desktop
: >/usr/local/share/nemo/actions/tessera-verb-Tessera.nemo_action

# Removal keeps what the window wrote, as it keeps any configuration; purge takes it.
apt-get remove -y -qq tessera >/dev/null 2>&1 || fail "apt-get remove"
[ -e /usr/local/share/nemo/actions/tessera-verb-Tessera.nemo_action ] || fail "removal took the entries"
[ -d /var/lib/tessera/registry ] || fail "removal took the registry"
apt-get purge -y -qq tessera tessera-report >/dev/null 2>&1 || fail "apt-get purge"
for path in /usr/bin/tessera /usr/bin/tessera-report /usr/lib/tessera /usr/share/tessera /var/lib/tessera/registry \
    /usr/local/share/kio/servicemenus/tessera-verb-Tessera.desktop \
    /usr/local/share/nemo/actions/tessera-verb-Tessera.nemo_action $made; do
    [ ! -e "$path" ] || fail "$path left behind after purge"
done
echo "the packages install, work and go"
