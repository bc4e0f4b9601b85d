#!/usr/bin/python3
"""Checking signatures in bulk: `tessera-report --check -r DIR` against a loop of
`osslsigncode verify` over the same files with the same trust, in one run.

The files are the signed Windows files of the npm corpus (tests/corpus/verdict-corpus.py fetches
them into its cache; run it once first), each distinct one copied until there are at least 500.
Both tools trust the system's bundle and the Windows roots that Tessera builds in
(combined-trust.pem in the corpus cache): osslsigncode with -CAfile, -TSA-CAfile, -index 0 and
-ignore-crl as the corpus script runs it, tessera-report with SSL_CERT_FILE and
TESSERA_SYSTEM_TRUST_ONLY=1. Goals: tessera-report at least 5 times faster, peak memory under
128 MiB, and the same number of files passing.

  bench/bulk-check.py [path/to/tessera-report] [--cache DIR] [--copies-to N]
"""
import argparse
import hashlib
import importlib.util
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import authenticode_bench as bench  # noqa: E402  (finding the program, tools)

REPO = bench.REPO
GOAL_RATIO = 5.0
GOAL_RSS_MIB = 128

_corpus_spec = importlib.util.spec_from_file_location("verdict_corpus",
                                                      os.path.join(REPO, "tests", "corpus", "verdict-corpus.py"))
corpus = importlib.util.module_from_spec(_corpus_spec)
_corpus_spec.loader.exec_module(corpus)


def signed_files(cache):
    """(path, sha256) of the distinct signed PE files of the corpus cache. Read in pieces: a
    child forked from a large process would count the parent's pages as its own peak."""
    seen = {}
    for root, _, names in os.walk(os.path.join(cache, "files")):
        for name in sorted(names):
            path = os.path.join(root, name)
            digest = hashlib.sha256()
            with open(path, "rb") as f:
                info = corpus.pe_info(f.read(1 << 16))
                if not info or info["sec_size"] == 0:
                    continue
                f.seek(0)
                for chunk in iter(lambda: f.read(1 << 20), b""):
                    digest.update(chunk)
            seen.setdefault(digest.hexdigest(), path)
    return [(seen[key], key) for key in sorted(seen)]


def timed(cmd, env):
    """(seconds, peak RSS KiB, exit code, standard output) of one run."""
    start = time.perf_counter()
    child = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
    out = child.stdout.read()
    _, status, usage = os.wait4(child.pid, 0)
    return time.perf_counter() - start, usage.ru_maxrss, os.waitstatus_to_exitcode(status), out.decode()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("tessera", nargs="?")
    parser.add_argument("--cache", default=os.path.expanduser("~/.cache/tessera-corpus"))
    parser.add_argument("--copies-to", type=int, default=500, help="at least this many files")
    args = parser.parse_args()
    report = bench.find_report(args.tessera)
    bench.need("osslsigncode")
    trust = os.path.join(args.cache, "combined-trust.pem")
    originals = signed_files(args.cache) if os.path.isdir(args.cache) else []
    if not originals or not os.path.exists(trust):
        sys.exit("no corpus in %s: run tests/corpus/verdict-corpus.py first" % args.cache)

    with tempfile.TemporaryDirectory() as work:
        folder = os.path.join(work, "files")
        os.makedirs(folder)
        copies = -(-args.copies_to // len(originals))
        size = 0
        for n in range(copies):
            for i, (path, _) in enumerate(originals):
                target = os.path.join(folder, "%d-%03d-%s" % (n, i, os.path.basename(path)))
                shutil.copyfile(path, target)
                size += os.path.getsize(target)
        count = copies * len(originals)
        env = dict(os.environ, SSL_CERT_FILE=trust, TESSERA_SYSTEM_TRUST_ONLY="1", TZ="UTC", LC_ALL="C.UTF-8")
        loop = ('ok=0; for f in "$1"/*; do if osslsigncode verify -in "$f" -index 0 -CAfile "$2" '
                '-TSA-CAfile "$2" -ignore-crl >/dev/null 2>&1; then ok=$((ok+1)); fi; done; echo "$ok"')
        ours_cmd = [report, "--check", "-r", folder]
        theirs_cmd = ["/bin/sh", "-c", loop, "sh", folder, trust]
        # Once each to warm the page cache, then measured in turn.
        timed(ours_cmd, env)
        timed(theirs_cmd, env)
        runs = []
        for _ in range(3):
            runs.append((timed(ours_cmd, env), timed(theirs_cmd, env)))
        ours = sorted(runs, key=lambda r: r[0][0])[1][0]
        theirs = sorted(runs, key=lambda r: r[1][0])[1][1]
        ours_pass = sum(1 for line in ours[3].splitlines() if ": OK " in line)
        ours_lines = len(ours[3].splitlines())
        theirs_pass = int(theirs[3].strip() or "0")
        # Where osslsigncode is known to judge otherwise than Windows (the corpus script's list),
        # Windows' verdict is the one to match.
        held = copies * sum(1 for _, sha in originals if corpus.WINDOWS_VERDICTS.get(sha, ("",))[0] == "valid")
        expected_pass = theirs_pass + held
        peak = max(r[0][1] for r in runs) / 1024

        print("Bulk signature check: %d files (%d distinct, %d copies), %.1f MiB, %d cores"
              % (count, len(originals), copies, size / 1048576, os.cpu_count()))
        print("  tessera-report --check -r     median %7.2f s   peak RSS %6.1f MiB   %d of %d pass (exit %d)"
              % (ours[0], peak, ours_pass, ours_lines, ours[2]))
        print("  osslsigncode verify loop      median %7.2f s   %d of %d pass (%d more on Windows' verdict)"
              % (theirs[0], theirs_pass, count, held))
        ratio = theirs[0] / ours[0]
        print("  speed-up: %.1f times (goal >= %.0f) %s" % (ratio, GOAL_RATIO, "ok" if ratio >= GOAL_RATIO else "MISSED"))
        print("  peak RSS: %.1f MiB (goal < %d MiB) %s" % (peak, GOAL_RSS_MIB, "ok" if peak < GOAL_RSS_MIB else "MISSED"))
        same = ours_pass == expected_pass and ours_lines == count
        print("  same pass count: %s" % ("ok" if same else "MISSED"))
        return 0 if ratio >= GOAL_RATIO and peak < GOAL_RSS_MIB and same else 1


if __name__ == "__main__":
    sys.exit(main())
