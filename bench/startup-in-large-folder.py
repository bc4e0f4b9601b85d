#!/usr/bin/python3
"""Start-up of the window in a folder of 100,000 files, against a minimal Qt window in the same
run: CPU seconds and peak memory of each in its first 3 s, started in that folder and in an empty
one. Nothing the window builds at start-up may read the working folder, so its figures should be
those of the minimal window plus the program's own small share, wherever it starts.

The minimal window (a QWidget shown, nothing else) is compiled here with g++ against the same Qt.
Offscreen unless QT_QPA_PLATFORM says otherwise (run under xvfb-run with QT_QPA_PLATFORM=xcb for a
real window system).

  bench/startup-in-large-folder.py [path/to/tessera]
"""
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FILES = 100_000
SECONDS = 3.0
RUNS = 3
# The window may take this much more memory than the minimal one; the large folder may add no
# more than this to either figure of the window (as it adds nothing to the minimal window's).
GOAL_RATIO = 2.0
GOAL_EXTRA_CPU = 0.05
GOAL_EXTRA_MIB = 5.0

MINIMAL = r"""
#include <QApplication>
#include <QWidget>
int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QWidget window;
    window.resize(726, 416);
    window.show();
    return application.exec();
}
"""


def build_minimal(work):
    source = os.path.join(work, "minimal.cpp")
    binary = os.path.join(work, "minimal-window")
    with open(source, "w") as f:
        f.write(MINIMAL)
    flags = subprocess.run(["pkg-config", "--cflags", "--libs", "Qt6Widgets"], check=True, capture_output=True,
                           text=True).stdout.split()
    subprocess.run(["g++", "-std=c++17", "-O2", "-fPIC", source, "-o", binary, *flags], check=True)
    return binary


def ticks_and_peak(pid):
    """CPU seconds (user and system) and peak resident memory in KiB of a running process."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    cpu = (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
    peak = 0
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmHWM:"):
                peak = int(line.split()[1])
    return cpu, peak


def first_seconds(command, folder, env):
    """CPU seconds and peak KiB of the command's first SECONDS, started in folder."""
    child = subprocess.Popen(command, cwd=folder, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(SECONDS)
    try:
        cpu, peak = ticks_and_peak(child.pid)
    finally:
        child.send_signal(signal.SIGKILL)
        child.wait()
    return cpu, peak


def main():
    # Absolute: the programs start in other folders.
    tessera = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(REPO, "build", "bin", "tessera"))
    if not os.access(tessera, os.X_OK):
        sys.exit("tessera not found (give its path as the first argument): %s" % tessera)
    env = dict(os.environ)
    env.setdefault("QT_QPA_PLATFORM", "offscreen")
    with tempfile.TemporaryDirectory() as work:
        minimal = build_minimal(work)
        large = os.path.join(work, "large")
        empty = os.path.join(work, "empty")
        os.mkdir(large)
        os.mkdir(empty)
        for i in range(FILES):
            open(os.path.join(large, "file-%06d.dat" % i), "w").close()
        # Each program's own home, so that no remembered dialog state differs between them.
        env["HOME"] = work
        print("first %.0f s, median of %d runs    %12s %12s" % (SECONDS, RUNS, "CPU/s", "peak/MiB"))
        figures = {}
        for name, command in (("minimal Qt window", [minimal]), ("tessera", [tessera])):
            for where, folder in (("empty folder", empty), ("%d files" % FILES, large)):
                runs = [first_seconds(command, folder, env) for _ in range(RUNS)]
                cpu = statistics.median(r[0] for r in runs)
                peak = statistics.median(r[1] for r in runs) / 1024
                figures[(name, where)] = (cpu, peak)
                print("%-20s in %-14s %12.2f %12.1f" % (name, where, cpu, peak))
        large_key = "%d files" % FILES
        extra = {name: tuple(figures[(name, large_key)][i] - figures[(name, "empty folder")][i] for i in (0, 1))
                 for name in ("minimal Qt window", "tessera")}
        for name, (cpu, peak) in extra.items():
            print("what the large folder adds for %-18s %+8.2f s CPU %+8.1f MiB" % (name, cpu, peak))
        memory_ratio = figures[("tessera", large_key)][1] / figures[("minimal Qt window", large_key)][1]
        met = extra["tessera"][0] <= GOAL_EXTRA_CPU and extra["tessera"][1] <= GOAL_EXTRA_MIB and \
            memory_ratio <= GOAL_RATIO
        print("\nin the large folder, peak memory tessera / minimal window: %.2f (goal <= %.1f); the folder adds "
              "at most %.2f s and %.0f MiB (goal): %s" % (memory_ratio, GOAL_RATIO, GOAL_EXTRA_CPU, GOAL_EXTRA_MIB,
                                                        "met" if met else "missed"))
        return 0 if met else 1


if __name__ == "__main__":
    sys.exit(main())
