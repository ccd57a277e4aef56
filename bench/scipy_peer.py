"""SciPy and scikit-learn as a user would call them.

    scipy_peer.py build <points>
    scipy_peer.py knn <points> <queries> <K>
    scipy_peer.py dbscan <points>

Prints "ms=<milliseconds>" for the timed call alone.
"""
import sys
import time

import numpy as np


def read(path, rows):
    return np.fromfile(path, dtype="<f8").reshape(-1, rows)


def main():
    mode = sys.argv[1]
    points = read(sys.argv[2], 3)
    if mode == "build":
        from scipy.spatial import cKDTree
        start = time.perf_counter()
        cKDTree(points)
    elif mode == "knn":
        from scipy.spatial import cKDTree
        queries = read(sys.argv[3], 3)
        k = int(sys.argv[4])
        tree = cKDTree(points)
        start = time.perf_counter()
        tree.query(queries, k=k, workers=-1)
    elif mode == "dbscan":
        from sklearn.cluster import DBSCAN
        start = time.perf_counter()
        DBSCAN(eps=0.75, min_samples=5, n_jobs=-1).fit(points)
    else:
        raise SystemExit("unknown mode " + mode)
    print("ms=%.6f" % (1000 * (time.perf_counter() - start)))


if __name__ == "__main__":
    main()
