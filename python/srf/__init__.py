"""libSRF from Python: BSDFs, text shaders and measurement files on numpy arrays.

    import numpy as np, srf
    phong = srf.Phong(axis=(0, 0, 1), exponent=np.array([5.0, 50.0]))
    colour, scalar = phong.evaluate(u=(0.6, 0, 0.8), n=(0, 0, 1), v=(-0.6, 0, 0.8))
    plastic = srf.Isotropic() * (0.8, 0.2, 0.1) + srf.Blinn((0, 0, 1), 40) * 0.25
    out = srf.Shader("examples/plastic.kal").run(lanes=64)   # out["F"] is a BSDF

BSDFs come from the constructors below, from arithmetic (a + b, a * colour,
a @ b for the product) and from Shader.run. Every query works on arrays: one
row per query, of float32 (inputs are converted where numpy can convert them
without changing their kind, and refused with a ValueError where not).
srf.plot draws lobes and fits (it imports matplotlib when first used).
"""

from dataclasses import dataclass, field
import importlib
import os

import numpy as np

from ._srf import (  # noqa: F401
    ALL,
    CHUNK_LANES,
    DIFFUSE,
    EMISSION,
    GLOSSY,
    HAS_ROBUST_SOLVER,
    SCATTER,
    SPECULAR,
    BSDF,
    Ashikhmin,
    Blinn,
    Cone,
    Emission,
    Error,
    Isotropic,
    Lafortune,
    Measured,
    MeasurementWarning,
    Mul,
    Phong,
    Scale,
    Shader,
    Specular,
    Sum,
    Switch,
    WireBlinn,
    WireDiffuse,
    batch_mode,
    live_objects,
    pool_blocks_out,
    set_batch_mode,
)
from . import _srf

__all__ = [
    "ALL", "DIFFUSE", "EMISSION", "GLOSSY", "SCATTER", "SPECULAR",
    "BSDF", "Shader", "Error", "MeasurementWarning",
    "Ashikhmin", "Blinn", "Cone", "Emission", "Isotropic", "Lafortune", "Measured", "Phong", "Specular",
    "WireBlinn", "WireDiffuse", "Mul", "Scale", "Sum", "Switch",
    "Measurements", "FitResult", "read_measurements", "fit",
    "batch_mode", "set_batch_mode", "live_objects", "pool_blocks_out",
]


@dataclass
class Measurements:
    """The rows of a measurement file, as the fitter reads them.

    Directions are unit vectors in the frame of the measurement (z the
    surface normal); angles in radians, the polar angle from +z and the
    azimuth from +y towards +x; values linear RGB, one row per measurement.
    """
    path: str
    points: int
    incoming: np.ndarray
    scattered: np.ndarray
    values: np.ndarray
    theta_i: np.ndarray
    phi_i: np.ndarray
    theta_s: np.ndarray
    phi_s: np.ndarray
    header: dict = field(default_factory=dict)

    def __repr__(self):
        # The arrays run to thousands of rows: name the file and its size.
        name = self.header.get("SAMPLE_NAME") or ""
        return (f"<srf.Measurements {self.path!r}: {self.points} points"
                + (f", sample {name!r}" if name else "") + ">")


@dataclass
class FitResult:
    """A model fitted to measurements: parameters by name, the RMS
    difference between model and measurements per channel (rms) and of the
    RGB residual length (rms_rgb), the number of measurements, the seconds
    the fit took, the reader's account and the warnings of what the data
    cannot decide."""
    path: str
    model: str
    parameters: dict
    rms: float
    points: int
    seconds: float
    solver: str = "defined"
    metric: str = "abs"
    metric_value: float = float("nan")
    account: list = field(default_factory=list)
    loss: str = "none"
    isotropic: bool = False
    rms_rgb: float = float("nan")
    log_scale: float = 1.0
    loss_scale: float = 0.0
    outliers: int = 0
    rms_without_outliers: float = float("nan")
    warnings: list = field(default_factory=list)

    def values(self, incoming, scattered):
        """The fitted model's colours (M, 3) for pairs of unit directions in
        the frame of the measurement."""
        return _srf._model_values(self.model, list(self.parameters.values()), incoming, scattered)

    def shader_text(self):
        """The text of a shader that renders the fitted model with the
        analytic lobes, as `srf fit --kal` writes it (srf.Error for
        parameters that are not finite 32-bit floats)."""
        return _srf._fit_shader(self.model, list(self.parameters.values()), self.path or "arrays")

    def bsdf(self, **variables):
        """The fitted model as an srf.BSDF of one lane: the shader of
        shader_text() run with the given variables (N, dPds, dPdt)."""
        return Shader.from_text(self.shader_text(), name=f"<fit of {self.path or 'arrays'}>").run(**variables)["F"]


def _angles(directions):
    # The polar angle from +z and the azimuth from +y towards +x of unit
    # directions: the reader's convention, undone.
    theta = np.arccos(np.clip(directions[:, 2], -1.0, 1.0))
    phi = np.arctan2(directions[:, 0], directions[:, 1])
    return theta, phi


def read_measurements(path):
    """Reads a measurement file as the fitter does (srf.Error when it
    cannot)."""
    raw = _srf._read_measurements(os.fspath(path))
    theta_i, phi_i = _angles(raw["incoming"])
    theta_s, phi_s = _angles(raw["scattered"])
    return Measurements(path=os.fspath(path), points=raw["points"], incoming=raw["incoming"],
                        scattered=raw["scattered"], values=raw["values"], theta_i=theta_i, phi_i=phi_i,
                        theta_s=theta_s, phi_s=phi_s, header=raw["header"])


def fit(path=None, model="phong", *, angles=None, values=None, weights=None, mask=None, **options):
    """Fits model "phong" or "ashikhmin" and returns a FitResult.

    fit(path, ...) reads a measurement file, as `srf fit` does (srf.Error
    when it cannot be read or holds no measurement). fit(angles=A,
    values=V, weights=W, mask=M, ...) fits arrays with the robust solver: A
    (N, 4) theta_i, phi_i, theta_s, phi_s in radians, V (N, 3) linear RGB,
    W (N,) optional weights, M (N,) optional booleans of the rows to fit.
    Options: solver ("robust" or "defined", files only), metric ("abs" or
    "logrel"), starts (the robust solver's starting exponents, 1 to 1000 as
    for `srf fit --starts`; default 8), loss ("cauchy", "huber", "softl1" or "none"),
    isotropic (Ashikhmin with one exponent)."""
    if angles is not None or values is not None:
        if path is not None:
            raise ValueError("give a path or angles and values, not both")
        if angles is None or values is None:
            raise ValueError("arrays need both angles (N, 4) and values (N, 3)")
        if options.pop("solver", "robust") != "robust":
            raise ValueError("arrays are fitted by the robust solver only")
        raw = _srf._fit_arrays(np.asarray(angles, dtype=np.float64), np.asarray(values, dtype=np.float64),
                               None if weights is None else np.asarray(weights, dtype=np.float64),
                               None if mask is None else np.asarray(mask, dtype=bool), model=model, **options)
        return FitResult(path="", **raw)
    if path is None:
        raise ValueError("fit needs a path or angles and values")
    raw = _srf._fit(os.fspath(path), model, **options)
    return FitResult(path=os.fspath(path), **raw)


def __getattr__(name):
    # srf.plot is imported on first use, and with it matplotlib.
    if name == "plot":
        return importlib.import_module(".plot", __name__)
    raise AttributeError(f"module 'srf' has no attribute {name!r}")
