"""What the module's tests share: the commands they compare with, run as
subprocesses, and their CSV read as text."""

import math
import os
import subprocess

import pytest


def program(name):
    """The built command that the environment variable `name` points at
    (ctest sets them); the test is skipped when run without."""
    path = os.environ.get(name)
    if not path:
        pytest.skip(f"{name} is not set: run the tests through ctest")
    return path


def run(variable, words, stdin=None, cwd=None):
    """A command's run: its status, standard output and standard error."""
    done = subprocess.run(
        [program(variable)] + list(words),
        input=stdin,
        capture_output=True,
        text=True,
        cwd=cwd,
        env=dict(os.environ, LC_ALL="C"),
        check=False,
    )
    return done.returncode, done.stdout, done.stderr


def output_of(variable, words, **where):
    status, out, err = run(variable, words, **where)
    assert status == 0, err
    return out


def refusal_of(variable, words, **where):
    """What the command says when it refuses: its first line on standard
    error, without the program's name."""
    status, out, err = run(variable, words, **where)
    assert status != 0 and out == "", out
    first = err.splitlines()[0]
    name = os.path.basename(program(variable)) + ": "
    assert first.startswith(name)
    return first[len(name):]


def assert_same_table(rows, csv):
    """The structured array `rows` holds the CSV `csv`, column for column,
    to the last digit printed: the same names in the same order, words as
    words, each number the double its text reads as, NaN where empty."""
    lines = csv.splitlines()
    names = lines[0].split(",")
    assert rows.dtype.names == tuple(names)
    assert len(rows) == len(lines) - 1
    for i, line in enumerate(lines[1:]):
        for name, field in zip(names, line.split(",")):
            value = rows[name][i]
            if isinstance(value, str):
                assert value == field, (name, i)
            elif field == "" or field.lstrip("-") == "nan":
                assert math.isnan(value), (name, i, field)
            else:
                assert value == float(field), (name, i, field)
