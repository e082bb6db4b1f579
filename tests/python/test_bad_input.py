"""Bad input against the Python module: every input gives a result, a clear
exception or a warning, never a crash, a hang or a silent surprise. Ends
with the fuzz corpora replayed through the module, which the fuzz build
cannot load."""

import glob
import os
import signal
import subprocess
import sys
import time
import warnings

import numpy as np
import pytest

import srf

SOURCE = os.environ.get("SRF_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
EXAMPLES = os.path.join(SOURCE, "examples")
PLASTIC_FILE = os.path.join(EXAMPLES, "red_plastic.astm")
CORPORA = os.path.join(SOURCE, "fuzz", "corpus")
Z = (0.0, 0.0, 1.0)
MEMORY = os.sysconf("SC_PHYS_PAGES") * os.sysconf("SC_PAGE_SIZE")
U = (0.6, 0.0, 0.8)




def write(path, data):
    with open(path, "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode())
    return path


def test_inputs_that_crashed_or_hung_the_module():
    # A string declared without a value has none; the run goes on.
    out = srf.Shader(b'string name\nstring other = "x\xffy"\nisotropic@B F\n').run()
    assert out["name"] is None and out["other"] == "x\xffy" and out["F"].class_name == "SRF_Isotropic"
    # Bytes that are not UTF-8 in a listing, and in a file's name.
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", srf.MeasurementWarning)
        assert 'F, "\\xff.astm"' in srf.Shader(b'measured@BS F "\xff.astm"\n').listing
    # No lanes: refused before any repr, class_name or dump can see them.
    for make in (lambda: srf.Cone(np.zeros((0, 3)), 1.0), lambda: srf.Phong(Z, np.array([])),
                 lambda: srf.Isotropic() * np.zeros((0, 3)),
                 lambda: srf.Switch([srf.Isotropic()], np.array([], dtype=np.int32)),
                 lambda: srf.Measured(PLASTIC_FILE, normal=np.zeros((0, 3)))):
        with pytest.raises(ValueError, match="at least one lane"):
            make()
    # The fitter's starts are capped as `srf fit --starts` is.
    for starts in (0, 1001, 10**9, 10**12):
        with pytest.raises(srf.Error, match=f"starts must be an integer from 1 to 1000, not {starts}$"):
            srf.fit(PLASTIC_FILE, starts=starts)
    # Lane counts whose results cannot be held are refused at once: per
    # lane a BSDF (16 bytes at least), N, dPds and dPdt (36) and 4 more.
    shader = srf.Shader("diffuse@B F\n")
    with pytest.raises(MemoryError, match=r"Shader.run: 274877906944 lanes need at least 15393.2 GB, more than the"):
        shader.run(lanes=2**38)
    with pytest.raises(ValueError, match="lanes are more than"):
        shader.run(lanes=2**50)


def test_a_shader_file_named_in_bytes(work):
    with open(os.path.join(EXAMPLES, "plastic.kal")) as f:
        path = write(os.path.join(os.fsencode(work), b"plastic-\xff.kal"), f.read())
    shader = srf.Shader(path)
    assert shader.name == os.fsdecode(path) and repr(shader).endswith("plastic-\\xff.kal>")
    assert shader.run()["F"].class_name == "SRF_SumBSDF"


def test_ctrl_c_stops_a_long_run(work):
    # A run of a minute or more (20000 albedo queries on each of 4000
    # chunks of lanes), interrupted a second after it starts, stops within
    # seconds.
    script = write(os.path.join(work, "long_run.py"), (
        "import srf, sys\n"
        "shader = srf.Shader('bsdf b\\nphong@BF b 5\\nvarying vector a\\n' + 'albedo@VBVVI a b N N 7\\n' * 20000)\n"
        "print('ready', flush=True)\n"
        "shader.run(lanes=256 * 4000)\n"
        "print('finished', flush=True)\n"))
    process = subprocess.Popen([sys.executable, script], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        assert process.stdout.readline() == "ready\n"
        time.sleep(1.0)
        started = time.monotonic()
        process.send_signal(signal.SIGINT)
        out, err = process.communicate(timeout=30)
    finally:
        process.kill()
    assert "KeyboardInterrupt" in err and "finished" not in out and time.monotonic() - started < 30


@pytest.mark.parametrize("call, error, message", [
    (lambda: srf.Shader(None), TypeError, r"source must be a path .* not NoneType"),
    (lambda: srf.Shader(3.5), TypeError, r"not float"),
    (lambda: srf.Shader(b"\xff\xfe"), srf.Error, r"cannot read '\\xff\\xfe'"),
    # Quoted text is cut between characters.
    (lambda: srf.Shader("float x = a" + "é" * 50 + "\ndiffuse@B F\n"), srf.Error,
     "^<text>:1: declaration of \"x\": \"a" + "é" * 39 + "...\" is not a number$"),
    (lambda: srf.Shader("\xff\xfe diffuse@B F\n"), srf.Error, "found \"\xff\xfe\""),
    (lambda: srf.Shader(b"\xff\xfe\ndiffuse@B F\n"), srf.Error, r'found "\\xFF\\xFE"'),
    (lambda: srf.Shader("float x = 1e39\ndiffuse@B F\n"), srf.Error, r'"1e39" is out of range for a float'),
    (lambda: srf.Shader("vector v = 0 -1e39 0\ndiffuse@B F\n"), srf.Error, r'"-1e39" is out of range for a float'),
    (lambda: srf.Phong(Z, [1.0, -1.0]), ValueError,
     r"exponent must be a finite number of at least 0; row 1 holds -1.0"),
    (lambda: srf.Blinn(Z, -0.5), ValueError, r"exponent must be .* row 0 holds -0.5"),
    (lambda: srf.WireBlinn((1, 0, 0), np.inf), ValueError, r"exponent must be .* holds inf"),
    (lambda: srf.Ashikhmin(Z, 2.0, np.nan, (1, 0, 0), (0, 1, 0)), ValueError, r"exponent2 must be .* holds nan"),
    (lambda: srf.plot.lobe_data(srf.Isotropic(), size=0), ValueError, r"size must be an integer from 1 to 2048, not 0"),
    (lambda: srf.plot.lobe(srf.Isotropic(), size=2.5), ValueError, r"size must be an integer"),
    (lambda: srf.plot.lobe_data(srf.Isotropic(), theta=500), ValueError, r"theta must be a number from 0 to 180"),
    (lambda: srf.plot.polar(srf.Isotropic(), theta=-1), ValueError, r"theta must be a number from 0 to 180"),
    (lambda: srf.plot.polar(srf.Isotropic(), count=1), ValueError, r"count must be an integer from 2"),
    (lambda: srf.plot.lobe_data(srf.Isotropic(), samples=0), ValueError, r"samples must be an integer from 1"),
    (lambda: srf.plot.lobe_data(srf.Isotropic(), samples=2**31 - 1), MemoryError,
     r"lobe_data: samples: 2147483647 lanes need at least 214.7 GB"),
    (lambda: srf.plot.lobe_data("plastic", size=8), TypeError, r"plots draw an srf.BSDF, not str"),
    (lambda: srf.plot.fit_quality(PLASTIC_FILE, panels=0), ValueError, r"panels must be an integer from 1"),
])
def test_bad_arguments_say_what_is_wrong(call, error, message):
    if error is MemoryError and MEMORY > 200e9:
        pytest.skip("this machine could hold the draws")
    with pytest.raises(error, match=message):
        call()


def test_exponents_of_zero_and_the_lafortune_lobe_pass_as_the_ops_pass_them():
    # Zero is a uniform lobe; the Lafortune lobe's own exponent of 0 or less
    # makes it diffuse, as the op builds it.
    assert srf.Phong(Z, 0.0).albedo(U, Z)[0] == pytest.approx(1.0)
    via_op = srf.Shader("float e = -1\nvector c = 1 1 1\nlafortune@BVVF F N c e\n").run()["F"]
    direct = srf.Lafortune(Z, (1, 1, 1), -1.0)
    assert direct.bounces()[0] == via_op.bounces()[0] == srf.DIFFUSE
    np.testing.assert_array_equal(direct.albedo(U, Z), via_op.albedo(U, Z))


def test_files_in_latin1_and_unreadable_measurement_files(work):
    # A sample name in Latin-1 reads as the CLI reads it.
    text = open(PLASTIC_FILE, "rb").read()
    latin1 = write(os.path.join(work, "latin1.astm"),
                   text.replace(b"SAMPLE_NAME red plastic", b"SAMPLE_NAME Rot\xe4 Farbe"))
    m = srf.read_measurements(latin1)
    assert m.header["SAMPLE_NAME"] == "Rotä Farbe" and "sample: Rotä Farbe" in m.header["account"]
    assert srf.fit(latin1, starts=1).points == m.points
    # A short repr, whatever the file's size.
    assert repr(m) == f"<srf.Measurements {latin1!r}: {m.points} points, sample 'Rotä Farbe'>"
    # A shader naming a file that cannot be read warns once per file; the
    # lobe is still built, on an empty data set.
    lost = os.path.join(work, "lost-%d.astm" % os.getpid())
    text = f'bsdf b\nmeasured@BS F "{lost}"\nmeasured@BS b "{lost}"\nadd@BB F b\n'
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        first, second = srf.Shader(text), srf.Shader(text)
        srf.Shader(f'measured@BS F "{PLASTIC_FILE}"\n')
    assert [(w.category, str(w.message)) for w in caught] == [
        (srf.MeasurementWarning, f'<text>: cannot read the measurement file "{lost}" (No such file or directory): '
                                 "its measured lobe has no measurements to fit")]
    assert first.run()["F"].class_name == "SRF_SumBSDF" and second.run()["F"].dump().count("SRF_Measured") == 2
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        with pytest.raises(srf.MeasurementWarning, match="lost-again"):
            srf.Shader(f'measured@BS F "{lost}-lost-again"\n')


def _query(bsdf):
    """Every query of a BSDF from a replayed input, which must answer."""
    assert bsdf.lanes >= 1 and repr(bsdf).startswith("<srf.BSDF ") and bsdf.dump()
    rng = np.random.default_rng(3)
    rows = bsdf.lanes
    bsdf.evaluate(U, Z, rng.normal(size=(rows, 3)), mask=srf.ALL)
    bsdf.sample(U, Z, rng.random(rows), rng.random(rows), mask=srf.ALL)
    bsdf.albedo(U, Z)
    bsdf.specular_ratio()
    bsdf.emission()
    bsdf.bounces()
    bsdf.duplicate().lanes


def corpus(name):
    folders = [os.path.join(CORPORA, name)]
    # More folders, such as a long fuzz run's corpus: SRF_FUZZ_CORPORA names
    # them, NAME=FOLDER separated by ':'.
    for entry in filter(None, os.environ.get("SRF_FUZZ_CORPORA", "").split(":")):
        kind, _, folder = entry.partition("=")
        if kind == name:
            folders.append(folder)
    files = sorted(f for folder in folders for f in glob.glob(os.path.join(folder, "*")) if os.path.isfile(f))
    assert files, f"no corpus for {name}"
    return files


def test_shader_corpus_replayed_through_the_module():
    loaded = 0
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", srf.MeasurementWarning)
        for path in corpus("shader"):
            try:
                shader = srf.Shader(path)
            except srf.Error as error:
                assert str(error) and "\n" not in str(error), path
                continue
            loaded += 1
            assert shader.listing
            for value in shader.run(lanes=3).values():
                if isinstance(value, srf.BSDF):
                    _query(value)
            text = open(path, "rb").read()
            srf.Shader.from_text(text.decode("utf-8", "replace")).run(lanes=1)
    assert loaded > 0


def test_measurement_corpora_replayed_through_the_module():
    read = 0
    for path in corpus("measured") + corpus("fitreader"):
        try:
            m = srf.read_measurements(path)
        except srf.Error as error:
            assert str(error) and "\n" not in str(error), path
        else:
            read += 1
            assert m.points == len(m.values) >= 1 and len(repr(m)) < 300
            assert np.isfinite(m.incoming).all() and np.isfinite(m.scattered).all()
            if m.points <= 64:
                result = srf.fit(path, starts=1)
                assert result.points == m.points and np.isfinite(result.rms)
        _query(srf.Measured(path))
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", srf.MeasurementWarning)
            out = srf.Shader(f'measured@BS F "{path}"\n').run(lanes=2)
        _query(out["F"])
    assert read > 0
