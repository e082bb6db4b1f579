"""Pictures of BSDFs and fits, drawn with matplotlib.

- lobe: for one incident direction, the evaluate value over every direction
  beside a histogram of the directions that sample draws, each hemisphere an
  equal-area disk seen from above (the picture `srf plot` draws);
- polar: the evaluate value in the plane of incidence;
- fit_quality: measured against fitted values over the scattered angle, one
  series per incident angle of a measurement file.

Each returns a matplotlib Figure (save it with figure.savefig); lobe_data
returns the numbers behind the lobe plot.
"""

import numpy as np
from matplotlib.figure import Figure

import srf
from . import _srf

NORMAL = (0.0, 0.0, 1.0)
LUMINANCE = np.array([0.2126, 0.7152, 0.0722])
BOUNCE_NAMES = ["diffuse", "glossy", "specular", "emission"]


def _one_lane(bsdf):
    if not isinstance(bsdf, srf.BSDF):
        raise TypeError(f"plots draw an srf.BSDF, not {type(bsdf).__name__}")
    if bsdf.lanes != 1:
        raise ValueError(f"plots draw a BSDF of one lane, not {bsdf.lanes} (run the shader with lanes=1)")


def _number(name, value, low, high):
    # The limits of `srf plot`: u from the normal (0) to straight below it
    # (180 degrees).
    if isinstance(value, (bool, np.bool_)) or not isinstance(value, (int, float, np.integer, np.floating)) \
            or not low <= value <= high:
        raise ValueError(f"{name} must be a number from {low:g} to {high:g}, not {value!r}")
    return float(value)


def _integer(name, value, low, high):
    if isinstance(value, (bool, np.bool_)) or not isinstance(value, (int, np.integer)) or not low <= value <= high:
        raise ValueError(f"{name} must be an integer from {low} to {high}, not {value!r}")
    return int(value)


def _incident(theta):
    t = np.radians(theta)
    return np.array([np.sin(t), 0.0, np.cos(t)])


def _bounce_text(bounces):
    names = [name for bit, name in enumerate(BOUNCE_NAMES) if bounces & (1 << bit)]
    return " ".join(names) if names else "none"


def lobe_data(bsdf, theta=45.0, size=160, samples=1 << 20, seed=1, mask=srf.SCATTER):
    """The numbers of the lobe plot for u at `theta` degrees from the normal
    (0, 0, 1), in the x-z plane.

    value[h] (size, size, 3): evaluate's colour at each pixel of hemisphere h
    (0 upper, 1 lower), NaN off the disk; density[h] (size, size): the
    directions that sample draws per steradian, as a fraction of all draws.
    Pixel (j, i) is the disk point x = -1 + (2 i + 1) / size, y = 1 - (2 j +
    1) / size; a disk point at radius r is the direction at angle t from the
    pole with r^2 = 1 - |cos t|, so that every pixel covers the same solid
    angle, 2 (2 / size)^2 sr.
    """
    _one_lane(bsdf)
    theta = _number("theta", theta, 0.0, 180.0)
    size = _integer("size", size, 1, 2048)
    samples = _integer("samples", samples, 1, 2**31 - 1)
    # The draws and their directions, colours and bounces, in float32 and
    # float64: about 100 bytes each.
    _srf._check_lanes(samples, 100.0, "lobe_data: samples")
    u = _incident(theta)
    centres = (np.arange(size) + 0.5) * (2.0 / size) - 1.0
    x, y = np.meshgrid(centres, -centres)
    inside = x * x + y * y <= 1.0
    value = np.full((2, size, size, 3), np.nan, dtype=np.float32)
    for h in (0, 1):
        v = _srf._disk_directions(x[inside], y[inside], h == 0)
        value[h][inside] = bsdf.evaluate(u, NORMAL, v, mask=mask)[0]

    rng = np.random.default_rng(seed)
    sx, sy = rng.random(samples, dtype=np.float32), rng.random(samples, dtype=np.float32)
    drawn = bsdf.sample(u, NORMAL, sx, sy, mask=mask)[0].astype(np.float64)
    length = np.linalg.norm(drawn, axis=1)
    valid = np.isfinite(length) & (length > 0)
    drawn = drawn[valid] / length[valid, None]
    upper = drawn[:, 2] > 0
    pixel = 2.0 * (2.0 / size) ** 2
    density = np.full((2, size, size), np.nan)
    for h, side in enumerate((upper, ~upper)):
        p = _srf._disk_points(drawn[side])
        counts = np.histogram2d(-p[:, 1], p[:, 0], bins=size, range=[[-1, 1], [-1, 1]])[0]
        density[h][inside] = counts[inside] / (samples * pixel)
    return {"u": u, "theta": theta, "value": value, "density": density, "inside": inside,
            "albedo": float(bsdf.albedo(u, NORMAL, mask=mask)[0]),
            "specular_ratio": float(bsdf.specular_ratio(mask)[0]), "bounces": int(bsdf.bounces()[0]),
            "above": int(upper.sum()), "below": int((~upper).sum()), "none": int(samples - valid.sum())}


def lobe(bsdf, theta=45.0, size=160, samples=1 << 20, seed=1, mask=srf.SCATTER, cmap="magma"):
    """The lobe plot: evaluate's luminance (left) beside the sampled density
    (right), upper hemisphere on top, each disk seen from above (+x right,
    +y up)."""
    data = lobe_data(bsdf, theta, size, samples, seed, mask)
    figure = Figure(figsize=(9.0, 8.0), layout="constrained")
    axes = figure.subplots(2, 2)
    luminance = data["value"] @ LUMINANCE
    columns = [(luminance, "evaluate", "luminance of the value"),
               (data["density"], "sampled", "fraction of draws per sr")]
    for column, (images, title, unit) in enumerate(columns):
        top = np.nanmax(images) if np.any(images > 0) else 1.0
        for h, side in enumerate(("upper", "lower")):
            ax = axes[h, column]
            shown = ax.imshow(images[h], extent=(-1, 1, -1, 1), cmap=cmap, vmin=0.0, vmax=top,
                              interpolation="nearest")
            ax.add_patch(_rim())
            ax.set_title(f"{title}, {side} hemisphere", fontsize="medium")
            ax.set_xlabel("x")
            ax.set_ylabel("y")
        figure.colorbar(shown, ax=axes[:, column], shrink=0.8, label=unit)
    figure.suptitle(f"{bsdf.class_name}: u at {theta:g} degrees; albedo {data['albedo']:.4f}, "
                    f"specular ratio {data['specular_ratio']:.4f}, bounces {_bounce_text(data['bounces'])}")
    return figure


def _rim():
    from matplotlib.patches import Circle
    return Circle((0.0, 0.0), 1.0, fill=False, color="0.6", linewidth=0.8)


def polar(bsdf, theta=45.0, count=721, mask=srf.SCATTER):
    """evaluate's colour for directions v in the plane of incidence, at angle
    a from the normal (positive toward +x, where u lies), over the whole
    circle: the lower half shows what passes through the surface."""
    _one_lane(bsdf)
    theta = _number("theta", theta, 0.0, 180.0)
    count = _integer("count", count, 2, 1 << 20)
    u = _incident(theta)
    a = np.linspace(-np.pi, np.pi, count)
    v = np.stack([np.sin(a), np.zeros_like(a), np.cos(a)], axis=1)
    colour = bsdf.evaluate(u, NORMAL, v, mask=mask)[0]
    figure = Figure(figsize=(6.5, 6.5), layout="constrained")
    ax = figure.add_subplot(projection="polar")
    ax.set_theta_zero_location("N")
    ax.set_theta_direction(-1)
    for channel, name in enumerate(("red", "green", "blue")):
        ax.plot(a, colour[:, channel], color=name, linewidth=1.2, label=name[0].upper())
    ax.plot(a, colour @ LUMINANCE, color="black", linewidth=1.8, label="luminance")
    top = max(float(np.nanmax(colour)), 1e-6)
    ax.annotate("", xy=(np.radians(theta), top), xytext=(0.0, 0.0), arrowprops={"arrowstyle": "->"})
    ax.text(np.radians(theta), 1.05 * top, "u")
    ax.set_rlim(0.0, 1.1 * top)
    ax.set_thetagrids(range(0, 360, 45), labels=["0", "45", "90", "135", "180", "-135", "-90", "-45"])
    ax.legend(loc="upper left", bbox_to_anchor=(-0.12, 1.05), fontsize="small")
    ax.set_title(f"{bsdf.class_name} in the plane of incidence, u at {theta:g} degrees")
    return figure


def fit_quality(path, model="phong", result=None, measurements=None, panels=6, **fit_options):
    """Measured (dots) against fitted (rings) luminance over the scattered
    polar angle, one series per incident angle of a measurement file.

    The scattered angle is signed: positive on the side of the mirror
    direction (cos(phi_s - phi_i) < 0), negative toward u. Files with many
    incident angles show `panels` of them, evenly chosen.
    """
    panels = _integer("panels", panels, 1, 100)
    m = measurements if measurements is not None else srf.read_measurements(path)
    r = result if result is not None else srf.fit(path, model=model, **fit_options)
    fitted = r.values(m.incoming, m.scattered) @ LUMINANCE
    measured = m.values @ LUMINANCE
    incident = np.round(np.degrees(m.theta_i), 1)
    angles = np.unique(incident)
    if len(angles) > panels:
        angles = angles[np.linspace(0, len(angles) - 1, panels).round().astype(int)]
    side = np.where(np.cos(m.phi_s - m.phi_i) < 0, 1.0, -1.0)
    signed = np.degrees(m.theta_s) * side
    figure = Figure(figsize=(8.5, 5.5), layout="constrained")
    ax = figure.add_subplot()
    for k, angle in enumerate(angles):
        rows = incident == angle
        colour = f"C{k % 10}"
        ax.plot(signed[rows], measured[rows], ".", color=colour, markersize=4, label=f"theta_i {angle:g} deg")
        ax.plot(signed[rows], fitted[rows], "o", color=colour, markersize=6, markerfacecolor="none",
                markeredgewidth=0.7)
    ax.set_xlabel("scattered polar angle (degrees; + toward the mirror direction)")
    ax.set_ylabel("luminance of the value (1/sr)")
    ax.legend(fontsize="small", ncol=2)
    ax.set_title(f"{r.model} fit ({r.solver}) to {m.header.get('SAMPLE_NAME') or path}: "
                 f"RMS {r.rms:.4g} over {r.points} points\n(dots measured, rings fitted)")
    return figure
