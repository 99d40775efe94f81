#!/usr/bin/env python3
"""A production station under load: download-cli --parallel --loop against
simulated machines, each swapped for a new one as soon as its unit is done.

First one machine alone, served by download-cli --loop on one port, for a
few units: its cycle (from one unit's result to the next's, the scan that
finds the new machine included) gives the ideal rate of a station of N
positions, N x 3600 / cycle units an hour. Then N positions, one
download-cli --parallel --loop process, for the given minutes. Every
machine is target-sim paced at the line rate (--baud), behind a symbolic
link that stays the position's port while the machines behind it change.

Reported: units an hour against the ideal, every unit's machine checked to
have received the whole image, the tool's peak memory (VmHWM) and its
resident memory and open descriptors sampled from the first unit to the
last.

Usage: bench/station_bench.py [--positions 16] [--minutes 20] [--size 20000]
                              [--build build/bench]
"""

import argparse
import json
import os
import random
import selectors
import signal
import subprocess
import sys
import tempfile
import time

# The soak's way of stopping a machine and taking its last word.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts"))
from soak import stop_sim  # noqa: E402

DEFAULT_SIZE = 20000  # bytes of image
DEFAULT_BAUD = 57600  # the Quenta 5X's line rate


def received_whole(sim):
    return "; matches the expected image" in stop_sim(sim)


def spawn_sim(build, link, image_file, baud):
    """A machine starting; its first line, its device, tells that the link
    is in place."""
    return subprocess.Popen(
        [os.path.join(build, "target-sim"), "--type", "1", "--link", link, "--expect",
         image_file, "--stored", "--baud", str(baud)],
        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)


def start_sim(build, link, image_file, baud):
    sim = spawn_sim(build, link, image_file, baud)
    sim.stdout.readline()  # its device: the link is in place
    return sim


def proc_status(pid):
    values = {}
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            key, _, rest = line.partition(":")
            if key in ("VmRSS", "VmHWM"):
                values[key] = int(rest.split()[0])
    values["fds"] = len(os.listdir("/proc/%d/fd" % pid))
    return values


def write_image(path, size):
    """The benchmarks' image: size bytes drawn from a fixed seed."""
    rng = random.Random(1)
    with open(path, "wb") as f:
        f.write(bytes(rng.randrange(256) for _ in range(size)))


class Machines:
    """The machines on a station's positions, each behind its position's
    link, and what their units ended with."""

    def __init__(self, build, folder, positions, image_file, baud):
        self.build, self.image_file, self.baud = build, image_file, baud
        self.links = [os.path.join(folder, "pos%02d" % (i + 1)) for i in range(positions)]
        self.sims = [start_sim(build, link, image_file, baud) for link in self.links]
        self.done_times = []
        self.position_times = [[] for _ in self.links]  # each position's results
        self.results = {}
        self.not_whole = 0

    def units_ended(self, ended):
        """Units' results told, (position from 1, result) each: their
        machines go (each checked to have received the whole image when its
        unit is done) and new ones come. The machines are swapped together,
        every old one told to stop before any is waited for: a position
        swapped one after another behind fifteen others would see its tool
        start a second download on the machine it had just programmed."""
        now = time.monotonic()
        while ended:
            batch, seen = [], set()
            while ended and ended[0][0] not in seen:
                seen.add(ended[0][0])
                batch.append(ended.pop(0))
            for position, result in batch:
                self.results[result] = self.results.get(result, 0) + 1
                self.done_times.append(now)
                self.position_times[position - 1].append(now)
                self.sims[position - 1].send_signal(signal.SIGTERM)
            for position, result in batch:
                if not received_whole(self.sims[position - 1]) and result == "done":
                    self.not_whole += 1
            new = [(position - 1, spawn_sim(self.build, self.links[position - 1],
                                            self.image_file, self.baud))
                   for position, _ in batch]
            for i, sim in new:
                sim.stdout.readline()  # its device: the link is in place
                self.sims[i] = sim

    def stop_machines(self):
        for sim in self.sims:
            stop_sim(sim)


class Station(Machines):
    """One download-cli and the machines on its positions."""

    def __init__(self, build, folder, positions, image_file, baud, parallel):
        super().__init__(build, folder, positions, image_file, baud)
        args = [os.path.join(build, "download-cli"), "--type", "1", "--loop", "--json",
                "--timeout", "2", "--record", os.path.join(folder, "units.jsonl")]
        if parallel:
            args.append("--parallel")
        for link in self.links:
            args += ["--port", link]
        self.started = time.monotonic()
        self.proc = subprocess.Popen(args + [image_file], stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, stdin=subprocess.DEVNULL)
        os.set_blocking(self.proc.stdout.fileno(), False)
        self.pending = b""
        self.samples = []

    def serve(self, until, max_units=None):
        sel = selectors.DefaultSelector()
        sel.register(self.proc.stdout, selectors.EVENT_READ)
        next_sample = time.monotonic()
        while time.monotonic() < until and (max_units is None or
                                            len(self.done_times) < max_units):
            if time.monotonic() >= next_sample and self.done_times:
                self.samples.append((time.monotonic() - self.started, len(self.done_times),
                                     proc_status(self.proc.pid)))
                next_sample = time.monotonic() + 10
            if not sel.select(timeout=1.0):
                continue
            chunk = self.proc.stdout.read()
            if not chunk:
                if self.proc.poll() is not None:
                    break
                continue
            self.pending += chunk
            ended = []
            while b"\n" in self.pending:
                line, self.pending = self.pending.split(b"\n", 1)
                event = json.loads(line)
                if event.get("event") in ("done", "error"):
                    ended.append((event.get("position", 1), event["result"]))
            self.units_ended(ended)
        sel.close()
        self.samples.append((time.monotonic() - self.started, len(self.done_times),
                             proc_status(self.proc.pid)))

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        try:
            out, err = self.proc.communicate(timeout=30)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            out, err = self.proc.communicate()
        self.stop_machines()
        # The units the stop interrupted: recorded, but no part of the rate.
        self.interrupted = 0
        for line in (self.pending + out).split(b"\n"):
            if line.strip() and json.loads(line).get("result") == "interrupted":
                self.interrupted += 1
        return self.proc.returncode, err.decode(errors="replace").strip()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--positions", type=int, default=16)
    parser.add_argument("--minutes", type=float, default=20)
    parser.add_argument("--size", type=int, default=DEFAULT_SIZE)
    parser.add_argument("--baud", type=int, default=DEFAULT_BAUD)
    parser.add_argument("--alone-units", type=int, default=8)
    parser.add_argument("--build", default="build/bench")
    args = parser.parse_args()

    folder = tempfile.mkdtemp(prefix="station-")
    image_file = os.path.join(folder, "fw.UPL")
    write_image(image_file, args.size)

    # One machine alone: its cycle, after the first unit (whose scan starts
    # with the tool).
    alone = Station(args.build, os.path.join(folder), 1, image_file, args.baud, False)
    alone.serve(time.monotonic() + 600, args.alone_units + 1)
    alone.stop()
    times = alone.done_times
    cycle = (times[-1] - times[0]) / (len(times) - 1)
    ideal = args.positions * 3600 / cycle
    print("alone: %d units, cycle %.3f s; ideal for %d positions: %.0f units/hour"
          % (len(times) - 1, cycle, args.positions, ideal), flush=True)

    os.remove(os.path.join(folder, "units.jsonl"))
    station = Station(args.build, folder, args.positions, image_file, args.baud, True)
    station.serve(time.monotonic() + args.minutes * 60)
    wall = time.monotonic() - station.started
    status, err = station.stop()
    units = len(station.done_times)
    with open(os.path.join(folder, "units.jsonl")) as f:
        records = sum(1 for line in f if line.strip())
    rate = units * 3600 / wall
    first, last = station.samples[0][2], station.samples[-1][2]
    rss = [s[2]["VmRSS"] for s in station.samples]
    fds = [s[2]["fds"] for s in station.samples]
    print("station: %d positions, %.1f min, %d units (%s), %d interrupted by the stop, "
          "%d records, exit %d"
          % (args.positions, wall / 60, units,
             ", ".join("%s %d" % kv for kv in sorted(station.results.items())),
             station.interrupted, records, status))
    print("station: %.0f units/hour = %.3f x ideal" % (rate, rate / ideal))
    print("memory: peak %d kB (VmHWM); RSS first %d kB, max %d kB, last %d kB; "
          "descriptors first %d, max %d, last %d; %d samples"
          % (last["VmHWM"], first["VmRSS"], max(rss), last["VmRSS"], first["fds"], max(fds),
             last["fds"], len(station.samples)))
    # RSS over the run: where it stands after the first unit, each fifth of
    # the run, and at the end.
    marks = sorted({0, len(station.samples) - 1} |
                   {len(station.samples) * k // 5 for k in range(1, 5)})
    print("RSS over the run: " + ", ".join(
        "%.0f s (%d units) %d kB" % (station.samples[i][0], station.samples[i][1],
                                     station.samples[i][2]["VmRSS"]) for i in marks))
    problems = []
    if station.not_whole:
        problems.append("%d units done without the whole image" % station.not_whole)
    if records != units + station.interrupted:
        problems.append("%d records for %d units and %d interrupted"
                        % (records, units, station.interrupted))
    if station.results.get("done", 0) != units:
        problems.append("not every unit done")
    if status != 143:
        problems.append("exit status %d after SIGTERM" % status)
    if err:
        problems.append("stderr: " + err)
    for p in problems:
        print("PROBLEM: " + p)
    return 0 if not problems else 1


if __name__ == "__main__":
    sys.exit(main())
