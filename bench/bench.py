#!/usr/bin/env python3
"""Measures the launcher against the copy limit and two self-extractors.

Run through bench/run.sh, which installs the tools and builds what this needs.
Every figure comes from this one run on this one machine:

- extraction of a ~1 GiB carrier (the release carrier's eight entries, grown)
  by the launcher, against cp of the entry files, a makeself --nocomp archive
  extracted with --noexec --target, and 7z x of a -mx0 archive: the median of
  several timed runs after a warm-up, each run into a new, empty directory;
  dd with a 256 KiB block, which reads and writes as the launcher does, is
  timed too for reference;
- the launcher's peak resident size for a 64 MiB and the ~1 GiB payload;
- start-up: a carrier with an empty payload against a trivial process;
- the size of the shipped i686 launcher.exe.

Page cache: every contender reads its input from a warm cache and writes
into the cache. Before every timed run, outside the timing, the previous
output is removed, the contender's input is read once (so it is cached even
if the system evicted it meanwhile), and the file system is synced, so no run
pays for another's write-back. Disk reads during the timed runs are counted
and printed to show the cache was warm. All files lie in one directory, on
one file system. Contenders take turns run by run, in a new order each
round, so a slow phase of the machine hits all of them alike. makeself is
timed after the others: its long checksum and tar pipeline leaves the machine
slow for a few seconds after each run, which would land on whichever
contender followed it.

Peak resident size comes from GNU time: a child forked by this script would
inherit the interpreter's own high-water mark, which the kernel keeps across
exec.
"""
import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import time

MiB = 1024 * 1024

# The release carrier's entries, in its order. Grown so one entry is at least
# 512 MiB and the payload about 1 GiB; the small files keep their sizes.
LARGE_LAYOUT = [
    ("data1.cab", 256 * MiB),
    ("data1.hdr", 70803),
    ("data2.cab", 640 * MiB),
    ("ikernel.ex_", 64 * MiB),
    ("layout.bin", 417),
    ("Setup.exe", None),
    ("Setup.ini", 113),
    ("setup.inx", 64 * MiB),
]
# The same entries at 64 MiB in all.
SMALL_LAYOUT = [
    ("data1.cab", 16 * MiB),
    ("data1.hdr", 70803),
    ("data2.cab", 40 * MiB),
    ("ikernel.ex_", 4 * MiB),
    ("layout.bin", 417),
    ("Setup.exe", None),
    ("Setup.ini", 113),
    ("setup.inx", 4 * MiB - 70803 - 417 - 113),
]
# The setup program the launcher starts: does nothing, so the launcher's
# figure is its extraction (and the report it writes).
NOOP_SETUP = b"#!/bin/sh\nexit 0\n"
CARRIER_NAME = "Product_12345678901.exe"


def log(message):
    print(message, file=sys.stderr, flush=True)


def write_random(path, size):
    with open("/dev/urandom", "rb") as source, open(path, "wb") as out:
        left = size
        while left:
            chunk = source.read(min(left, 16 * MiB))
            out.write(chunk)
            left -= len(chunk)


def make_payload(directory, layout):
    os.makedirs(directory)
    for name, size in layout:
        path = os.path.join(directory, name)
        if size is None:
            with open(path, "wb") as out:
                out.write(NOOP_SETUP)
        else:
            write_random(path, size)
    return [os.path.join(directory, name) for name, _ in layout]


def pack(tool, image, out, files):
    subprocess.run([tool, "pack", "--image", image, "-o", out] + files, check=True)
    os.chmod(out, 0o700)


def sandbox_env(root):
    """A user of our own: the launcher's key store and temporary directory
    live in the benchmark directory."""
    home = os.path.join(root, "home")
    os.makedirs(os.path.join(home, ".config"), exist_ok=True)
    return {"HOME": home, "XDG_CONFIG_HOME": os.path.join(home, ".config"),
            "PATH": "/usr/bin:/bin", "LC_ALL": "C"}


def run_timed(argv, env=None):
    """Runs argv; returns (seconds, 512-byte blocks it read from disk)."""
    start = time.perf_counter()
    process = subprocess.Popen(argv, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(process.pid, 0)
    elapsed = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        raise RuntimeError(f"{argv[0]} exited with {os.waitstatus_to_exitcode(status)}")
    return elapsed, usage.ru_inblock


def peak_resident_kib(argv, env, report):
    """The peak resident size of argv in KiB, as GNU time sees it."""
    subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report] + argv, env=env, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(report) as f:
        return int(f.read().split()[-1])


def read_through(paths):
    for path in paths:
        with open(path, "rb") as f:
            while f.read(16 * MiB):
                pass


def fresh_dir(path, inputs=()):
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    read_through(inputs)
    os.sync()


def check_output(out, payload_files):
    for source in payload_files:
        target = os.path.join(out, os.path.basename(source))
        if os.path.getsize(target) != os.path.getsize(source):
            raise RuntimeError(f"{target}: wrong size")
    # One full comparison, of the largest entry, per contender.
    largest = max(payload_files, key=os.path.getsize)
    subprocess.run(["cmp", "-s", largest, os.path.join(out, os.path.basename(largest))], check=True)


def median_ms(values):
    return statistics.median(values) * 1000


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--launcher", required=True, help="host-release launcher")
    parser.add_argument("--tool", required=True, help="the carrier tool")
    parser.add_argument("--exe", required=True, help="the i686 launcher.exe")
    parser.add_argument("--sevenzip", required=True)
    parser.add_argument("--dir", required=True, help="empty working directory")
    parser.add_argument("--runs", type=int, default=11)
    parser.add_argument("--startup-runs", type=int, default=50)
    args = parser.parse_args()

    root = args.dir
    out = os.path.join(root, "out")
    env = sandbox_env(root)

    log("payload: ~1 GiB and 64 MiB of random bytes")
    large = make_payload(os.path.join(root, "payload"), LARGE_LAYOUT)
    small = make_payload(os.path.join(root, "payload-64m"), SMALL_LAYOUT)
    large_carrier = os.path.join(root, "large", CARRIER_NAME)
    small_carrier = os.path.join(root, "small", CARRIER_NAME)
    empty_carrier = os.path.join(root, "empty", CARRIER_NAME)
    for path in (large_carrier, small_carrier, empty_carrier):
        os.makedirs(os.path.dirname(path))
    pack(args.tool, args.launcher, large_carrier, large)
    pack(args.tool, args.launcher, small_carrier, small)
    with open(args.launcher, "rb") as image, open(empty_carrier, "wb") as carrier:
        carrier.write(image.read() + b"\0\0")
    os.chmod(empty_carrier, 0o700)

    log("archives: makeself --nocomp, 7z -mx0")
    makeself_archive = os.path.join(root, "payload.run")
    subprocess.run(["makeself", "--nocomp", "--nox11", "--quiet", os.path.join(root, "payload"),
                    makeself_archive, "payload", "true"], check=True, stdout=subprocess.DEVNULL)
    sevenzip_archive = os.path.join(root, "payload.7z")
    subprocess.run([args.sevenzip, "a", "-mx0", sevenzip_archive] + large, check=True,
                   stdout=subprocess.DEVNULL)

    payload_bytes = sum(os.path.getsize(f) for f in large)
    launcher_env = {**env, "TMPDIR": out + "/"}
    contenders = {
        "launcher": ([large_carrier], launcher_env, [large_carrier]),
        "cp": (["cp"] + large + [out], None, large),
        # The launcher's own way: read and write through a 256 KiB buffer in
        # user space. cp copies inside the kernel (copy_file_range), which
        # saves one of the two copies; this row shows what that is worth.
        "dd": (["sh", "-c", 'for f; do dd if="$f" of="$0/${f##*/}" bs=256K status=none; done', out] + large,
               None, large),
        "makeself": (["sh", makeself_archive, "--noexec", "--target", out], None, [makeself_archive]),
        "7z": ([args.sevenzip, "x", "-y", "-o" + out, sevenzip_archive], None, [sevenzip_archive]),
    }
    times = {name: [] for name in contenders}
    disk_reads = 0
    log(f"extraction: {payload_bytes} bytes, 1 warm-up and {args.runs} timed runs each")
    # makeself last, on its own (see above).
    quick = [name for name in contenders if name != "makeself"]
    for phase in (quick, ["makeself"]):
        order = list(phase)
        for run in range(args.runs + 1):
            # A new order each round: whatever state one contender leaves the
            # machine in does not always fall on the same next one.
            random.Random(run).shuffle(order)
            for name in order:
                argv, run_env, inputs = contenders[name]
                fresh_dir(out, inputs)
                elapsed, blocks = run_timed(argv, run_env)
                if run == 0:
                    check_output(out, large)
                    continue
                times[name].append(elapsed)
                disk_reads += blocks
                log(f"  run {run} {name}: {elapsed:.3f} s, {blocks} blocks read from disk")

    log("peak resident size")
    rss = {}
    for label, carrier in (("64 MiB", small_carrier), ("large", large_carrier)):
        peaks = []
        for _ in range(3):
            fresh_dir(out)
            peaks.append(peak_resident_kib([carrier], launcher_env, os.path.join(root, "time.txt")))
        rss[label] = max(peaks)

    log(f"start-up: {args.startup_runs} runs each")
    startup = {"launcher": [], "true": []}
    fresh_dir(out)
    for _ in range(args.startup_runs):
        startup["launcher"].append(run_timed([empty_carrier], launcher_env)[0])
        startup["true"].append(run_timed(["/bin/true"])[0])
    shutil.rmtree(out, ignore_errors=True)

    cp = statistics.median(times["cp"])
    rows = []
    for name, label in (("cp", "`cp` of the entry files (the limit)"),
                        ("dd", "`dd bs=256K` of the entry files (read and write, for reference)"),
                        ("launcher", "launcher (host-release)"),
                        ("makeself", "`makeself --nocomp`, `--noexec --target`"),
                        ("7z", "`7z x` of a `-mx0` archive")):
        m = statistics.median(times[name])
        rows.append((f"Extraction, {payload_bytes / MiB:.0f} MiB: {label}", f"{m:.3f} s",
                     f"{m / cp:.2f}x", f"{min(times[name]):.3f}–{max(times[name]):.3f} s"))
    rows.append(("Peak resident size, launcher, 64 MiB payload", f"{rss['64 MiB'] / 1024:.1f} MiB", "", ""))
    rows.append((f"Peak resident size, launcher, {payload_bytes / MiB:.0f} MiB payload",
                 f"{rss['large'] / 1024:.1f} MiB", "", ""))
    launcher_startup = median_ms(startup["launcher"])
    true_startup = median_ms(startup["true"])
    rows.append(("Start-up, empty payload (report written, start tried)", f"{launcher_startup:.2f} ms",
                 f"{launcher_startup / true_startup:.2f}x `/bin/true`", ""))
    rows.append(("Start-up, `/bin/true`", f"{true_startup:.2f} ms", "", ""))
    rows.append(("Size, i686 `launcher.exe`", f"{os.path.getsize(args.exe)} bytes", "", ""))

    print("| Measure | Median | Ratio | Range |")
    print("|---|---|---|---|")
    for row in rows:
        print("| " + " | ".join(row) + " |")

    launcher = statistics.median(times["launcher"])
    targets = [
        ("extraction within 1.10x of `cp`", launcher <= 1.10 * cp),
        ("extraction faster than `makeself`", launcher < statistics.median(times["makeself"])),
        ("extraction faster than `7z`", launcher < statistics.median(times["7z"])),
        ("peak resident size under 8 MiB at both payload sizes", max(rss.values()) < 8 * 1024),
    ]
    print()
    print("Extraction ratios are to `cp`. Read from disk during the timed extraction runs: "
          f"{disk_reads * 512 / MiB:.1f} MiB in all; launcher against `dd bs=256K`: "
          f"{launcher / statistics.median(times['dd']):.2f}x.")
    print()
    for what, met in targets:
        print(f"- {what}: {'met' if met else 'MISSED'}")

if __name__ == "__main__":
    main()
