#!/bin/sh
# Cross-checks the version lines of tessera-report against exiftool on real Windows executables
# nobody here wrote: the vendor/ folder of the npm package electron-winstaller. Nothing of it is
# kept. Needs npm (the npm registry), exiftool (Debian libimage-exiftool-perl) and a build.
#   tests/fileinfo/crosscheck-electron-winstaller.sh [path/to/tessera-report]
set -eu
report=$(realpath "${1:-build/bin/tessera-report}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
npm pack --silent electron-winstaller >/dev/null
tar xzf electron-winstaller-*.tgz

field() { # label report-file
  sed -n "s/^$1: //p" "$2" | head -n 1
}
exif() { # tag file
  exiftool -s3 -"$1" "$2" 2>/dev/null | head -n 1
}

checked=0
failed=0
for file in package/vendor/*.exe package/vendor/*.dll; do
  [ "$(head -c 2 "$file")" = "MZ" ] || continue
  "$report" "$file" >report.txt
  compare() { # what ours theirs; exiftool drops surrounding blanks (.NET writes " " for none)
    if [ "$(echo "$2" | sed 's/^ *//; s/ *$//')" != "$3" ]; then
      echo "MISMATCH $(basename "$file") $1: tessera '$2' exiftool '$3'"
      failed=$((failed + 1))
    fi
  }
  compare Company "$(field Company report.txt)" "$(exif CompanyName "$file")"
  compare Description "$(field Description report.txt)" "$(exif FileDescription "$file")"
  compare Product "$(field Product report.txt)" "$(exif ProductName "$file")"
  compare Copyright "$(field Copyright report.txt)" "$(exif LegalCopyright "$file")"
  # The report's product version has three parts, its file version four (and a pre-release mark).
  compare "File version" "$(field 'File version' report.txt | cut -d' ' -f1)" "$(exif FileVersionNumber "$file")"
  compare "Prod version" "$(field 'Prod version' report.txt)" \
    "$(exif ProductVersionNumber "$file" | cut -d. -f1-3)"
  checked=$((checked + 1))
done
echo "$checked executables checked, $failed mismatches"
[ "$checked" -gt 0 ] && [ "$failed" -eq 0 ]
