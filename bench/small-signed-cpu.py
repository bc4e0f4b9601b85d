#!/usr/bin/python3
"""One small signed executable, as a release pipeline checks it: the CPU time (user + system) of
`tessera-report FILE` against `osslsigncode verify` on the same file with the same trust, ten runs
each in turn, medians.

The file is tests/fixtures/pe/console.exe grown to about 100 KB (as a small command-line tool
is), signed here by osslsigncode with the test code-signing key and an RFC 3161 time stamp from the
loopback test authority (TESSERA_TEST_TSA, default /work/shared/tools/test-tsa.py). The trust is
the system's bundle with the test roots added (what a user's machine holds), or only the test roots
with --minimal-trust. Both programs read the whole trust file; Tessera also holds Windows' root
program built in.

Usage: bench/small-signed-cpu.py [path/to/tessera-report] [--minimal-trust] [--runs N]
Goal: ratio at most 1.0.
"""
import argparse
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile

import authenticode_bench as bench

TSA_TOOL = os.environ.get("TESSERA_TEST_TSA", "/work/shared/tools/test-tsa.py")
SYSTEM_BUNDLE = "/etc/ssl/certs/ca-certificates.crt"


def cpu_seconds(cmd, env):
    child = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
    _, status, usage = os.wait4(child.pid, 0)
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit("failed: " + " ".join(cmd))
    return usage.ru_utime + usage.ru_stime


def start_tsa(work):
    """The loopback time-stamp authority with certificates of its own; (process, URL)."""
    tsa_dir = os.path.join(work, "tsa")
    os.makedirs(tsa_dir)
    proc = subprocess.Popen([sys.executable, TSA_TOOL, tsa_dir, "--port", "0"], stdout=subprocess.PIPE, text=True,
                            start_new_session=True)
    line = proc.stdout.readline()
    if not line.startswith("listening on"):
        proc.kill()
        sys.exit("the time-stamp authority did not start: " + line)
    return proc, "http://127.0.0.1:" + line.split()[-1], tsa_dir


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("report", nargs="?")
    parser.add_argument("--minimal-trust", action="store_true", help="only the test roots, no system bundle")
    parser.add_argument("--runs", type=int, default=10)
    args = parser.parse_args()
    report = bench.find_report(args.report)
    bench.need("osslsigncode", "openssl")
    if not os.path.exists(TSA_TOOL):
        sys.exit("the test time-stamp authority is needed: " + TSA_TOOL)

    work = tempfile.mkdtemp(prefix="tessera-bench-small-")
    tsa = None
    try:
        unsigned = os.path.join(work, "tool.exe")
        with open(os.path.join(bench.REPO, "tests", "fixtures", "pe", "console.exe"), "rb") as f:
            image = f.read()
        with open(unsigned, "wb") as f:
            f.write(image + bytes(100 * 1024 - len(image)))
        tsa, url, tsa_dir = start_tsa(work)
        signed = os.path.join(work, "tool-signed.exe")
        subprocess.run(["osslsigncode", "sign", "-certs", os.path.join(bench.CERTS, "codesign-chain.pem"), "-key",
                        os.path.join(bench.CERTS, "codesign.key"), "-h", "sha256", "-n", "Tool", "-ts", url,
                        "-in", unsigned, "-out", signed], check=True, capture_output=True)

        trust = os.path.join(work, "trust.pem")
        with open(trust, "wb") as out:
            if not args.minimal_trust:
                with open(SYSTEM_BUNDLE, "rb") as f:
                    out.write(f.read())
            for pem in (os.path.join(bench.CERTS, "root.pem"), os.path.join(tsa_dir, "tsa-root.pem")):
                with open(pem, "rb") as f:
                    out.write(f.read())
        env = dict(os.environ, SSL_CERT_FILE=trust, SSL_CERT_DIR="/nonexistent")
        commands = {
            "tessera-report": [report, signed],
            "osslsigncode verify": ["osslsigncode", "verify", "-in", signed, "-CAfile", trust, "-TSA-CAfile", trust],
        }
        for cmd in commands.values():
            cpu_seconds(cmd, env)  # warm the page cache
        times = {name: [] for name in commands}
        for _ in range(args.runs):
            for name, cmd in commands.items():
                times[name].append(cpu_seconds(cmd, env))
        ours = statistics.median(times["tessera-report"])
        peer = statistics.median(times["osslsigncode verify"])
        print("%s, %d KB, trust %s (%d roots)" % (os.path.basename(signed), os.path.getsize(signed) // 1024,
                                                  "test roots only" if args.minimal_trust else "system bundle + test roots",
                                                  open(trust).read().count("BEGIN CERTIFICATE")))
        for name in commands:
            print("  %-20s median CPU %.1f ms over %d runs" % (name, statistics.median(times[name]) * 1000, args.runs))
        print("  ratio %.2f (goal at most 1.0)" % (ours / peer))
    finally:
        if tsa:
            os.killpg(tsa.pid, signal.SIGTERM)
            tsa.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
