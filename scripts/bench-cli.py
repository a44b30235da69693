#!/usr/bin/env python3
"""sentrel-inspect as a user runs it, whole processes: --version, one small
signed file, folders of 1,000 small signed bundles with one and with two
jobs, the bytes read per file (the process's I/O counters) and the peak
resident memory over 1,000 and 10,000 files; a signed 1 MiB and a signed
512 MiB binary, their times and the bytes read beyond start-up against the
file's headers, load commands and signature.

usage: bench-cli.py <build dir>
"""
import hashlib
import os
import shutil
import struct
import statistics
import subprocess
import sys
import tempfile
import time


def run(command, cwd=None):
    """(seconds, rchar, CPU seconds) of one run, output
    discarded. The CPU time (user and system, the workers included) is what
    the run itself cost, whatever else the machine was doing."""
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
    return elapsed, rchar, usage.ru_utime + usage.ru_stime


def peak_rss_kib(command):
    """The peak resident memory of one run, in KiB. Not from this script's
    own wait4: a child started from Python takes Python's memory into its
    peak before it execs (an empty `true` shows 14 MiB that way). GNU time
    forks it from a process of one megabyte."""
    with tempfile.NamedTemporaryFile("r") as out:
        subprocess.run(["/usr/bin/time", "-o", out.name, "-f", "%M"] + command,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return int(out.read().split()[-1])


def median_ms(command, runs=20, cwd=None):
    """Medians of the wall-clock and the CPU milliseconds."""
    results = [run(command, cwd) for _ in range(runs)]
    return (statistics.median(r[0] for r in results) * 1000, statistics.median(r[2] for r in results) * 1000)


def bundles(parent, template, count):
    folder = os.path.join(parent, f"bundles-{count}")
    os.makedirs(folder)
    for i in range(count):
        shutil.copytree(template, os.path.join(folder, f"App{i:05}.app"), symlinks=True)
    return folder


def signed_extent(path):
    """Bytes of a thin 64-bit Mach-O's header and load commands, and of its
    code signature (LC_CODE_SIGNATURE's datasize)."""
    with open(path, "rb") as f:
        header = f.read(32)
        magic, _, _, _, ncmds, sizeofcmds = struct.unpack("<IiiIII", header[:24])
        if magic != 0xFEEDFACF:
            sys.exit(f"{path}: not a thin 64-bit little-endian Mach-O")
        commands = f.read(sizeofcmds)
    signature, at = 0, 0
    for _ in range(ncmds):
        cmd, cmdsize = struct.unpack_from("<II", commands, at)
        if cmd == 0x1D:  # LC_CODE_SIGNATURE
            signature = struct.unpack_from("<II", commands, at + 8)[1]
        at += cmdsize
    return 32 + sizeofcmds, signature


def sized_binaries(build, inspect, tmp):
    make = os.path.join(build, "bin", "sentrel-make-fixtures")
    start_rchar = min(run([inspect, "--version"])[1] for _ in range(3))
    paths = {mb: os.path.join(tmp, f"signed-{mb}MB") for mb in (1, 512)}
    for mb, path in paths.items():
        subprocess.run([make, "--sized", str(mb), path], check=True)
    # Written back first: half a gigabyte of dirty pages being flushed
    # while the runs are timed would be measured with them. The two files
    # are then run in turns, so that a change in the machine's pace between
    # them does not pass for a difference.
    os.sync()
    results = {1: [], 512: []}
    for _ in range(10):
        for mb, path in paths.items():
            results[mb].append(run([inspect, path]))
    times = {mb: statistics.median(r[0] for r in runs) * 1000 for mb, runs in results.items()}
    cpus = {mb: statistics.median(r[2] for r in runs) * 1000 for mb, runs in results.items()}
    signatures = {}
    for mb, path in paths.items():
        rchar = results[mb][0][1] - start_rchar
        headers, signature = signed_extent(path)
        signatures[mb] = signature
        bound = headers + signature + 64 * 1024
        print(f"signed {mb} MiB binary, whole process: {times[mb]:.1f} ms, CPU {cpus[mb]:.1f} ms (medians of 10); "
              f"read beyond start-up "
              f"{rchar / 1024:.1f} KiB, bound {bound / 1024:.1f} KiB (headers and load commands {headers} B, "
              f"signature {signature / 1024:.1f} KiB, + 64 KiB): {'within' if rchar <= bound else 'OVER'}")
        os.remove(path)
    print(f"512 MiB / 1 MiB: {times[512] / times[1]:.2f}x (CPU {cpus[512] / cpus[1]:.2f}x), the two run in turns")
    # What no reader can go below: the cdhash is the SHA-256 of the code
    # directory, nearly all of the signature, whose size follows the page
    # count. This CPU's speed at it (hashlib is OpenSSL's), on the extra bytes.
    extra = bytes(signatures[512] - signatures[1])
    hashing = []
    for _ in range(20):
        start = time.perf_counter()
        hashlib.sha256(extra).digest()
        hashing.append(time.perf_counter() - start)
    floor_ms = min(hashing) * 1000
    print(f"SHA-256 of the 512 MiB binary's extra {len(extra) / 1024:.0f} KiB of signature alone: {floor_ms:.2f} ms "
          f"on this CPU; the 1 MiB run plus that: a floor of {(times[1] + floor_ms) / times[1]:.2f}x")


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

        print(f"load average at the start: {os.getloadavg()[0]:.2f} on {os.cpu_count()} cores")
        # The floor: starting a process that does nothing, measured the same way.
        wall, cpu = median_ms(["true"])
        print(f"an empty process (true): {wall:.1f} ms, CPU {cpu:.1f} ms (medians of 20)")
        wall, cpu = median_ms([inspect, '--version'])
        print(f"--version: {wall:.1f} ms, CPU {cpu:.1f} ms (medians of 20)")
        wall, cpu = median_ms([inspect, small])
        print(f"one small signed file, whole process: {wall:.1f} ms, CPU {cpu:.1f} ms (medians of 20)")
        # The machine's own ceiling for --jobs 2: two independent one-job runs
        # over the two halves at once, against one of them alone. On an idle
        # machine this is close to 2; on cores shared with other guests it is
        # lower, and it moves. The runs of each kind are interleaved, round by
        # round, so that all of them meet the same spells of load.
        halves = []
        for h, names in enumerate((sorted(os.listdir(thousand))[:500], sorted(os.listdir(thousand))[500:])):
            half = os.path.join(tmp, f"half-{h}")
            os.makedirs(half)
            for n in names:
                shutil.copytree(os.path.join(thousand, n), os.path.join(half, n), symlinks=True)
            halves.append(half)
        walls = {1: [], 2: [], "alone": [], "pair": []}
        cpus = {1: [], 2: []}
        for _ in range(5):
            for jobs in (1, 2):
                wall, _, cpu = run([inspect, "--jobs", str(jobs), "--json", thousand])
                walls[jobs].append(wall)
                cpus[jobs].append(cpu)
            walls["alone"].append(run([inspect, "--jobs", "1", "--json", halves[0]])[0])
            start = time.monotonic()
            pair = [subprocess.Popen([inspect, "--jobs", "1", "--json", h], stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL) for h in halves]
            for p in pair:
                p.wait()
            walls["pair"].append(time.monotonic() - start)
        for jobs in (1, 2):
            print(f"1000 small signed bundles, --jobs {jobs}: {1000 / min(walls[jobs]):.0f} files/s (best of 5); "
                  f"{1000 / min(cpus[jobs]):.0f} files per CPU-second")
        print(f"--jobs 2 / --jobs 1: {min(walls[1]) / min(walls[2]):.2f}x (best of 5 each); round by round: "
              + ", ".join(f"{one / two:.2f}" for one, two in zip(walls[1], walls[2])))
        print(f"two one-job runs over 500 bundles each, at once: the machine's own ceiling for --jobs 2 "
              f"{2 * min(walls['alone']) / min(walls['pair']):.2f}x (best of 5 each)")
        # The same 1,000 files as two whole processes side by side against
        # --jobs 2, whose workers also start side by side (while the parent
        # walks), but whose reports all pass through the parent.
        print(f"the 1,000 bundles as those two processes at once: {1000 / min(walls['pair']):.0f} files/s, "
              f"{min(walls[1]) / min(walls['pair']):.2f}x --jobs 1; --jobs 2 makes "
              f"{100 * min(walls['pair']) / min(walls[2]):.0f}% of their files/s (best of 5 each)")
        for name, folder, count in (("1,000", thousand, 1000), ("10,000", ten_thousand, 10000)):
            rchar = run([inspect, "--jobs", "1", "--json", folder])[1]
            rss = peak_rss_kib([inspect, "--jobs", "1", "--json", folder])
            # With two jobs: the largest of the program and its workers.
            rss2 = peak_rss_kib([inspect, "--jobs", "2", "--json", folder])
            print(f"{name} bundles, --jobs 1: {rchar / count / 1024:.1f} KiB read per bundle, peak RSS {rss / 1024:.1f} MiB; "
                  f"--jobs 2: peak RSS of the largest process {rss2 / 1024:.1f} MiB")
        rchar = run([inspect, "--jobs", "1", small])[1]
        print(f"one small signed file ({os.path.getsize(small)} bytes): {rchar / 1024:.1f} KiB read by the whole process")
        shutil.rmtree(ten_thousand)
        sized_binaries(build, inspect, tmp)


if __name__ == "__main__":
    main()
