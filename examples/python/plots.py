#!/usr/bin/env python3
"""Writes the README's Python plots as PNGs: the lobe and the polar slice of
the bundled plastic shader for u at 40 degrees from the normal, and the fit
of the Phong model to the bundled measurement file.

    plots.py [OUTPUT_FOLDER]     (default: the current folder)

The README's copies in examples/ are made with `plots.py examples`.
"""

import os
import sys

import srf

HERE = os.path.dirname(os.path.abspath(__file__))
EXAMPLES = os.path.dirname(HERE)


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.getcwd()
    os.makedirs(folder, exist_ok=True)
    plastic = srf.Shader(os.path.join(EXAMPLES, "plastic.kal")).run(lanes=1)["F"]
    figures = {
        "python-lobe-plastic.png": srf.plot.lobe(plastic, theta=40.0, size=160, samples=1 << 21),
        "python-polar-plastic.png": srf.plot.polar(plastic, theta=40.0),
        "python-fit-red-plastic.png": srf.plot.fit_quality(os.path.join(EXAMPLES, "red_plastic.astm"),
                                                            model="phong", solver="defined"),
    }
    for name, figure in figures.items():
        path = os.path.join(folder, name)
        figure.savefig(path, dpi=80)
        print("wrote", path)


if __name__ == "__main__":
    main()
