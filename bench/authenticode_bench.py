"""Shared by the Authenticode benchmarks: timing and peak memory of one command, medians of 5
runs measured in turn with the peers, and the report lines.

Wall time is measured around the child; its peak resident memory is the child's own ru_maxrss
(os.wait4), so nothing but the measured program counts.
"""
import os
import shutil
import statistics
import subprocess
import sys
import time

RUNS = 5
REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CERTS = os.path.join(REPO, "tests", "fixtures", "certs")


def find_report(argument):
    candidates = [argument] if argument else [os.path.join(REPO, "build", "bin", "tessera-report")]
    for path in candidates:
        if path and os.access(path, os.X_OK):
            return os.path.abspath(path)
    sys.exit("tessera-report not found (give its path as the first argument): %s" % candidates[0])


def need(*tools):
    for tool in tools:
        if not shutil.which(tool):
            sys.exit("%s is needed (tools/deps.sh --fixtures installs the developer tools)" % tool)


def run_once(cmd, env=None, stdin=None):
    """(wall seconds, peak RSS in KiB, exit code) of one run, output discarded; stdin: bytes the
    child reads on standard input."""
    start = time.perf_counter()
    child = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env,
                             stdin=subprocess.PIPE if stdin is not None else subprocess.DEVNULL)
    if stdin is not None:
        child.stdin.write(stdin)
        child.stdin.close()
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    return wall, usage.ru_maxrss, child.returncode


def measure(commands, stdin=None):
    """commands: name -> (argv, env). Each is run once to warm the page cache, then RUNS times in
    turn with the others, each given stdin. Returns name -> (median seconds, peak RSS KiB over the
    runs, exit codes)."""
    results = {name: ([], 0, set()) for name in commands}
    for name, (cmd, env) in commands.items():
        run_once(cmd, env, stdin)
    for _ in range(RUNS):
        for name, (cmd, env) in commands.items():
            wall, rss, code = run_once(cmd, env, stdin)
            times, peak, codes = results[name]
            times.append(wall)
            codes.add(code)
            results[name] = (times, max(peak, rss), codes)
    return {name: (statistics.median(times), peak, codes) for name, (times, peak, codes) in results.items()}


def report(title, size, results, goal_ratio, goal_rss_mib):
    ours = results["tessera-report"]
    base = results["openssl dgst -sha256"]
    print(title)
    print("  file size: %.1f MiB" % (size / 1048576))
    for name, (seconds, peak, codes) in results.items():
        print("  %-22s median %7.3f s   peak RSS %7.1f MiB   exit %s" % (name, seconds, peak / 1024,
                                                                          ",".join(map(str, sorted(codes)))))
    ratio = ours[0] / base[0]
    print("  ratio tessera-report / openssl dgst -sha256: %.3f (goal <= %.2f) %s"
          % (ratio, goal_ratio, "ok" if ratio <= goal_ratio else "MISSED"))
    if "osslsigncode verify" in results:
        print("  ratio osslsigncode verify / openssl dgst -sha256: %.3f (reference)"
              % (results["osslsigncode verify"][0] / base[0]))
    print("  peak RSS of tessera-report: %.1f MiB (goal <= %d MiB) %s"
          % (ours[1] / 1024, goal_rss_mib, "ok" if ours[1] / 1024 <= goal_rss_mib else "MISSED"))
    if ours[2] != {0}:
        print("  warning: tessera-report exited with %s" % sorted(ours[2]))


def sign(src, dst, extra=()):
    subprocess.run(["osslsigncode", "sign", "-certs", os.path.join(CERTS, "codesign-chain.pem"), "-key",
                    os.path.join(CERTS, "codesign.key"), "-h", "sha256", *extra, "-in", src, "-out", dst],
                   check=True, stdout=subprocess.DEVNULL)


def write_pattern(f, size):
    """size bytes that do not compress, written 1 MiB at a time."""
    block = bytearray(os.urandom(1 << 20))
    done = 0
    while done < size:
        n = min(len(block), size - done)
        f.write(block[:n])
        block[done // len(block) % len(block)] ^= 0x5A  # blocks differ from each other
        done += n


def commands(report_path, subject):
    env = dict(os.environ, SSL_CERT_FILE=os.path.join(CERTS, "root.pem"), SSL_CERT_DIR="/nonexistent",
               LC_ALL="C.UTF-8", TZ="UTC", QT_QPA_PLATFORM="offscreen")
    return {
        "tessera-report": ([report_path, subject], env),
        "openssl dgst -sha256": (["openssl", "dgst", "-sha256", subject], None),
        "osslsigncode verify": (["osslsigncode", "verify", "-CAfile", os.path.join(CERTS, "root.pem"),
                                 "-in", subject], None),
    }
