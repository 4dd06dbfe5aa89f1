#!/usr/bin/env python3
"""Reads the logs of bench/run.sh and prints one table of ratios against the peers.

Every ratio reads the same way: above 1 the updater's own code is better (faster, or lighter
in memory); the column "target" holds the figure each benchmark holds itself to.
Usage: ratio_table.py LOG_FOLDER
"""
import os
import re
import sys

rows = []  # (area, measure, ours, peer, ratio, target)


def read(folder, name):
    path = os.path.join(folder, name + ".log")
    if not os.path.exists(path):
        return None
    with open(path, errors="replace") as f:
        return f.read()


def strings(text):
    for direction in ("decode", "encode"):
        m = re.search(r"^%s\s+([\d.]+)\s+([\d.]+)\s+([\d.]+)" % direction, text, re.M)
        if m:
            rows.append(("strings", "UTF-8 %s vs iconv" % direction, m[1] + " MB/s",
                         m[2] + " MB/s", float(m[3]), ">= 1"))


def xml(text):
    # One block per document: its title line, then the readers and the three ratios.
    for block in re.split(r"\n(?=\S[^\n]*: [\d.]+ MB, best of)", text):
        title = re.match(r"\s*([^\n]*?): ([\d.]+) MB, best of", block)
        if not title:
            continue
        doc = "catalogue-like" if title[1].startswith("catalogue") else os.path.basename(title[1])
        doc += " %s MB" % title[2]
        readers = re.finditer(r"^\s+(\S[^\n]*?)\s{2,}([\d.]+)\s+([\d.]+)\s+\d+$", block, re.M)
        speeds, peaks = {}, {}
        for m in readers:
            speeds[m[1]], peaks[m[1]] = m[2], m[3]
        own = next((k for k in speeds if "expat" not in k and "libxml" not in k), None)
        ours = speeds.get(own, "?")
        peers = {"expat": "expat", "libxml2": "libxml"}
        for peer, key in peers.items():
            m = re.search(r"speed vs %s:\s+([\d.]+)x\s+\(target (\S+ [\d.]+)\)" % peer, block)
            if m:
                peer_speed = next((v for k, v in speeds.items() if key in k), "?")
                rows.append(("xml", "%s, speed vs %s" % (doc, peer), ours + " MB/s",
                             peer_speed + " MB/s", float(m[1]), m[2]))
        m = re.search(r"peak memory vs expat tree:\s+([\d.]+)x", block)
        if m and float(m[1]) > 0:
            expat = next((v for k, v in peaks.items() if "expat" in k), "?")
            rows.append(("xml", "%s, peak memory vs expat tree" % doc, peaks.get(own, "?") + " MB",
                         expat + " MB", 1 / float(m[1]), ">= 1"))


def downloader(text):
    curl = re.search(r"^curl:\s+([\d.]+) MiB/s", text, re.M)
    ours = re.search(r"^downloader:\s+([\d.]+) MiB/s", text, re.M)
    ratio = re.search(r"^ratio: ([\d.]+) \(target (\S+ [\d.]+)\)", text, re.M)
    size = re.search(r"^file: (\d+) MiB", text, re.M)
    if curl and ours and ratio:
        rows.append(("downloader", "%s MiB over loopback vs curl" % size[1], ours[1] + " MiB/s",
                     curl[1] + " MiB/s", float(ratio[1]), ratio[2]))
    growth = re.search(r"growth ([\d.]+) MiB \(target < (\d+) MiB\)", text)
    if growth:
        rows.append(("downloader", "memory growth while downloading", growth[1] + " MiB", "",
                     None, "< %s MiB" % growth[2]))


def fzip(text):
    for m in re.finditer(r"^\s*(\d+) MiB\s+xz -d\s+([\d.]+) s\s+Unzip2\s+([\d.]+) s\s+ratio ([\d.]+)"
                         r" \(limit ([\d.]+)\)", text, re.M):
        rows.append(("fzip", "%s MiB package, time vs xz -d" % m[1], m[3] + " s", m[2] + " s",
                     float(m[2]) / float(m[3]), ">= %.2f" % (1 / float(m[5]))))
    # Checking signature and digest against unpacking: above 1 means Unzip2 takes longer.
    for m in re.finditer(r"^\s*(\d+) MiB\s+Unzip2\s+([\d.]+) s\s+verify\s+([\d.]+) s\s+ratio"
                         r" [\d.]+ \(limit ([\d.]+)\)", text, re.M):
        rows.append(("fzip", "%s MiB package, verify time vs Unzip2" % m[1], m[3] + " s",
                     m[2] + " s", float(m[2]) / float(m[3]), ">= %.2f" % (1 / float(m[4]))))
    for m in re.finditer(r"Unzip2 peak memory ([\d.]+) MiB, limit ([\d.]+) MiB", text):
        rows.append(("fzip", "Unzip2 peak memory", m[1] + " MiB", "", None, "<= %s MiB" % m[2]))


def codepages(text):
    for m in re.finditer(r"^(\S+)\s+(decode|encode): tables\s+([\d.]+) MB/s\s+iconv\s+([\d.]+) MB/s"
                         r"\s+ratio ([\d.]+)", text, re.M):
        rows.append(("codepages", "%s %s vs iconv" % (m[1], m[2]), m[3] + " MB/s", m[4] + " MB/s",
                     float(m[5]), ">= 1"))


def main():
    folder = sys.argv[1]
    readers = [("strings", strings), ("xml", xml), ("codepages", codepages),
               ("downloader", downloader), ("fzip", fzip)]
    missing = []
    for name, reader in readers:
        text = read(folder, name)
        if text is None:
            continue
        before = len(rows)
        reader(text)
        if len(rows) == before:
            missing.append(name)
    header = ("area", "measure", "ours", "peer", "ratio", "target")
    table = [header] + [(a, m, o, p, "%.2f" % r if r is not None else "-", t)
                        for a, m, o, p, r, t in rows]
    widths = [max(len(row[i]) for row in table) for i in range(len(header))]
    lines = ["| " + " | ".join(cell.ljust(widths[i]) for i, cell in enumerate(row)) + " |"
             for row in table]
    lines.insert(1, "|" + "|".join("-" * (w + 2) for w in widths) + "|")
    print("\n".join(lines))
    print("ratio: above 1 means the updater's code is faster (or lighter) than the peer")
    for name in missing:
        print("%s: no figures in its log (see %s/%s.log)" % (name, folder, name))
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main())
