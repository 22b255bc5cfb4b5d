"""velmora.fit against velmora-fit: the same report, CSV and figures for
every option of the command, from a file or a table, and the same
refusals."""

import io

import numpy as np
import pytest
from conftest import assert_same_table, output_of, refusal_of

import velmora
from velmora import _velmora

# About what J = 0.1 and N = 4 give a 10 x 31 cm pair 10 cm apart in ten
# minutes.
COUNTS = {
    "tilt_deg": [0, 30, 60],
    "distance_cm": [10, 10, 10],
    "coincidences": [176, 117, 32],
    "live_time_s": [600, 600, 600],
}
CSV = "tilt_deg,distance_cm,coincidences,live_time_s\n0,10,176,600\n" \
      "30,10,117,600\n60,10,32,600\n"


@pytest.fixture(name="counts")
def counts_file(tmp_path):
    path = tmp_path / "counts.csv"
    path.write_text(CSV)
    return str(path)


# The command's words and the module's keyword arguments; every option of
# velmora-fit has a row at least. The Monte Carlo where it may be chosen
# and is the quicker: not under the muon spectrum.
SAME_FIT = [
    ("--method mc", dict(method="mc")),
    ("--method integral", dict(method="integral")),
    ("--method mc --intensity", dict(method="mc", intensity=True)),
    ("--method mc --csv", dict(method="mc", csv=True)),
    ("--paddles 10x31x1", dict(paddles="10x31x1")),
    ("--top 10x31 --bottom 12x33 --method mc", dict(top="10x31", bottom="12x33", method="mc")),
    ("--offset 1,0 --method mc", dict(offset=[1, 0], method="mc")),
    ("--layer 10x31@5 --method mc", dict(layer=["10x31@5"], method="mc")),
    ("--paddles 10x31x1 --min-path 0.5", dict(paddles="10x31x1", min_path=0.5)),
    ("--layer 10x31@5 --require 1+3 --method mc",
     dict(layer="10x31@5", require="1+3", method="mc")),
    ("--detection 0.9,0.95 --method mc", dict(detection=[0.9, 0.95], method="mc")),
    ("--noise 5,5 --window 100 --method mc", dict(noise=[5, 5], window=100, method="mc")),
    ("--exponent 4 --method mc", dict(exponent=4, method="mc")),
    ("--tilt-azimuth 30 --method mc", dict(tilt_azimuth=30, method="mc")),
    ("--seed 3 --method mc", dict(seed=3, method="mc")),
    ("--threads 1 --method mc", dict(threads=1, method="mc")),
    ("--background free --method mc", dict(background="free", method="mc")),
    ("--sky spectrum --altitude 1000 --overburden concrete:20",
     dict(sky="spectrum", altitude=1000, overburden="concrete:20")),
    ("--sky spectrum --paddles 10x31x1 --absorber lead:10x31x1@1",
     dict(sky="spectrum", paddles="10x31x1", absorber=["lead:10x31x1@1"])),
]


@pytest.mark.parametrize("words, options", SAME_FIT)
def test_same_fit_as_the_command(counts, words, options):
    fit = velmora.fit(counts, **options)
    assert fit.report() == output_of("VELMORA_FIT", words.split() + [counts])
    csv = output_of("VELMORA_FIT", words.split() + ["--csv", counts])
    assert_same_table(fit.table, csv)
    first = dict(zip(csv.splitlines()[0].split(","), csv.splitlines()[1].split(",")))
    figures = {"flux": "flux_per_cm2_min", "intensity": "intensity_per_m2_s_sr"}
    names = fit.table.dtype.names
    for name in names[names.index("flux_per_cm2_min"):]:
        attribute = {v: k for k, v in figures.items()}.get(name, name)
        value, text = getattr(fit, attribute), first[name]
        if isinstance(value, str):
            assert value == text
        elif text == "":
            assert np.isnan(value)
        else:
            assert value == float(text), name
    assert isinstance(fit.degrees_of_freedom, int)
    assert fit.exponent_fixed == ("--exponent" in words)


def test_every_option_has_a_row():
    given = {w[2:] for words, _ in SAME_FIT for w in words.split()}
    table = {name for name, _, commands, _ in _velmora.options()
             if commands & _velmora.fit_only}
    assert table <= given


def table_forms():
    """The counts as each kind of table the module takes."""
    forms = [COUNTS, {k: np.array(v) for k, v in COUNTS.items()},
             {k: tuple(float(x) for x in v) for k, v in COUNTS.items()}]
    array = np.zeros(3, dtype=[(k, "f8") for k in COUNTS])
    for k, v in COUNTS.items():
        array[k] = v
    forms.append(array)
    try:
        import pandas  # not in Debian's base system
    except ImportError:
        pass
    else:
        forms.append(pandas.DataFrame(COUNTS))
    return forms


@pytest.mark.parametrize("table", table_forms())
def test_a_table_is_fitted_as_its_csv(counts, table):
    fit = velmora.fit(table, method="mc", csv=True)
    assert fit.report() == output_of("VELMORA_FIT", ["--method", "mc", "--csv", counts])
    from_file = velmora.fit(io.StringIO(CSV), method="mc")
    assert from_file.report() == velmora.fit(counts, method="mc").report().replace(
        counts, "the file")


# A table of measurements, what the command is given, and the mistake.
REFUSED = [
    (dict(COUNTS, tilt_deg=[0, 95, 60]), [], {}),
    (dict(COUNTS, coincidences=[176, -1, 32]), [], {}),
    (dict(COUNTS, live_time_s=[600, None, 600]), [], {}),
    (dict(COUNTS, require=["all", "1+", "all"]), [], {}),
    ({k: v[:1] for k, v in COUNTS.items()}, [], {}),
    (dict(COUNTS, coincidences=[0, 0, 0]), [], {}),
    ({k: v for k, v in COUNTS.items() if k != "live_time_s"}, [], {}),
    (COUNTS, ["--detection", "0,1"], dict(detection=[0, 1])),
    (COUNTS, ["--exponent", "11"], dict(exponent=11)),
    (COUNTS, ["--tilt", "0"], dict(tilt=0)),
    (COUNTS, ["--paddles", "10x31x1", "--method", "integral"],
     dict(paddles="10x31x1", method="integral")),
]


@pytest.mark.parametrize("table, words, options", REFUSED)
def test_same_refusals_as_the_command(tmp_path, table, words, options):
    # The command reads the table's CSV from a file of the name the module
    # gives a table.
    lines = [",".join(table)] + [
        ",".join("" if v is None else str(v) for v in row)
        for row in zip(*table.values())]
    (tmp_path / "table").write_text("\n".join(lines) + "\n")
    with pytest.raises(ValueError) as refused:
        velmora.fit(table, **options)
    assert str(refused.value) == refusal_of(
        "VELMORA_FIT", words + ["table"], cwd=tmp_path)


def test_a_file_that_cannot_be_read(tmp_path):
    missing = str(tmp_path / "missing.csv")
    with pytest.raises(ValueError) as refused:
        velmora.fit(missing)
    assert str(refused.value) == refusal_of("VELMORA_FIT", [missing])


MISTAKES = [
    (12, {}, TypeError),
    (b"counts.csv", {}, TypeError),
    (io.BytesIO(CSV.encode()), {}, TypeError),
    ({"tilt_deg": [0, 1], "distance_cm": [1]}, {}, ValueError),
    ({"tilt_deg": "0"}, {}, TypeError),
    ({"tilt_deg": 0}, {}, TypeError),
    ({"a,b": [1]}, {}, ValueError),
    (dict(COUNTS, require=["all", "1,2", "all"]), {}, ValueError),
    (dict(COUNTS, tilt_deg=["#0", 30, 60]), {}, ValueError),
    (dict(COUNTS, tilt_deg=[b"0", 30, 60]), {}, TypeError),
    (COUNTS, dict(intensity="yes"), TypeError),
    (COUNTS, dict(csv=1), TypeError),
    (COUNTS, dict(csv=np.array([True, False])), TypeError),
    (COUNTS, dict(window=[]), ValueError),
    (dict(COUNTS, coincidences=[float("nan")] * 3), {}, ValueError),
    (dict(COUNTS, coincidences=[10**400] * 3), {}, ValueError),
]


@pytest.mark.parametrize("data, options, error", MISTAKES)
def test_mistakes_raise(data, options, error):
    with pytest.raises(error):
        velmora.fit(data, **options)
