#!/bin/sh
# Installs the Debian packages a make target needs, from the archive the machine already uses.
#   tools/deps.sh [--test | --sanitize | --deb | --ci | --fixtures]
# As root it installs what is missing; otherwise it prints the one apt-get line and fails.
set -eu

# Build and run. The test suite is built with the programs unless TESSERA_TESTS=OFF, so what it
# is built with is needed wherever the tree is configured: GoogleTest, and the X client library
# the test that drags a window on X11 speaks to the display through.
build="cmake ninja-build g++ pkg-config qt6-base-dev libssl-dev libcurl4-openssl-dev libgtest-dev libgmock-dev
  libxcb1-dev shared-mime-info fonts-dejavu-core"
# The tests: the peers they compare against (openssl, osslsigncode, msitools), a display server
# for screenshots and the X11 drag test, a D-Bus daemon for the private session bus of the
# properties tests, time zones and the system's trust store, the checkers of the installed desktop
# entry, metainfo, manual pages and bash completion, and what the package test builds and checks
# the packages with.
test="openssl osslsigncode msitools xvfb xauth dbus tzdata ca-certificates desktop-file-utils appstream bash-completion
  groff-base dpkg-dev lintian"
# The Debian packages (tools/make-deb): dpkg-dev computes their dependencies and control files and
# builds them, lintian checks them.
deb="dpkg-dev lintian"

packages=$build
case "${1:-}" in
  "") ;;
  --test) packages="$packages $test" ;;
  # The sanitizer build and the fuzz targets (make sanitize): the test packages and clang.
  --sanitize) packages="$packages $test clang libclang-rt-14-dev" ;;
  --deb) packages="$packages $deb" ;;
  # CI itself (.ci/run): the bare Debian system the README's commands are proven on is made with
  # debootstrap; nothing else is needed on the host beyond what make test and make sanitize install.
  --ci) packages="debootstrap" ;;
  # Making fixtures and fuzzing: only developers need these.
  --fixtures)
    packages="$packages $test wixl python3-olefile libimage-exiftool-perl faketime gcab clang libclang-rt-14-dev" ;;
  *)
    echo "usage: tools/deps.sh [--test | --sanitize | --deb | --ci | --fixtures]" >&2
    exit 2 ;;
esac

missing=""
for p in $packages; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  case "$status" in
    *"install ok installed"*) ;;
    *) missing="$missing $p" ;;
  esac
done
[ -z "$missing" ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "Tessera needs these packages; install them and run make again:" >&2
  echo "  sudo apt-get install -y --no-install-recommends$missing" >&2
  exit 1
fi
echo "Installing:$missing" >&2
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq >&2 || true
# shellcheck disable=SC2086
apt-get install -y -qq --no-install-recommends $missing >&2
