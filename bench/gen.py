#!/usr/bin/env python3
"""Writes the benchmark cases into a folder (default bench/data):

  small/map-*.lst   about 3,500 pairs
  large/map-*.lst   about 300,000 pairs (the small lists' pairs among them)
  table.c           about 30 MB, about 300,000 entry lines
  table-300k.c      its first 300 KB, closed like a table: the size of a
                    real table
  one.c             a one-line table

Descriptions look like real device names: vendors, models, slashes,
brackets and parentheses, some over 99 characters. Some entry lines name
devices no list knows, and some descriptions map to several modules.
Every run writes the same bytes.
"""
import os
import random
import sys

VENDORS = ["Adaptec", "BusLogic", "Symbios Logic", "LSI Logic / Symbios Logic", "QLogic Corp.", "Intel Corporation",
           "3Com Corporation", "Realtek Semiconductor Co., Ltd.", "Broadcom Inc. and subsidiaries", "Matrox Electronics",
           "S3 Graphics Ltd.", "ATI Technologies Inc", "NVIDIA Corporation", "Digital Equipment Corporation",
           "Advanced Micro Devices, Inc. [AMD]", "Mylex Corporation", "Initio Corporation", "Tekram Technology Co.,Ltd.",
           "Silicon Integrated Systems [SiS]", "VIA Technologies, Inc.", "Cirrus Logic", "Trident Microsystems",
           "National Semiconductor Corporation", "Compaq Computer Corporation", "Emulex Corporation"]
KINDS = ["SCSI Controller", "Ultra2 SCSI Host Adapter", "Fast Ethernet Controller", "Gigabit Ethernet Adapter",
         "PCI-X Fibre Channel Adapter", "RAID Controller", "VGA Compatible Controller", "3D Accelerator",
         "Network Connection", "Host Bus Adapter", "10/100BaseTX", "Dual Channel Ultra320 SCSI"]
EXTRAS = ["(rev 01)", "(rev 0a)", "[Cyclone]", "[Tornado]", "[MultiMaster 10]", "(PCI-X)", "[Ethernet Pro 100]",
          "(OEM)", "w/ Boot ROM", "(Low Profile)", "[Mobility Radeon]", "(ICH6 Family)", "[Boomerang]"]
MODULES = {"scsi": ["aic7xxx", "aic79xx", "BusLogic", "sym53c8xx", "ncr53c8xx", "qla1280", "qla2xxx", "megaraid",
                    "DAC960", "initio", "dc395x", "mptscsih", "lpfc", "gdth", "ips"],
           "eth": ["e100", "eepro100", "e1000", "3c59x", "8139too", "tg3", "tulip", "de4x5", "pcnet32", "natsemi",
                   "via-rhine", "sis900", "b44", "bnx2"],
           "video": ['"Card:Matrox Millennium G200"', '"Card:S3 Trio64V+ (generic)"', '"Card:ATI Mach64"',
                     '"Card:NVIDIA GeForce (generic)"', '"Card:Cirrus Logic GD5446"', '"Card:Trident 9440"',
                     '"Card:VESA driver (generic)"']}


def description(rng):
    model = rng.choice(["%s%d" % (rng.choice(["AHA-", "BT-", "53c", "QLA", "82", "3c9", "RTL8", "BCM57", "G", "Trio"]),
                                   rng.randrange(10, 99999)),
                        "%d/%d" % (rng.randrange(100, 9999), rng.randrange(1, 99))])
    words = [rng.choice(VENDORS), model, rng.choice(KINDS)]
    for _ in range(rng.choice([0, 0, 1, 1, 2, 6])):  # a few grow past 99 characters
        words.append(rng.choice(EXTRAS))
    if rng.random() < 0.5:
        words.append("Subsystem: %s %d" % (rng.choice(VENDORS), rng.randrange(1000, 9999)))
    return " ".join(words)


def names(rng, count, taken):
    out = []
    while len(out) < count:
        d = description(rng)
        if d not in taken:
            taken.add(d)
            out.append(d)
    return out


def pairline(rng, name, kind):
    mods = MODULES[kind]
    n = rng.choice([1, 1, 1, 1, 2, 3])  # several modules for some descriptions
    return "%s | %s\n" % (name, " ".join(rng.sample(mods, n)))


def writelists(folder, rng, known, extra):
    os.makedirs(folder, exist_ok=True)
    kinds = ["scsi", "eth", "video"]
    lines = {k: ["# %s devices: description | modules\n" % k] for k in kinds}
    for i, name in enumerate(known):
        lines[kinds[i % 3]].append(pairline(rng, name, kinds[i % 3]))
    for i, name in enumerate(extra):
        lines[kinds[i % 3]].append(pairline(rng, name, kinds[i % 3]))
    for k in kinds:
        with open(os.path.join(folder, "map-%s.lst" % k), "w") as f:
            f.writelines(lines[k])


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "data")
    rng = random.Random(2026)
    taken = set()
    known = names(rng, 2350, taken)      # with one to three modules: about 3,500 pairs
    unknown = names(rng, 300, taken)     # in the table, in no list
    extra = names(rng, 198000, taken)    # only in the large lists

    writelists(os.path.join(out, "small"), random.Random(1), known, [])
    writelists(os.path.join(out, "large"), random.Random(1), known, extra)

    header = "/* PCI devices the installer knows. */\nstruct pci_module_map scsi_pci_ids[] = {\n"
    body = []
    size = 0
    while size < 30_000_000:
        name = rng.choice(unknown) if rng.random() < 0.05 else rng.choice(known)
        line = '\t{ 0x%04x, 0x%04x, N_("%s") },\n' % (rng.randrange(65536), rng.randrange(65536), name)
        if rng.random() < 0.02:
            line = "\t/* %s */\n" % rng.choice(KINDS)
        body.append(line)
        size += len(line)
    with open(os.path.join(out, "table.c"), "w") as f:
        f.write(header)
        f.writelines(body)
        f.write("\t{ 0, 0, NULL },\n};\n")
    with open(os.path.join(out, "table-300k.c"), "w") as f:
        f.write(header)
        small = 0
        for line in body:
            if small > 300_000:
                break
            f.write(line)
            small += len(line)
        f.write("\t{ 0, 0, NULL },\n};\n")
    with open(os.path.join(out, "one.c"), "w") as f:
        f.write(header.splitlines(True)[1])


if __name__ == "__main__":
    main()
