#!/usr/bin/env python3
"""The report of bench/run.sh: a table of the medians and instruction counts
per scenario, and whether the goals at N = 1,000 are met.

Usage: bench/report.py RESULTS

RESULTS holds one line per scenario, tab-separated: N, the target's place,
the processes listed before it, the file of alternate.c's medians (a line
per command: name, wall ms, cpu ms), and the callgrind Ir of tolv, pgrep -x
and the bare walk. Exits 3 when a goal is missed.
"""
import statistics
import sys

COMMANDS = ("tolv", "pgrep", "renice", "bare")
COUNTED = ("tolv", "pgrep", "bare")

HEAD = ("N", "target", "before", "tolv", "pgrep", "renice", "bare", "tolv/pgrep", "tolv/bare",
        "cpu tolv", "cpu bare", "cpu t/b", "Ir tolv", "Ir pgrep", "Ir bare")
FORMAT = "{:>5} {:>6} {:>6} {:>7} {:>7} {:>7} {:>7} {:>10} {:>9} {:>8} {:>8} {:>7} {:>9} {:>10} {:>9}"


def read_times(path):
    """The wall and cpu medians of each command, in ms."""
    wall, cpu = {}, {}
    with open(path) as times:
        for entry in times:
            name, wall_ms, cpu_ms = entry.split()
            wall[name] = float(wall_ms)
            cpu[name] = float(cpu_ms)
    return wall, cpu


def read_rows(path):
    rows = []
    with open(path) as results:
        for line in results:
            n, place, position, times, *counts = line.rstrip("\n").split("\t")
            wall, cpu = read_times(times)
            rows.append({"n": int(n), "place": place, "pos": int(position), "med": wall, "cpu": cpu,
                         "ir": dict(zip(COUNTED, map(int, counts)))})
    return rows


def print_table(rows):
    print()
    print("medians over interleaved runs; wall: ms; cpu: user+system ms; Ir: instructions in user space (callgrind);")
    print("before: processes the walk meets ahead of the target")
    print(FORMAT.format(*HEAD))
    for row in rows:
        wall, cpu, ir = row["med"], row["cpu"], row["ir"]
        print(FORMAT.format(
            row["n"], row["place"], row["pos"],
            "%.3f" % wall["tolv"], "%.3f" % wall["pgrep"], "%.3f" % wall["renice"], "%.3f" % wall["bare"],
            "%.3f" % (wall["tolv"] / wall["pgrep"]), "%.3f" % (wall["tolv"] / wall["bare"]),
            "%.3f" % cpu["tolv"], "%.3f" % cpu["bare"], "%.3f" % (cpu["tolv"] / cpu["bare"]),
            ir["tolv"], ir["pgrep"], ir["bare"]))


def find(rows, n, place):
    """A scenario's figures; one run more than once counts with the median of its runs."""
    same = [row for row in rows if (row["n"], row["place"]) == (n, place)]
    if not same:
        return None

    def pick(key, command):
        return statistics.median(row[key][command] for row in same)

    return {"med": {c: pick("med", c) for c in COMMANDS},
            "cpu": {c: pick("cpu", c) for c in COMMANDS},
            "ir": {c: pick("ir", c) for c in COUNTED}}


def verdicts(rows):
    """(met, text) for each goal the measured scenarios allow to judge."""
    found = []
    goal = find(rows, 1000, "end")
    if goal:
        wall = goal["med"]
        found.append((wall["tolv"] <= wall["pgrep"] / 5,
                      "N=1000, target last: tolv %.3f ms <= pgrep %.3f ms / 5" % (wall["tolv"], wall["pgrep"])))
        found.append((wall["tolv"] <= 1.25 * wall["bare"],
                      "N=1000, target last: tolv %.3f ms <= 1.25 x bare %.3f ms (cpu: x%.3f)"
                      % (wall["tolv"], wall["bare"], goal["cpu"]["tolv"] / goal["cpu"]["bare"])))
    same = find(rows, 4000, "1000")
    if goal and same:
        # Same position, four times the processes: tolv's cost should move no
        # more than the bare walk's, which the size of the list touches only
        # through the kernel (a larger pid table, more of /proc to cache).
        def grew(key, command):
            return same[key][command] / goal[key][command]

        found.append((grew("med", "tolv") <= 1.10 * grew("med", "bare"),
                      "same position, N 1000 -> 4000: tolv wall x%.3f, cpu x%.3f, Ir x%.3f"
                      " (bare: wall x%.3f, cpu x%.3f, Ir x%.3f)"
                      % (grew("med", "tolv"), grew("cpu", "tolv"), grew("ir", "tolv"),
                         grew("med", "bare"), grew("cpu", "bare"), grew("ir", "bare"))))
    return found


def main():
    rows = read_rows(sys.argv[1])
    print_table(rows)
    print()
    missed = 0
    for met, text in verdicts(rows):
        print(("met:    " if met else "MISSED: ") + text)
        missed += not met
    return 3 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
