#!/usr/bin/env python3
"""Times pciannotate against cat, and against an earlier build, on the cases
gen.py and crafted write.

usage: run.py PROGRAM DATA [ROUNDS] [--against OLD] [--busy]

Every round runs each command once, in turn, so that the figures of one
run share the machine's state, every other round in reverse order; the
medians are printed. With --against,
each program case also runs OLD, and the median of the per-round ratios
PROGRAM / OLD is printed. With --busy, a process spins on the machine
throughout, as another job would.
"""
import argparse
import os
import re
import statistics
import subprocess
import time


def wall(argv, stdin, stdout, cwd):
    with open(stdin, "rb") as i, open(stdout, "wb") as o:
        start = time.perf_counter()
        subprocess.run(argv, stdin=i, stdout=o, cwd=cwd, check=True)
        return time.perf_counter() - start


def peak(argv, stdin, cwd):
    with open(stdin, "rb") as i:
        r = subprocess.run(["/usr/bin/time", "-v"] + argv, stdin=i, stdout=subprocess.DEVNULL,
                           stderr=subprocess.PIPE, cwd=cwd, check=True, text=True)
    return int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", r.stderr).group(1))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("program")
    ap.add_argument("data")
    ap.add_argument("rounds", nargs="?", type=int, default=15)
    ap.add_argument("--against")
    ap.add_argument("--busy", action="store_true")
    a = ap.parse_args()
    prog = os.path.abspath(a.program)
    old = os.path.abspath(a.against) if a.against else None
    data = os.path.abspath(a.data)
    small, large = os.path.join(data, "small"), os.path.join(data, "large")
    crafted, ordinary = os.path.join(data, "crafted"), os.path.join(data, "ordinary")
    table, real, one = (os.path.join(data, f) for f in ("table.c", "table-300k.c", "one.c"))
    out = os.path.join(data, "out")
    copy = os.path.join(data, "out-copy")
    copyreal = os.path.join(data, "out-copy-real")
    lists = [os.path.join(large, "map-%s.lst" % k) for k in ("scsi", "eth", "video")]

    # cat copies a file as large as the program's output.
    for t, c in ((table, copy), (real, copyreal)):
        subprocess.run([prog], stdin=open(t, "rb"), stdout=open(c, "wb"), cwd=small, check=True)
    outsize = os.path.getsize(copy)

    runs = {
        "real small": (real, out, small),
        "table small": (table, out, small),
        "one small": (one, out, small),
        "table large": (table, out, large),
        "one large": (one, out, large),
        "one crafted": (one, os.devnull, crafted),
        "one ordinary": (one, os.devnull, ordinary),
    }
    cases = {}
    for k, (i, o, cwd) in runs.items():
        cases["prog " + k] = lambda i=i, o=o, cwd=cwd: wall([prog], i, o, cwd)
        if old:
            cases["old " + k] = lambda i=i, o=o, cwd=cwd: wall([old], i, o, cwd)
    cases["cat real output"] = lambda: wall(["cat", copyreal], os.devnull, out, data)
    cases["cat output"] = lambda: wall(["cat", copy], os.devnull, out, data)
    cases["dd output"] = lambda: wall(["dd", "bs=128K", "status=none", "if=" + copy], os.devnull, out, data)
    cases["cat lists"] = lambda: wall(["cat"] + lists, os.devnull, os.devnull, data)

    spin = subprocess.Popen(["sh", "-c", "while :; do :; done"]) if a.busy else None
    try:
        times = {k: [] for k in cases}
        # Every other round runs the cases in reverse, so that no case always
        # follows the same one (a large output left behind slows the next
        # run down).
        order = list(cases.items())
        for r in range(a.rounds):
            for k, run in order if r % 2 == 0 else reversed(order):
                times[k].append(run())
    finally:
        if spin:
            spin.kill()
    med = {k: statistics.median(v) for k, v in times.items()}

    print("rounds: %d%s; table %.1f MB, output %.1f MB, large lists %.1f MB" % (
        a.rounds, ", second core busy" if a.busy else "", os.path.getsize(table) / 1e6, outsize / 1e6,
        sum(map(os.path.getsize, lists)) / 1e6))
    for k, v in med.items():
        print("  %-20s %8.2f ms" % (k, v * 1000))
    mem300k = peak([prog], real, small)
    mem30m = peak([prog], table, small)
    rows = [
        ("real size (300 KB table, small lists) / cat of the output", med["prog real small"] / med["cat real output"],
         "<= 1.3"),
        ("30 MB table, small lists / cat of the output", med["prog table small"] / med["cat output"], ""),
        ("loading the large lists / cat of the lists", med["prog one large"] / med["cat lists"], ""),
        ("table cost, large lists / small lists",
         (med["prog table large"] - med["prog one large"]) / (med["prog table small"] - med["prog one small"]), "<= 1.5"),
        ("loading 390,000 crafted names / ordinary names", med["prog one crafted"] / med["prog one ordinary"], "<= 3"),
    ]
    for name, ratio, target in rows:
        print("%-58s %6.2f   %s" % (name, ratio, "(target %s)" % target if target else ""))
    # cat copies file to file inside the kernel (copy_file_range); dd, like
    # this program, copies through its own buffer.
    print("%-58s %6.2f" % ("30 MB table, small lists / dd of the output", med["prog table small"] / med["dd output"]))
    print("%-58s %6.2f MiB (target < 2; peak %d KiB and %d KiB)" % (
        "peak memory, 30 MB table - 300 KB table", (mem30m - mem300k) / 1024, mem30m, mem300k))
    if old:
        print("against %s, median of the per-round ratios (targets: at most 1.1):" % a.against)
        for k in runs:
            r = [p / o for p, o in zip(times["prog " + k], times["old " + k])]
            q = statistics.quantiles(r, n=4)
            print("  %-20s %6.3f   (quartiles %.3f-%.3f)" % (k, statistics.median(r), q[0], q[2]))
    for f in (out, copy, copyreal):
        os.remove(f)


if __name__ == "__main__":
    main()
