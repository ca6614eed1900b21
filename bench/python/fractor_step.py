#!/usr/bin/env python3
"""The Fractor plant's period written the usual Python way, for comparison
with the C++ task(): one scipy.signal.lfilter call per path and period, a
dict of tags, numpy ring buffers for the statistics windows.

  fractor_step.py bench [--periods N]   one JSON line: CPU and wall µs per period
  fractor_step.py check [--steps N] [--set TAG=VALUE@K ...]
      runs varnok-batch with the same writes (noise and random DVs off) and
      prints CV1 of both side by side and the largest difference of any CV
"""

import argparse
import json
import math
import subprocess
import sys
import time
from pathlib import Path

try:
    import numpy as np
    from scipy.signal import cont2discrete, lfilter
except ImportError as e:
    sys.exit(f"fractor_step: {e.name} is missing; run scripts/setup (numpy and scipy for /usr/bin/python3)")

TS = 1.0
N = 100000  # length of every noise and DV sequence; the period index wraps
WINDOW = 600  # ten minutes of periods

# CV -> input -> (gain, time constant s, dead time s) of K·e^(−D·s)/(T·s + 1),
# as in src/varnok/Fractor/fractor_model.cpp.
PLANT = {
    "CV1": {"MV1": (4.05, 50, 25), "MV2": (1.77, 60, 27), "MV3": (5.88, 50, 25),
            "DV1": (1.2, 45, 25), "DV2": (1.44, 40, 25)},
    "CV2": {"MV1": (5.39, 50, 17), "MV2": (5.72, 60, 17), "MV3": (6.9, 40, 15),
            "DV1": (1.52, 25, 15), "DV2": (1.83, 20, 15)},
    "CV3": {"MV1": (3.66, 9, 4), "MV2": (1.65, 30, 4), "MV3": (5.53, 40, 6),
            "DV1": (1.16, 11, 4), "DV2": (1.27, 6, 4)},
    "CV4": {"MV1": (5.92, 12, 8), "MV2": (2.54, 27, 9), "MV3": (8.1, 20, 9),
            "DV1": (1.73, 5, 8), "DV2": (1.79, 19, 9)},
    "CV5": {"MV1": (4.13, 8, 5), "MV2": (2.38, 19, 7), "MV3": (6.23, 10, 5),
            "DV1": (1.31, 2, 5), "DV2": (1.26, 22, 5)},
    "CV6": {"MV1": (4.06, 13, 7), "MV2": (4.18, 33, 7), "MV3": (6.53, 9, 5),
            "DV1": (1.19, 19, 5), "DV2": (1.17, 24, 5)},
    "CV7": {"MV1": (4.38, 33, 15), "MV2": (4.42, 44, 15), "MV3": (7.2, 19, 15),
            "DV1": (1.14, 27, 16), "DV2": (1.26, 32, 17)},
}
CVS = list(PLANT)
OPEN_CVS = ["OPEN_" + cv for cv in CVS]

INITIAL = {"MV1": 15.0, "MV2": 20.0, "MV3": 35.0, "DV1": 10.0, "DV2": 10.0,
           **{cv: 31.0 + i for i, cv in enumerate(CVS)},
           "SET_CV_STD": 1, "SET_DV_RANDOM": 1}
INITIAL.update({"OPEN_" + tag: INITIAL[tag] for tag in ("MV1", "MV2", "MV3", *CVS)})
INITIAL.update({cv + "std_10min": 0.0 for cv in CVS + OPEN_CVS})
INITIAL.update({"RunCount": 0, **{f"BK{i}": 0.0 for i in range(1, 9)}})


def discretise(gain, time_constant, dead_time):
    """(b, a) for lfilter, giving a period's output at the end of that period.

    cont2discrete's numerator gives y[k] from u[k-1]; varnok reports the value
    at the end of the period over which u[k] was held, so that leading zero
    goes and the dead time's whole periods come in as leading zeros instead.
    """
    lag = dead_time / TS
    if lag != int(lag):
        raise ValueError(f"dead time {dead_time} s is not a whole number of periods")
    num, den, _ = cont2discrete(([gain], [time_constant, 1.0]), TS, method="zoh")
    num = num.ravel()
    assert num[0] == 0.0, "a first-order lag discretises to a strictly proper filter"
    return np.concatenate((np.zeros(int(lag)), num[1:])), den


class Window:
    """The last WINDOW values in a numpy ring buffer; population std."""

    def __init__(self):
        self.buffer = np.zeros(WINDOW)
        self.next = 0
        self.size = 0

    def append(self, value):
        self.buffer[self.next] = value
        self.next = (self.next + 1) % WINDOW
        self.size = min(self.size + 1, WINDOW)

    def std(self):
        return float(np.std(self.buffer[:self.size])) if self.size else 0.0


class Copy:
    """One copy of the plant (main or OPEN_): per path its filter and saved state,
    working in deviations from the initial values like MIMOSim."""

    def __init__(self, prefix):
        rename = (lambda tag: tag) if not prefix else (
            lambda tag: prefix + tag if tag.startswith(("MV", "CV")) else tag)
        self.cvs = [rename(cv) for cv in CVS]
        self.y0 = [INITIAL[cv] for cv in self.cvs]
        self.paths = []  # [cv index, input tag, u0, b, a, zi]
        for i, cv in enumerate(CVS):
            for tag, (gain, tau, dead) in PLANT[cv].items():
                b, a = discretise(gain, tau, dead)
                zi = np.zeros(max(len(a), len(b)) - 1)
                self.paths.append([i, rename(tag), INITIAL[rename(tag)], b, a, zi])

    def run(self, data, noise):
        y = list(self.y0)
        for path in self.paths:
            i, tag, u0, b, a, zi = path
            out, path[5] = lfilter(b, a, [data[tag] - u0], zi=zi)
            y[i] += out[0]
        for i, cv in enumerate(self.cvs):
            data[cv] = y[i] + noise[i]


def coloured(rng, b, a):
    return lfilter(b, a, rng.standard_normal(N))


class Fractor:
    def __init__(self, seed=1):
        self.data = dict(INITIAL)
        self.main = Copy("")
        self.open = Copy("OPEN_")
        # Same shapes of noise and DV walks as the C++ plant; the draws differ
        # (numpy's generator), which the timing does not depend on.
        rng = np.random.default_rng(seed)
        second_pole = (-0.99, -0.99, -0.98, -0.98, -0.97, -0.98, -0.98)
        self.v = []
        for pole in second_pole:
            x = coloured(rng, [1.0, -0.5, 0.7], np.convolve([1.0, -0.95], [1.0, pole]))
            self.v.append((x - x.mean()) / x.std())
        self.dv = {}
        for tag, fast_weight, amplitude in (("DV1", 5.5, 1.3), ("DV2", 9.5, 0.9)):
            slow = coloured(rng, [1.0, 0.7], np.convolve([1.0, -0.95], [1.0, -0.95]))
            walk = slow + fast_weight * coloured(rng, [1.0, 0.7], np.convolve([1.0, -0.15], [1.0, -0.19]))
            walk -= walk.mean()
            self.dv[tag] = amplitude * walk / walk.std() + INITIAL[tag]
        self.windows = [(cv, cv + "std_10min", Window()) for cv in CVS + OPEN_CVS]

    def task(self, count):
        data = self.data
        k = count % N
        level = data["SET_CV_STD"]
        vstd = level if level > 0 else 0
        noise = [vstd * v[k] for v in self.v]  # both copies get the same sample
        if data["SET_DV_RANDOM"] > 0.5:
            data["DV1"] = self.dv["DV1"][k]
            data["DV2"] = self.dv["DV2"][k]
        self.main.run(data, noise)
        self.open.run(data, noise)
        for cv, std_tag, window in self.windows:
            window.append(data[cv])
            data[std_tag] = window.std()
        data["RunCount"] = count


def bench(periods, warmup):
    plant = Fractor()
    count = 0
    # Fill the windows first: the C++ benchmark runs with them full.
    for _ in range(warmup):
        count += 1
        plant.task(count)
    cpu, wall = time.process_time(), time.perf_counter()
    for _ in range(periods):
        count += 1
        plant.task(count)
    cpu, wall = time.process_time() - cpu, time.perf_counter() - wall
    print(json.dumps({"periods": periods, "cpu_us": cpu / periods * 1e6, "wall_us": wall / periods * 1e6}))


def parse_write(text):
    try:
        tag, rest = text.split("=", 1)
        value, period = rest.rsplit("@", 1)
        write = (tag, float(value), int(period))
    except ValueError:
        raise argparse.ArgumentTypeError(f'"{text}": expected TAG=VALUE@PERIOD') from None
    if write[0] not in INITIAL or write[2] < 1:
        raise argparse.ArgumentTypeError(f'"{text}": unknown tag or period below 1')
    return write


def check(steps, writes, batch, shown):
    writes = [("SET_CV_STD", 0.0, 1), ("SET_DV_RANDOM", 0.0, 1), *writes]
    tags = CVS + OPEN_CVS
    command = [str(batch), "varnok.Fractor", "Fractor", "--steps", str(steps), "--tags", ",".join(tags)]
    for tag, value, period in writes:
        command += ["--set", f"{tag}={value!r}@{period}"]
    try:
        result = subprocess.run(command, capture_output=True, text=True, timeout=120, check=True)
    except FileNotFoundError:
        sys.exit(f"fractor_step: {batch} not found; run scripts/build release")
    except subprocess.CalledProcessError as e:
        sys.exit(f"fractor_step: {batch} failed: {e.stderr.strip()}")
    except subprocess.TimeoutExpired:
        sys.exit(f"fractor_step: {batch} did not finish in 120 s")
    reference = [[float(x) for x in line.split(",")[1:]] for line in result.stdout.splitlines()[1:]]
    if len(reference) != steps or any(len(row) != len(tags) for row in reference):
        sys.exit(f"fractor_step: unexpected output from {batch}")

    plant = Fractor()
    worst = 0.0
    moved = None  # first period in which CV1 left its initial value
    print("period,CV1 python,CV1 C++,difference")
    for period in range(1, steps + 1):
        for tag, value, at in writes:
            if at == period:
                plant.data[tag] = value
        plant.task(period)
        ours = [plant.data[tag] for tag in tags]
        theirs = reference[period - 1]
        # np.maximum, unlike max(), keeps a NaN so that it fails the check.
        worst = float(np.maximum(worst, np.max(np.abs(np.subtract(ours, theirs)))))
        if moved is None and ours[0] != INITIAL["CV1"]:
            moved = period
        if period in shown or (moved is not None and period - moved < 3):
            print(f"{period},{ours[0]!r},{theirs[0]!r},{ours[0] - theirs[0]:.3g}")
    print(f"largest |difference| of CV1..CV7, OPEN_CV1..OPEN_CV7 over {steps} periods: {worst:.3g}")
    return worst


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="mode", required=True)
    b = sub.add_parser("bench", help="time the period")
    b.add_argument("--periods", type=int, default=3000)
    b.add_argument("--warmup", type=int, default=WINDOW)
    c = sub.add_parser("check", help="compare with varnok-batch")
    c.add_argument("--steps", type=int, default=300)
    c.add_argument("--set", dest="writes", type=parse_write, action="append",
                   help="TAG=VALUE@K: write VALUE to TAG before period K (default: MV1=16@1)")
    c.add_argument("--batch", type=Path, help="varnok-batch to compare with (default: the release build's)")
    c.add_argument("--tolerance", type=float, default=1e-9)
    args = parser.parse_args()

    if args.mode == "bench":
        if args.periods < 1 or args.warmup < 0:
            parser.error("--periods must be at least 1 and --warmup at least 0")
        bench(args.periods, args.warmup)
        return 0
    if args.steps < 1:
        parser.error("--steps must be at least 1")
    writes = args.writes or [("MV1", 16.0, 1)]
    if any(period > args.steps for _, _, period in writes):
        parser.error("a --set period is after the last step")
    shown = set(range(1, args.steps + 1, max(1, args.steps // 10))) | {args.steps}
    batch = args.batch or Path(__file__).resolve().parent.parent.parent / "build" / "bin" / "varnok-batch"
    worst = check(args.steps, writes, batch, shown)
    return 0 if math.isfinite(worst) and worst <= args.tolerance else 1


if __name__ == "__main__":
    sys.exit(main())
