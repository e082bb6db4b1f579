"""The Python module against the C++ library it binds: array queries lane by
lane against the shading ops' per-lane frame, input checking, reference
counts, shader errors, fitting, plots and fitting many files on a cluster."""

from csv import DictReader
import gc
import os
import subprocess
import sys

import numpy as np
import pytest

import srf

# The robust solver needs Ceres Solver, which a build may leave out.
needs_robust_solver = pytest.mark.skipif(not srf.HAS_ROBUST_SOLVER,
                                         reason="this build has no robust solver (Ceres Solver was not found)")

SOURCE = os.environ.get("SRF_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
EXAMPLES = os.path.join(SOURCE, "examples")
PLASTIC_FILE = os.path.join(EXAMPLES, "red_plastic.astm")
LANES = 300  # two chunks of lanes: 256 and 44
Z = (0.0, 0.0, 1.0)




def unit(rows):
    return rows / np.linalg.norm(rows, axis=1, keepdims=True)


rng = np.random.default_rng(7)
AXES = unit(rng.normal(size=(LANES, 3)) + (0, 0, 2))
TANGENTS = unit(np.cross(AXES, (0.0, 1.0, 0.0)))
BITANGENTS = np.cross(AXES, TANGENTS)
EXPONENTS = rng.uniform(0.5, 80.0, LANES)
INDEX = rng.integers(-1, 3, LANES)  # -1 lies outside the list: scatters nothing

# Every class the module builds, over LANES lanes of their own parameters
# where the class has any.
REGISTRY = {
    "SRF_Isotropic": lambda: srf.Isotropic(),
    "SRF_Emission": lambda: srf.Emission(),
    "SRF_Specular": lambda: srf.Specular(AXES),
    "SRF_Phong": lambda: srf.Phong(axis=AXES, exponent=EXPONENTS),
    "SRF_Blinn": lambda: srf.Blinn(AXES, EXPONENTS),
    "SRF_Cone": lambda: srf.Cone(AXES, EXPONENTS / 100.0),
    "SRF_Ashikhmin": lambda: srf.Ashikhmin(AXES, EXPONENTS, EXPONENTS[::-1], TANGENTS, BITANGENTS),
    "SRF_Lafortune": lambda: srf.Lafortune(AXES, (-1.0, -0.8, 1.0), EXPONENTS),
    "SRF_WireDiffuse": lambda: srf.WireDiffuse(TANGENTS),
    "SRF_WireBlinn": lambda: srf.WireBlinn(TANGENTS, EXPONENTS),
    "SRF_Measured": lambda: srf.Measured(PLASTIC_FILE, normal=AXES),
    "SRF_SumBSDF": lambda: srf.Phong(AXES, EXPONENTS) + srf.Isotropic() * (0.5, 0.2, 0.1),
    "SRF_ScaleBSDF": lambda: srf.Blinn(Z, 30.0) * rng.uniform(0.0, 1.0, (LANES, 3)),
    "SRF_MulBSDF": lambda: srf.Mul(srf.Cone(Z, 0.7) + srf.Emission(), srf.Phong(AXES, 5.0)),
    "SRF_SwitchBSDF": lambda: srf.Switch([srf.Isotropic(), srf.Phong(AXES, EXPONENTS), srf.Emission()], INDEX),
}

# The same queries through the shading ops, which call the masked per-lane
# queries lane by lane.
QUERY_SHADER = """
bsdf G
varying vector u
varying vector v
varying float sx
varying float sy
varying vector value
varying vector direction
varying vector weight
varying int bounce
varying vector albedo
varying float ratio
varying vector emitted
varying int bounces
varying float density
varying vector estimated
varying float density2
eval_bsdf@VBVVVI value G u N v MASK
sample_bsdf@BVVVVIFFI G u N direction weight bounce sx sy MASK
albedo@VBVVI albedo G u N MASK
specularratio_bsdf@FBI ratio G MASK
emission_bsdf@VB emitted G
getbounces@IB bounces G
pdf_bsdf@FBVVVI density G u N v MASK
eval_pdf_bsdf@VFBVVVI estimated density2 G u N v MASK
"""


def query_inputs(count):
    u = unit(rng.normal(size=(count, 3)))
    u[:8] = [[1, 0, 0], [0, 0, -1], [0, 1, 1e-7], [0.6, 0, 0.8], [0, 0, 1], [np.nan, 0, 1], [0, 0, 1], [0.3, 0, 0.9]]
    v = unit(rng.normal(size=(count, 3)))
    v[6] = [np.nan, np.nan, np.nan]
    return u, unit(rng.normal(size=(count, 3)) + (0, 0, 3)), v, rng.random(count), rng.random(count)


def through_ops(bsdf, mask, mode, **inputs):
    srf.set_batch_mode(mode)
    try:
        return srf.Shader(QUERY_SHADER.replace("MASK", str(mask))).run(G=bsdf, **inputs)
    finally:
        srf.set_batch_mode("auto")


@pytest.mark.parametrize("name", REGISTRY)
def test_queries_equal_per_lane_ops_for_every_class(name):
    bsdf = REGISTRY[name]()
    assert bsdf.class_name == name
    count = bsdf.lanes if bsdf.lanes > 1 else 2 * srf.CHUNK_LANES + 3
    u, n, v, sx, sy = query_inputs(count)
    sampled = name != "SRF_Measured"  # its model draws from a process-wide generator
    for mask in (srf.SCATTER, srf.DIFFUSE, srf.GLOSSY | srf.SPECULAR, 0):
        colour, scalar = bsdf.evaluate(u, n, v, mask=mask)
        assert colour.dtype == scalar.dtype == np.float32 and scalar.shape == (count,)
        ours = {"value": colour, "albedo": np.repeat(bsdf.albedo(u, n, mask=mask)[:, None], 3, axis=1)}
        ours["estimated"], ours["density2"] = bsdf.evaluate_pdf(u, n, v, mask=mask)
        ours["density"] = bsdf.pdf(u, n, v, mask=mask)
        np.testing.assert_array_equal(ours["density"], ours["density2"])
        if sampled:
            ours["direction"], ours["weight"], ours["bounce"] = bsdf.sample(u, n, sx, sy, mask=mask)
        if bsdf.lanes > 1:
            ours.update(ratio=bsdf.specular_ratio(mask), emitted=bsdf.emission(), bounces=bsdf.bounces())
        # The ops' batch answers row for row what the module does; their
        # per-lane answers, the masked per-lane queries, agree within the
        # batch path's rounding.
        batch = through_ops(bsdf, mask, "auto", lanes=count, u=u, N=n, v=v, sx=sx, sy=sy)
        per_lane = through_ops(bsdf, mask, "per_lane", lanes=count, u=u, N=n, v=v, sx=sx, sy=sy)
        for key, value in ours.items():
            np.testing.assert_array_equal(value, batch[key], err_msg=key)
            np.testing.assert_allclose(value, per_lane[key], rtol=1e-5, atol=1e-5, err_msg=key)
    if bsdf.lanes > 1:
        # A duplicate answers as the original, and the dump names the tree.
        np.testing.assert_array_equal(bsdf.duplicate().evaluate(u, n, v)[0], bsdf.evaluate(u, n, v)[0])
    assert name in bsdf.dump()


def test_lanes_take_their_own_parameters_and_broadcast():
    # Worked by hand: Phong's albedo is 1 / (e + 1) and its specular ratio
    # e / (e + 1); lane i has exponent i, across the chunk boundary.
    e = np.arange(LANES, dtype=np.float64)
    phong = srf.Phong(Z, e)
    np.testing.assert_allclose(phong.albedo(Z, Z), 1.0 / (e + 1.0), rtol=1e-6)
    np.testing.assert_allclose(phong.specular_ratio(), e / (e + 1.0), rtol=1e-6)
    # Isotropic answers 1 everywhere; scaled per lane, lane i gives colour i.
    tint = np.stack([e, 2 * e, 3 * e], axis=1)
    colour, _ = (srf.Isotropic() * tint).evaluate(Z, Z, (0, 0.6, 0.8))
    np.testing.assert_allclose(colour, tint)
    # Emission is (1, 1, 1) per lane, scaled by a grey number.
    np.testing.assert_array_equal((0.5 * srf.Emission()).emission(), [[0.5, 0.5, 0.5]])
    assert srf.Isotropic().evaluate(np.zeros((0, 3)), Z, Z)[0].shape == (0, 3)
    # One row of an input serves every row of the others: u matters to
    # Blinn's value, n to Phong's side test.
    v = unit(rng.normal(size=(40, 3)) + (0, 0, 1))
    lobe = srf.Blinn(Z, 20.0) + srf.Phong(Z, 5.0)
    rows = np.tile([0.6, 0, 0.8, 0.6, 0, 0.8], (40, 1))
    single = lobe.evaluate((0.6, 0, 0.8), (0.6, 0, 0.8), v)[0]
    np.testing.assert_array_equal(single, lobe.evaluate(rows[:, :3], rows[:, 3:], v)[0])
    assert len(np.unique(single[:, 0])) > 20
    # sample and albedo read one-row inputs in place too, past a chunk's
    # 256 rows, and answer what the repeated rows answer.
    sx = rng.random(300)
    one = lobe.sample((0.6, 0, 0.8), Z, sx, 0.25)
    tiled = lobe.sample(np.tile([0.6, 0, 0.8], (300, 1)), np.tile(Z, (300, 1)), sx, np.full(300, 0.25))
    for a, b in zip(one, tiled):
        np.testing.assert_array_equal(a, b)
    assert len(np.unique(one[0][:, 0])) > 200
    np.testing.assert_array_equal(lobe.albedo(v, Z), lobe.albedo(v, np.tile(Z, (40, 1))))
    assert repr(srf.Blinn(Z, 20.0)) == "<srf.BSDF SRF_Blinn, 1 lane>"
    # The measured lobe's default frame is the flat shading point's.
    flat = srf.Measured(PLASTIC_FILE, normal=Z, dPds=(1, 0, 0), dPdt=(0, 1, 0))
    np.testing.assert_array_equal(srf.Measured(PLASTIC_FILE).evaluate(Z, Z, v)[0], flat.evaluate(Z, Z, v)[0])
    # A masked-out sample leaves zeros in both modes (random numbers 0 and 1
    # are in range); the bounce types come back by lane.
    assert srf.set_batch_mode("per-lane") == "per_lane"  # the environment variable's spelling too
    for mode in ("per_lane", "auto"):
        srf.set_batch_mode(mode)
        d, c, b = srf.Phong(Z, 10.0).sample(Z, Z, 0.0, 1.0, mask=srf.DIFFUSE)
        assert not d.any() and not c.any() and b[0] == 0
    both = srf.Switch([srf.Isotropic(), srf.Phong(Z, 3.0)], [0, 1, 5])
    np.testing.assert_array_equal(both.bounces(), [srf.DIFFUSE, srf.GLOSSY, 0])


FIT = srf.FitResult(path="", model="phong", parameters=dict.fromkeys("abcdefg", 0.5), rms=0, points=0, seconds=0)


@pytest.mark.parametrize("call, message", [
    (lambda: srf.Phong(np.zeros((4, 2)), 1.0), r"axis must have shape \(3,\) or \(N, 3\), not \(4, 2\)"),
    (lambda: srf.Phong(Z, [[1.0]]), r"exponent must have shape"),
    (lambda: srf.Phong(Z, np.array([1 + 2j])), r"exponent: values of dtype complex128 cannot be read as float32"),
    (lambda: srf.Phong(Z, "high"), r"exponent: values of dtype <U4"),
    (lambda: srf.Phong(np.zeros((3, 3)), np.ones(4)), r"exponent has 4 rows where 3 are wanted"),
    (lambda: srf.Switch([srf.Isotropic()], [0.5]), r"index: values of dtype float64 cannot be read as int32"),
    (lambda: srf.Switch([srf.Isotropic()], [2**40]), r"beyond the 32-bit int range"),
    (lambda: srf.Switch([None], 0), r"an entry is None"),
    (lambda: srf.Phong(np.ones((3, 3)), 1.0) + srf.Phong(np.ones((4, 3)), 1.0), r"Sum: 3 lanes against 4"),
    (lambda: srf.Phong(np.ones((3, 3)), 1.0).evaluate(np.ones((4, 3)), Z, Z), r"4 rows but the BSDF has 3 lanes"),
    (lambda: srf.Isotropic().evaluate(np.ones((4, 3)), np.ones((5, 3)), Z), r"n has 5 rows where 4 are wanted"),
    (lambda: srf.Isotropic().sample(Z, Z, 1.5, 0.0), r"sx must lie in \[0, 1\]"),
    (lambda: srf.Isotropic() * srf.Isotropic(), r"a @ b"),
    (lambda: srf.Shader(os.path.join(EXAMPLES, "plastic.kal")).run(0), r"lanes must be at least 1"),
    (lambda: srf.Shader(os.path.join(EXAMPLES, "plastic.kal")).run(2, gloss=1.0), r"no variable 'gloss'"),
    (lambda: srf.Shader(os.path.join(EXAMPLES, "plastic.kal")).run(2, shine=[1.0, 2.0]), r"'shine' is uniform"),
    (lambda: srf.Shader(os.path.join(EXAMPLES, "plastic.kal")).run(2, N=np.ones((3, 3))), r"'N' has 3 rows for 2"),
    (lambda: srf.Shader(os.path.join(EXAMPLES, "plastic.kal")).run(2, coat=1.0), r"'coat' holds a BSDF"),
    (lambda: srf.Shader("string s = \"x\"\nisotropic@B F\n").run(1, s=1), r"'s' holds a string"),
    (lambda: srf.Measured("no-such-file.astm"), r"cannot read 'no-such-file.astm'"),
    (lambda: srf.fit("no-such-file.astm"), r"no-such-file.astm"),
    (lambda: srf.fit(PLASTIC_FILE, model="lambert"), r"model must be phong or ashikhmin"),
    (lambda: srf.fit(PLASTIC_FILE, solver="fast"), r"solver must be defined or robust"),
    (lambda: srf.set_batch_mode("fastest"), r"batch mode must be one of auto, per_lane, scalar"),
    (lambda: FIT.values(np.ones((2, 2)), np.ones((2, 3))), r"incoming and scattered must both have shape \(N, 3\)"),
    (lambda: FIT.values(np.ones((2, 3)), np.ones((2, 2))), r"incoming and scattered must both have shape"),
])
def test_bad_input_is_a_clear_value_error(call, message):
    with pytest.raises((ValueError, TypeError), match=message):
        call()


def test_inputs_converted_where_numpy_can():
    u = np.array([[0.6, 0.0, 0.8], [0.0, 0.6, 0.8], [0.8, 0.0, 0.6]])
    phong = srf.Phong(Z, [2, 7, 40])  # ints become floats
    expected = phong.evaluate(u.astype(np.float32), Z, u[::-1].copy())
    for v in (u[::-1], np.asfortranarray(u[::-1]), u[::-1].tolist()):  # non-contiguous, Fortran order, lists
        for got, want in zip(phong.evaluate(u, np.array(Z, dtype=np.float16), v), expected):
            np.testing.assert_array_equal(got, want)


def test_shader_errors_name_file_and_line(work):
    with pytest.raises(srf.Error, match=r'^<text>:3: call "phong@BF": takes 2 operands, given 1$'):
        srf.Shader("bsdf coat\nisotropic@B F\nphong@BF coat\n")
    path = os.path.join(work, "broken.kal")
    with open(path, "w") as f:
        f.write("float x = 1\nfloat x = 2\n")
    with pytest.raises(srf.Error, match="^" + path + r":2: "):
        srf.Shader(path)
    with pytest.raises(srf.Error, match=r"cannot read 'missing\.kal'"):
        srf.Shader("missing.kal")
    # One line with a call is a text, not a file name; uniform ints and the
    # default normal come back.
    assert srf.Shader("isotropic@B F").run()["F"].class_name == "SRF_Isotropic"
    out = srf.Shader("int k = 3\nisotropic@B F").run()
    assert out["k"] == 3 and out["N"].tolist() == [[0, 0, 1]]


def test_references_and_ownership():
    # A BSDF outlives the shader and the run that built it.
    shader = srf.Shader(os.path.join(EXAMPLES, "plastic.kal"))
    out = shader.run(LANES, N=AXES)
    plastic, coat = out["F"], out["coat"]
    assert plastic.lanes == coat.lanes == LANES and out["shine"] == 40.0
    np.testing.assert_array_equal(out["N"], AXES.astype(np.float32))
    # dPds and dPdt: the default flat shading point.
    np.testing.assert_array_equal([out["dPds"][-1], out["dPdt"][-1]], [[1, 0, 0], [0, 1, 0]])
    np.testing.assert_array_equal(out["tint"], np.float32([0.8, 0.2, 0.1]))
    del shader, out
    gc.collect()
    colour, _ = plastic.evaluate(AXES, AXES, unit(AXES + (0.1, 0, 0)))
    assert np.all(colour > 0)
    # Operands stay alive inside composites after their Python objects go.
    tree = plastic + coat * 2.0
    del plastic, coat
    gc.collect()
    assert tree.class_name == "SRF_SumBSDF" and np.all(tree.albedo(Z, AXES) > 0)
    # Shared subtrees: the tree a query would walk is bounded, as in the ops.
    x = srf.Isotropic()
    with pytest.raises(ValueError, match="more than 4096 nodes"):
        for _ in range(20):
            x = x + x
    # A shader that leaves no BSDF gives None; one that leaves none in the
    # first chunk of lanes only (a factor of 0 drops it there) answers as a
    # null BSDF on those lanes.
    assert srf.Shader("mul@BF F 0.5\n").run(3)["F"] is None
    k = (np.arange(LANES) >= srf.CHUNK_LANES).astype(np.float32)
    part = srf.Shader("varying float k\nisotropic@B F\nmul@BF F k\n").run(LANES, k=k)["F"]
    np.testing.assert_array_equal(part.evaluate(Z, Z, Z)[0][:, 0], k)
    np.testing.assert_array_equal(part.bounces(), k.astype(int) * srf.DIFFUSE)


def phong_file(path, ks, kd, exponent, points=1200, seed=3):
    """A measurement file of the fitted Phong model Kd (v.n) + Ks (h.n)^e,
    written from the formula by hand."""
    r = np.random.default_rng(seed)
    ti, ts = r.uniform(0, 1.3, points), r.uniform(0, 1.3, points)
    pi, ps = r.uniform(-np.pi, np.pi, points), r.uniform(-np.pi, np.pi, points)
    u = np.stack([np.sin(ti) * np.sin(pi), np.sin(ti) * np.cos(pi), np.cos(ti)], axis=1)
    v = np.stack([np.sin(ts) * np.sin(ps), np.sin(ts) * np.cos(ps), np.cos(ts)], axis=1)
    ch = unit(u + v)[:, 2]
    rgb = np.outer(v[:, 2], kd) + np.outer(ch ** exponent, ks)
    with open(path, "w") as f:
        f.write(f"SAMPLE_NAME generated\nNUM_POINTS {points}\nVARS theta_i,phi_i,theta_s,phi_s,R,G,B\n\n")
        np.savetxt(f, np.column_stack([ti, pi, ts, ps, rgb]), fmt="%.9g", delimiter=",")
    return ti, pi, ts, ps, rgb


@needs_robust_solver
def test_read_and_fit_recover_a_generated_file(work):
    path = os.path.join(work, "phong.astm")
    ks, kd, exponent = (0.4, 0.3, 0.2), (0.5, 0.25, 0.1), 35.0
    ti, pi, ts, ps, rgb = phong_file(path, ks, kd, exponent)
    m = srf.read_measurements(path)
    assert m.points == 1200 and m.header["NUM_POINTS"] == 1200 and m.header["SAMPLE_NAME"] == "generated"
    assert m.header["VARS"] == ["theta_i", "phi_i", "theta_s", "phi_s", "R", "G", "B"]
    np.testing.assert_allclose(m.values, rgb, rtol=1e-7)
    for got, want in ((m.theta_i, ti), (m.phi_i, pi), (m.theta_s, ts), (m.phi_s, ps)):
        np.testing.assert_allclose(got, want, atol=1e-6)
    result = srf.fit(path, model="phong")
    assert result.solver == "robust" and result.points == 1200 and result.rms < 1e-4 and result.seconds > 0
    np.testing.assert_allclose(list(result.parameters.values()), ks + kd + (exponent,), rtol=0.01)
    np.testing.assert_allclose(result.values(m.incoming, m.scattered), rgb, atol=1e-4)
    # The defined solver is the fit the measured lobe renders with.
    logrel = srf.fit(path, model="phong", metric="logrel")
    assert logrel.metric == "logrel" and logrel.metric_value != logrel.rms
    defined = srf.fit(path, model="phong", solver="defined")
    assert defined.solver == "defined" and list(defined.parameters) == list(result.parameters)


@needs_robust_solver
def test_fit_arrays_and_render_the_fit(work):
    path = os.path.join(work, "arrays.astm")
    ks, kd, exponent = (0.4, 0.3, 0.2), (0.5, 0.25, 0.1), 35.0
    ti, pi, ts, ps, rgb = phong_file(path, ks, kd, exponent)
    angles = np.column_stack([ti, pi, ts, ps])
    # Arrays fit as the file does; a mask and zero weights leave rows out
    # alike, and rows made wrong there do not matter.
    from_file = srf.fit(path)
    from_arrays = srf.fit(angles=angles, values=rgb)
    np.testing.assert_allclose(list(from_arrays.parameters.values()), list(from_file.parameters.values()),
                               rtol=1e-6)
    assert from_arrays.rms_rgb == pytest.approx(np.sqrt(3) * from_arrays.rms)
    wrong = rgb.copy()
    wrong[::3] *= 50.0
    keep = np.ones(len(rgb), bool)
    keep[::3] = False
    masked = srf.fit(angles=angles, values=wrong, mask=keep, loss="none")
    weighted = srf.fit(angles=angles, values=wrong, weights=keep.astype(float), loss="none")
    np.testing.assert_allclose(list(masked.parameters.values()), ks + kd + (exponent,), rtol=0.01)
    np.testing.assert_allclose(list(weighted.parameters.values()), list(masked.parameters.values()), rtol=1e-4)
    assert "mask: 400 rows left out" in masked.account
    # The fit's shader builds its BSDF from library lobes: a Phong lobe
    # about N for the diffuse term and a Blinn lobe for the highlight.
    text = from_file.shader_text()
    assert "phonglobe@BVF" in text and "blinn@BVF" in text
    bsdf = from_file.bsdf()
    assert bsdf is not None and bsdf.lanes == 1
    iso = srf.fit(path, model="ashikhmin", isotropic=True)
    assert iso.parameters["exponent.u"] == iso.parameters["exponent.v"] and iso.isotropic
    for call, message in ((lambda: srf.fit(angles=angles[:, :3], values=rgb), "shape"),
                          (lambda: srf.fit(path, angles=angles, values=rgb), "not both"),
                          (lambda: srf.fit(angles=angles, values=rgb, weights=-np.ones(len(rgb))), "negative"),
                          (lambda: srf.fit(path, loss="l2"), "loss must be"),
                          (lambda: srf.fit(path, model="phong", isotropic=True), "isotropic"),
                          (lambda: srf.FitResult(path, "phong", dict(from_file.parameters, exponent=np.inf), 0.0, 0,
                                                 0.0).shader_text(), "not a finite")):
        with pytest.raises(ValueError, match=message):
            call()


@needs_robust_solver
def test_plots_show_the_lobe_and_the_fit(work):
    plot = srf.plot
    # The histogram is a density: a cosine-power lobe samples in proportion
    # to its value, (e + 1) / (2 pi) (D.v)^e per steradian.
    data = plot.lobe_data(srf.Phong(Z, 4.0), theta=30.0, size=24, samples=1 << 19)
    expected = 5.0 / (2 * np.pi) * data["value"][0][..., 0]
    inside = np.isfinite(expected)
    error = np.abs(data["density"][0][inside] - expected[inside]).sum() / expected[inside].sum()
    assert error < 0.05 and data["above"] == 1 << 19 and not np.nansum(data["density"][1])
    shader = srf.Shader(os.path.join(EXAMPLES, "plastic.kal"))
    figures = {"lobe": plot.lobe(shader.run()["F"], theta=40.0, size=48, samples=1 << 15),
               "polar": plot.polar(shader.run()["F"], theta=40.0),
               "fit": plot.fit_quality(PLASTIC_FILE, model="phong")}
    for name, figure in figures.items():
        figure.savefig(os.path.join(work, name + ".png"))
        with open(os.path.join(work, name + ".png"), "rb") as f:
            assert f.read(8) == b"\x89PNG\r\n\x1a\n"
    assert len(figures["lobe"].axes) == 6 and "SRF_SumBSDF" in figures["lobe"].texts[0].get_text()


@needs_robust_solver
def test_fit_many_files_on_a_local_cluster(work):
    folder = os.path.join(work, "files")
    os.makedirs(os.path.join(folder, "more"), exist_ok=True)
    exponents = {"a.astm": 10.0, "b.astm": 60.0, os.path.join("more", "c.astm"): 300.0}
    for name, exponent in exponents.items():
        phong_file(os.path.join(folder, name), (0.3, 0.3, 0.3), (0.2, 0.4, 0.6), exponent, points=400)
    csv = os.path.join(work, "fits.csv")
    script = os.path.join(EXAMPLES, "python", "fit_many.py")
    env = dict(os.environ, DASK_TEMPORARY_DIRECTORY=os.path.join(work, "dask"))  # the workers' scratch space
    run = subprocess.run([sys.executable, script, folder, "-o", csv, "--workers", "2"], capture_output=True,
                         text=True, timeout=240, env=env)
    assert run.returncode == 0, run.stderr
    with open(csv, newline="") as f:
        rows = list(DictReader(f))
    assert sorted(row["file"] for row in rows) == sorted(exponents)
    for row in rows:
        assert row["error"] == "" and row["points"] == "400" and row["loss"] == "cauchy"
        assert abs(float(row["exponent"]) / exponents[row["file"]] - 1) < 0.02
        assert "rows: 400 read of 400 announced" in row["account"]
