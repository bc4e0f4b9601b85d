#!/bin/sh
# The smallest ELF file that carries the program's version block: the block's section alone, cut
# from a built program, so that fuzz_pe starts from the ELF path of the version reader.
#   fuzz/seeds/elf/make-seed.sh build/bin/tessera-report
set -eu
here=$(dirname "$0")
objcopy -j .tessera.version "${1:?usage: make-seed.sh PROGRAM}" "$here/tessera-version.elf" 2>/dev/null
