#!/usr/bin/env python3
"""Fits a reflectance model to every measurement file under a folder, on a
Dask cluster, and writes one CSV row per file.

    fit_many.py FOLDER [-o fits.csv] [--model phong|ashikhmin]
                [--solver robust|defined] [--metric abs|logrel] [--starts N]
                [--loss cauchy|huber|softl1|none] [--isotropic]
                [--pattern '*.astm'] [--scheduler ADDRESS] [--workers N]

Without --scheduler it starts a local cluster of --workers processes (one
per core by default); with it, it sends the fits to a running scheduler
(`dask-scheduler`, workers started with `dask-worker ADDRESS` on the
machines, each able to `import srf`). The robust solver, with a Cauchy
loss per measurement, is the default. Each row holds the file (relative to
FOLDER), the model, solver, metric and loss, the point count, the RMS per
channel and of the RGB length, the metric's value, the seconds the fit
took, the parameters by name, the reader's account of the file and the
warnings of what the data cannot decide (each joined by " | "), and an
error message for a file that could not be fitted (its other fields
empty); the script fails only when nothing could be fitted.
"""

import argparse
import csv
import fnmatch
import os
import sys
import time

from distributed import Client, LocalCluster

FIELDS = ["file", "model", "solver", "metric", "loss", "points", "rms", "rms_rgb", "metric_value", "seconds"]
NOTES = ["account", "warnings"]


def fit_one(path, folder, model, solver, metric, starts, loss, isotropic):
    """One row: runs on a worker, which imports srf there."""
    import srf

    row = {"file": os.path.relpath(path, folder), "error": ""}
    options = {"loss": loss, "isotropic": isotropic} if solver == "robust" else {}
    try:
        result = srf.fit(path, model=model, solver=solver, metric=metric, starts=starts, **options)
    except ValueError as error:  # srf.Error: unreadable file, no measurement
        row["error"] = str(error)
        return row
    row.update({field: getattr(result, field) for field in FIELDS[1:]})
    row.update(result.parameters)
    row.update({note: " | ".join(getattr(result, note)) for note in NOTES})
    return row


def measurement_files(folder, patterns):
    found = []
    for root, _, names in os.walk(folder):
        found += [os.path.join(root, name) for name in names if any(fnmatch.fnmatch(name, p) for p in patterns)]
    return sorted(found)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("folder", help="searched with its subfolders")
    parser.add_argument("-o", "--output", default="fits.csv", help="the CSV to write (default fits.csv)")
    parser.add_argument("--model", default="phong", choices=["phong", "ashikhmin"])
    parser.add_argument("--solver", default="robust", choices=["robust", "defined"])
    parser.add_argument("--metric", default="abs", choices=["abs", "logrel"])
    parser.add_argument("--starts", type=int, default=8, help="starting exponents of the robust solver")
    parser.add_argument("--loss", default="cauchy", choices=["cauchy", "huber", "softl1", "none"],
                        help="the robust solver's loss per measurement (default cauchy)")
    parser.add_argument("--isotropic", action="store_true", help="ashikhmin: one exponent for both tangents")
    parser.add_argument("--pattern", action="append", help="file names to fit (default *.astm); repeatable")
    parser.add_argument("--scheduler", help="address of a running Dask scheduler, e.g. tcp://10.0.0.5:8786")
    parser.add_argument("--workers", type=int, default=os.cpu_count(), help="local worker processes")
    args = parser.parse_args()

    if not os.path.isdir(args.folder):
        parser.error(f"no folder '{args.folder}'")
    files = measurement_files(args.folder, args.pattern or ["*.astm"])
    if not files:
        parser.error(f"no file matching {' '.join(args.pattern or ['*.astm'])} under '{args.folder}'")

    start = time.monotonic()
    if args.scheduler:
        client = Client(args.scheduler)
        cluster = None
    else:
        cluster = LocalCluster(n_workers=max(1, args.workers), threads_per_worker=1, dashboard_address=None)
        client = Client(cluster)
    try:
        futures = client.map(fit_one, files, folder=args.folder, model=args.model, solver=args.solver,
                             metric=args.metric, starts=args.starts, loss=args.loss, isotropic=args.isotropic,
                             pure=False)
        rows = client.gather(futures)
    finally:
        client.close()
        if cluster is not None:
            cluster.close()

    parameters = []
    for row in rows:
        parameters += [name for name in row if name not in FIELDS + NOTES + ["error"] + parameters]
    with open(args.output, "w", newline="") as f:
        writer = csv.DictWriter(f, fieldnames=FIELDS + parameters + NOTES + ["error"])
        writer.writeheader()
        writer.writerows(rows)
    failed = [row for row in rows if row["error"]]
    for row in failed:
        print(f"{row['file']}: {row['error']}", file=sys.stderr)
    print(f"fitted {len(rows) - len(failed)} of {len(files)} files in {time.monotonic() - start:.1f} s; "
          f"wrote {os.path.abspath(args.output)}")
    return 1 if len(failed) == len(rows) else 0


if __name__ == "__main__":
    sys.exit(main())
