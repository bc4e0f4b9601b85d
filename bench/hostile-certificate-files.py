#!/usr/bin/python3
"""Certificate files made to cost work: texts of PEM markers that never end, as large as a
certificate file may be (the scanner must stay linear), the costliest file of that size (a DER
bundle full of certificates), a file far larger than any certificate file (refused unread), and
PKCS #12 containers asking for two billion iterations (refused before any).

For the texts and the bundle, tessera-report is compared with openssl reading the same file
(`openssl crl2pkcs7 -nocrl -certfile`, `openssl pkcs7 -print_certs`), in the same run; for the
large file and the containers, with itself on an ordinary file. Goal: each file within 2 s and
64 MiB, so that `tessera-report -j N` stays within N times that.

  bench/hostile-certificate-files.py [path/to/tessera-report]
"""
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import authenticode_bench as bench  # noqa: E402  (timing and peak memory of a child)

# The largest certificate file read (MaxCertificateFileSize in platform/crypt32/Objects.h).
SIZE = 4 << 20
# Far beyond it: refused before it is read.
HUGE = 250_000_000
GOAL_SECONDS = 2.0
GOAL_RSS_MIB = 64


def texts(work):
    """name -> path of the generated texts, each with one real certificate at its end but the
    last two, which the file store refuses, so that the .pem fallback reads them whole again."""
    certificate = open(os.path.join(bench.CERTS, "v3-ku-eku.pem"), "rb").read()
    patterns = {
        "begin markers": (b"-----BEGIN A-----\n", certificate),
        "begin keywords": (b"-----BEGIN ", certificate),
        "dashes": (b"-" * 64 + b"\n", certificate),
        "end markers": (b"-----END CERTIFICATE-----\n", certificate),
        "begin markers alone": (b"-----BEGIN CERTIFICATE-----\n", b""),
        "base64 without end": (b"-----BEGIN CERTIFICATE-----\n" + b"A" * 63 + b"\n", b""),
    }
    files = {}
    for name, (unit, tail) in patterns.items():
        path = os.path.join(work, name.replace(" ", "-") + ".pem")
        # Written a mebibyte at a time: a child forked from a large process would count its pages.
        chunk = unit * ((1 << 20) // len(unit))
        with open(path, "wb") as f:
            for _ in range((SIZE - len(tail)) // len(chunk)):
                f.write(chunk)
            f.write(tail)
        files[name] = path
    return files


def full_bundle(work):
    """A DER PKCS #7 bundle of as many certificates as a certificate file may hold."""
    certificate = open(os.path.join(bench.CERTS, "v3-ku-eku.pem"), "rb").read()
    pem = os.path.join(work, "many.pem")
    path = os.path.join(work, "full.p7b")
    count = SIZE // 928  # the DER certificate and its share of the bundle
    with open(pem, "wb") as f:
        f.write(certificate * count)
    subprocess.run(["openssl", "crl2pkcs7", "-nocrl", "-certfile", pem, "-outform", "DER", "-out", path], check=True)
    while os.path.getsize(path) > SIZE:
        count -= 16
        with open(pem, "wb") as f:
            f.write(certificate * count)
        subprocess.run(["openssl", "crl2pkcs7", "-nocrl", "-certfile", pem, "-outform", "DER", "-out", path],
                       check=True)
    return path


def main():
    report = bench.find_report(sys.argv[1] if len(sys.argv) > 1 else None)
    bench.need("openssl")
    failed = False
    print("%-40s %10s %10s %8s %9s" % ("file", "tessera/s", "openssl/s", "ratio", "peak/MiB"))
    with tempfile.TemporaryDirectory() as work:
        for name, path in texts(work).items():
            results = bench.measure({"tessera-report": ([report, path], None),
                                     "openssl": (["openssl", "crl2pkcs7", "-nocrl", "-certfile", path], None)})
            ours, rss, _ = results["tessera-report"]
            theirs = results["openssl"][0]
            print("%-40s %10.3f %10.3f %8.3f %9.1f" % (name + " (4 MiB)", ours, theirs, ours / theirs, rss / 1024))
            failed |= ours > GOAL_SECONDS or rss / 1024 > GOAL_RSS_MIB

        bundle = full_bundle(work)
        results = bench.measure({"tessera-report": ([report, bundle], None),
                                 "openssl": (["openssl", "pkcs7", "-inform", "DER", "-print_certs", "-noout", "-in",
                                              bundle], None)})
        ours, rss, _ = results["tessera-report"]
        theirs = results["openssl"][0]
        print("%-40s %10.3f %10.3f %8.3f %9.1f" % ("DER bundle full of certificates", ours, theirs, ours / theirs,
                                                   rss / 1024))
        failed |= ours > GOAL_SECONDS or rss / 1024 > GOAL_RSS_MIB

        print()
        print("%-40s %10s %10s %8s %9s" % ("file", "tessera/s", "ordinary/s", "ratio", "peak/MiB"))
        huge = os.path.join(work, "huge.cer")
        with open(huge, "wb") as f:
            f.truncate(HUGE)  # sparse: zeros that take no disk
        results = bench.measure({"tessera-report": ([report, huge], None),
                                 "ordinary": ([report, os.path.join(bench.CERTS, "root.pem")], None)})
        ours, rss, _ = results["tessera-report"]
        base = results["ordinary"][0]
        print("%-40s %10.3f %10.3f %8.3f %9.1f" % ("zeros named .cer (250 MB)", ours, base, ours / base, rss / 1024))
        failed |= ours > GOAL_SECONDS or rss / 1024 > GOAL_RSS_MIB

        print()
        print("%-40s %10s %10s %8s %9s" % ("container", "tessera/s", "ordinary/s", "ratio", "peak/MiB"))
        ordinary = os.path.join(bench.CERTS, "leaf-aes.pfx")
        for name in ("pfx-mac-iterations.pfx", "pfx-pbe-iterations.pfx", "pfx-key-iterations.pfx"):
            results = bench.measure({"tessera-report": ([report, os.path.join(bench.CERTS, name)], None),
                                     "ordinary": ([report, ordinary], None)}, stdin=b"tessera\n")
            ours, rss, _ = results["tessera-report"]
            base = results["ordinary"][0]
            print("%-40s %10.3f %10.3f %8.3f %9.1f" % (name, ours, base, ours / base, rss / 1024))
            failed |= ours > GOAL_SECONDS or rss / 1024 > GOAL_RSS_MIB
    print("\ngoal: every file within %.0f s and %d MiB: %s" % (GOAL_SECONDS, GOAL_RSS_MIB, "missed" if failed else "met"))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
