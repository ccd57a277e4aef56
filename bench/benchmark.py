"""Benchmarks of every tessary command against what a user would otherwise
pick, on the same data in the same run.

Every tool runs as its own process and times only the call under test. The
tools of a case are interleaved run by run (A B C A B C ...), so that the
machine's noise hits them alike. Writes bench/results.md and
bench/ratios.png.

    python3 bench/benchmark.py [--runs N] [--quick]
"""
import argparse
import hashlib
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build-bench")
SCAN = os.path.join(ROOT, "data", "kitti_hdl64_000000.f64")
OCTAVE = ["octave-cli", "--no-gui", "--norc", "--quiet", "--no-history"]


# ---------------------------------------------------------------- scenes

def boxes_of_scene(rng):
    """Axis-aligned boxes (xmin, xmax, ymin, ymax, zmin, zmax) along a road
    on the x axis: parked cars, buildings, poles and trees."""
    boxes = []
    for x in np.arange(-90, 160, 7.0):
        for side in (-1, 1):
            if rng.uniform() < 0.6:  # a parked car
                cx, cy = x + rng.uniform(-1, 1), side * rng.uniform(4.5, 5.5)
                boxes.append((cx - 2.25, cx + 2.25, cy - 0.9, cy + 0.9, 0.0, 1.5))
    for x in np.arange(-90, 160, 22.0):
        for side in (-1, 1):  # buildings behind the pavement
            w, d, h = rng.uniform(12, 20), rng.uniform(8, 14), rng.uniform(6, 15)
            cy = side * (9 + d / 2 + rng.uniform(0, 3))
            boxes.append((x, x + w, cy - d / 2, cy + d / 2, 0.0, h))
    for x in np.arange(-90, 160, 12.0):
        for side in (-1, 1):  # poles and tree trunks
            cy = side * 7.5
            boxes.append((x - 0.15, x + 0.15, cy - 0.15, cy + 0.15, 0.0, 5.0))
            boxes.append((x + 4 - 1.5, x + 4 + 1.5, cy - 1.5, cy + 1.5, 3.0, 6.0))
    return np.array(boxes)


def lidar_scan(origin, boxes, rng):
    """One revolution of a 64-beam lidar (2048 steps) at origin: the first
    surface each ray meets within 80 m, with 1 cm of range noise."""
    elevations = np.deg2rad(np.linspace(-24.8, 2.0, 64))
    az = np.linspace(0, 2 * np.pi, 2048, endpoint=False)
    a, e = np.meshgrid(az, elevations, indexing="ij")
    dirs = np.stack([np.cos(e) * np.cos(a), np.cos(e) * np.sin(a), np.sin(e)], axis=-1).reshape(-1, 3)
    near = boxes[(boxes[:, 0] < origin[0] + 80) & (boxes[:, 1] > origin[0] - 80)]
    hits = []
    for start in range(0, len(dirs), 8192):
        d = dirs[start:start + 8192]
        with np.errstate(divide="ignore", invalid="ignore"):
            t = np.where(d[:, 2] < 0, -origin[2] / d[:, 2], np.inf)
            inv = 1.0 / d
            lo = (near[None, :, 0::2] - origin[None, None, :]) * inv[:, None, :]
            hi = (near[None, :, 1::2] - origin[None, None, :]) * inv[:, None, :]
            tmin = np.nanmax(np.minimum(lo, hi), axis=2)
            tmax = np.nanmin(np.maximum(lo, hi), axis=2)
            tbox = np.where((tmax >= tmin) & (tmin > 0), tmin, np.inf).min(axis=1)
        t = np.minimum(t, tbox)
        keep = t < 80
        r = t[keep] + rng.normal(0, 0.01, keep.sum())
        hits.append(origin + d[keep] * r[:, None])
    return np.concatenate(hits)


def drive(n, start, boxes, seed):
    """n points of scans taken every 4 m along the road, in scan order."""
    rng = np.random.default_rng(seed)
    scans, total, x = [], 0, start
    while total < n:
        scan = lidar_scan(np.array([x, 0.3 * np.sin(x / 17), 1.73]), boxes, rng)
        scans.append(scan)
        total += len(scan)
        x += 4.0
    return np.concatenate(scans)[:n]


def voxel_gaussians(cloud, count):
    """Means and covariances of the `count` fullest voxels holding at least 4 points."""
    for side in (0.5, 0.4, 0.3, 0.25, 0.2, 0.15):
        keys = np.floor(cloud / side).astype(np.int64)
        _, inverse, counts = np.unique(keys, axis=0, return_inverse=True, return_counts=True)
        inverse = inverse.ravel()
        if (counts >= 4).sum() >= count:
            break
    sums = np.zeros((len(counts), 3))
    np.add.at(sums, inverse, cloud)
    means = sums / counts[:, None]
    d = cloud - means[inverse]
    outer = np.zeros((len(counts), 9))
    np.add.at(outer, inverse, (d[:, :, None] * d[:, None, :]).reshape(-1, 9))
    covs = outer / counts[:, None]
    chosen = np.argsort(-counts, kind="stable")[:count]
    chosen = np.sort(chosen)
    return means[chosen], covs[chosen]


def write(path, array):
    np.ascontiguousarray(array, dtype="<f8").tofile(path)
    return path


# ---------------------------------------------------------------- running

class Tool:
    def __init__(self, name, command, outputs=()):
        self.name, self.command, self.outputs = name, command, list(outputs)


def run_once(tool, workdir):
    timer = ["/usr/bin/time", "-f", "maxrss=%M"]
    env = dict(os.environ)
    proc = subprocess.run(timer + tool.command, capture_output=True, text=True, env=env, cwd=workdir)
    ms = re.search(r"ms=([0-9.eE+-]+)", proc.stdout)
    rss = re.search(r"maxrss=(\d+)", proc.stderr)
    peak = int(rss.group(1)) / 1024.0 if rss else 0.0
    if proc.returncode != 0 or ms is None:
        print("  %s failed (exit %d): %s" % (tool.name, proc.returncode, proc.stderr.strip().splitlines()[-1:]), flush=True)
        return None, peak
    return float(ms.group(1)), peak


def digest(paths):
    h = hashlib.sha256()
    for p in paths:
        with open(p, "rb") as f:
            h.update(f.read())
    return h.hexdigest()


class Case:
    def __init__(self, group, name, tools, same_as=None, note=""):
        self.group, self.name, self.tools = group, name, tools
        self.same_as = same_as  # (our tool, reference tool) whose outputs must be identical
        self.note = note
        self.times = {t.name: [] for t in tools}
        self.rss = {t.name: 0.0 for t in tools}
        self.identical = None
        self.failed = set()

    def run(self, runs, workdir):
        for r in range(runs):
            order = self.tools[r % len(self.tools):] + self.tools[:r % len(self.tools)]
            for tool in order:
                if tool.name in self.failed:
                    continue
                ms, rss = run_once(tool, workdir)
                self.rss[tool.name] = max(self.rss[tool.name], rss)
                if ms is None:
                    self.failed.add(tool.name)
                else:
                    self.times[tool.name].append(ms)
        for name in self.failed:
            self.times.pop(name, None)
        if self.same_as and not self.failed.intersection(self.same_as):
            ours, ref = (next(t for t in self.tools if t.name == n) for n in self.same_as)
            self.identical = digest(ours.outputs) == digest(ref.outputs)
        line = ", ".join("%s %.1f" % (n, statistics.median(v)) for n, v in self.times.items())
        print("%-12s %-44s %s%s" % (self.group, self.name, line,
                                    "" if self.identical is None else "  identical: %s" % self.identical), flush=True)

    def median(self, tool):
        return statistics.median(self.times[tool])


# ---------------------------------------------------------------- cases

NOTES = []


def statistics_probe(expression):
    proc = subprocess.run(OCTAVE + ["--eval", "pkg load statistics; disp (%s)" % expression],
                          capture_output=True, text=True)
    return proc.stdout.strip().splitlines()[-1] if proc.stdout.strip() else ""


def statistics_has_knnsearch():
    return statistics_probe("exist ('knnsearch')") not in ("", "0")


def statistics_version():
    return statistics_probe("pkg ('describe', 'statistics'){1}.version") or "unknown"

def build_cases(work, quick):
    bench = os.path.join(BUILD, "bench")
    mex = os.path.join(BUILD, "mex")
    octave_dir = os.path.join(ROOT, "bench", "octave")
    py = [sys.executable, os.path.join(ROOT, "bench", "scipy_peer.py")]

    def octave(*args, outputs=()):
        call = "addpath ('%s'); addpath ('%s'); bench_octave (%s);" % (
            mex, octave_dir, ", ".join("'%s'" % a for a in list(args) + list(outputs)))
        return OCTAVE + ["--eval", call]

    def f(name):
        return os.path.join(work, name)

    n_big = 100000 if quick else 1000000
    m_small, m_big = (10000, 100000) if quick else (100000, 1000000)
    gaussians = 10000 if quick else 100000
    rng = np.random.default_rng(7)

    print("preparing scenes ...", flush=True)
    scan = np.fromfile(SCAN, dtype="<f8").reshape(-1, 3)
    if quick:
        scan = scan[:30000]
    scene = boxes_of_scene(np.random.default_rng(1))
    cloud1 = drive(n_big, 0.0, scene, 11)
    # The second drive sees the street 2 m further on, with a van and a
    # delivery box that were not there before.
    changed = np.concatenate([scene, np.array([(10.0, 15.5, -2.8, -0.6, 0.0, 2.4), (22.0, 23.0, 2.0, 3.0, 0.0, 1.0)])])
    cloud2 = drive(n_big, 2.0, changed, 12)
    write(f("scan.f64"), scan)
    write(f("cloud1.f64"), cloud1)
    write(f("cloud2.f64"), cloud2)
    for label, base in (("scan", scan), ("cloud1", cloud1)):
        for m in (m_small, m_big):
            pick = rng.integers(0, len(base), m)
            write(f("q_%s_%d.f64" % (label, m)), base[pick] + rng.normal(0, 0.05, (m, 3)))

    means, covs = voxel_gaussians(cloud1, gaussians)
    write(f("means.f64"), means)
    write(f("covs.f64"), covs)
    from scipy.spatial import cKDTree
    _, nearest = cKDTree(means).query(cloud2, k=3)
    write(f("ids_pipeline.f64"), nearest + 1.0)
    write(f("ids_random.f64"), rng.integers(1, len(means) + 1, (len(cloud2), 3)).astype(float))

    cases = []
    sizes = [("scan", len(scan)), ("cloud1", len(cloud1))]
    for label, n in sizes:
        pts = f("%s.f64" % label)
        cases.append(Case("init", "N = %d (%s)" % (n, "lidar scan" if label == "scan" else "synthetic lidar"), [
            Tool("tessary", octave("init", pts)),
            Tool("nanoflann", [os.path.join(bench, "nanoflann_peer"), "build", pts]),
            Tool("FLANN", [os.path.join(bench, "flann_peer"), "build", pts]),
            Tool("cKDTree", py + ["build", pts]),
        ]))

    for label, n in sizes:
        pts = f("%s.f64" % label)
        for m in (m_small, m_big):
            q = f("q_%s_%d.f64" % (label, m))
            for k in (1, 3, 10):
                tag = "%s_%d_%d" % (label, m, k)
                ours_out = [f("ours_%s_n.out" % tag), f("ours_%s_d.out" % tag)]
                raw_out = [f("raw_%s_n.out" % tag), f("raw_%s_d.out" % tag)]
                tools = [
                    Tool("tessary", octave("knn", pts, q, str(k), outputs=ours_out), ours_out),
                    Tool("nanoflann 1 thread", [os.path.join(bench, "nanoflann_peer"), "knn", pts, q, str(k), "1"] + raw_out, raw_out),
                    Tool("nanoflann OpenMP", [os.path.join(bench, "nanoflann_peer"), "knn", pts, q, str(k), "omp"]),
                    Tool("FLANN", [os.path.join(bench, "flann_peer"), "knn", pts, q, str(k)]),
                    Tool("cKDTree", py + ["knn", pts, q, str(k)]),
                ]
                cases.append(Case("knnsearch", "N = %d, M = %d, K = %d" % (n, m, k), tools, ("tessary", "nanoflann 1 thread")))

    # The statistics package's knnsearch is far slower: a small query set.
    if not statistics_has_knnsearch():
        NOTES.append("Octave's statistics package as Debian 12 ships it (octave-statistics %s) has no "
                     "`knnsearch`; that peer could not be run." % statistics_version())
        return cases + gating_and_clustering_cases(f, bench, octave, py, cloud1, cloud2, means, quick)
    small_q = f("q_stats.f64")
    write(small_q, np.fromfile(f("q_scan_%d.f64" % m_small), dtype="<f8").reshape(-1, 3)[:1000])
    for k in (1, 3, 10):
        ours_out = [f("ours_stats_%d_n.out" % k), f("ours_stats_%d_d.out" % k)]
        cases.append(Case("knnsearch", "N = %d, M = 1000, K = %d (statistics)" % (len(scan), k), [
            Tool("tessary", octave("knn", f("scan.f64"), small_q, str(k), outputs=ours_out), ours_out),
            Tool("Octave statistics knnsearch", octave("statsknn", f("scan.f64"), small_q, str(k))),
        ]))
    return cases + gating_and_clustering_cases(f, bench, octave, py, cloud1, cloud2, means, quick)


def gating_and_clustering_cases(f, bench, octave, py, cloud1, cloud2, means, quick):
    cases = []
    rng = np.random.default_rng(8)
    m_small = 10000 if quick else 100000
    for cand in ("random", "pipeline"):
        args = [f("cloud2.f64"), f("ids_%s.f64" % cand), f("means.f64"), f("covs.f64"), "2", "3"]
        for cmd, ref in (("kd", "perpair"), ("kd2", "perpair2")):
            ours_out = [f("ours_%s_%s_in.out" % (cmd, cand))]
            ref_out = [f("ref_%s_%s_in.out" % (cmd, cand))]
            if cmd == "kd":
                ours_out.append(f("ours_%s_%s_up.out" % (cmd, cand)))
                ref_out.append(f("ref_%s_%s_up.out" % (cmd, cand)))
            ref_tool = [os.path.join(bench, "reference_peer"), ref] + args + ref_out
            if cmd == "kd2":
                ref_tool.append(f("unused.out"))
            cases.append(Case(cmd, "N = %d, M = %d, %s candidates" % (len(cloud2), len(means), cand), [
                Tool("tessary", octave(cmd, *args, outputs=ours_out), ours_out),
                Tool("per-pair kernel", ref_tool, ref_out),
                Tool("floor", [os.path.join(bench, "reference_peer"), "floor" if cmd == "kd" else "floor2"] + args),
                Tool("vectorised Octave", octave("octgate", *args)),
            ], ("tessary", "per-pair kernel")))

    # The largest index: ten copies of the first drive, 200 m apart.
    huge = 10 * len(cloud1)
    big = np.concatenate([cloud1 + [200.0 * k, 0, 0] for k in range(10)])
    write(f("huge.f64"), big)
    q_huge = big[rng.integers(0, len(big), m_small)] + rng.normal(0, 0.05, (m_small, 3))
    write(f("q_huge.f64"), q_huge)
    cases.append(Case("limits", "init, N = %d" % huge, [Tool("tessary", octave("init", f("huge.f64")))]))
    cases.append(Case("limits", "knnsearch, N = %d, M = %d, K = 3" % (huge, m_small),
                      [Tool("tessary", octave("knn", f("huge.f64"), f("q_huge.f64"), "3"))]))

    for n in ((2000, 10000, 30000) if quick else (10000, 100000, 1000000)):
        pts = f("rejected_%d.f64" % n)
        write(pts, cloud2[:n])
        ours_out = [f("ours_labels_%d.out" % n)]
        tools = [Tool("tessary", octave("cluster", pts, outputs=ours_out), ours_out),
                 Tool("scikit-learn DBSCAN", py + ["dbscan", pts])]
        same = None
        if n <= 100000:
            ref_out = [f("ref_labels_%d.out" % n)]
            tools.append(Tool("linear scan", [os.path.join(bench, "reference_peer"), "linear", pts] + ref_out, ref_out))
            same = ("tessary", "linear scan")
        cases.append(Case("clustering", "n = %d rejected points" % n, tools, same))
    return cases


# ---------------------------------------------------------------- report

TARGETS = [
    ("init", "nanoflann", "at most", 1.10, "\"init\" within 1.10x of the raw nanoflann build"),
    ("knnsearch", "nanoflann 1 thread", "at least", 1.8, "\"knnsearch\" at least 1.8x faster than single-thread nanoflann"),
    ("knnsearch", "*", "faster", 1.0, "\"knnsearch\" faster than every peer"),
    ("kd", "per-pair kernel", "at least", 10.0, "\"kd\" at least 10x faster than the per-pair kernel"),
    ("kd2", "per-pair kernel", "at least", 10.0, "\"kd2\" at least 10x faster than the per-pair kernel"),
    ("kd", "floor", "at most", 1.5, "\"kd\" within 1.5x of the floor"),
    ("kd2", "floor", "at most", 1.5, "\"kd2\" within 1.5x of the floor"),
    ("clustering", "linear scan", "at least", 150.0, "clustering at least 150x faster than the linear scan (100,000)"),
    ("clustering", "scikit-learn DBSCAN", "at least", 3.0, "clustering at least 3x faster than scikit-learn"),
]


def ratio(case, tool):
    """How many times longer the tool took than tessary."""
    return case.median(tool) / case.median("tessary")


def check_targets(cases):
    lines = []
    for group, tool, kind, bound, text in TARGETS:
        worst = None
        for c in cases:
            if c.group != group:
                continue
            if group == "clustering" and tool == "linear scan" and "100000" not in c.name:
                continue
            if group == "clustering" and tool == "scikit-learn DBSCAN" and "10000 " in c.name:
                continue
            peers = [t.name for t in c.tools if t.name != "tessary"] if tool == "*" else [tool]
            for p in peers:
                if p not in c.times:
                    continue
                r = ratio(c, p)
                value = 1 / r if kind == "at most" else r  # tessary time over peer's, or speed-up
                if worst is None or (kind == "at most" and value > worst[0]) or (kind != "at most" and value < worst[0]):
                    worst = (value, c.name, p)
        if worst is None:
            continue
        ok = worst[0] <= bound if kind == "at most" else worst[0] > bound if kind == "faster" else worst[0] >= bound
        shown = "%.2fx of %s" % (worst[0], worst[2]) if kind == "at most" else "%.2fx over %s" % (worst[0], worst[2])
        lines.append("| %s | %s | %s (%s) |" % (text, "met" if ok else "**not met**", shown, worst[1]))
    return lines


def write_report(cases, runs, elapsed, path):
    out = ["# Benchmark results", "",
           "Written by `bench/run.sh`: %d interleaved runs per tool and case on this machine (%d cores), "
           "%.0f s in all. Times are medians (min .. max) in milliseconds of the call under test alone; "
           "*ratio* is the tool's median over tessary's (above 1: tessary is faster). tessary is timed through "
           "octave-cli as users call it. Peak memory is the process's maximum resident set, Octave's own "
           "included for the tools that run in Octave." % (runs, os.cpu_count(), elapsed), "",
           "## Targets", "", "| target | result | worst case |", "|---|---|---|"]
    out += check_targets(cases)
    if NOTES:
        out += [""] + ["Note: " + n for n in NOTES]
    group = None
    for c in cases:
        if c.group != group:
            group = c.group
            out += ["", "## %s" % group]
        out += ["", "### %s" % c.name, ""]
        if c.identical is not None:
            out += ["Outputs identical to %s: **%s**." % (c.same_as[1], "yes" if c.identical else "NO"), ""]
        out += ["| tool | median ms | min .. max | ratio | peak MB |", "|---|---|---|---|---|"]
        for t in c.tools:
            if t.name in c.failed:
                out.append("| %s | failed | | | %.0f |" % (t.name, c.rss[t.name]))
                continue
            v = c.times[t.name]
            out.append("| %s | %.1f | %.1f .. %.1f | %.2f | %.0f |" % (
                t.name, statistics.median(v), min(v), max(v), ratio(c, t.name), c.rss[t.name]))
    with open(path, "w") as f:
        f.write("\n".join(out) + "\n")


def plot(cases, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    rows = []
    for c in cases:
        if c.group in ("knnsearch",) and "M = 100000, K = 1" not in c.name and "M = 10000, K = 1" not in c.name:
            continue
        for t in c.tools:
            if t.name != "tessary" and t.name in c.times:
                rows.append(("%s: %s\n%s" % (c.group, c.name, t.name), ratio(c, t.name)))
    fig, ax = plt.subplots(figsize=(10, 0.32 * len(rows) + 1.5))
    labels = [r[0].replace("\n", " vs ") for r in rows]
    values = [r[1] for r in rows]
    ax.barh(range(len(rows)), values, color=["tab:green" if v >= 1 else "tab:red" for v in values])
    ax.set_yticks(range(len(rows)))
    ax.set_yticklabels(labels, fontsize=7)
    ax.set_xscale("log")
    ax.axvline(1.0, color="black", linewidth=0.8)
    ax.set_xlabel("peer time / tessary time (log scale; right of 1: tessary faster)")
    ax.invert_yaxis()
    fig.tight_layout()
    fig.savefig(path, dpi=110)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--quick", action="store_true", help="small sizes, to check the harness")
    parser.add_argument("--only", default="", help="run only the groups named here, comma-separated")
    args = parser.parse_args()
    start = time.time()
    with tempfile.TemporaryDirectory() as work:
        cases = build_cases(work, args.quick)
        if args.only:
            cases = [c for c in cases if c.group in args.only.split(",")]
        for c in cases:
            c.run(args.runs, work)
    suffix = ("-quick" if args.quick else "") + ("-" + args.only.replace(",", "-") if args.only else "")
    write_report(cases, args.runs, time.time() - start, os.path.join(ROOT, "bench", "results%s.md" % suffix))
    plot(cases, os.path.join(ROOT, "bench", "ratios%s.png" % suffix))
    print("wrote bench/results%s.md and bench/ratios%s.png" % (suffix, suffix))


if __name__ == "__main__":
    main()
