"""SciPy, NumPy and scikit-learn as a user would call them.

    scipy_peer.py build <points>
    scipy_peer.py knn <points> <queries> <K>
    scipy_peer.py dbscan <points>
    scipy_peer.py pipeline <points> <means> <covs> [in.out labels.out]
        an index over the means, each point's three nearest, the gate with
        thresholds 3 and 5 (each Gaussian's regularised inverse once, then
        vectorised), DBSCAN of the rejected points

Makes the call BENCH_CALLS times (6 when unset) and prints "ms=<milliseconds>"
for each, the call alone.
"""
import os
import sys
import time

import numpy as np


def read(path, rows):
    return np.fromfile(path, dtype="<f8").reshape(-1, rows)


def regularised_inverses(covs):
    """Each covariance's inverse after raising eigenvalues below a millionth
    of the largest to that floor; covs is G x 9, column-major 3x3."""
    c = covs.reshape(-1, 3, 3).transpose(0, 2, 1)
    values, vectors = np.linalg.eigh(c)
    values = np.maximum(values, values[:, -1:] / 1e6)
    return np.einsum("gij,gj,gkj->gik", vectors, 1.0 / values, vectors)


def gate(points, ids, means, inverses, mahal, upper):
    """The first of a point's three candidates that passes either gate decides."""
    n = len(points)
    inside = np.zeros(n, bool)
    inside_upper = np.zeros(n, bool)
    undecided = np.ones(n, bool)
    for j in range(3):
        g = ids[:, j]
        d = points - means[g]
        q = np.einsum("ni,nij,nj->n", d, inverses[g], d)
        distance = np.sqrt(q)
        strict = undecided & (distance < mahal)
        either = undecided & (strict | (distance < upper))
        inside |= strict
        inside_upper |= either
        undecided &= ~either
    return inside, inside_upper


def pipeline(points, means, covs):
    from scipy.spatial import cKDTree
    from sklearn.cluster import DBSCAN
    _, ids = cKDTree(means).query(points, k=3, workers=2)
    inside, _ = gate(points, ids, means, regularised_inverses(covs), 3.0, 5.0)
    labels = DBSCAN(eps=0.75, min_samples=5, n_jobs=2).fit(points[~inside]).labels_
    return inside, labels


def voxels(points, side, least):
    """Means (G x 3), covariances (G x 9, normalised as MATLAB's cov) and
    counts of the voxels holding at least `least` points, in key order:
    lexsort of the keys, then add.reduceat over each voxel's run."""
    keys = np.floor(points / side)
    order = np.lexsort((keys[:, 2], keys[:, 1], keys[:, 0]))
    sorted_keys, p = keys[order], points[order]
    starts = np.flatnonzero(np.concatenate([[True], np.any(sorted_keys[1:] != sorted_keys[:-1], axis=1)]))
    counts = np.diff(np.append(starts, len(p)))
    means = np.add.reduceat(p, starts) / counts[:, None]
    d = p - np.repeat(means, counts, axis=0)
    outer = np.add.reduceat((d[:, :, None] * d[:, None, :]).reshape(-1, 9), starts)
    covs = outer / np.maximum(counts - 1, 1)[:, None]
    keep = counts >= least
    return means[keep], covs[keep], counts[keep]


def main():
    mode = sys.argv[1]
    points = read(sys.argv[2], 3)
    calls = int(os.environ.get("BENCH_CALLS", "6"))
    if mode == "build":
        from scipy.spatial import cKDTree
        call = lambda: cKDTree(points)
    elif mode == "knn":
        from scipy.spatial import cKDTree
        queries = read(sys.argv[3], 3)
        k = int(sys.argv[4])
        tree = cKDTree(points)
        call = lambda: tree.query(queries, k=k, workers=-1)
    elif mode == "dbscan":
        from sklearn.cluster import DBSCAN
        call = lambda: DBSCAN(eps=0.75, min_samples=5, n_jobs=-1).fit(points)
    elif mode == "range":
        from scipy.spatial import cKDTree
        queries = read(sys.argv[3], 3)
        r = float(sys.argv[4])
        tree = cKDTree(points)
        call = lambda: tree.query_ball_point(queries, r, workers=2, return_sorted=True)
    elif mode == "voxels":
        side = float(sys.argv[3])
        call = lambda: voxels(points, side, 6)
    elif mode == "pipeline":
        means, covs = read(sys.argv[3], 3), read(sys.argv[4], 9)
        call = lambda: pipeline(points, means, covs)
    else:
        raise SystemExit("unknown mode " + mode)
    for _ in range(calls):
        start = time.perf_counter()
        result = call()
        print("ms=%.6f" % (1000 * (time.perf_counter() - start)), flush=True)
    if mode == "dbscan" and len(sys.argv) >= 4:
        labels = result.labels_
        np.where(labels >= 0, labels + 1, -1).astype("<f8").tofile(sys.argv[3])
    if mode == "range" and len(sys.argv) >= 7:
        np.array([len(v) for v in result], dtype="<f8").tofile(sys.argv[5])
        np.concatenate([np.asarray(v, dtype="<f8") + 1 for v in result]).tofile(sys.argv[6])
    if mode == "voxels" and len(sys.argv) >= 7:
        for array, path in zip(result, sys.argv[4:7]):
            np.ascontiguousarray(array).astype("<f8").tofile(path)
    if mode == "pipeline" and len(sys.argv) >= 7:
        result[0].astype("<f8").tofile(sys.argv[5])
        result[1].astype("<f8").tofile(sys.argv[6])


if __name__ == "__main__":
    main()
