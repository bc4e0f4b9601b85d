#!/usr/bin/python3
"""Verifying a 1 GiB signed executable: tessera-report's wall time against `openssl dgst -sha256`
on the same file (one pass over it, the least any verifier must do), its peak resident memory,
and osslsigncode verify for reference. Medians of 5, measured in the same run.

The image is tests/fixtures/pe/console.exe with 1 GiB of data after its sections, signed here
with the test code-signing key (SHA-256) by osslsigncode.

Usage: bench/authenticode-pe.py [path/to/tessera-report] [--size MiB] [--keep DIR]
Goals: ratio at most 1.15, peak at most 64 MiB.
"""
import argparse
import os
import shutil
import tempfile

import authenticode_bench as bench


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("report", nargs="?")
    parser.add_argument("--size", type=int, default=1024, help="MiB of data after the sections")
    parser.add_argument("--keep", help="keep the signed file in this folder")
    args = parser.parse_args()
    report = bench.find_report(args.report)
    bench.need("openssl", "osslsigncode")

    work = tempfile.mkdtemp(prefix="tessera-bench-pe-")
    try:
        unsigned = os.path.join(work, "large.exe")
        signed = os.path.join(work, "large-signed.exe")
        with open(unsigned, "wb") as f:
            f.write(open(os.path.join(bench.REPO, "tests", "fixtures", "pe", "console.exe"), "rb").read())
            bench.write_pattern(f, args.size << 20)
        bench.sign(unsigned, signed)
        os.remove(unsigned)
        results = bench.measure(bench.commands(report, signed))
        bench.report("Signed PE, %d MiB of trailing data, SHA-256" % args.size, os.path.getsize(signed), results,
                     1.15, 64)
        if args.keep:
            shutil.move(signed, os.path.join(args.keep, os.path.basename(signed)))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
