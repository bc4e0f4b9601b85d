#!/usr/bin/python3
"""Verifying a signed installer package of more than 500 MiB: tessera-report's wall time against
`openssl dgst -sha256` on the same file, its peak resident memory, and osslsigncode verify for
reference. Medians of 5, measured in the same run.

The package is built by wixl with one 512 MiB file in its embedded cabinet and signed here with
the test code-signing key (SHA-256, with the metadata digest of -add-msi-dse) by osslsigncode.

Usage: bench/authenticode-msi.py [path/to/tessera-report] [--size MiB] [--keep DIR]
Goals: ratio at most 1.25, peak at most 64 MiB.
"""
import argparse
import os
import shutil
import subprocess
import tempfile

import authenticode_bench as bench

WXS = """<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="6A1B2C3D-4E5F-4061-8273-94A5B6C7D8E9" Name="Tessera Large Package" Language="1033"
           Version="1.0.0" Manufacturer="Tessera Benchmarks" UpgradeCode="7B2C3D4E-5F60-4172-8394-A5B6C7D8E9FA">
    <Package InstallerVersion="200" Compressed="yes" Description="A large payload in the cabinet"
             Manufacturer="Tessera Benchmarks"/>
    <Media Id="1" Cabinet="payload.cab" EmbedCab="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFilesFolder">
        <Directory Id="INSTALLDIR" Name="TesseraLarge">
          <Component Id="Payload" Guid="8C3D4E5F-6071-4283-94A5-B6C7D8E9FA0B">
            <File Id="PayloadBin" Name="payload.bin" Source="payload.bin" KeyPath="yes"/>
          </Component>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="Main" Level="1">
      <ComponentRef Id="Payload"/>
    </Feature>
  </Product>
</Wix>
"""


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("report", nargs="?")
    parser.add_argument("--size", type=int, default=512, help="MiB of payload in the cabinet")
    parser.add_argument("--keep", help="keep the signed package in this folder")
    args = parser.parse_args()
    report = bench.find_report(args.report)
    bench.need("openssl", "osslsigncode", "wixl")

    work = tempfile.mkdtemp(prefix="tessera-bench-msi-")
    try:
        with open(os.path.join(work, "payload.bin"), "wb") as f:
            bench.write_pattern(f, args.size << 20)
        with open(os.path.join(work, "large.wxs"), "w") as f:
            f.write(WXS)
        unsigned = os.path.join(work, "large.msi")
        signed = os.path.join(work, "large-signed.msi")
        subprocess.run(["wixl", "-o", unsigned, "large.wxs"], check=True, cwd=work)
        os.remove(os.path.join(work, "payload.bin"))
        bench.sign(unsigned, signed, ["-add-msi-dse"])
        os.remove(unsigned)
        results = bench.measure(bench.commands(report, signed))
        bench.report("Signed MSI, %d MiB payload in the cabinet, SHA-256 with metadata digest" % args.size,
                     os.path.getsize(signed), results, 1.25, 64)
        if args.keep:
            shutil.move(signed, os.path.join(args.keep, os.path.basename(signed)))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
