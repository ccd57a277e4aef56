"""Benchmarks of every tessary command against what a user would otherwise
pick, on the same data in the same run.

Every tool runs as its own process and makes the call under test several
times (BENCH_CALLS): the first call, on fresh memory, is reported apart, the
figure of a tool is the median of the warm calls after it. The tools of a
case are interleaved run by run (A B C A B C ...), so that the machine's
noise hits them alike; tessary runs on 2 threads and, as "tessary 1
thread", on one. Writes bench/results.md and bench/ratios.png.

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

CALLS = 6  # in each process: the first call and five warm ones


class Tool:
    """calls: how many calls one process makes (slow reference programs make
    fewer); threads: OMP_NUM_THREADS, and for Python's workers, unset for the
    peers' own defaults."""
    def __init__(self, name, command, outputs=(), calls=CALLS, threads=None):
        self.name, self.command, self.outputs = name, command, list(outputs)
        self.calls, self.threads = calls, threads
        self.evaluations = None  # distance evaluations per query, where the tool counts them
        self.stdout = None  # the last run's


def run_once(tool, workdir):
    """The times of the process's calls, first call first, and its peak memory."""
    timer = ["/usr/bin/time", "-f", "maxrss=%M"]
    env = dict(os.environ, BENCH_CALLS=str(tool.calls))
    env["OMP_NUM_THREADS"] = str(tool.threads or 2)
    proc = subprocess.run(timer + tool.command, capture_output=True, text=True, env=env, cwd=workdir)
    times = [float(v) for v in re.findall(r"^ms=([0-9.eE+-]+)$", proc.stdout, re.M)]
    counted = re.search(r"^evaluations=([0-9.]+)$", proc.stdout, re.M)
    if counted:
        tool.evaluations = float(counted.group(1))
    rss = re.search(r"maxrss=(\d+)", proc.stderr)
    peak = int(rss.group(1)) / 1024.0 if rss else 0.0
    tool.stdout = proc.stdout
    if proc.returncode != 0 or not times:
        print("  %s failed (exit %d): %s" % (tool.name, proc.returncode, proc.stderr.strip().splitlines()[-1:]), flush=True)
        return None, peak
    return times, peak


def digest(paths):
    h = hashlib.sha256()
    for p in paths:
        with open(p, "rb") as f:
            h.update(f.read())
    return h.hexdigest()


class Case:
    def __init__(self, group, name, tools, same_as=None):
        self.group, self.name, self.tools = group, name, tools
        self.same_as = same_as  # (our tool, reference tool) whose outputs must be identical
        self.compare = None  # for outputs that need not be identical: () -> (text, agreement)
        self.agreement = None
        self.times = {t.name: [] for t in tools}  # warm calls
        self.first = {t.name: [] for t in tools}  # each process's first call
        self.rss = {t.name: 0.0 for t in tools}
        self.identical = None
        self.failed = set()

    def run(self, runs, workdir):
        for r in range(runs):
            order = self.tools[r % len(self.tools):] + self.tools[:r % len(self.tools)]
            for tool in order:
                if tool.name in self.failed:
                    continue
                times, rss = run_once(tool, workdir)
                self.rss[tool.name] = max(self.rss[tool.name], rss)
                if times is None:
                    self.failed.add(tool.name)
                else:
                    self.first[tool.name].append(times[0])
                    self.times[tool.name] += times[1:] or times[:1]
        for name in self.failed:
            self.times.pop(name, None)
        if self.same_as and not self.failed.intersection(self.same_as):
            ours, ref = (next(t for t in self.tools if t.name == n) for n in self.same_as)
            self.identical = digest(ours.outputs) == digest(ref.outputs)
        if self.compare and not self.failed:
            self.agreement = self.compare()
        line = ", ".join("%s %.1f" % (n, statistics.median(v)) for n, v in self.times.items())
        print("%-12s %-44s %s%s%s" % (self.group, self.name, line,
                                      "" if self.identical is None else "  identical: %s" % self.identical,
                                      "" if self.agreement is None else "  " + self.agreement[0]), flush=True)

    def median(self, tool):
        return statistics.median(self.times[tool])


# ---------------------------------------------------------------- cases

NOTES = []


def build_cases(work, quick):
    bench = os.path.join(BUILD, "bench")
    mex = os.path.join(BUILD, "mex")
    octave_dir = os.path.join(ROOT, "bench", "octave")
    py = [sys.executable, os.path.join(ROOT, "bench", "scipy_peer.py")]

    def octave(*args, outputs=()):
        call = "addpath ('%s'); addpath ('%s'); bench_octave (%s);" % (
            mex, octave_dir, ", ".join("'%s'" % a for a in list(args) + list(outputs)))
        return OCTAVE + ["--eval", call]

    def ours(*args, outputs=()):
        """tessary on 2 threads, whose outputs are compared, and on one."""
        command = octave(*args, outputs=outputs)
        return [Tool("tessary", command, outputs), Tool("tessary 1 thread", octave(*args), threads=1)]

    def f(name):
        return os.path.join(work, name)

    n_big = 100000 if quick else 1000000
    m_scan = (20000, 100000) if quick else (200000, 1000000)
    m_cloud = (10000, 100000) if quick else (100000, 1000000)
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
    sizes = [("scan", len(scan), m_scan), ("cloud1", len(cloud1), m_cloud)]
    for label, base in (("scan", scan), ("cloud1", cloud1)):
        for m in dict((s[0], s[2]) for s in sizes)[label]:
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
    for label, n, _ in sizes:
        pts = f("%s.f64" % label)
        cases.append(Case("init", "N = %d (%s)" % (n, "lidar scan" if label == "scan" else "synthetic lidar"), ours("init", pts) + [
            Tool("nanoflann", [os.path.join(bench, "nanoflann_peer"), "build", pts]),
            Tool("FLANN", [os.path.join(bench, "flann_peer"), "build", pts]),
            Tool("cKDTree", py + ["build", pts]),
        ]))

    for label, n, queries in sizes:
        pts = f("%s.f64" % label)
        for m in queries:
            q = f("q_%s_%d.f64" % (label, m))
            for k in (1, 3, 10):
                tag = "%s_%d_%d" % (label, m, k)
                ours_out = [f("ours_%s_n.out" % tag), f("ours_%s_d.out" % tag)]
                raw_out = [f("raw_%s_n.out" % tag), f("raw_%s_d.out" % tag)]
                layer = [Tool("users' layer", octave("layerknn", pts, q, str(k)))] if label == "scan" and m == m_scan[0] else []
                tools = ours("knn", pts, q, str(k), outputs=ours_out) + layer + [
                    Tool("nanoflann 1 thread", [os.path.join(bench, "nanoflann_peer"), "knn", pts, q, str(k), "1"] + raw_out,
                         raw_out, threads=1),
                    Tool("nanoflann OpenMP", [os.path.join(bench, "nanoflann_peer"), "knn", pts, q, str(k), "omp"]),
                    Tool("FLANN", [os.path.join(bench, "flann_peer"), "knn", pts, q, str(k)]),
                    Tool("cKDTree", py + ["knn", pts, q, str(k)]),
                ]
                cases.append(Case("knnsearch", "N = %d, M = %d, K = %d" % (n, m, k), tools, ("tessary", "nanoflann 1 thread")))

    # The search against the arithmetic it does: the core alone, without the
    # host, so that the two differ only in the traversal.
    q = f("q_scan_%d.f64" % m_scan[0])
    for k in (1, 3, 10):
        args = [f("scan.f64"), q, str(k)]
        cases.append(Case("moonshot", "N = %d, M = %d, K = %d" % (len(scan), m_scan[0], k), [
            Tool("tessary", [os.path.join(bench, "search_arithmetic"), "search"] + args),
            Tool("arithmetic", [os.path.join(bench, "search_arithmetic"), "arithmetic"] + args),
        ]))

    cases += gating_cases(f, bench, octave, ours, cloud1, cloud2, means)
    cases += pipeline_case(f, py, ours, octave, scan)
    cases.append(map_sized_case(f, bench, py, ours))
    cases += clustering_cases(f, bench, ours, py, scan, cloud2)
    cases += map_cases(f, py, ours, octave)
    cases.append(range_case(f, py, octave, m_scan[0]))
    cases += registration_cases(f, bench, octave, ours)
    return cases


PAIRS = os.path.join(ROOT, "data", "pairs")
# (pair, voxel side, the accuracy asked for: metres, degrees)
REGISTRATION_PAIRS = [("hdl32_fastgicp", 1.0, 0.05, 0.2), ("kitti07_f10_f25", 2.0, 0.10, 0.3)]


def rotation_about(axis, degrees):
    axis = axis / np.linalg.norm(axis)
    K = np.array([[0, -axis[2], axis[1]], [axis[2], 0, -axis[0]], [-axis[1], axis[0], 0]])
    t = np.deg2rad(degrees)
    return np.eye(3) + np.sin(t) * K + (1 - np.cos(t)) * K @ K


def pose_error(T, truth):
    E = np.linalg.solve(truth, T)
    return np.linalg.norm(E[:3, 3]), np.degrees(np.arccos(min(1.0, (np.trace(E[:3, :3]) - 1) / 2)))


def registration_cases(f, bench, octave, ours):
    """registerToMap against PCL's NDT on the real pairs, from the known pose
    perturbed by up to 0.5 m and 5 degrees: the same map points, voxel side,
    iteration cap (30) and start; each call timed without making the map.
    PCL runs on one thread, as it is written."""
    cases = []
    peer = os.path.join(bench, "pcl_ndt_peer")
    if not os.path.exists(peer):
        NOTES.append("PCL's NDT was not built (no libpcl-dev): registration runs without its peer")
    rng = np.random.default_rng(38)
    for name, voxel, metres, degrees in REGISTRATION_PAIRS:
        a, b = (os.path.join(PAIRS, "%s_%s.f64" % (name, end)) for end in ("a", "b"))
        truth = np.loadtxt(os.path.join(PAIRS, name + "_T_ab.txt"))
        write(f("truth_%s.f64" % name), truth)
        cases.append(registration_sweep(f, octave, name, a, b, voxel, metres, degrees))
        for k in range(3):
            offset = np.eye(4)
            offset[:3, :3] = rotation_about(rng.normal(size=3), rng.uniform(0, 5))
            direction = rng.normal(size=3)
            offset[:3, 3] = direction / np.linalg.norm(direction) * rng.uniform(0, 0.5)
            start = f("start_%s_%d.f64" % (name, k))
            write(start, offset @ truth)
            ours_out, pcl_out = [f("reg_ours_%s_%d.out" % (name, k))], [f("reg_pcl_%s_%d.out" % (name, k))]
            tools = ours("register", a, b, start, str(voxel), "30", outputs=ours_out)
            if os.path.exists(peer):
                tools.append(Tool("PCL NDT", [peer, a, b, start, str(voxel), "30"] + pcl_out, pcl_out, calls=2, threads=1))
            case = Case("registration", "%s, %g m voxels, start %d" % (name, voxel, k + 1), tools)
            case.compare = lambda o=ours_out[0], p=pcl_out[0], t=truth: compare_registrations(o, p, t)
            cases.append(case)
    return cases


def compare_registrations(ours, theirs, truth):
    """Each result's distance from the known pose."""
    texts = []
    for who, path in (("tessary", ours), ("PCL", theirs)):
        if os.path.exists(path):
            m, d = pose_error(np.fromfile(path, dtype="<f8").reshape(4, 4), truth)
            texts.append("%s %.1f cm %.3f deg" % (who, 100 * m, d))
    return ("from the known pose: " + ", ".join(texts), 1.0)


def registration_sweep(f, octave, name, a, b, voxel, metres, degrees):
    """100 random starts: how many land within the accuracy asked for."""
    command = octave("sweep", a, b, f("truth_%s.f64" % name), str(voxel), "100", str(metres), str(degrees))
    tool = Tool("tessary", command, calls=1)
    case = Case("registration", "%s, 100 starts within %g m and %g deg" % (name, metres, degrees), [tool])

    def summary():
        found = re.search(r"within=(\d+) starts=(\d+) median_m=(\S+) median_deg=(\S+) worst_m=(\S+) worst_deg=(\S+)",
                          tool.stdout or "")
        if not found:
            return ("no summary", 0.0)
        within, starts = int(found.group(1)), int(found.group(2))
        return ("%d of %d within; median %.1f cm %.3f deg, worst %.1f cm %.3f deg" % (
            within, starts, 100 * float(found.group(3)), float(found.group(4)), 100 * float(found.group(5)),
            float(found.group(6))), within / starts)
    case.compare = summary
    return case


def gating_cases(f, bench, octave, ours, cloud1, cloud2, means):
    cases = []
    rng = np.random.default_rng(8)
    for cand in ("random", "pipeline"):
        args = [f("cloud2.f64"), f("ids_%s.f64" % cand), f("means.f64"), f("covs.f64"), "2", "3"]
        for cmd, ref in (("kd", "perpair"), ("kd2", "perpair2")):
            ours_out = [f("ours_%s_%s_in.out" % (cmd, cand)), f("ours_%s_%s_up.out" % (cmd, cand))]
            ref_out = [f("ref_%s_%s_in.out" % (cmd, cand)), f("ref_%s_%s_up.out" % (cmd, cand))]
            ref_tool = [os.path.join(bench, "reference_peer"), ref] + args + ref_out
            cases.append(Case(cmd, "N = %d, M = %d, %s candidates" % (len(cloud2), len(means), cand),
                              ours(cmd, *args, outputs=ours_out) + [
                Tool("per-pair kernel", ref_tool, ref_out, calls=3),
                Tool("floor", [os.path.join(bench, "reference_peer"), "floor" if cmd == "kd" else "floor2"] + args),
                Tool("vectorised Octave", octave("octgate", *args), calls=3),
            ], ("tessary", "per-pair kernel")))

    # The largest index: ten copies of the first drive, 200 m apart.
    huge = 10 * len(cloud1)
    big = np.concatenate([cloud1 + [200.0 * k, 0, 0] for k in range(10)])
    write(f("huge.f64"), big)
    m = len(cloud1) // 10
    write(f("q_huge.f64"), big[rng.integers(0, len(big), m)] + rng.normal(0, 0.05, (m, 3)))
    cases.append(Case("limits", "init, N = %d" % huge, ours("init", f("huge.f64"))))
    cases.append(Case("limits", "knnsearch, N = %d, M = %d, K = 3" % (huge, m),
                      ours("knn", f("huge.f64"), f("q_huge.f64"), "3")))
    return cases


def pipeline_case(f, py, ours, octave, scan):
    """The per-scan job on the demo's scene: a map of 2 m voxel Gaussians of
    the scan, the scan moved a little with a parked van and a post added, each
    point's three nearest Gaussians, the gate at 3 and 5, and the clusters of
    what it rejected; through the modules and through the users' layer."""
    keys = np.floor(scan / 2.0).astype(np.int64)
    _, voxel, counts = np.unique(keys, axis=0, return_inverse=True, return_counts=True)
    voxel = voxel.ravel()
    means = np.zeros((len(counts), 3))
    np.add.at(means, voxel, scan)
    means /= counts[:, None]
    d = scan - means[voxel]
    covs = np.zeros((len(counts), 9))
    np.add.at(covs, voxel, (d[:, :, None] * d[:, None, :]).reshape(-1, 9))
    covs /= counts[:, None]
    keep = counts >= 10
    a = 0.02 * np.pi / 180
    rotation = np.array([[np.cos(a), -np.sin(a), 0], [np.sin(a), np.cos(a), 0], [0, 0, 1]])
    moved = scan @ rotation.T + [0.01, -0.01, 0]
    u, v = [g.ravel() for g in np.meshgrid(np.arange(0, 1.0001, 0.1), np.arange(0, 1.0001, 0.1))]
    o, z = np.ones_like(u), np.zeros_like(u)
    faces = np.concatenate([np.stack(s, 1) for s in ((u, v, z), (u, v, o), (u, z, v), (u, o, v), (z, u, v), (o, u, v))])
    van = np.array([6.0, -4, -1.7]) + faces * [5.0, 2.2, 2.2]
    ring = np.linspace(0, 2 * np.pi, 40)
    post = np.concatenate([np.stack([2 + 0.15 * np.cos(ring), 3 + 0.15 * np.sin(ring), np.full(40, h)], 1)
                           for h in np.linspace(-1.7, 0.3, 20)])
    points = np.concatenate([moved, van, post])
    write(f("pipe_points.f64"), points)
    write(f("pipe_means.f64"), means[keep])
    write(f("pipe_covs.f64"), covs[keep])
    args = [f("pipe_points.f64"), f("pipe_means.f64"), f("pipe_covs.f64")]
    ours_out, theirs_out = [f("pipe_ours_in.out"), f("pipe_ours_labels.out")], [f("pipe_py_in.out"), f("pipe_py_labels.out")]
    layer_out = [f("pipe_layer_in.out"), f("pipe_layer_labels.out")]
    case = Case("pipeline", "%d points, %d voxel Gaussians, thresholds 3 and 5" % (len(points), keep.sum()),
                ours("pipeline", *args, outputs=ours_out) + [
                    Tool("users' layer", octave("layer", *args, outputs=layer_out), layer_out),
                    Tool("scipy + numpy + scikit-learn", py + ["pipeline"] + args + theirs_out, theirs_out, calls=4)],
                same_as=("users' layer", "tessary"))
    case.compare = lambda: compare_pipelines(ours_out, theirs_out)
    return [case]


def map_sized_case(f, bench, py, ours):
    """The per-scan search: the pipeline's points over its index of
    Gaussian means, K = 3, with the core alone beside the module's call."""
    pts, q = f("pipe_means.f64"), f("pipe_points.f64")
    n, m = len(np.fromfile(pts, dtype="<f8")) // 3, len(np.fromfile(q, dtype="<f8")) // 3
    ours_out, raw_out = [f("ours_map_n.out"), f("ours_map_d.out")], [f("raw_map_n.out"), f("raw_map_d.out")]
    case = Case("knnsearch", "map-sized index, N = %d, M = %d, K = 3" % (n, m), ours("knn", pts, q, "3", outputs=ours_out) + [
        Tool("core alone", [os.path.join(bench, "search_arithmetic"), "search", pts, q, "3"]),
        Tool("nanoflann 1 thread", [os.path.join(bench, "nanoflann_peer"), "knn", pts, q, "3", "1"] + raw_out, raw_out,
             threads=1),
        Tool("nanoflann OpenMP", [os.path.join(bench, "nanoflann_peer"), "knn", pts, q, "3", "omp"]),
        Tool("FLANN", [os.path.join(bench, "flann_peer"), "knn", pts, q, "3"]),
        Tool("cKDTree", py + ["knn", pts, q, "3"]),
    ], ("tessary", "nanoflann 1 thread"))
    case.per_query = m
    return case


def compare_pipelines(ours, theirs):
    """How far the two stacks agree: the strict masks, and the clusters of the
    points both reject (adjusted Rand index; noise is one more label)."""
    from sklearn.metrics import adjusted_rand_score
    our_in, py_in = (np.fromfile(p, dtype="<f8") != 0 for p in (ours[0], theirs[0]))
    our_labels, py_labels = (np.fromfile(p, dtype="<f8") for p in (ours[1], theirs[1]))
    ours_at = np.full(len(our_in), np.nan)
    ours_at[~our_in] = our_labels
    py_at = np.full(len(py_in), np.nan)
    py_at[~py_in] = py_labels
    both = ~our_in & ~py_in
    agree = np.mean(our_in == py_in)
    ari = adjusted_rand_score(ours_at[both], py_at[both])
    return ("masks agree on %.4f %% of %d points (%d rejected by tessary, %d by the Python stack); adjusted Rand "
            "index of the labels of the %d points both reject: %.4f" % (100 * agree, len(our_in), (~our_in).sum(),
                                                                       (~py_in).sum(), both.sum(), ari), agree)


def clustering_cases(f, bench, ours, py, scan, cloud2):
    cases = []
    sets = [("the whole lidar scan", scan, True)]
    sets.append(("n = %d rejected points" % (len(cloud2) // 10), cloud2[:len(cloud2) // 10], True))
    sets.append(("n = %d rejected points" % len(cloud2), cloud2, False))
    for k, (name, points, with_peers) in enumerate(sets):
        pts = f("rejected_%d.f64" % k)
        write(pts, points)
        ours_out = [f("ours_labels_%d.out" % k)]
        tools = ours("cluster", pts, outputs=ours_out)
        same = None
        # The linear scan takes half a minute at 100,000 points; scikit-learn
        # ran out of 24 GB at 1,000,000.
        if with_peers:
            ref_out = [f("ref_labels_%d.out" % k)]
            tools += [Tool("scikit-learn DBSCAN", py + ["dbscan", pts], calls=2),
                      Tool("linear scan", [os.path.join(bench, "reference_peer"), "linear", pts] + ref_out, ref_out, calls=1)]
            same = ("tessary", "linear scan")
        cases.append(Case("clustering", name, tools, same))
    return cases


def map_cases(f, py, ours, octave):
    """The two ends of the per-scan job on the scan: its map of 2 m voxel
    Gaussians (at least 6 points), and its clustering with the caller's
    parameters."""
    scan = f("scan.f64")
    names = ("means", "covs", "counts")
    outs = {who: [f("map_%s_%s.out" % (who, n)) for n in names] for who in ("ours", "script", "numpy")}
    case = Case("maps", "voxelGaussians, the scan at 2 m", ours("voxels", scan, "2", outputs=outs["ours"]) + [
        Tool("script (unique, accumarray)", octave("scriptvoxels", scan, "2", outputs=outs["script"]), outs["script"]),
        Tool("numpy (lexsort, add.reduceat)", py + ["voxels", scan, "2"] + outs["numpy"], outs["numpy"])])
    case.compare = lambda: compare_maps(outs)
    dbscan = Case("maps", "densityClusters, the whole scan at 0.75 m and 5 points",
                  ours("dbscan", scan, "0.75", "5", outputs=[f("dc_ours.out")]) + [
                      Tool("scikit-learn DBSCAN", py + ["dbscan", scan, f("dc_sklearn.out")], [f("dc_sklearn.out")],
                           calls=2)], ("tessary", "scikit-learn DBSCAN"))
    return [case, dbscan]


def range_case(f, py, octave, m):
    """rangesearch on the scan, jittered queries, r = 0.2 m: sorted by
    distance, with distances, against cKDTree's indices sorted by number."""
    args = [f("scan.f64"), f("q_scan_%d.f64" % m), "0.2"]
    ours_out, theirs_out = [f("range_ours_n.out"), f("range_ours_rows.out")], [f("range_py_n.out"), f("range_py_rows.out")]
    case = Case("rangesearch", "N = 124668, M = %d, r = 0.2" % m, [
        Tool("tessary", octave("range", *args, outputs=ours_out), ours_out),
        Tool("cKDTree query_ball_point", py + ["range"] + args + theirs_out, theirs_out)])

    def same_sets():
        counts = [np.fromfile(p, dtype="<f8").astype(np.int64) for p in (ours_out[0], theirs_out[0])]
        rows = [np.fromfile(p, dtype="<f8") for p in (ours_out[1], theirs_out[1])]
        query = np.repeat(np.arange(len(counts[0])), counts[0])
        ours_sorted = rows[0][np.lexsort((rows[0], query))]
        same = np.array_equal(counts[0], counts[1]) and np.array_equal(ours_sorted, rows[1])
        return ("the same %d neighbours of %d queries" % (counts[0].sum(), len(counts[0])) if same
                else "the neighbours differ", 1.0 if same else 0.0)
    case.compare = same_sets
    return case


def compare_maps(outs):
    """The largest differences of the script's and numpy's maps from ours."""
    def load(paths, numpy_layout):
        counts = np.fromfile(paths[2], dtype="<f8")
        g = len(counts)
        means = np.fromfile(paths[0], dtype="<f8").reshape((g, 3) if numpy_layout else (3, g))
        return (means if numpy_layout else means.T), np.fromfile(paths[1], dtype="<f8").reshape(g, 9), counts
    ours = load(outs["ours"], False)
    parts, same = [], True
    for who in ("script", "numpy"):
        theirs = load(outs[who], who == "numpy")
        if len(theirs[2]) != len(ours[2]) or np.any(theirs[2] != ours[2]):
            parts.append("%s: other voxels" % who)
            same = False
            continue
        dm, dc = (float(np.max(np.abs(a - b), initial=0.0)) for a, b in zip(ours[:2], theirs[:2]))
        same = same and dm < 1e-9 and dc < 1e-9
        parts.append("%s: same %d voxels, means within %.1e, covariances within %.1e" % (who, len(ours[2]), dm, dc))
    return ("; ".join(parts), 1.0 if same else 0.0)


# ---------------------------------------------------------------- report

# (group, case filter, tool, kind, bound, text): the median of warm calls of
# tessary against the tool's, in every case of the group whose name holds the
# filter; "at most": tessary's time over the tool's, "at least": the tool's
# over tessary's, "tool at most": the tool's over tessary's.
TARGETS = [
    ("init", "", "FLANN", "at most", 0.75, "\"init\" at most 0.75x FLANN's build"),
    ("init", "", "tessary 1 thread", "at least", 1.7, "\"init\" at least 1.7x faster on 2 threads than on 1"),
    ("knnsearch", "N = 124668, M = 200000, K = 1", "FLANN", "at most", 0.45,
     "\"knnsearch\" at most 0.45x FLANN, K = 1, 200,000 jittered queries on the scan"),
    ("knnsearch", "N = 124668, M = 200000, K = 3", "FLANN", "at most", 0.50,
     "\"knnsearch\" at most 0.50x FLANN, K = 3, 200,000 jittered queries on the scan"),
    ("knnsearch", "N = 124668, M = 200000, K = 10", "FLANN", "at most", 0.60,
     "\"knnsearch\" at most 0.60x FLANN, K = 10, 200,000 jittered queries on the scan"),
    ("knnsearch", "N = 124668, M = 1000000, K = 10", "FLANN", "at most", 0.60,
     "\"knnsearch\" at most 0.60x FLANN, K = 10, 1,000,000 jittered queries on the scan"),
    ("knnsearch", "map-sized", "FLANN", "at most", 0.40,
     "\"knnsearch\" at most 0.40x FLANN, K = 3, the pipeline's points over its map-sized index"),
    ("knnsearch", "", "*", "at least", 1.0, "\"knnsearch\" ahead of every peer in every case"),
    ("pipeline", "", "scipy + numpy + scikit-learn", "at least", 15.0,
     "per-scan pipeline at least 15x faster than scipy + numpy + scikit-learn"),
    ("pipeline", "", "users' layer", "tool at most", 1.10,
     "per-scan pipeline through the users' layer at most 1.10x the modules'"),
    ("knnsearch", "", "users' layer", "tool at most", 1.05,
     "the users' layer's knnsearch, ties by row, at most 1.05x the module's"),
    ("rangesearch", "", "cKDTree query_ball_point", "at least", 4.0,
     "rangesearch at least 4x faster than cKDTree's query_ball_point (sorted, 2 workers)"),
    ("registration", "start", "PCL NDT", "at least", 30.0,
     "registerToMap at least 30x faster than PCL's NDT, the same start, voxels and iteration cap"),
    ("clustering", "whole", "scikit-learn DBSCAN", "at least", 100.0,
     "clustering at least 100x faster than scikit-learn on the whole scan"),
    ("kd2", "", "floor", "at most", 1.05, "\"kd2\" within 1.05x of the inverse-once floor"),
    ("maps", "voxelGaussians", "script (unique, accumarray)", "at least", 20.0,
     "voxelGaussians at least 20x faster than the same map in script"),
    ("maps", "voxelGaussians", "numpy (lexsort, add.reduceat)", "at least", 5.0,
     "voxelGaussians at least 5x faster than numpy"),
    ("maps", "densityClusters", "scikit-learn DBSCAN", "at least", 100.0,
     "densityClusters at least 100x faster than scikit-learn on the whole scan"),
    ("moonshot", "", "arithmetic", "at most", 3.0,
     "the search within 3x of its arithmetic: time per query against its distance evaluations' time"),
]
PEERS_OF_TESSARY = ("tessary", "tessary 1 thread", "core alone", "users' layer")


def ratio(case, tool):
    """How many times longer the tool took than tessary."""
    return case.median(tool) / case.median("tessary")


def check_targets(cases):
    lines = []
    for group, within, tool, kind, bound, text in TARGETS:
        worst = None
        for c in cases:
            # "K = 1" names the case with K = 1, not the one with K = 10.
            if c.group != group or not re.search(re.escape(within) + r"(?!\d)", c.name) or "tessary" not in c.times:
                continue
            peers = [t.name for t in c.tools if t.name not in PEERS_OF_TESSARY] if tool == "*" else [tool]
            for p in peers:
                if p not in c.times:
                    continue
                r = ratio(c, p)
                value = 1 / r if kind == "at most" else r
                upper = kind != "at least"
                if worst is None or (upper and value > worst[0]) or (not upper and value < worst[0]):
                    worst = (value, c.name, p)
        if worst is None:
            continue
        ok = worst[0] <= bound if upper else worst[0] >= bound
        shown = {"at most": "%.2fx of %s", "at least": "%.2fx over %s", "tool at most": "%.2fx for %s"}[kind] % worst[:3:2]
        lines.append("| %s | %s | %s (%s) |" % (text, "met" if ok else "**not met**", shown, worst[1]))
    for c in cases:
        if c.group == "pipeline" and c.agreement is not None:
            ok = c.agreement[1] >= 0.9999
            lines.append("| pipeline masks agreeing on at least 99.99 %% of points | %s | %.4f %% |"
                         % ("met" if ok else "**not met**", 100 * c.agreement[1]))
        if c.group == "rangesearch" and c.agreement is not None:
            lines.append("| rangesearch's neighbours cKDTree's | %s | %s |"
                         % ("met" if c.agreement[1] == 1.0 else "**not met**", c.agreement[0]))
        if c.group == "maps" and c.agreement is not None:
            lines.append("| the map equal to the script's and numpy's within 1e-9 | %s | %s |"
                         % ("met" if c.agreement[1] == 1.0 else "**not met**", c.agreement[0]))
        if c.group == "maps" and c.identical is not None:
            lines.append("| densityClusters' labels scikit-learn's plus 1 | %s | |"
                         % ("met" if c.identical else "**not met**"))
        if c.group == "registration" and "100 starts" in c.name and c.agreement is not None:
            lines.append("| registerToMap: at least 95 of 100 starts on %s | %s | %s |"
                         % (c.name.split(",")[0], "met" if c.agreement[1] >= 0.95 else "**not met**", c.agreement[0]))
        if c.group == "clustering" and "whole" in c.name and c.identical is not None:
            lines.append("| clustering labels identical to the linear scan's on the whole scan | %s | |"
                         % ("met" if c.identical else "**not met**"))
    return lines


# (group, case filter, peer): the headline rows, which the README shows.
HEADLINES = [
    ("knnsearch", "N = 124668, M = 200000, K = 3", "FLANN"),
    ("knnsearch", "map-sized index", "FLANN"),
    ("pipeline", "", "scipy + numpy + scikit-learn"),
    ("pipeline", "", "users' layer"),
    ("maps", "voxelGaussians", "script (unique, accumarray)"),
    ("maps", "voxelGaussians", "numpy (lexsort, add.reduceat)"),
    ("maps", "densityClusters", "scikit-learn DBSCAN"),
    ("rangesearch", "", "cKDTree query_ball_point"),
]


def machine():
    """The commit measured and the processor, for the headline."""
    try:
        commit = subprocess.run(["git", "-C", ROOT, "rev-parse", "--short", "HEAD"], capture_output=True,
                                text=True).stdout.strip()
    except OSError:
        commit = "unknown"
    model = "unknown processor"
    try:
        with open("/proc/cpuinfo") as f:
            model = next(line.split(":", 1)[1].strip() for line in f if line.startswith("model name"))
    except (OSError, StopIteration):
        pass
    return commit, "%s, %d cores" % (model, os.cpu_count())


def headline(cases):
    rows = []
    for group, within, peer in HEADLINES:
        c = next((c for c in cases if c.group == group and within in c.name and "tessary" in c.times
                  and peer in c.times), None)
        if c is not None:
            rows.append("| %s: %s | %.1f | %s %.1f | %.2fx |" % (group, c.name, c.median("tessary"), peer,
                                                                  c.median(peer), ratio(c, peer)))
    return rows


def write_report(cases, runs, elapsed, path):
    out = ["# Benchmark results", "",
           "Written by `bench/run.sh`: %d interleaved runs per tool and case on this machine (%d cores), "
           "%.0f s in all. Each run is one process per tool that makes the call under test %d times (the slow "
           "reference programs fewer). Times are in milliseconds of the call alone: *median* and *min .. max* "
           "of the warm calls, those after each process's first; *first* the median of the first calls, on "
           "fresh memory. *ratio* is the tool's median over tessary's (above 1: tessary is faster). tessary is "
           "timed through octave-cli as users call it, on 2 threads and on 1. Peak memory is the process's "
           "maximum resident set, Octave's own included for the tools that run in Octave."
           % (runs, os.cpu_count(), elapsed, CALLS), "",
           "## Headline", "", "Commit %s, %s, %s." % (machine()[0], time.strftime("%Y-%m-%d"), machine()[1]), "",
           "| case | tessary ms | peer ms | peer / tessary |", "|---|---|---|---|"] + headline(cases) + [
           "", "## Targets", "", "| target | result | worst case |", "|---|---|---|"]
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
        if c.agreement is not None:
            out += ["Agreement: %s." % c.agreement[0], ""]
        if getattr(c, "per_query", None) and "tessary" in c.times and "core alone" in c.times:
            out += ["%.1f ns a query through the module, %.1f ns in the core alone: the core's share %.0f %%." % (
                1e6 * c.median("tessary") / c.per_query, 1e6 * c.median("core alone") / c.per_query,
                100 * c.median("core alone") / c.median("tessary")), ""]
        counted = next((t for t in c.tools if t.evaluations and t.name in c.times), None)
        if counted and "tessary" in c.times:
            per = counted.evaluations * int(re.search(r"M = (\d+)", c.name).group(1))
            out += ["%.1f distance evaluations per query: %.2f ns each alone, %.1f ns of search per evaluation "
                    "(ns of the call on all cores)." % (counted.evaluations, 1e6 * c.median(counted.name) / per,
                                                         1e6 * c.median("tessary") / per), ""]
        out += ["| tool | median ms | min .. max | first | ratio | peak MB |", "|---|---|---|---|---|---|"]
        for t in c.tools:
            if t.name in c.failed:
                out.append("| %s | failed | | | | %.0f |" % (t.name, c.rss[t.name]))
                continue
            v = c.times[t.name]
            out.append("| %s | %.1f | %.1f .. %.1f | %.1f | %.2f | %.0f |" % (
                t.name, statistics.median(v), min(v), max(v), statistics.median(c.first[t.name]), ratio(c, t.name),
                c.rss[t.name]))
    with open(path, "w") as f:
        f.write("\n".join(out) + "\n")


def plot(cases, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    rows = []
    for c in cases:
        if c.group == "knnsearch" and "K = 3" not in c.name:
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
