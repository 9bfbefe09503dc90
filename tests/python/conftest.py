"""The module under test is the installed one: PYTHONPATH names the install prefix's
dist-packages folder, never the build tree."""

import os
from pathlib import Path

import pytest


def pytest_configure(config):
    import arbsuite

    prefix = Path(os.environ["ARBSUITE_PREFIX"]).resolve()
    module = Path(arbsuite.__file__).resolve()
    if prefix not in module.parents:
        raise pytest.UsageError(f"arbsuite was imported from {module}, not from {prefix}")


@pytest.fixture
def work(tmp_path, monkeypatch):
    """A scratch folder as the working folder (relative paths, as the programs get them)."""
    monkeypatch.chdir(tmp_path)
    return tmp_path
