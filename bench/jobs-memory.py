#!/usr/bin/python3
"""Memory of a walk with several jobs over large files: tessera-report --check -r -j N over N files
of each kind (zeros named as certificate files, a key container, a signed executable grown by data
after its sections, an unsigned one, a text file), each SIZE MiB, and its peak resident memory
against the goal of N x 64 MiB. The peer is one job over the same folder (what N jobs may add).

Usage: bench/jobs-memory.py [path/to/tessera-report] [--size MiB] [--jobs N]
Goal: peak at most N x 64 MiB.
"""
import argparse
import os
import shutil
import subprocess
import tempfile

import authenticode_bench as bench


def peak_kib(cmd, env):
    child = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
    _, _, usage = os.wait4(child.pid, 0)
    return usage.ru_maxrss


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("report", nargs="?")
    parser.add_argument("--size", type=int, default=250, help="MiB per file")
    parser.add_argument("--jobs", type=int, default=4)
    args = parser.parse_args()
    report = bench.find_report(args.report)
    bench.need("osslsigncode")
    work = tempfile.mkdtemp(prefix="tessera-bench-jobs-")
    try:
        size = args.size * 1024 * 1024
        console = os.path.join(bench.REPO, "tests", "fixtures", "pe", "console.exe")
        grown = os.path.join(work, "grown.exe")
        with open(console, "rb") as f, open(grown, "wb") as g:
            image = f.read()
            g.write(image)
            g.truncate(size)
        signed = os.path.join(work, "signed.exe")
        subprocess.run(["osslsigncode", "sign", "-certs", os.path.join(bench.CERTS, "codesign-chain.pem"), "-key",
                        os.path.join(bench.CERTS, "codesign.key"), "-in", grown, "-out", signed], check=True,
                       capture_output=True)
        kinds = {"zeros.pem": None, "zeros.cer": None, "zeros.pfx": None, "zeros.txt": None, "signed.exe": signed,
                 "unsigned.exe": grown}
        rows = []
        for name, source in kinds.items():
            folder = os.path.join(work, "walk-" + name)
            os.makedirs(folder)
            for i in range(args.jobs):
                path = os.path.join(folder, "%d-%s" % (i, name))
                if source:
                    shutil.copy(source, path)
                else:
                    with open(path, "wb") as f:
                        f.truncate(size)
            env = dict(os.environ, SSL_CERT_FILE=os.path.join(bench.CERTS, "root.pem"))
            many = peak_kib([report, "--check", "-r", "-j", str(args.jobs), "--password-file", "/dev/null", folder], env)
            one = peak_kib([report, "--check", "-r", "-j", "1", "--password-file", "/dev/null", folder], env)
            rows.append((name, many / 1024, one / 1024))
        goal = args.jobs * 64
        print("%d files of %d MiB each kind, -j %d (goal: peak at most %d MiB)" % (args.jobs, args.size, args.jobs, goal))
        for name, many, one in rows:
            print("  %-14s peak %6.1f MiB with -j %d, %6.1f MiB with -j 1%s" % (name, many, args.jobs, one,
                                                                             "" if many <= goal else "  OVER"))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
