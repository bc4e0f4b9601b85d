#!/bin/sh
# Installs the Debian packages Tessera needs to build, run and test.
# As root it installs what is missing; otherwise it prints the one apt-get line and fails.
set -eu

# Build and run.
packages="cmake ninja-build g++ pkg-config qt6-base-dev libssl-dev libcurl4-openssl-dev
  shared-mime-info fonts-dejavu-core"
# Tests: GoogleTest, the peers the tests compare against, a display server for screenshots and
# for the test that drags a window on X11 (with the X client library it speaks to it through),
# a D-Bus daemon for the private session bus of the properties tests, the checkers of the
# installed desktop entry and manual pages, and what the package test builds the package with.
case "${1:-}" in
  --test)
    packages="$packages libgtest-dev libgmock-dev openssl osslsigncode msitools xvfb xauth libxcb1-dev dbus tzdata
      ca-certificates desktop-file-utils dpkg-dev groff-base" ;;
  # The sanitizer build and the fuzz targets (make sanitize): the test packages and clang.
  --sanitize)
    packages="$packages libgtest-dev libgmock-dev openssl osslsigncode msitools xvfb xauth libxcb1-dev dbus tzdata
      ca-certificates desktop-file-utils dpkg-dev groff-base clang libclang-rt-14-dev" ;;
  # The Debian package: dpkg-shlibdeps computes its dependencies.
  --deb)
    packages="$packages dpkg-dev" ;;
  # Making fixtures and fuzzing: only developers need these.
  --fixtures)
    packages="$packages libgtest-dev libgmock-dev openssl osslsigncode msitools wixl python3-olefile
      libimage-exiftool-perl faketime gcab clang libclang-rt-14-dev xvfb xauth dbus" ;;
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
  echo "  sudo apt-get install -y$missing" >&2
  exit 1
fi
echo "Installing:$missing" >&2
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq >&2 || true
# shellcheck disable=SC2086
apt-get install -y -qq --no-install-recommends $missing >&2
