"""README's session "From Python", run as written, its outputs compared."""

import doctest
import os
import shutil

import pytest


def test_the_readme_session_runs_as_written(tmp_path, monkeypatch):
    pytest.importorskip("pandas")
    pytest.importorskip("matplotlib")
    source = os.environ.get("VELMORA_SOURCE_DIR")
    if not source:
        pytest.skip("VELMORA_SOURCE_DIR is not set: run the tests through ctest")
    with open(os.path.join(source, "README.md"), encoding="utf-8") as readme:
        text = readme.read()
    section = text[text.index("\n## From Python\n"):]
    section = section[:section.index("\n## ", 1)]
    session = section[section.index("```python\n") + 10:]
    session = session[:session.index("```\n")]
    # Where a reader runs it: beside the project's docs/, writing fit.png.
    (tmp_path / "docs").mkdir()
    shutil.copy(os.path.join(source, "docs", "measured-5x5.csv"), tmp_path / "docs")
    monkeypatch.chdir(tmp_path)
    test = doctest.DocTestParser().get_doctest(session, {}, "README", "README.md", 0)
    runner = doctest.DocTestRunner(optionflags=doctest.NORMALIZE_WHITESPACE)
    runner.run(test)
    assert runner.failures == 0 and runner.tries > 10
    assert (tmp_path / "fit.png").stat().st_size > 10000
