#!/usr/bin/env python3
"""Times pciannotate against cat on the cases gen.py and crafted write.

usage: run.py PROGRAM DATA [ROUNDS]

Every round runs each command once, in turn, so that the figures of one
run share the machine's state; the medians are printed.
"""
import os
import re
import shutil
import statistics
import subprocess
import sys
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
    prog = os.path.abspath(sys.argv[1])
    data = os.path.abspath(sys.argv[2])
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 15
    small, large = os.path.join(data, "small"), os.path.join(data, "large")
    crafted, ordinary = os.path.join(data, "crafted"), os.path.join(data, "ordinary")
    table, table300k, table4k, one = (os.path.join(data, f) for f in ("table.c", "table-300k.c", "table-4k.c", "one.c"))
    out = os.path.join(data, "out")
    copy = os.path.join(data, "out-copy")
    copy4k = os.path.join(data, "out-copy-4k")
    lists = [os.path.join(large, "map-%s.lst" % k) for k in ("scsi", "eth", "video")]

    # cat copies a file as large as the program's output.
    for t, c in ((table, copy), (table4k, copy4k)):
        subprocess.run([prog], stdin=open(t, "rb"), stdout=open(c, "wb"), cwd=small, check=True)
    outsize = os.path.getsize(copy)

    cases = {
        "prog table small": lambda: wall([prog], table, out, small),
        "cat output": lambda: wall(["cat", copy], os.devnull, out, data),
        "dd output": lambda: wall(["dd", "bs=128K", "status=none", "if=" + copy], os.devnull, out, data),
        "prog 4k small": lambda: wall([prog], table4k, out, small),
        "cat 4k output": lambda: wall(["cat", copy4k], os.devnull, out, data),
        "prog one small": lambda: wall([prog], one, out, small),
        "prog table large": lambda: wall([prog], table, out, large),
        "prog one large": lambda: wall([prog], one, out, large),
        "cat lists": lambda: wall(["cat"] + lists, os.devnull, os.devnull, data),
        "prog one crafted": lambda: wall([prog], one, os.devnull, crafted),
        "prog one ordinary": lambda: wall([prog], one, os.devnull, ordinary),
    }
    times = {k: [] for k in cases}
    for _ in range(rounds):
        for k, run in cases.items():
            times[k].append(run())
    med = {k: statistics.median(v) for k, v in times.items()}

    print("rounds: %d; table %.1f MB, output %.1f MB, large lists %.1f MB" % (
        rounds, os.path.getsize(table) / 1e6, outsize / 1e6, sum(map(os.path.getsize, lists)) / 1e6))
    for k, v in med.items():
        print("  %-18s %8.2f ms" % (k, v * 1000))
    mem300k = peak([prog], table300k, small)
    mem30m = peak([prog], table, small)
    rows = [
        ("30 MB table, small lists / cat of the output", med["prog table small"] / med["cat output"], "<= 1.6"),
        ("loading the large lists / cat of the lists", med["prog one large"] / med["cat lists"], "<= 4"),
        ("4,000-line table, small lists / cat of the output", med["prog 4k small"] / med["cat 4k output"], "<= 1.5"),
        ("table cost, large lists / small lists",
         (med["prog table large"] - med["prog one large"]) / (med["prog table small"] - med["prog one small"]), "<= 1.5"),
        ("loading 390,000 crafted names / ordinary names", med["prog one crafted"] / med["prog one ordinary"], "<= 3"),
    ]
    for name, ratio, target in rows:
        print("%-48s %6.2f   (target %s)" % (name, ratio, target))
    # cat copies file to file inside the kernel (copy_file_range); dd, like
    # this program, copies through its own buffer.
    print("%-48s %6.2f   (for comparison)" % ("30 MB table, small lists / dd of the output",
                                                med["prog table small"] / med["dd output"]))
    print("%-48s %6.2f MiB (target < 2; peak %d KiB and %d KiB)" % (
        "peak memory, 30 MB input - 300 KB input", (mem30m - mem300k) / 1024, mem30m, mem300k))
    os.remove(out)
    os.remove(copy)
    os.remove(copy4k)


if __name__ == "__main__":
    main()
