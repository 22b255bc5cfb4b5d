"""velmora from Python: the telescopes, counts and fits of the commands.

    curve(distances, **options)    velmora-curve's rows, a structured array
    fit(data, **options)           velmora-fit's figures, table and report
    efficiency(distance, muons, law="cos_squared")
                                   velmora's (or velmorauni's) counts

The options are the commands' long options, with underscores for hyphens,
and take what the command line takes: text as it would be typed, numbers,
lists for lists (detection=[0.95, 0.9, 0.95], tilt=[0, 30, 60]) and one
entry each for an option given once per value (layer=["8x8x1@1,1,1"]);
flags take True. The command's own readers check them: whatever the
command refuses raises ValueError with its message. Long runs let other
Python threads run, take threads=N as the commands do, and stop on Ctrl-C.
"""

import numbers as _numbers
import operator as _operator
import os as _os
import sys as _sys
from collections import namedtuple as _namedtuple
from math import copysign as _copysign

from . import _velmora

__version__ = _velmora.version
__all__ = ["curve", "fit", "efficiency", "Fit", "Efficiency"]


def _table_of(command):
    """The options of `command`: name -> (takes a value, once per value)."""
    return {
        name: (takes_value, repeated)
        for name, takes_value, commands, repeated in _velmora.options()
        if commands & command
    }


_CURVE_OPTIONS = _table_of(_velmora.curve_only)
_FIT_OPTIONS = _table_of(_velmora.fit_only)
_ANY_OPTION = set(_CURVE_OPTIONS) | set(_FIT_OPTIONS)


def _is_list(value):
    """A list of values rather than one: a list, a tuple, a range or a
    numpy array of one dimension."""
    if isinstance(value, (list, tuple, range)):
        return True
    return getattr(value, "ndim", 0) == 1 and hasattr(value, "tolist")


def _one_text(what, value):
    """One value as the command line writes it: text as it is, whole
    numbers in digits (a float too), other numbers as the shortest text
    that reads back as the same double."""
    if isinstance(value, str):
        return value
    if getattr(value, "ndim", None) == 0 and hasattr(value, "item"):
        value = value.item()  # a numpy scalar or 0-d array
    if isinstance(value, bool) or not isinstance(value, _numbers.Number):
        raise TypeError(
            f"{what} takes a number, a text or a list of them, "
            f"not {type(value).__name__}"
        )
    if isinstance(value, _numbers.Integral):
        return str(_operator.index(value))
    if isinstance(value, _numbers.Real):
        value = float(value)
        # Whole numbers in digits, as counts are written: 390.0 is 390.
        if value.is_integer() and abs(value) < 2.0**53:
            return str(int(value)) if value or _copysign(1, value) > 0 else "-0"
        return repr(value)
    raise TypeError(f"{what} takes a real number, not {type(value).__name__}")


def _value_text(what, value):
    """A value, or a list of them joined by commas as the options take
    lists."""
    if _is_list(value):
        items = value.tolist() if hasattr(value, "tolist") else value
        return ",".join(_one_text(what, item) for item in items)
    return _one_text(what, value)


def _option_words(function, table, options):
    """The words of the options `options` (keyword arguments of `function`)
    for the command whose options are `table`."""
    words = []
    for key, value in options.items():
        name = key.replace("_", "-")
        if name not in _ANY_OPTION:
            raise TypeError(
                f"{function}() got an unexpected keyword argument {key!r}"
            )
        if value is None:
            continue  # not given: the command's default
        if name not in table:
            # The other command's option: its reader says so in its words.
            words.append("--" + name)
            continue
        takes_value, repeated = table[name]
        if not takes_value:
            if getattr(value, "ndim", None) == 0 and value.dtype.kind == "b":
                value = bool(value)  # numpy's
            if value is True:
                words.append("--" + name)
            elif value is not False:
                raise TypeError(f"{key} takes True or False, not {value!r}")
        elif repeated and _is_list(value):
            items = value.tolist() if hasattr(value, "tolist") else value
            words += [f"--{name}={_one_text(key, item)}" for item in items]
        else:
            words.append(f"--{name}={_value_text(key, value)}")
    return words


def _distance_words(distances):
    """DISTANCES as operands: numbers joined into lists, each text (a
    range, a list) a word of its own, in their order."""
    items = distances
    if not _is_list(distances):
        items = [distances]
    elif hasattr(distances, "tolist"):
        items = distances.tolist()
    words, numbers = [], []
    for item in items:
        if isinstance(item, str):
            if numbers:
                words.append(",".join(numbers))
                numbers = []
            words.append(item)
        else:
            numbers.append(_one_text("distances", item))
    if numbers:
        words.append(",".join(numbers))
    return words


def curve(distances, **options):
    """velmora-curve's rows for DISTANCES (cm: a number, a list, or text as
    the command takes it, "0:100:2") and the command's options.

    Returns a numpy structured array with a field for each column of the
    command's CSV, named as its header names it, in order: numbers as
    float64 (an empty field is NaN), words (law, require, telescope,
    detection, noise_hz, method) as str. pandas.DataFrame(rows) takes it as
    it is.
    """
    words = ["velmora-curve"] + _option_words("curve", _CURVE_OPTIONS, options)
    return _velmora.curve(words + ["--"] + _distance_words(distances))


def _column(name, values):
    """A column of a table as a list."""
    if isinstance(values, (str, bytes)):
        raise TypeError(f"column {name!r} is one value, not a column of them")
    if hasattr(values, "tolist"):
        values = values.tolist()
        return values if isinstance(values, list) else [values]
    try:
        return list(values)
    except TypeError:
        raise TypeError(
            f"column {name!r} is a {type(values).__name__}, not a column"
        ) from None


def _columns(data):
    """The columns of a structured array, a DataFrame (anything with
    `columns` and `to_dict`) or a mapping of names to columns."""
    names = getattr(getattr(data, "dtype", None), "names", None)
    if names is not None:
        return {name: _column(name, data[name]) for name in names}
    if hasattr(data, "columns") and hasattr(data, "to_dict"):
        data = data.to_dict("list")
    if hasattr(data, "keys") and hasattr(data, "__getitem__"):
        return {key: _column(key, data[key]) for key in data.keys()}
    raise TypeError(
        "the measurements are a path, a file, a structured array, a dict of "
        f"columns or a DataFrame, not {type(data).__name__}"
    )


def _cell(name, row, value):
    """A field of the measurements' CSV."""
    if value is None:
        return ""
    if isinstance(value, (bytes, bytearray)):
        raise TypeError(f"column {name!r}, row {row}: bytes are not text")
    if isinstance(value, _numbers.Number) and not isinstance(value, bool):
        return _one_text(f"column {name!r}", value)
    text = str(value)
    if "," in text or "\n" in text or "\0" in text:
        raise ValueError(
            f"column {name!r}, row {row}: {text!r} cannot stand in a field of "
            "the CSV that velmora-fit reads"
        )
    return text


def _table_text(data):
    """A table of measurements as the CSV velmora-fit reads: a header line
    of the names, then a line for each row."""
    columns = _columns(data)
    names = [str(name) for name in columns]
    for name in names:
        if "," in name or "\n" in name or "\0" in name or not name:
            raise ValueError(f"{name!r} cannot name a column of the CSV")
    lists = list(columns.values())
    rows = len(lists[0]) if lists else 0
    for name, values in zip(names, lists):
        if len(values) != rows:
            raise ValueError(
                f"column {name!r} has {len(values)} values where "
                f"{names[0]!r} has {rows}"
            )
    lines = [",".join(names)]
    for r in range(rows):
        cells = [_cell(n, r, v[r]) for n, v in zip(names, lists)]
        if cells and cells[0].startswith("#"):
            # velmora-fit takes such a line for a comment.
            raise ValueError(f"column {names[0]!r}, row {r}: {cells[0]!r} "
                             "would begin a comment")
        lines.append(",".join(cells))
    return "\n".join(lines) + "\n"


_FIGURE_NAMES = {"flux_per_cm2_min": "flux", "intensity_per_m2_s_sr": "intensity"}


class Fit:
    """velmora-fit's result, read from its own CSV.

    The fitted figures are attributes named as the CSV's columns from
    flux_per_cm2_min on, with flux and intensity for the first of flux's
    and intensity's: flux, flux_low, flux_high, intensity, intensity_low,
    intensity_high, exponent, exponent_low, exponent_high, exponent_fixed,
    correlation, deviance, degrees_of_freedom, p_value,
    naive_rate_per_minute, naive_exponent, naive_exponent_low,
    naive_exponent_high, method, telescope; NaN where the CSV leaves a
    figure empty. `table` holds the CSV's rows, a row for each setting, as
    a structured array; report() gives what the command prints.
    """

    def __init__(self, report, csv):
        self._report = report
        self.table = _velmora.table(csv)
        names = self.table.dtype.names
        for name in names[names.index("flux_per_cm2_min"):]:
            value = self.table[name][0]
            value = value if isinstance(value, str) else float(value)
            if name == "degrees_of_freedom":
                value = int(value)
            elif name == "exponent_fixed":
                value = bool(value)
            setattr(self, _FIGURE_NAMES.get(name, name), value)

    def report(self):
        """What velmora-fit prints: its report, or its CSV with csv=True."""
        return self._report

    def __repr__(self):
        return (
            f"<velmora.Fit flux={self.flux!r} exponent={self.exponent!r} "
            f"of {len(self.table)} settings>"
        )


def _measurements(data):
    """The measurements' file for the command line, and their text and
    name where they are not read from a file."""
    if isinstance(data, (str, _os.PathLike)):
        path = _os.fspath(data)
        if not isinstance(path, str):
            raise TypeError("give the path as text, not bytes")
        if path != "-":
            return path, None, ""
        if _sys.stdin is None or _sys.stdin.isatty():
            raise ValueError("give a FILE of measurements, or pipe them in")
        data = _sys.stdin
        name = "standard input"
    elif hasattr(data, "read"):
        name = str(getattr(data, "name", "the file"))
    else:
        return "-", _table_text(data), "table"
    text = data.read()
    if not isinstance(text, str):
        raise TypeError("open the file of measurements as text, not binary")
    return "-", text, name


def fit(data, **options):
    """velmora-fit's fit of the measurements `data` with the command's
    options: a path of their CSV, an open file of it, a structured array, a
    dict of columns or a DataFrame, with columns tilt_deg, distance_cm,
    coincidences and live_time_s, and maybe tilt_azimuth_deg and require.
    Rows of a table are refused as lines of a CSV file with a header line
    would be, named "table": its first row is line 2.

    Returns a Fit.
    """
    path, text, name = _measurements(data)
    words = ["velmora-fit"] + _option_words("fit", _FIT_OPTIONS, options)
    report, csv = _velmora.fit(words + ["--", path], text, name)
    return Fit(report, csv)


Efficiency = _namedtuple("Efficiency", "coincidences efficiency")
Efficiency.__doc__ = """The programs' result: the coincidences counted and
the efficiency to three decimals, as the program prints it."""


def efficiency(distance, muons, law="cos_squared"):
    """The counts of velmora (law "cos_squared") or velmorauni (law
    "isotropic") for the paddles `distance` cm apart and `muons` muons, the
    very counts a fresh run of the program prints."""
    if isinstance(distance, bool) or not isinstance(distance, _numbers.Real):
        raise TypeError(f"distance is a number, not {type(distance).__name__}")
    if isinstance(muons, bool):
        raise TypeError("muons is a whole number, not bool")
    if not isinstance(law, str):
        raise TypeError(f"law is a word, not {type(law).__name__}")
    return Efficiency(*_velmora.efficiency(float(distance),
                                           _operator.index(muons), law))
