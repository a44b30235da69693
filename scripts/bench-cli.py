#!/usr/bin/env python3
"""sentrel-inspect as a user runs it, whole processes: --version, one small
signed file, folders of 1,000 small signed bundles with one and with two
jobs, the bytes read per file (the process's I/O counters) and the peak
resident memory over 1,000 and 10,000 files.

usage: bench-cli.py <build dir>
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def run(command, cwd=None):
    """(seconds, rchar, peak RSS in KiB) of one run, output discarded."""
    start = time.monotonic()
    process = subprocess.Popen(command, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    # Wait for the end without reaping, so that the counters can still be read.
    os.waitid(os.P_PID, process.pid, os.WEXITED | os.WNOWAIT)
    elapsed = time.monotonic() - start
    rchar = 0
    with open(f"/proc/{process.pid}/io") as io:
        for line in io:
            if line.startswith("rchar:"):
                rchar = int(line.split()[1])
    _, status, usage = os.wait4(process.pid, 0)
    if os.waitstatus_to_exitcode(status) not in (0, 1):
        sys.exit(f"{command}: exit status {status}")
    return elapsed, rchar, usage.ru_maxrss


def median_ms(command, runs=20, cwd=None):
    return statistics.median(run(command, cwd)[0] for _ in range(runs)) * 1000


def bundles(parent, template, count):
    folder = os.path.join(parent, f"bundles-{count}")
    os.makedirs(folder)
    for i in range(count):
        shutil.copytree(template, os.path.join(folder, f"App{i:05}.app"), symlinks=True)
    return folder


def main():
    build = sys.argv[1]
    inspect = os.path.join(build, "bin", "sentrel-inspect")
    with tempfile.TemporaryDirectory(prefix="sentrel-bench-cli-") as tmp:
        fixtures = os.path.join(tmp, "fixtures")
        subprocess.run([os.path.join(build, "bin", "sentrel-make-fixtures"), fixtures], check=True,
                       stdout=subprocess.DEVNULL)
        small = os.path.join(fixtures, "devid-x86_64")
        template = os.path.join(fixtures, "DeveloperID.app")
        thousand = bundles(tmp, template, 1000)
        ten_thousand = bundles(tmp, template, 10000)

        print(f"--version: {median_ms([inspect, '--version']):.1f} ms (median of 20)")
        print(f"one small signed file, whole process: {median_ms([inspect, small]):.1f} ms (median of 20)")
        for jobs in (1, 2):
            best = min(run([inspect, "--jobs", str(jobs), "--json", thousand])[0] for _ in range(3))
            print(f"1000 small signed bundles, --jobs {jobs}: {1000 / best:.0f} files/s (best of 3)")
        for name, folder, count in (("1,000", thousand, 1000), ("10,000", ten_thousand, 10000)):
            _, rchar, rss = run([inspect, "--jobs", "1", "--json", folder])
            print(f"{name} bundles, --jobs 1: {rchar / count / 1024:.1f} KiB read per bundle, peak RSS {rss / 1024:.1f} MiB")
        _, rchar, _ = run([inspect, "--jobs", "1", small])
        print(f"one small signed file ({os.path.getsize(small)} bytes): {rchar / 1024:.1f} KiB read by the whole process")


if __name__ == "__main__":
    main()
