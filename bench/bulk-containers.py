#!/usr/bin/python3
"""Checking signed containers in bulk: `tessera-report --check -r DIR` against a loop of
`osslsigncode verify` over the same cabinets, scripts, app packages and catalogs, with the same
trust, in one run; the counterpart of bulk-check.py for the files that are not executables.

The files are the container fixtures (tests/fixtures/containers: valid, time-stamped, nested,
changed and unsigned ones of each kind), each copied until there are at least 500. Both tools
trust the test roots (tests/fixtures/trust-tessera.pem); osslsigncode with -CAfile, -TSA-CAfile,
-index 0 and -ignore-crl, tessera-report with SSL_CERT_FILE and TESSERA_SYSTEM_TRUST_ONLY=1.
These files are small, so each tool's cost per file dominates: the budget is the executables',
measured in the same run on the signed executable fixtures (tests/fixtures/signed), which are as
small. Goals: a speed-up over osslsigncode no smaller than the executables' (bulk-check.py holds
that one to 5 times on the large files of the corpus), peak memory under 128 MiB, and the same
number of files passing where the two agree on Windows' verdict.

  bench/bulk-containers.py [path/to/tessera-report] [--copies-to N]
"""
import argparse
import importlib.util
import os
import shutil
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import authenticode_bench as bench  # noqa: E402  (finding the program, tools)

_bulk_spec = importlib.util.spec_from_file_location("bulk_check", os.path.join(HERE, "bulk-check.py"))
bulk = importlib.util.module_from_spec(_bulk_spec)
_bulk_spec.loader.exec_module(bulk)

REPO = bench.REPO
FIXTURES = os.path.join(REPO, "tests", "fixtures")
KINDS = (".cab", ".ps1", ".psm1", ".ps1xml", ".msix", ".msixbundle", ".cat")
# Files on which osslsigncode knowingly differs from Windows (tests/platform/wintrust/PeerTest):
# Windows rejects them, osslsigncode accepts them.
WINDOWS_REJECTS = {"text-after.ps1", "block-map-lies.msix"}


def container_files():
    found = []
    for root, _, names in os.walk(os.path.join(FIXTURES, "containers")):
        for name in sorted(names):
            if name.endswith(KINDS):
                found.append(os.path.join(root, name))
    return sorted(found)


def executable_files():
    """The signed executable fixtures of the same size class, for the budget to compare with; not
    the two whose revocation lists are served on loopback ports by the tests."""
    folder = os.path.join(FIXTURES, "signed")
    return sorted(os.path.join(folder, name) for name in os.listdir(folder)
                  if name.endswith(".exe") and name not in ("revoked.exe", "crl-silent.exe"))


def measure(report, originals, copies_to, trust):
    """The median run of each tool over copies of originals: (count, MiB, ours, theirs, copies)."""
    with tempfile.TemporaryDirectory() as work:
        folder = os.path.join(work, "files")
        os.makedirs(folder)
        copies = -(-copies_to // len(originals))
        size = 0
        for n in range(copies):
            for i, path in enumerate(originals):
                # Each copy in a folder of its own keeps the names the packages claim them by.
                target = os.path.join(folder, "%d-%03d" % (n, i), os.path.basename(path))
                os.makedirs(os.path.dirname(target))
                shutil.copyfile(path, target)
                size += os.path.getsize(target)
        env = dict(os.environ, SSL_CERT_FILE=trust, TESSERA_SYSTEM_TRUST_ONLY="1", TZ="UTC", LC_ALL="C.UTF-8")
        loop = ('ok=0; for f in "$1"/*/*; do if osslsigncode verify -in "$f" -index 0 -CAfile "$2" '
                '-TSA-CAfile "$2" -ignore-crl >/dev/null 2>&1; then ok=$((ok+1)); fi; done; echo "$ok"')
        ours_cmd = [report, "--check", "-r", folder]
        theirs_cmd = ["/bin/sh", "-c", loop, "sh", folder, trust]
        # Once each to warm the page cache, then measured in turn.
        bulk.timed(ours_cmd, env)
        bulk.timed(theirs_cmd, env)
        runs = []
        for _ in range(3):
            runs.append((bulk.timed(ours_cmd, env), bulk.timed(theirs_cmd, env)))
        ours = sorted(runs, key=lambda r: r[0][0])[1][0]
        theirs = sorted(runs, key=lambda r: r[1][0])[1][1]
        peak = max(r[0][1] for r in runs) / 1024
        return copies * len(originals), size / 1048576, ours, theirs, copies, peak


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("tessera", nargs="?")
    parser.add_argument("--copies-to", type=int, default=500, help="at least this many files")
    args = parser.parse_args()
    report = bench.find_report(args.tessera)
    bench.need("osslsigncode")
    trust = os.path.join(FIXTURES, "trust-tessera.pem")
    originals = container_files()

    count, mib, ours, theirs, copies, peak = measure(report, originals, args.copies_to, trust)
    ours_pass = sum(1 for line in ours[3].splitlines() if ": OK " in line)
    theirs_pass = int(theirs[3].strip() or "0")
    rejected = copies * sum(1 for path in originals if os.path.basename(path) in WINDOWS_REJECTS)
    print("Bulk container check: %d files (%d distinct, %d copies), %.1f MiB, %d cores"
          % (count, len(originals), copies, mib, os.cpu_count()))
    print("  tessera-report --check -r     median %7.2f s   peak RSS %6.1f MiB   %d of %d pass (exit %d)"
          % (ours[0], peak, ours_pass, len(ours[3].splitlines()), ours[2]))
    print("  osslsigncode verify loop      median %7.2f s   %d of %d pass (%d fewer on Windows' verdict)"
          % (theirs[0], theirs_pass, count, rejected))
    ratio = theirs[0] / ours[0]

    # The budget of executables, measured the same way on executables of the same size class.
    exe_count, exe_mib, exe_ours, exe_theirs, _, exe_peak = measure(report, executable_files(), args.copies_to, trust)
    exe_ratio = exe_theirs[0] / exe_ours[0]
    print("Bulk executable check: %d files, %.1f MiB: tessera-report %.2f s (peak RSS %.1f MiB), "
          "osslsigncode %.2f s" % (exe_count, exe_mib, exe_ours[0], exe_peak, exe_theirs[0]))
    per_container = 1000 * ours[0] / count
    per_executable = 1000 * exe_ours[0] / exe_count
    print("  per file: %.2f ms a container, %.2f ms an executable" % (per_container, per_executable))
    # Within the budget: as fast against the peer as executables are (a tenth's leeway for the
    # noise of a shared machine), and the executables' memory goal.
    within = ratio >= 0.9 * exe_ratio
    print("  speed-up over osslsigncode: %.1f times for containers, %.1f for executables %s"
          % (ratio, exe_ratio, "ok" if within else "MISSED"))
    print("  peak RSS: %.1f MiB (goal < %d MiB) %s" % (peak, bulk.GOAL_RSS_MIB,
                                                      "ok" if peak < bulk.GOAL_RSS_MIB else "MISSED"))
    agree = ours_pass == theirs_pass - rejected
    print("  passing: %s" % ("the same, on Windows' verdict" if agree else "DIFFERENT"))
    return 0 if within and peak < bulk.GOAL_RSS_MIB and agree else 1


if __name__ == "__main__":
    sys.exit(main())
