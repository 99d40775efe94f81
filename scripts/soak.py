#!/usr/bin/env python3
"""A soak of download-cli --loop against target-sim, with faults drawn from a seed.

Two stations run for the whole soak, each a download-cli --loop on a port
that is a symbolic link: a Quenta 5X line (type 1, a 2600-byte image) and a
Lorvane 300 line (type 0, a 65600-byte image, whose 16-bit length wraps).
Each unit is a new target-sim started on the link of its line with one
fault: none, noise, split replies, repeated requests, the stop frame,
silence, vanishing, a restart, the output held at the last block, or (on
the Lorvane 300 line) a machine that believes the 16-bit length and ends
early. The unit's machine is stopped as soon as the tool has told its
result, and what it received is held against the record:

  - a record line for every unit that started, and none for anything else;
  - "done" only for a unit whose machine received the whole image exactly;
  - each fault ends as it must (a held line as "port refused", an early end
    as "ended early", ...);
  - each tool's resident memory and open descriptors flat from the first
    unit to the last.

Usage: scripts/soak.py [--units N] [--seed S] [--build DIR]
Prints one line per unit with --verbose, and a summary; exits 0 when every
check held.
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

A_SIZE = 2600  # 20 whole blocks and one of 40 bytes
B_SIZE = 65600  # told as 64 bytes by a 16-bit length
UNIT_LIMIT_S = 60  # a unit that has not ended by then is a failure

# fault -> (line, target-sim options, the results its units end with)
FAULTS = {
    "none": ("A", [], ["done"]),
    "noise": ("A", ["--noise"], ["done"]),
    "split": ("A", ["--split"], ["done"]),
    "repeats": ("A", ["--repeat-every", "3"], ["done"]),
    "stop frame": ("A", ["--stop-at", "5"], ["stopped"]),
    "silence": ("A", ["--mute-after", "4"], ["silent"]),
    "vanish": ("A", ["--vanish-after", "6"], ["port lost"]),
    # The machine restarts after 3 blocks: that unit falls silent, and the
    # next one programs the restarted machine whole.
    "restart": ("A", ["--restart-after", "3"], ["silent", "done"]),
    "held line": ("A", ["--hold-after", "20"], ["port refused"]),
    "early end": ("B", ["--trust-length"], ["ended early"]),
}


def pattern(n, seed):
    rng = random.Random(seed)
    return bytes(rng.randrange(256) for _ in range(n))


class Line:
    """One station: a download-cli --loop on a linked port, and its record."""

    def __init__(self, name, build, folder, machine_type, image_file):
        self.name = name
        self.build = build
        self.link = os.path.join(folder, "port-" + name)
        self.record = os.path.join(folder, "units-" + name + ".jsonl")
        self.machine_type = machine_type
        self.image_file = image_file
        self.proc = subprocess.Popen(
            [os.path.join(build, "download-cli"), "--type", str(machine_type), "--loop",
             "--json", "--timeout", "1", "--port", self.link, "--record", self.record,
             image_file],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, stdin=subprocess.DEVNULL)
        os.set_blocking(self.proc.stdout.fileno(), False)
        self.pending = b""
        self.stderr_lines = []
        self.samples = []  # (rss kB, descriptors) after each unit

    def results(self, limit_s, wanted):
        """Reads the tool's events until `wanted` units have ended; returns
        their result names (fewer when the limit passed)."""
        found = []
        end = time.monotonic() + limit_s
        sel = selectors.DefaultSelector()
        sel.register(self.proc.stdout, selectors.EVENT_READ)
        while len(found) < wanted and time.monotonic() < end:
            if not sel.select(timeout=max(0.0, end - time.monotonic())):
                continue
            chunk = self.proc.stdout.read()
            if not chunk:
                if self.proc.poll() is not None:
                    break
                continue
            self.pending += chunk
            while b"\n" in self.pending and len(found) < wanted:
                line, self.pending = self.pending.split(b"\n", 1)
                event = json.loads(line)
                if event.get("event") in ("done", "error"):
                    found.append(event["result"])
        sel.close()
        return found

    def sample(self):
        pid = self.proc.pid
        with open("/proc/%d/status" % pid) as f:
            rss = next(int(l.split()[1]) for l in f if l.startswith("VmRSS:"))
        fds = len(os.listdir("/proc/%d/fd" % pid))
        self.samples.append((rss, fds))

    def records(self):
        if not os.path.exists(self.record):
            return []
        with open(self.record) as f:
            return [json.loads(l) for l in f if l.strip()]

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        try:
            _, err = self.proc.communicate(timeout=30)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            _, err = self.proc.communicate()
        self.stderr_lines = err.decode(errors="replace").splitlines()
        return self.proc.returncode


def start_sim(build, line, options):
    sim = subprocess.Popen(
        [os.path.join(build, "target-sim"), "--type", str(line.machine_type), "--link",
         line.link, "--expect", line.image_file, "--stored"] + options,
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, stdin=subprocess.DEVNULL)
    sim.stdout.readline()  # its device: the link is in place
    return sim


def stop_sim(sim):
    if sim.poll() is None:
        sim.send_signal(signal.SIGTERM)
    try:
        out, _ = sim.communicate(timeout=30)
    except subprocess.TimeoutExpired:
        sim.kill()
        out, _ = sim.communicate()
    lines = out.decode(errors="replace").strip().splitlines()
    return lines[-1] if lines else ""


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--units", type=int, default=50)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--build", default="build/plain")
    parser.add_argument("--verbose", action="store_true")
    args = parser.parse_args()

    rng = random.Random(args.seed)
    folder = tempfile.mkdtemp(prefix="soak-")
    a_image = pattern(A_SIZE, args.seed)
    b_image = pattern(B_SIZE, args.seed + 1)
    files = {}
    # Any bytes make an image file; target-sim is told to expect what the
    # tool makes of them (--stored: unscrambled, for the Quenta 5X).
    for name, data in (("a.UPL", a_image), ("b.EUP", b_image)):
        files[name] = os.path.join(folder, name)
        with open(files[name], "wb") as f:
            f.write(data)

    lines = {
        "A": Line("A", args.build, folder, 1, files["a.UPL"]),
        "B": Line("B", args.build, folder, 0, files["b.EUP"]),
    }
    expected_records = {"A": [], "B": []}
    failures = []
    faults_drawn = {}
    started = time.monotonic()
    for line in lines.values():
        line.sample()

    names = list(FAULTS)
    for unit in range(1, args.units + 1):
        fault = rng.choice(names)
        faults_drawn[fault] = faults_drawn.get(fault, 0) + 1
        which, options, wanted = FAULTS[fault]
        line = lines[which]
        sim = start_sim(args.build, line, options)
        got = line.results(UNIT_LIMIT_S, len(wanted))
        said = stop_sim(sim)
        expected_records[which] += got
        # Received whole: the machine may still be waiting to be asked
        # again for the last block (a repeat the tool, done, never serves).
        whole = "; matches the expected image" in said
        if got != wanted:
            failures.append("unit %d (%s): ended %s, not %s; the machine: %s"
                            % (unit, fault, got, wanted, said))
        if got and got[-1] == "done" and not whole:
            failures.append("unit %d (%s): done, but the machine: %s" % (unit, fault, said))
        if args.verbose:
            print("unit %4d  %-10s  %-22s  %s" % (unit, fault, ",".join(got), said), flush=True)
        line.sample()

    wall = time.monotonic() - started
    statuses = {name: line.stop() for name, line in lines.items()}
    for name, line in lines.items():
        results = [r["result"] for r in line.records()]
        if results != expected_records[name]:
            failures.append("line %s: records %s, units told %s"
                            % (name, results, expected_records[name]))
        for text in line.stderr_lines:
            if "is told the image's length in 16 bits" not in text:  # line B's image
                failures.append("line %s said: %s" % (name, text))
        if statuses[name] not in (1, 143, 0):
            failures.append("line %s exited %s" % (name, statuses[name]))
        # Flat: after the first unit, no growth beyond a page or two of
        # allocator slack, and not one descriptor more.
        first = line.samples[1] if len(line.samples) > 1 else line.samples[0]
        peak_rss = max(s[0] for s in line.samples[1:] or line.samples)
        peak_fds = max(s[1] for s in line.samples[1:] or line.samples)
        print("line %s: %d units, RSS first %d kB, peak %d kB, last %d kB; "
              "descriptors first %d, peak %d, last %d"
              % (name, len(results), first[0], peak_rss, line.samples[-1][0], first[1],
                 peak_fds, line.samples[-1][1]))
        if peak_rss > first[0] + 1024:
            failures.append("line %s: RSS grew from %d kB to %d kB" % (name, first[0], peak_rss))
        if peak_fds > first[1]:
            failures.append("line %s: descriptors grew from %d to %d" % (name, first[1], peak_fds))

    print("soak: %d units, seed %d, %.0f s; faults: %s"
          % (args.units, args.seed, wall,
             ", ".join("%s %d" % (k, faults_drawn[k]) for k in names if k in faults_drawn)))
    for failure in failures:
        print("FAIL: " + failure)
    print("soak: %s" % ("passed" if not failures else "%d failures" % len(failures)))
    return 0 if not failures else 1


if __name__ == "__main__":
    sys.exit(main())
