"""velmora.curve against velmora-curve: the same rows for every option of
the command's table, the same refusals, and no input that crashes."""

import numpy as np
import pytest
from conftest import assert_same_table, output_of, refusal_of

import velmora
from velmora import _velmora

# The command's words, and what the module is given for them: distances
# and keyword arguments. Every option of velmora-curve has a row at least.
SAME_ROWS = [
    ("--law cos_squared 10", 10, dict(law="cos_squared")),
    ("--law isotropic 0:20:5", "0:20:5", dict(law="isotropic")),
    ("--law both 5,10.5", [5, 10.5], dict(law="both")),
    ("--muons 54321 7", 7.0, dict(muons=54321)),
    ("--flux 0.5 10", 10, dict(flux=0.5)),
    ("--intensity 70 2,3", np.array([2, 3]), dict(intensity=70)),
    ("--paddles 20x20x1 3,6", [3, "6"], dict(paddles="20x20x1")),
    ("--top 10x31 --bottom 20x40x2 5", 5, dict(top="10x31", bottom="20x40x2")),
    ("--offset 2.5,-1 5", 5, dict(offset=[2.5, -1])),
    ("--layer 8x8x1@1,1,1 6", 6, dict(layer=["8x8x1@1,1,1"])),
    ("--layer 8x8@1 --layer 8x8@2,1,0 6", 6, dict(layer=["8x8@1", "8x8@2,1,0"])),
    ("--paddles 10x31x2 --min-path 1.5 5", 5, dict(paddles="10x31x2", min_path=1.5)),
    ("--layer 10x31@2 --require all,1+3,2 6", 6,
     dict(layer="10x31@2", require=["all", "1+3", 2])),
    ("--layer 10x31@2 --detection 0.95,0.9,0.95 6", 6,
     dict(layer=["10x31@2"], detection=[0.95, 0.9, 0.95])),
    ("--noise 10,20 --window 100 10", 10, dict(noise=(10, 20), window=100)),
    ("--precision 0.05 10", 10, dict(precision=0.05)),
    ("--law cos_squared --exponent 2.5 10", 10, dict(law="cos_squared", exponent=2.5)),
    ("--law cos_squared --tilt 0,30,60 10", 10, dict(law="cos_squared", tilt=[0, 30, 60])),
    ("--law cos_squared --tilt 0:90:15 10", 10, dict(law="cos_squared", tilt="0:90:15")),
    ("--tilt 30 --tilt-azimuth 45 10", 10, dict(tilt=30, tilt_azimuth=45)),
    ("--seed 7 0:10:5", "0:10:5", dict(seed=7)),
    ("--threads 1 1 0:10:5 2", [1, "0:10:5", 2], dict(threads=1)),
    ("--threads 1 1 0:10:5 2", [1, "0:10:5", 2], dict(threads=2)),
    ("--method integral 5,10", [5, 10], dict(method="integral")),
    ("--muons 100 -- -3", -3, dict(muons=100, paddles=None)),
    ("--sky spectrum 10", 10, dict(sky="spectrum")),
    ("--sky spectrum --altitude 1500 --overburden concrete:30 "
     "--overburden rock:100g 10", 10,
     dict(sky="spectrum", altitude=1500, overburden=["concrete:30", "rock:100g"])),
    ("--sky spectrum --paddles 10x31x1 --absorber lead:10x31x2@1 "
     "--absorber iron:1@4 6", 6,
     dict(sky="spectrum", paddles="10x31x1", absorber=["lead:10x31x2@1", "iron:1@4"])),
]


@pytest.mark.parametrize("words, distances, options", SAME_ROWS)
def test_same_rows_as_the_command(words, distances, options):
    options.setdefault("muons", 20000)
    words = ["--muons", "20000"] + words.split()
    assert_same_table(
        velmora.curve(distances, **options), output_of("VELMORA_CURVE", words)
    )


def test_every_option_has_a_row():
    given = {w[2:] for words, _, _ in SAME_ROWS for w in words.split()}
    table = {name for name, _, commands, _ in _velmora.options()
             if commands & _velmora.curve_only}
    assert table <= given


def test_columns_by_kind():
    rows = velmora.curve("5", muons=1000)
    kinds = {name: rows.dtype[name].kind for name in rows.dtype.names}
    assert {n for n, k in kinds.items() if k == "O"} == {
        "law", "require", "telescope", "detection", "noise_hz", "method", "sky"}
    assert set(kinds.values()) == {"O", "f"}


# The module's arguments and the command's words for the same mistake.
REFUSED = [
    (10, dict(muons="1e6"), "--muons 1e6 10"),
    (10, dict(muons=1.5), "--muons 1.5 10"),
    (10, dict(muons=10**30), "--muons " + "1" + "0" * 30 + " 10"),
    (10, dict(tilt=95), "--tilt 95 10"),
    (10, dict(law="cos"), "--law cos 10"),
    (10, dict(layer=["1"]), "--layer 1 10"),
    (10, dict(csv=True), "--csv 10"),
    (10, dict(threads=0), "--threads 0 10"),
    (10, dict(seed=-1), "--seed -1 10"),
    (10, dict(require="5"), "--require 5 10"),
    (10, dict(method="exact"), "--method exact 10"),
    (10, dict(flux=float("nan")), "--flux nan 10"),
    (10, dict(detection=[0.5, float("inf")]), "--detection 0.5,inf 10"),
    (10, dict(detection=[]), "--detection= 10"),
    (10, dict(law="both", tilt=30), "--law both --tilt 30 10"),
    ("nan", {}, "nan"),
    ([], {}, ""),
    ("0:1e6:1", {}, "0:1e6:1"),
    (10, dict(offset=[1e300, 0]), "--offset 1e+300,0 10"),
]


@pytest.mark.parametrize("distances, options, words", REFUSED)
def test_same_refusals_as_the_command(distances, options, words):
    with pytest.raises(ValueError) as refused:
        velmora.curve(distances, **options)
    assert str(refused.value) == refusal_of("VELMORA_CURVE", words.split())


# Whatever is passed, an exception, never a crash.
MISTAKES = [
    ((10,), dict(foo=1), TypeError),
    ((10,), dict(help=True), TypeError),
    ((10,), dict(muons=b"1"), TypeError),
    ((b"10",), {}, TypeError),
    ((None,), {}, TypeError),
    (({"a": 1},), {}, TypeError),
    ((10,), dict(tilt=[[0, 30]]), TypeError),
    ((10,), dict(layer={"a": 1}), TypeError),
    ((10,), dict(seed=object()), TypeError),
    ((10,), dict(flux=1j), TypeError),
    ((10,), dict(seed=True), TypeError),
    ((10,), dict(intensity=False), TypeError),
    ((10,), dict(paddles="10x31\0"), ValueError),
    ((10,), dict(muons="9" * 100000), ValueError),
    ((10,), dict(layer=["8x8@1"] * 10000), ValueError),
    ((list(range(10**6)),), {}, ValueError),
    (("\udcff",), {}, TypeError),
]


@pytest.mark.parametrize("args, options, error", MISTAKES)
def test_mistakes_raise(args, options, error):
    with pytest.raises(error):
        velmora.curve(*args, **options)
