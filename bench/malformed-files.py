#!/usr/bin/python3
"""The malformed-file corpus through tessera-report: every file of tests/fixtures/malformed (and
of the compound files' malformed folder), and the large ones made here (64 MiB of PEM markers
that never end, a 64 MiB PE whose section table claims 65,535 sections, a catalog listing a
million members). Each is measured against
a peer reading the same file in the same run (`sha256sum`, which only reads it). Goal: each file
within 2 s and 256 MiB.

  bench/malformed-files.py [path/to/tessera-report]
"""
import os
import struct
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import authenticode_bench as bench  # noqa: E402  (timing and peak memory of a child)

GOAL_SECONDS = 2.0
GOAL_RSS_MIB = 256
FIXTURES = os.path.join(bench.REPO, "tests", "fixtures")


def corpus():
    files = []
    for folder in (os.path.join(FIXTURES, "malformed"), os.path.join(FIXTURES, "compound", "malformed")):
        for root, _, names in os.walk(folder):
            files += [os.path.join(root, n) for n in names if not n.endswith((".md", ".py"))]
    return sorted(files)


def large(work):
    """The large members, written a mebibyte at a time (a child forked from a large process
    would count its pages)."""
    pem = os.path.join(work, "markers-64mib.pem")
    chunk = b"-----BEGIN CERTIFICATE-----\n" * ((1 << 20) // 28)
    with open(pem, "wb") as f:
        for _ in range(64):
            f.write(chunk)
    pe = os.path.join(work, "sections-65535.exe")
    with open(os.path.join(FIXTURES, "malformed", "made", "pe-65535-sections.exe"), "rb") as f:
        head = f.read()
    with open(pe, "wb") as f:
        f.write(head)
        # The claimed section table, present in full, then padding to 64 MiB.
        table = struct.pack("<8sIIIIIIHHI", b".x", 0x1000, 0x1000, 0x200, 0x400, 0, 0, 0, 0, 0x60000020)
        f.write(table * 65535)
        filler = b"\0" * (1 << 20)
        while f.tell() < (64 << 20):
            f.write(filler)
    return [pem, pe, million_member_catalog(work)]


def der(tag, content):
    if len(content) < 0x80:
        return bytes([tag, len(content)]) + content
    size = len(content).to_bytes((len(content).bit_length() + 7) // 8, "big")
    return bytes([tag, 0x80 | len(size)]) + size + content


def million_member_catalog(work):
    """A catalog (unsigned, as makecat leaves it) whose trust list has a million members."""
    members = b"".join(der(0x30, der(0x04, i.to_bytes(4, "big"))) for i in range(1000000))
    oid = lambda body: der(0x06, body)
    ctl = der(0x30, der(0x30, oid(bytes.fromhex("2b0601040182370c0101"))) + der(0x04, b"\x01" * 16) +
              der(0x17, b"250101120000Z") + der(0x30, oid(bytes.fromhex("2b0601040182370c0102")) + b"\x05\x00") +
              der(0x30, members))
    signed_data = der(0x30, der(0x02, b"\x01") + der(0x31, b"") +
                      der(0x30, oid(bytes.fromhex("2b0601040182370a01")) + der(0xA0, ctl)) + der(0x31, b""))
    path = os.path.join(work, "million-members.cat")
    with open(path, "wb") as f:
        f.write(der(0x30, oid(bytes.fromhex("2a864886f70d010702")) + der(0xA0, signed_data)))
    return path


def main():
    report = bench.find_report(sys.argv[1] if len(sys.argv) > 1 else None)
    with tempfile.TemporaryDirectory() as work:
        files = corpus() + large(work)
        worst_time, worst_rss, missed = 0.0, 0, []
        print("Malformed files through tessera-report: %d files (goal: each <= %.0f s, <= %d MiB)"
              % (len(files), GOAL_SECONDS, GOAL_RSS_MIB))
        for path in files:
            ours = bench.run_once([report, path], stdin=b"tessera\n")
            peer = bench.run_once(["sha256sum", path])
            worst_time, worst_rss = max(worst_time, ours[0]), max(worst_rss, ours[1])
            ok = ours[0] <= GOAL_SECONDS and ours[1] / 1024 <= GOAL_RSS_MIB and ours[2] in (0, 1)
            if not ok or os.path.getsize(path) > (1 << 20):
                print("  %-44s %8.1f KiB %7.3f s %6.1f MiB exit %d (sha256sum %.3f s, ratio %.1f) %s"
                      % (os.path.relpath(path, FIXTURES) if path.startswith(FIXTURES) else os.path.basename(path),
                         os.path.getsize(path) / 1024, ours[0], ours[1] / 1024, ours[2], peer[0],
                         ours[0] / max(peer[0], 1e-6), "ok" if ok else "MISSED"))
            if not ok:
                missed.append(path)
        print("  slowest %.3f s, largest peak %.1f MiB: %s" % (worst_time, worst_rss / 1024, "ok" if not missed else
                                                               "%d MISSED" % len(missed)))
        return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
