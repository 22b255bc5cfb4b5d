"""What a run of the module shares with a process of the programs: the
programs' counts, a fresh start each call, the version; and what a Python
program needs of a long run: other threads go on, threads= is honoured,
Ctrl-C stops it, a locale of its own changes nothing."""

import locale
import os
import signal
import threading
import time

import pytest
from conftest import assert_same_table, output_of

import velmora

# Distance, muons, law: each called in this order in one process, as each
# program is started afresh.
TRIALS = [
    (5, 1000000, "cos_squared"),
    (5, 1000000, "isotropic"),
    (5, 1000000, "cos_squared"),
    (0, 1000, "cos_squared"),
    (10.5, 3000000, "isotropic"),
    (40, 12345, "cos_squared"),
    (-3, 1000, "isotropic"),
    (5, 0, "cos_squared"),
    (5, -7, "isotropic"),
]


@pytest.mark.parametrize("distance, muons, law", TRIALS)
def test_the_programs_counts(distance, muons, law):
    program = "VELMORA_PROGRAM" if law == "cos_squared" else "VELMORA_UNI"
    printed = output_of(program, [], stdin=f"{distance}\n{muons}\n")
    counted, shown = printed.split("=")[-2:]
    result = velmora.efficiency(distance, muons, law=law)
    assert result.coincidences == int(counted.split()[0])
    assert f"{result.efficiency:.3f}" == shown.strip().replace("-nan", "nan")


EFFICIENCY_MISTAKES = [
    (("5", 10), TypeError),
    ((5, 1.5), TypeError),
    ((5, True), TypeError),
    ((5, 2**31), ValueError),
    ((5, -(2**31) - 1), ValueError),
    ((5, 10**100), ValueError),
    ((5, 10, "flat"), ValueError),
    ((5, 10, None), TypeError),
]


@pytest.mark.parametrize("args, error", EFFICIENCY_MISTAKES)
def test_efficiency_mistakes(args, error):
    with pytest.raises(error):
        velmora.efficiency(*args)


def test_version():
    assert velmora.__version__ == os.environ.get("VELMORA_VERSION", velmora.__version__)
    assert output_of("VELMORA_CURVE", ["--version"]).split() == [
        "velmora-curve", velmora.__version__]


def in_background(call):
    """Starts `call` on a thread of its own; gives the thread and a list
    that will hold what the call raised."""
    raised = []

    def run():
        try:
            call()
        except BaseException as e:  # noqa: B902 - handed to the test
            raised.append(e)

    thread = threading.Thread(target=run)
    thread.start()
    return thread, raised


@pytest.mark.parametrize("threads, started", [(1, 0), (2, 2)])
def test_other_threads_go_on_and_threads_are_honoured(threads, started):
    before = set(os.listdir("/proc/self/task"))
    thread, raised = in_background(
        lambda: velmora.curve(10, muons=60000000, law="cos_squared", threads=threads))
    time.sleep(0.3)
    # This thread ran during the curve, and the curve runs on the threads
    # asked for (one: on its caller's).
    assert thread.is_alive()
    assert len(set(os.listdir("/proc/self/task")) - before) == 1 + started
    thread.join()
    assert not raised


# Each call runs for minutes unless stopped.
LONG_CALLS = [
    lambda: velmora.curve(10, muons=2**31 - 1, threads=1),
    lambda: velmora.curve("0:100:1", muons=2**31 - 1, tilt="0:90:1", law="cos_squared"),
    lambda: velmora.curve("0:99:0.001", method="integral", law="cos_squared"),
    lambda: velmora.efficiency(5, 2**31 - 1),
    lambda: velmora.fit({
        "tilt_deg": [0, 30, 60], "distance_cm": [10, 10, 10],
        "coincidences": [10**7, 7 * 10**6, 2 * 10**6], "live_time_s": [600] * 3},
        method="mc", threads=1),
]


@pytest.mark.parametrize("call", LONG_CALLS)
def test_ctrl_c_stops_a_long_run(call):
    previous = signal.signal(signal.SIGINT, signal.default_int_handler)
    try:
        timer = threading.Timer(0.5, os.kill, (os.getpid(), signal.SIGINT))
        timer.start()
        start = time.monotonic()
        with pytest.raises(KeyboardInterrupt):
            call()
        # Far within the minutes the call would take; bench/ measures how
        # soon it stops.
        assert time.monotonic() - start < 10
        timer.join()
    finally:
        signal.signal(signal.SIGINT, previous)


def test_a_comma_decimal_locale_changes_nothing():
    words = ["--muons", "20000", "--flux", "0.5", "2.5,10"]
    expected = output_of("VELMORA_CURVE", words)
    previous = locale.setlocale(locale.LC_ALL)
    try:
        locale.setlocale(locale.LC_ALL, "de_DE.UTF-8")
    except locale.Error:
        if os.environ.get("VELMORA_REQUIRE_LOCALES"):
            raise
        pytest.skip("the de_DE.UTF-8 locale is not generated here")
    try:
        assert_same_table(velmora.curve("2.5,10", muons=20000, flux="0.5"), expected)
    finally:
        locale.setlocale(locale.LC_ALL, previous)
