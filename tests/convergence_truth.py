#!/usr/bin/env python3
"""Checks the convergence tool's verdicts against the program itself.

    tests/convergence_truth.py [--seed S] [--cases N] [--jobs J] [--window-every K] [--grid-every K]
                               [--tool PATH] [--program PATH] [--compare OLD_TOOL]
                               [--quick] [--case "N L mi ro f Uin D0 cd dt itmax"]

Draws random cases from the seed (water, oils and gases; straight, frictionless,
narrowing and widening ducts; N = 5..400, itmax = 1..6000, dt from a third of the
grid's time-step floor, as the tool states it, to 300 passage times L/Uin), runs
the tool (default build/convergence) on each one in a folder of its own, and runs
the program (default build/moody) with chosen itmax to see whether it holds:

  1. converged: the printed outlet pressure within 1e-9 of the settled value (the
     program run on until doubling the passes moves it by no more than 1e-12), and
     status 0 when K <= itmax, 3 when K > itmax;
  2. the program with itmax = K within 1e-6 of the settled value ("K short" when
     not); with K-1 outside (within: "K long", a figure, not a failure);
  3. diverging: the program run long (and twice as long) does not settle to 1e-9
     ("false divergence"); how far ahead of the program's own fault the tool saw it;
  4. converged, but the program faults on the long runs, or they wander apart by
     more than 1e-6 ("missed divergence"); a run still creeping by more than 1e-12
     but less than 1e-6 after about 1e6 passes is "unsettled", not a failure;
  5. a fault in pass P: the program with itmax = P stops with the code named, with
     P-1 it ends normally;
  6. the cap: the program's outlet pressure must not settle by a quarter of the cap;
  7. every K-th case, --window: its dt with its passes gives the settled value at
     that dt within 1e-6;
  9. converged and settled (N >= 4): convergence --steady, the steady solution of
     the discrete equations, within 1e-9 of the settled value;
 10. every K-th case (--grid-every), convergence --grid: each grid's folder run by
     the program gives the outlet pressure the table prints (to its 10 digits), and
     that value is within 2e-9 of convergence --steady on the folder, whether the
     grid's dt came from the window search or from the round foreseen from the
     coarser grid (the figures count both);
  8. the wall time of every tool run; with --compare, OLD_TOOL on the same cases.

Relative figures are taken against max(|settled|, q/1000), q = 0.5*ro*Uin^2.
One line per failing check, with --case text to run it again; then a table of
figures.  Exit status 0 when every check held, 1 when one failed, 2 for usage.
At small N the floor is tiny (N = 5: some 1e-100 s), so many cases run at a dt
decades below any useful one; each failure line gives dt/T, and the table counts
the failures below 1e-9 T.
Time: --quick (8 small cases) about 5 to 8 s; 200 cases one to two minutes on two
cores (one case can take up to about 20 s: 1e6 passes at N = 400).
"""

import argparse
import concurrent.futures
import math
import os
import random
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
NUMBER = r"[-+]?(?:\d+\.?\d*|\.\d+)(?:[eEdD][-+]?\d+)?"
SETTLE_LIMIT = 1 << 20   # passes: about a million
CAP = 100000
TIMEOUT = 900            # s, for any one process
NAMES = ("N", "L", "mi", "ro", "f", "Uin", "D0", "cd", "dt", "itmax")


def sig6(v):
    return float(f"{v:.6g}")


def log_uniform(rng, lo, hi):
    return math.exp(rng.uniform(math.log(lo), math.log(hi)))


class Case:
    """One dados.txt: the ten values that vary, as written (six digits)."""

    def __init__(self, values):
        self.v = dict(zip(NAMES, values))
        self.v["N"], self.v["itmax"] = int(self.v["N"]), int(self.v["itmax"])

    def __getattr__(self, name):
        try:
            return self.__dict__["v"][name]
        except KeyError:
            raise AttributeError(name) from None

    @property
    def dt_ratio(self):  # dt over the passage time L/Uin
        return self.dt * self.Uin / self.L

    @property
    def q(self):
        return 0.5 * self.ro * self.Uin ** 2

    def text(self, **changed):
        v = dict(self.v, **changed)
        return " ".join(written(v[n]) for n in NAMES)

    def write(self, folder, **changed):
        v = dict(self.v, **changed)
        lines = [f"{written(v[n])}   {n}" for n in NAMES[:9]]
        lines += ["1   beta", f"{v['itmax']}   itmax", "20   itmaxm"]
        folder.mkdir(parents=True, exist_ok=True)
        (folder / "dados.txt").write_text("\n".join(lines) + "\n")


def written(value):
    """A value as dados.txt holds it: six digits, or a text as printed by the tool."""
    return value if isinstance(value, str) else f"{value:.6g}"


def draw(rng, quick):
    """A case without its dt, and the draw that picks dt once the floor is known."""
    fluid = rng.choice(("water", "oil", "gas"))
    if fluid == "water":
        ro, mi = rng.uniform(995, 1000), rng.uniform(0.8e-3, 1.2e-3)
    elif fluid == "oil":
        ro, mi = rng.uniform(800, 950), log_uniform(rng, 0.01, 1)
    else:
        ro, mi = log_uniform(rng, 0.5, 5), rng.uniform(1e-5, 2e-5)
    L, D0 = sig6(log_uniform(rng, 0.1, 10)), sig6(log_uniform(rng, 0.005, 0.5))
    duct = rng.choice(("plain", "straight", "narrowing", "widening", "widening", "strong"))
    ratio = {"plain": 1, "straight": 1, "narrowing": rng.uniform(0.3, 0.95),
             "widening": rng.uniform(1.05, 2), "strong": rng.uniform(2, 6)}[duct]
    f = 0.0 if duct == "plain" else rng.uniform(0.0, 0.05)
    top = 40 if quick else 400
    N = round(5 * (top / 5) ** (rng.random() ** 2))       # small N more often
    itmax = round(log_uniform(rng, 1, 600 if quick else 6000))
    Uin = log_uniform(rng, 0.01, 20)
    values = [N, L, mi, ro, f, Uin, D0, D0 * (ratio - 1) / L, 0.0, itmax]
    return Case([v if i in (0, 9) else sig6(v) for i, v in enumerate(values)]), rng.random()


def floor_of(tool, case, folder):
    """The time-step floor the tool states before its run; the run is stopped."""
    case.write(folder, dt=sig6(case.L / case.Uin) if case.Uin > 0 else 1.0, itmax=1)
    proc = subprocess.Popen([tool, str(folder)], stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    try:
        for line in proc.stdout:
            if "floor" in line:
                m = re.search(r"floor[^:]*:\s*(" + NUMBER + ")", line)
                return float(m.group(1)) if m else None
        return None
    finally:
        proc.kill()
        proc.wait()


def run_tool(tool, folder, *flags):
    start = time.perf_counter()
    r = subprocess.run([tool, *flags, str(folder)], stdin=subprocess.DEVNULL,
                       capture_output=True, text=True, timeout=TIMEOUT)
    return r.returncode, r.stdout, time.perf_counter() - start


def parse_verdict(status, out):
    """What the tool says: kind, outlet value, K, passes run, pass and code of a fault."""
    lines = out.splitlines()
    starts = lambda word: [l for l in lines if l.strip().lower().startswith(word)]
    v = {"status": status, "kind": "unknown", "value": None, "K": None, "ran": None}
    m = re.findall(r"outlet pressure:\s*(" + NUMBER + ")", out)
    v["value"] = float(m[-1]) if m else None
    m = re.findall(r"passes needed:\s*(\d+|none)", out)
    v["K"] = int(m[-1]) if m and m[-1] != "none" else None
    rows = [int(m.group(1)) for m in
            (re.match(r"\s*(\d+)(?:\s+" + NUMBER + "){4}", l) for l in lines) if m]
    v["ran"] = max(rows) if rows else v["K"]
    if status in (0, 3) and v["value"] is not None and v["K"] is not None:
        v["kind"] = "converged"
    elif starts("diverging"):
        passes = [int(p) for p in re.findall(r"pass (\d+)", starts("diverging")[0])]
        v["kind"], v["D"] = "diverging", max(passes) if passes else None
    elif starts("floating-point"):
        line = starts("floating-point")[0]
        code, p = re.search(r"M400\d", line), re.search(r"in pass (\d+)", line)
        v["kind"], v["code"] = "fault", code.group(0) if code else None
        v["P"] = int(p.group(1)) if p else (0 if "before pass 1" in line else None)
    elif starts("neither converged nor diverging"):
        v["kind"] = "cap"
    elif starts("stuck"):
        line = starts("stuck")[0]
        s, m = re.search(r"from pass (\d+)", line), re.search(r"every (\d+) passes", line)
        v["kind"], v["S"] = "stuck", int(s.group(1)) if s else None
        v["M"] = int(m.group(1)) if m else (1 if "no longer change" in line else None)
    elif status == 1:
        v["kind"] = "input error"
    return v


class Program:
    """build/moody in a folder of its own, with an editor and plotter that return at once."""

    def __init__(self, path, scratch):
        self.path = path
        stubs = scratch / "stubs"
        stubs.mkdir()
        for name in ("notepad", "wgnuplot"):
            (stubs / name).write_text("#!/bin/sh\nexit 0\n")
            (stubs / name).chmod(0o755)
        self.env = dict(os.environ, PATH=f"{stubs}:/usr/bin:/bin")

    def run(self, case, folder, itmax, dt=None):
        """(status, outlet pressure or None, error code, pass of a fault)."""
        case.write(folder, itmax=itmax, **({"dt": dt} if dt is not None else {}))
        r = subprocess.run([self.path], cwd=folder, stdin=subprocess.DEVNULL, env=self.env,
                           capture_output=True, text=True, timeout=TIMEOUT)
        code = re.search(r"\b[FM]\d{4}\b", r.stderr)
        fault = re.search(r"outer iteration (\d+)", r.stderr)
        p = None
        if r.returncode == 0:
            last = (folder / "p.dat").read_text(encoding="latin-1").split()
            p = float(last[-1]) if last else None
        return (r.returncode, p, code.group(0) if code else None,
                int(fault.group(1)) if fault else None)

    @staticmethod
    def files(folder):
        """u.dat and p.dat of the last run in the folder."""
        return tuple((folder / name).read_bytes() for name in ("u.dat", "p.dat"))


def rel(case, a, b):
    """|a - b| against b, or against q/1000 for a pressure near zero."""
    return abs(a - b) / max(abs(b), case.q / 1000, 1e-300)


def settle(prog, case, folder, start, dt=None):
    """Runs the program on, doubling itmax, until the outlet pressure settles to 1e-12.

    Returns ("settled", value), ("fault", itmax, code), or, when the limit is reached,
    ("apart" if the last two runs differ by more than 1e-6, else "unsettled",
    difference, itmax of the first of them)."""
    m1 = start
    s1, p1, c1, _ = prog.run(case, folder, m1, dt)
    while True:
        if s1 != 0:
            return "fault", m1, c1
        m2 = 2 * m1
        s2, p2, c2, _ = prog.run(case, folder, m2, dt)
        if s2 != 0:
            return "fault", m2, c2
        d = rel(case, p1, p2)
        if d <= 1e-12:
            return "settled", p2
        if m2 >= SETTLE_LIMIT:
            return ("apart" if d > 1e-6 else "unsettled"), d, m1
        m1, s1, p1 = m2, s2, p2


class Result:
    def __init__(self, index, case):
        self.index, self.case = index, case
        self.failures, self.fig = [], {}

    def fail(self, tag, detail):
        self.failures.append(f"FAIL case {self.index} [{tag}] {detail}\n"
                             f"    --case \"{self.case.text()}\"  (dt/T = {self.case.dt_ratio:.3g})")


def note(what, case):
    """A line on a case worth a look that is no failure, with TRUTH_NOTES set."""
    if os.environ.get("TRUTH_NOTES"):
        print(f"note: {what}: --case \"{case.text()}\"")


STEADY = re.compile(r"^steady solution of the discrete equations: (" + NUMBER + ") Pa$", re.M)


def check_steady(r, case_folder, settled):
    """convergence --steady gives the value the program settles to, within 1e-9."""
    if r.case.N < 4 or r.case.dt_ratio < 1e-9:  # below, the iteration stands still by rounding
        return
    status, out, _ = run_tool(r.tool, case_folder, "--steady")
    m = STEADY.search(out)
    if status != 0 or not m:
        return r.fail("steady", f"--steady ends with status {status}: {out[-300:]!r}")
    err = r.fig["steady error"] = rel(r.case, float(m.group(1)), settled)
    if err > 1e-9:
        r.fail("steady", f"--steady gives {m.group(1)}, settled {settled!r}: {err:.3g} off")


def check_converged(r, v, prog, folder):
    c = r.case
    if (v["status"] == 0) != (v["K"] <= c.itmax):
        r.fail("status", f"status {v['status']} with K = {v['K']}, itmax = {c.itmax}")
    s = settle(prog, c, folder, max(3 * (v["ran"] or v["K"]), 2000))
    if s[0] == "fault":
        return r.fail("missed divergence", f"the program stops with {s[2]} at itmax = {s[1]}")
    if s[0] == "apart":
        return r.fail("missed divergence", f"still moving by {s[1]:.3g} from itmax = {s[2]} "
                                           f"to {2 * s[2]}")
    if s[0] == "unsettled":
        r.fig["unsettled"] = True
        return
    settled = s[1]
    check_steady(r, folder.parent, settled)
    err = r.fig["error"] = rel(c, v["value"], settled)
    if err > 5e-10:
        note(f"case {r.index} printed value {err:.3g} off", c)
    if err > 1e-9:
        r.fail("value", f"printed {v['value']!r}, settled {settled!r}: {err:.3g} off")
    st, pk, _, _ = prog.run(c, folder, v["K"])
    if st != 0 or rel(c, pk, settled) > 1e-6:
        r.fail("K short", f"itmax = K = {v['K']} gives {pk!r}, settled {settled!r}")
    if v["K"] > 1:
        st, pk, _, _ = prog.run(c, folder, v["K"] - 1)
        if st == 0 and rel(c, pk, settled) <= 1e-6:
            r.fig["long"] = rel(c, pk, settled)
            if v["K"] <= 10000:  # every pass counts there: K is exact but for the margin
                r.fig["long exact"] = True
                note(f"K-1 within, case {r.index}", c)


def check_diverging(r, v, prog, folder):
    c, d = r.case, v.get("D") or 1
    m1 = min(max(20 * d, 200000), 500000)
    runs = [prog.run(c, folder, m) for m in (m1, 2 * m1)]
    faulted = [run for run in runs if run[0] != 0]
    if faulted:
        if faulted[0][3] is not None:
            r.fig["lead"] = faulted[0][3] - d
        return
    p2 = steady(prog, c, folder, runs, 2 * m1, 1e-9)
    if p2 is not None:
        r.fail("false divergence", f"diverging at pass {d}, yet the program settles to "
                                   f"{p2!r} Pa by {2 * m1} passes")


def check_fault(r, v, prog, folder):
    c, p, code = r.case, v.get("P"), v.get("code")
    if p is None or code is None:
        return r.fail("fault", "no pass or code in the fault verdict")
    st, _, got, _ = prog.run(c, folder, max(p, 1))
    if st == 0 or got != code:
        r.fail("fault", f"itmax = {max(p, 1)}: status {st}, code {got}, the tool named {code}")
    if p > 1:
        st, _, got, _ = prog.run(c, folder, p - 1)
        if st != 0:
            r.fail("fault", f"itmax = {p - 1} already stops, with {got}; the tool said pass {p}")


def steady(prog, c, folder, runs, m, tolerance):
    """The outlet pressure when the runs given and those of m + 1 and m + 2 passes all end
    normally within `tolerance` of each other (a run that goes round a cycle of passes or
    wanders agrees at some lengths only), else None."""
    runs = runs + [prog.run(c, folder, m + j) for j in (1, 2)]
    if any(run[0] != 0 for run in runs):
        return None
    values = [run[1] for run in runs]
    return values[-1] if all(rel(c, p, values[-1]) <= tolerance for p in values) else None


def check_cap(r, v, prog, folder):
    """A cap verdict is wrong when the program's files stop changing: u.dat and p.dat the
    same after a quarter and half the cap and one and two passes more (an outlet pressure
    at rest while the velocities still creep has not settled)."""
    c = r.case
    quarter = max(CAP, c.itmax) // 4
    files = set()
    for m in (quarter, 2 * quarter, 2 * quarter + 1, 2 * quarter + 2):
        st, p, _, _ = prog.run(c, folder, m)
        if st != 0:
            return
        files.add(prog.files(folder))
    if len(files) == 1:
        r.fail("cap", f"cap but settles at pass {quarter} or before, to {p!r} Pa")


def check_stuck(r, v, prog, folder):
    """The fields repeat from pass S every M passes: so do the program's files."""
    c, s, m = r.case, v.get("S"), v.get("M")
    if s is None or m is None:
        return r.fail("stuck", "no pass or period in the stuck verdict")
    files = []
    for itmax in (s + m, s + 6 * m):
        st, _, code, _ = prog.run(c, folder, itmax)
        if st != 0:
            return r.fail("stuck", f"itmax = {itmax}: status {st}, {code}")
        files.append(prog.files(folder))
    if files[0] != files[1]:
        r.fail("stuck", f"u.dat and p.dat differ at itmax = {s + m} and {s + 6 * m}")


def check_window(r, tool, prog, folder):
    status, out, seconds = run_tool(tool, folder, "--window")
    r.fig["window time"] = seconds
    dt = re.findall(r"recommended dt:\s*(" + NUMBER + "|none)", out)
    k = re.findall(r"passes needed:\s*(\d+|none)", out)
    if not dt or not k or (dt[-1] == "none") != (k[-1] == "none"):
        return r.fail("window", f"status {status}, no recommended dt and passes read")
    if dt[-1] == "none":
        r.fig["window"] = "none"
        return
    dt, k, runs = dt[-1], int(k[-1]), folder / "runs"
    st, pk, code, _ = prog.run(r.case, runs, k, dt)
    s = settle(prog, r.case, runs, max(3 * k, 2000), dt)
    if s[0] == "unsettled":
        r.fig["window"] = "unsettled"
    elif s[0] != "settled" or st != 0:
        r.fail("window", f"dt = {dt} with {k} passes: status {st} {code or ''}; "
                         f"long runs: {s}")
    elif rel(r.case, pk, s[1]) > 1e-6:
        r.fail("window", f"dt = {dt} with {k} passes gives {pk!r}, settled {s[1]!r}")
    else:
        r.fig["window"] = "held"


GRID_ROW = re.compile(r"^\s*(\d+)\s+" + NUMBER + r"\s+(" + NUMBER + r")\*?\s+(\d+)\s+("
                      + NUMBER + r")\s")


def check_grid(r, tool, prog, folder):
    status, out, seconds = run_tool(tool, folder, "--grid")
    r.fig["grid time"] = seconds
    if status not in (0, 4, 5):  # 4: a grid does not converge; 5: not monotonic
        return r.fail("grid", f"status {status}:\n" + out[-400:])
    rows = [GRID_ROW.match(line) for line in out.split("\n\n")[1].splitlines()]
    rows = [m for m in rows if m]
    legend = re.search(r"for N = ([\d, ]+), the fewest passes of a round", " ".join(out.split()))
    foreseen = {int(n) for n in legend.group(1).split(",")} if legend else set()
    if re.search(r"^dt: the fewest passes of a round", out, re.M):
        foreseen = {int(m.group(1)) for m in rows}
    for m in rows:
        N, outlet = int(m.group(1)), float(m.group(4))
        grid = folder / f"malha-{N}"
        run = subprocess.run([prog.path], cwd=grid, stdin=subprocess.DEVNULL, env=prog.env,
                             capture_output=True, text=True, timeout=TIMEOUT)
        last = (grid / "p.dat").read_text(encoding="latin-1").split() if run.returncode == 0 else []
        st, steady_out, _ = run_tool(tool, grid, "--steady")
        steady = re.search(r"steady solution of the discrete equations:\s*(" + NUMBER + ")",
                           steady_out)
        where = f"N = {N} ({'foreseen' if N in foreseen else 'searched'})"
        if not last or rel(r.case, float(last[-1]), outlet) > 1e-9:
            r.fail("grid", f"{where}: the folder's run gives {last[-1:] or run.returncode}, "
                           f"the table {outlet!r}")
        elif steady and rel(r.case, float(steady.group(1)), outlet) > 2e-9:
            r.fail("grid", f"{where}: {outlet!r}, steady {steady.group(1)}")
    r.fig["grids"] = len(rows)
    r.fig["grids foreseen"] = len(foreseen)


CHECKS = {"converged": check_converged, "diverging": check_diverging,
          "fault": check_fault, "cap": check_cap, "stuck": check_stuck}


def check_case(index, case, u, args, prog, scratch):
    """Runs the tool (and OLD_TOOL) on one case and every check its verdict calls for."""
    folder = scratch / f"case-{index}"
    runs = folder / "runs"
    if u is not None:  # dt from a third of the floor to 300 passage times
        floor = floor_of(args.tool, case, folder) or case.L / case.Uin / 1000
        lo, hi = sorted((floor / 3, 300 * case.L / case.Uin))
        case.v["dt"] = sig6(lo * (hi / lo) ** u)
    case.write(folder)
    r = Result(index, case)
    r.tool = args.tool
    order = [args.tool, args.compare] if index % 2 == 0 else [args.compare, args.tool]
    for tool in filter(None, order):
        status, out, seconds = run_tool(tool, folder)
        r.fig["old time" if tool == args.compare else "time"] = seconds
        if tool == args.tool:
            v = parse_verdict(status, out)
    r.fig["kind"] = v["kind"]
    if v["kind"] in ("diverging", "fault", "cap", "stuck") and v["status"] != 4:
        r.fail("status", f"status {v['status']} with a {v['kind']} verdict")
    try:
        if v["kind"] in CHECKS:
            CHECKS[v["kind"]](r, v, prog, runs)
        else:
            r.fail("verdict", f"status {v['status']}, no verdict read:\n" + out[-400:])
        if args.window_every and index % args.window_every == 0:
            check_window(r, args.tool, prog, folder)
        if args.grid_every and index % args.grid_every == args.grid_every - 1:
            check_grid(r, args.tool, prog, folder)
    except subprocess.TimeoutExpired as e:
        r.fail("timeout", f"{e.cmd} ran {e.timeout} s")
    shutil.rmtree(folder, ignore_errors=True)
    return r


def figures(results, wall):
    """The table printed at the end."""
    fig = lambda key: [r.fig[key] for r in results if key in r.fig]
    tags = lambda tag: sum(f"[{tag}]" in x for r in results for x in r.failures)
    spread = lambda t: f"{statistics.median(t):.3f}, {sum(t):.2f}" if t else "-"
    kinds, windows = fig("kind"), fig("window")
    errors, longs, leads = fig("error"), fig("long"), fig("lead")
    exact_longs = fig("long exact")
    rows = [
        ("cases", len(results)),
        ("verdicts", ", ".join(f"{k} {kinds.count(k)}" for k in sorted(set(kinds)))),
        ("converged: worst error of the printed value",
         f"{max(errors):.3g} ({len(errors)} settled)" if errors else "-"),
        ("converged: value > 1e-9 off", tags("value")),
        ("steady solution: worst error against the settled value",
         f"{max(fig('steady error')):.3g} ({len(fig('steady error'))} compared)"
         if fig("steady error") else "-"),
        ("steady solution: > 1e-9 off, or not solved", tags("steady")),
        ("converged: status against K and itmax wrong", tags("status")),
        ("converged: unsettled by about 1e6 passes", len(fig("unsettled"))),
        ("K short", tags("K short")),
        ("K long by one or more (K-1 checked only)",
         f"{len(longs)} ({len(exact_longs)} with K <= 10000), K-1 already {min(longs):.3g} "
         "from the settled value" if longs else 0),
        ("diverging: false divergence", tags("false divergence")),
        ("diverging: program faults, tool ahead by (passes)",
         f"{len(leads)}, median {statistics.median(leads):.0f}, least {min(leads)}"
         if leads else "-"),
        ("missed divergence", tags("missed divergence")),
        ("fault: pass or code wrong", tags("fault")),
        ("cap: settles well before the cap", tags("cap")),
        ("stuck: the files not repeating", tags("stuck")),
        ("window: checked, held, none, unsettled", f"{len(windows)}, " +
         ", ".join(str(windows.count(w)) for w in ("held", "none", "unsettled"))),
        ("window: failed", tags("window")),
        ("grid: studies, grids, grids foreseen",
         f"{len(fig('grids'))}, {sum(fig('grids'))}, {sum(fig('grids foreseen'))}"),
        ("grid: a folder or a steady value off", tags("grid")),
        ("unreadable verdicts", tags("verdict")),
        ("failed checks at dt < 1e-9 T, far below any useful dt",
         sum(len(r.failures) for r in results if r.case.dt_ratio < 1e-9)),
        ("tool runs: median, total (s)", spread(fig("time"))),
        ("tool --window runs: median, total (s)", spread(fig("window time"))),
        ("tool --grid runs: median, total (s)", spread(fig("grid time"))),
    ]
    old = [(r.fig["time"], r.fig["old time"]) for r in results if "old time" in r.fig]
    if old:
        ratios = [new / max(was, 1e-9) for new, was in old]
        medians = statistics.median(t for t, _ in old) / statistics.median(t for _, t in old)
        rows.append(("new/old: median of ratios, ratio of medians",
                     f"{statistics.median(ratios):.3f}, {medians:.3f}"))
    rows.append(("wall time of this check (s)", f"{wall:.1f}"))
    width = max(len(name) for name, _ in rows)
    return "\n".join(f"{name:<{width}}  {value}" for name, value in rows)


def arguments():
    a = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    a.add_argument("--seed", type=int, default=1)
    a.add_argument("--cases", type=int)
    a.add_argument("--jobs", type=int, default=2)
    a.add_argument("--window-every", type=int)
    a.add_argument("--grid-every", type=int)
    a.add_argument("--tool", default=str(ROOT / "build" / "convergence"))
    a.add_argument("--program", default=str(ROOT / "build" / "moody"))
    a.add_argument("--compare", metavar="OLD_TOOL")
    a.add_argument("--quick", action="store_true", help="about 8 small cases, in seconds")
    a.add_argument("--case", help='one case: "N L mi ro f Uin D0 cd dt itmax"')
    args = a.parse_args()
    args.cases = args.cases if args.cases is not None else (8 if args.quick else 100)
    if args.window_every is None:
        args.window_every = 8 if args.quick else 10
    if args.grid_every is None:
        args.grid_every = 4 if args.quick else 10
    if args.jobs < 1 or args.cases < 1 or args.window_every < 0:
        a.error("--jobs and --cases must be positive, --window-every not negative")
    if args.case is not None:
        values = args.case.split()
        if len(values) != len(NAMES) or not all(re.fullmatch(NUMBER, x) for x in values):
            a.error("--case takes ten numbers: " + " ".join(NAMES))
        args.case = Case([float(x.lower().replace("d", "e")) for x in values])
    for name in ("tool", "program", "compare"):
        path = getattr(args, name)
        if path is not None:
            if not os.access(path, os.X_OK):
                a.error(f"{path}: no such program (build it first)")
            setattr(args, name, str(Path(path).resolve()))  # the runs work in folders of their own
    return args


def main():
    args = arguments()
    start = time.perf_counter()
    rng = random.Random(args.seed)
    cases = ([(args.case, None)] if args.case else
             [draw(rng, args.quick) for _ in range(args.cases)])
    with tempfile.TemporaryDirectory(prefix="convergence-truth-") as tmp:
        scratch = Path(tmp)
        prog = Program(args.program, scratch)
        with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
            futures = [pool.submit(check_case, i, c, u, args, prog, scratch)
                       for i, (c, u) in enumerate(cases)]
            results = []
            for future in concurrent.futures.as_completed(futures):
                results.append(future.result())
                for line in results[-1].failures:
                    print(line, flush=True)
    results.sort(key=lambda r: r.index)
    print(figures(results, time.perf_counter() - start))
    failed = sum(len(r.failures) for r in results)
    print(f"{len(results)} cases, {failed} failed checks")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
