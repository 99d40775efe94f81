#!/usr/bin/env python3
"""The station window against download-cli: the same station served by
both in one run, with the window drawing.

(A) download-cli --parallel --loop, and (B) download-station --start with
a station file of the same positions, under a virtual display of its own
(Xvfb, 1366x768x24). Every machine is target-sim paced at the line rate
(--baud) behind a symbolic link that is its position's port, and is
swapped for a new one as soon as its unit's result is known: from
download-cli's --json events for A, from the record file for B (the window
tells nothing on stdout, so the record file is read as it grows).

Each of A and B runs for the given minutes, in slices taken in the order
A B, B A, A B, ... so that a load on the machine that rises or falls
steadily over the run weighs on both alike. A slice's first unit on each
position includes the tool's start and its first scan, and the units a
slice's end interrupts are lost; so the rate compared is the cycle of a
position, from one unit's result to its next, over every position and
slice: positions x 3600 / cycle units an hour. The rate over the whole
wall time is shown beside it.

The window ends with SIGTERM, as a station's service manager ends it; it
must be gone within --exit-bound seconds. The window's main loop lateness
(DT_STATION_LATENESS) tells how soon it would have answered input.

Checks: B's rate at least 0.97 x A's; the window's timer late by at most
100 ms at the 99th percentile in every slice; every unit done, and every
machine of a done unit given the whole image; a record for every unit;
no position left without a result for three cycles; each tool ending as it
should.

Usage: bench/station_window_bench.py [--positions 16] [--minutes 10]
                                     [--slices 2] [--build build/bench] [--keep]
"""

import argparse
import json
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # no __pycache__ left in the tree by the imports
from station_bench import DEFAULT_BAUD, DEFAULT_SIZE, Machines, Station, write_image  # noqa: E402

RATIO_GOAL = 0.97
LATE_P99_GOAL_MS = 100
SCREEN = "1366x768x24"
RECORD_POLL_S = 0.01  # how often B's record file is read for new lines


def start_display():
    """A virtual display of our own: Xvfb and the name of its display."""
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", SCREEN, "-nolisten", "tcp",
         "-noreset"],
        pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
        stderr=subprocess.DEVNULL)
    os.close(write_end)
    number = b""
    deadline = time.monotonic() + 30
    while not number.endswith(b"\n"):
        ready, _, _ = select.select([read_end], [], [], max(0, deadline - time.monotonic()))
        chunk = os.read(read_end, 16) if ready else b""
        if not chunk:
            xvfb.kill()
            xvfb.wait()
            raise RuntimeError("Xvfb did not tell its display")
        number += chunk
    os.close(read_end)
    return xvfb, ":" + number.decode().strip()


class RecordTail:
    """A record file read as it grows: its whole lines, parsed."""

    def __init__(self, path):
        self.path, self.file, self.pending = path, None, b""

    def new_lines(self):
        if self.file is None:
            try:
                self.file = open(self.path, "rb")
            except FileNotFoundError:
                return []
        self.pending += self.file.read()
        lines = []
        while b"\n" in self.pending:
            line, self.pending = self.pending.split(b"\n", 1)
            if line.strip():
                lines.append(json.loads(line))
        return lines

    def close(self):
        if self.file is not None:
            self.file.close()


class WindowStation(Machines):
    """One download-station window and the machines on its positions."""

    def __init__(self, build, folder, positions, image_file, baud, display):
        super().__init__(build, folder, positions, image_file, baud)
        record = os.path.join(folder, "units.jsonl")
        self.lateness_file = os.path.join(folder, "lateness.json")
        station_file = os.path.join(folder, "bench.station")
        with open(station_file, "w") as f:
            f.write("# The station window benchmark\ntype = 1\nimage = %s\nrecord = %s\n"
                    "timeout = 2\n" % (image_file, record))
            f.writelines("port = %s\n" % link for link in self.links)
        env = dict(os.environ, DISPLAY=display, DT_STATION_LATENESS=self.lateness_file,
                   NO_AT_BRIDGE="1")
        env.pop("WAYLAND_DISPLAY", None)
        self.output = open(os.path.join(folder, "output.txt"), "w+b")
        self.tail = RecordTail(record)
        self.started = time.monotonic()
        self.proc = subprocess.Popen(
            [os.path.join(build, "download-station"), "--start", station_file], env=env,
            stdin=subprocess.DEVNULL, stdout=self.output, stderr=subprocess.STDOUT)

    def serve(self, until):
        while time.monotonic() < until and self.proc.poll() is None:
            self.units_ended([(line["position"], line["result"])
                              for line in self.tail.new_lines()])
            time.sleep(RECORD_POLL_S)
        self.units_ended([(line["position"], line["result"]) for line in self.tail.new_lines()])

    def stop(self, bound):
        """SIGTERM, and the seconds the window took to end (None when it
        had to be killed)."""
        sent = time.monotonic()
        self.proc.send_signal(signal.SIGTERM)
        try:
            self.proc.wait(timeout=bound)
            self.exit_time = time.monotonic() - sent
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            self.exit_time = None
        # What the end left in the record: the units it interrupted, and
        # any that ended between the last read and the signal.
        lines = self.tail.new_lines()
        self.interrupted = sum(1 for line in lines if line["result"] == "interrupted")
        self.units_ended([(line["position"], line["result"]) for line in lines
                          if line["result"] != "interrupted"])
        self.tail.close()
        self.stop_machines()
        self.output.seek(0)
        out = self.output.read().decode(errors="replace").strip()
        self.output.close()
        try:
            with open(self.lateness_file) as f:
                self.lateness = json.load(f)
        except (OSError, ValueError):
            self.lateness = None
        return self.proc.returncode, out


def cycles(slices):
    """Each position's time from one result to its next, over the slices:
    their sum and how many."""
    total, count = 0.0, 0
    for s in slices:
        for times in s.position_times:
            if len(times) >= 2:
                total += times[-1] - times[0]
                count += len(times) - 1
    return total, count


def results_text(results):
    return ", ".join("%s %d" % kv for kv in sorted(results.items())) or "none"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--positions", type=int, default=16)
    parser.add_argument("--minutes", type=float, default=10,
                        help="minutes of each of A and B, all slices together")
    parser.add_argument("--slices", type=int, default=2,
                        help="slices of each, taken A B, B A, ...")
    parser.add_argument("--size", type=int, default=DEFAULT_SIZE)
    parser.add_argument("--baud", type=int, default=DEFAULT_BAUD)
    parser.add_argument("--exit-bound", type=float, default=5,
                        help="seconds the window may take to end after SIGTERM")
    parser.add_argument("--build", default="build/bench")
    parser.add_argument("--keep", action="store_true",
                        help="keep the record files (kept anyway when a check fails)")
    args = parser.parse_args()
    if not 1 <= args.positions <= 16 or args.slices < 1 or args.minutes <= 0:
        parser.error("1 to 16 positions, at least one slice, and some minutes")

    folder = tempfile.mkdtemp(prefix="station-window-")
    image_file = os.path.join(folder, "fw.UPL")
    write_image(image_file, args.size)
    slice_s = args.minutes * 60 / args.slices
    order = []
    for k in range(args.slices):
        order += ["A", "B"] if k % 2 == 0 else ["B", "A"]
    print("%d positions, %d-byte image at %d baud; %s, %.1f min a slice"
          % (args.positions, args.size, args.baud, " ".join(order), slice_s / 60), flush=True)

    problems = []
    done = {"A": [], "B": []}
    walls = {"A": 0.0, "B": 0.0}
    xvfb, display = start_display()
    try:
        for n, kind in enumerate(order, 1):
            sub = os.path.join(folder, "%02d%s" % (n, kind))
            os.mkdir(sub)
            if kind == "A":
                station = Station(args.build, sub, args.positions, image_file, args.baud, True)
            else:
                station = WindowStation(args.build, sub, args.positions, image_file, args.baud,
                                        display)
            station.number = n
            station.serve(time.monotonic() + slice_s)
            station.ended = time.monotonic()
            wall = station.ended - station.started
            walls[kind] += wall
            status, err = station.stop() if kind == "A" else station.stop(args.exit_bound)
            done[kind].append(station)
            units = len(station.done_times)
            try:
                with open(os.path.join(sub, "units.jsonl")) as f:
                    records = sum(1 for line in f if line.strip())
            except FileNotFoundError:
                records = 0
            line = ("%s %d: %.2f min, %d units (%s), %d interrupted by the stop, %d records, "
                    "exit %d" % (kind, n, wall / 60, units, results_text(station.results),
                                 station.interrupted, records, status))
            where = "%s (slice %d)" % (kind, n)
            if kind == "A":
                expected_status = 143
            else:
                expected_status = 0
                line += (" after %.2f s" % station.exit_time if station.exit_time is not None
                         else ", killed after %.0f s" % args.exit_bound)
                late = station.lateness
                if late is None:
                    problems.append("%s: no lateness written" % where)
                else:
                    line += "; ticks %d, late p99 %d ms, max %d ms" % (
                        late["ticks"], late["late_p99_ms"], late["late_max_ms"])
                    if late["late_p99_ms"] > LATE_P99_GOAL_MS:
                        problems.append("%s: the window's timer late by %d ms at the 99th "
                                        "percentile" % (where, late["late_p99_ms"]))
                if station.exit_time is None:
                    problems.append("%s: the window had not ended %.0f s after SIGTERM"
                                    % (where, args.exit_bound))
            print(line, flush=True)
            if station.not_whole:
                problems.append("%s: %d units done without the whole image"
                                % (where, station.not_whole))
            if records != units + station.interrupted:
                problems.append("%s: %d records for %d units and %d interrupted"
                                % (where, records, units, station.interrupted))
            if station.results.get("done", 0) != units:
                problems.append("%s: not every unit done" % where)
            if status != expected_status:
                problems.append("%s: exit status %d after SIGTERM" % (where, status))
            if err:
                problems.append("%s: output: %s" % (where, err))
    finally:
        xvfb.terminate()
        xvfb.wait()

    rate = {}
    for kind, name in (("A", "download-cli --parallel --loop"), ("B", "download-station")):
        slices = done[kind]
        units = sum(len(s.done_times) for s in slices)
        results = {}
        for s in slices:
            for result, count in s.results.items():
                results[result] = results.get(result, 0) + count
        total, count = cycles(slices)
        cycle = total / count if count else float("inf")
        rate[kind] = args.positions * 3600 / cycle
        firsts = [t[0] - s.started for s in slices for t in s.position_times if t]
        print("%s %s: %d units (%s) in %.1f min: %.0f units/hour over the wall; cycle %.3f s "
              "(%d of them): %.0f units/hour; first results %.1f s after the start on average"
              % (kind, name, units, results_text(results), walls[kind] / 60,
                 units * 3600 / walls[kind], cycle, count, rate[kind],
                 sum(firsts) / len(firsts) if firsts else float("nan")))
        # A position that stopped getting units would not show in its cycle.
        for s in slices:
            for p, times in enumerate(s.position_times, 1):
                since = s.ended - (times[-1] if times else s.started)
                if since > 3 * cycle:
                    problems.append("%s (slice %d): position %d without a result for the "
                                    "slice's last %.0f s" % (kind, s.number, p, since))
    late = [s.lateness for s in done["B"] if s.lateness]
    if late:
        print("B window: ticks %d, late p99 %d ms (the worst slice's), max %d ms; exit after "
              "SIGTERM in at most %s" % (
                  sum(x["ticks"] for x in late), max(x["late_p99_ms"] for x in late),
                  max(x["late_max_ms"] for x in late),
                  "%.2f s" % max(s.exit_time for s in done["B"])
                  if all(s.exit_time is not None for s in done["B"]) else "(killed)"))
    a_units = sum(len(s.done_times) for s in done["A"])
    if not rate["A"] or not a_units:
        print("PROBLEM: download-cli programmed no units; records and output kept in " + folder)
        return 1
    ratio = rate["B"] / rate["A"]
    wall_ratio = (sum(len(s.done_times) for s in done["B"]) / walls["B"]) / (a_units / walls["A"])
    print("B/A: %.3f by the cycle (goal: at least %.2f); %.3f over the wall"
          % (ratio, RATIO_GOAL, wall_ratio))
    if ratio < RATIO_GOAL:
        problems.append("B/A %.3f, under %.2f" % (ratio, RATIO_GOAL))
    for p in problems:
        print("PROBLEM: " + p)
    if problems or args.keep:
        print("records and output kept in " + folder)
    else:
        shutil.rmtree(folder)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
