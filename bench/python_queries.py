"""The Python module's queries, ns per row, batch (auto) against per lane.

    PYTHONPATH=build-release/python /usr/bin/python3 bench/python_queries.py [rows]

Each figure is the best of several calls of one query over `rows` rows
(10^6 by default) with one-row u and n (read in place) and a random sx, sy
per row, the modes interleaved call by call so that both see the same load.
The emission lobe's sample does next to nothing: its figure is the module's
own cost per row (argument checks, the copies between numpy's rows and the
batch's lane arrays, the output arrays).

Each mode's last outputs are kept until its next call, as a caller's
variables keep them. Dropped at once, arrays of this size are given back to
the system, and the next call's outputs are new pages that must be faulted in
again: with the C library's allocator, that alone costs some 30 to 50 ns a
row, more than any query here.
"""

import os
import sys
import time

import numpy as np
import srf

ROWS = int(sys.argv[1]) if len(sys.argv) > 1 else 10**6
ROUNDS = 7
MODES = ("auto", "per_lane")


def main():
    rng = np.random.default_rng(1)
    u = np.array([0.6, 0.0, 0.8], np.float32)
    n = np.array([0.0, 0.0, 1.0], np.float32)
    sx = rng.random(ROWS, dtype=np.float32)
    sy = rng.random(ROWS, dtype=np.float32)
    cases = {
        "emission sample": srf.Emission(),
        "isotropic sample": srf.Isotropic(),
        "blinn sample": srf.Blinn((0, 0, 1), 40.0),
        "plastic sample": srf.Isotropic() * (0.8, 0.2, 0.1) + srf.Blinn((0, 0, 1), 40.0) * 0.25,
    }
    print(f"{ROWS} rows, best of {ROUNDS}, load average {os.getloadavg()[0]:.2f}")
    print(f"{'query':<18} {'auto':>9} {'per lane':>9} {'ratio':>6}")
    for name, bsdf in cases.items():
        best = dict.fromkeys(MODES, float("inf"))
        kept = {}
        for _ in range(ROUNDS):
            for mode in MODES:
                srf.set_batch_mode(mode)
                start = time.perf_counter()
                kept[mode] = bsdf.sample(u=u, n=n, sx=sx, sy=sy)
                best[mode] = min(best[mode], time.perf_counter() - start)
        ns = {mode: best[mode] / ROWS * 1e9 for mode in MODES}
        print(f"{name:<18} {ns['auto']:>9.1f} {ns['per_lane']:>9.1f} {ns['auto'] / ns['per_lane']:>6.2f}")
    srf.set_batch_mode("auto")


if __name__ == "__main__":
    main()
