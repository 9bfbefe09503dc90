"""Every error path of the module raises the exception its docstring names:
arbsuite.Error with the library's status (or None), ValueError and TypeError for
arguments refused before any library call."""

import os
import shutil
import subprocess

import numpy as np
import pytest

import arbsuite
from suite import run

IQ = np.exp(1j * np.linspace(0, 6, 100))


@pytest.fixture
def files(work):
    arbsuite.write("a.arb", IQ, 1e6)
    arbsuite.join("multi.arb", ["a.arb", ("blank", 10, None)])
    shutil.copy("a.arb", "a,b.arb")
    with open("truncated.arb", "wb") as out:
        out.write((work / "a.arb").read_bytes()[:-40])
    with open("garbage.arb", "wb") as out:
        out.write(b"not an arb")
    return work


# (call, exception, library status: an int, None for a fault the module found, or
# "any" for a library status whatever its number)
CASES = {
    "read-missing": (lambda: arbsuite.read("missing.arb"), arbsuite.Error, 4),
    "read-garbage": (lambda: arbsuite.read("garbage.arb"), arbsuite.Error, "any"),
    "read-truncated": (lambda: arbsuite.read("truncated.arb"), arbsuite.Error, None),
    "read-not-a-path": (lambda: arbsuite.read(12), TypeError, None),
    "read-empty-path": (lambda: arbsuite.read(""), ValueError, None),
    "read-complex-not-keyword": (lambda: arbsuite.read("a.arb", True), TypeError, None),
    "stats-missing": (lambda: arbsuite.stats("missing.arb"), arbsuite.Error, 4),
    "write-not-arb": (lambda: arbsuite.write("a.txt", IQ, 1e6), ValueError, None),
    "write-no-samples": (lambda: arbsuite.write("x.arb", [], 1e6), ValueError, None),
    "write-nan": (lambda: arbsuite.write("x.arb", [1j, np.nan], 1e6), ValueError, None),
    "write-inf": (lambda: arbsuite.write("x.arb", [[1, np.inf]], 1e6), ValueError, None),
    "write-three-columns": (lambda: arbsuite.write("x.arb", np.ones((4, 3)), 1e6), ValueError,
                            None),
    "write-complex-columns": (lambda: arbsuite.write("x.arb", np.ones((4, 2)) * 1j, 1e6),
                              ValueError, None),
    "write-one-column": (lambda: arbsuite.write("x.arb", np.ones(4), 1e6), ValueError, None),
    "write-text": (lambda: arbsuite.write("x.arb", ["a", "b"], 1e6), TypeError, None),
    "write-clock-low": (lambda: arbsuite.write("x.arb", IQ, 999), ValueError, None),
    "write-clock-high": (lambda: arbsuite.write("x.arb", IQ, 50_000_001), ValueError, None),
    "write-clock-between": (lambda: arbsuite.write("x.arb", IQ, 75e6), ValueError, None),
    "write-clock-fraction": (lambda: arbsuite.write("x.arb", IQ, 1e6 + 0.5), ValueError, None),
    "write-clock-nan": (lambda: arbsuite.write("x.arb", IQ, float("nan")), ValueError, None),
    "write-clock-text": (lambda: arbsuite.write("x.arb", IQ, "1MHz"), TypeError, None),
    "write-clock-bool": (lambda: arbsuite.write("x.arb", IQ, True), TypeError, None),
    "write-level-zero": (lambda: arbsuite.write("x.arb", IQ, 1e6, level=0), ValueError, None),
    "write-level-above-one": (lambda: arbsuite.write("x.arb", IQ, 1e6, level=1.01), ValueError,
                              None),
    "write-level-none": (lambda: arbsuite.write("x.arb", IQ, 1e6, level=None), TypeError, None),
    "write-no-folder": (lambda: arbsuite.write("missing/x.arb", IQ, 1e6), arbsuite.Error, 19),
    "join-missing": (lambda: arbsuite.join("j.arb", ["missing.arb"]), arbsuite.Error, 4),
    "join-multi-segment": (lambda: arbsuite.join("j.arb", ["multi.arb"]), arbsuite.Error, None),
    "join-level": (lambda: arbsuite.join("j.arb", ["a.arb"], level="loud"), ValueError, None),
    "join-clock": (lambda: arbsuite.join("j.arb", ["a.arb"], clock="fast"), ValueError, None),
    "join-user-without-clock": (lambda: arbsuite.join("j.arb", ["a.arb"], clock="user"),
                                ValueError, None),
    "join-user-clock-low": (lambda: arbsuite.join("j.arb", ["a.arb"], clock="user",
                                                  user_clock_hz=5), ValueError, None),
    "join-clock-without-user": (lambda: arbsuite.join("j.arb", ["a.arb"], user_clock_hz=1e6),
                                ValueError, None),
    "join-blank-zero": (lambda: arbsuite.join("j.arb", [("blank", 0, None)]), ValueError, None),
    "join-blank-fraction": (lambda: arbsuite.join("j.arb", [("blank", 1.5, None)]), TypeError,
                            None),
    "join-blank-clock": (lambda: arbsuite.join("j.arb", [("blank", 5, 1e9)]), ValueError, None),
    "join-not-blank": (lambda: arbsuite.join("j.arb", [("noise", 5, None)]), ValueError, None),
    "join-one-string": (lambda: arbsuite.join("j.arb", "a.arb"), TypeError, None),
    "join-nothing": (lambda: arbsuite.join("j.arb", []), ValueError, None),
    "join-name-with-comma": (lambda: arbsuite.join("j.arb", ["a,b.arb"]), ValueError, None),
    "join-no-folder": (lambda: arbsuite.join("missing/j.arb", ["a.arb"]), arbsuite.Error, "any"),
    "join-over-a-segment": (lambda: arbsuite.join("a.arb", ["a.arb", "a.arb"]), ValueError, None),
    "join-config-over-a-segment": (lambda: arbsuite.join("j.arb", ["a.arb"], config="a.arb"),
                                   ValueError, None),
    "join-config-is-output": (lambda: arbsuite.join("j.arb", ["a.arb"], config="j.arb"),
                              ValueError, None),
    "join-blank-alone": (lambda: arbsuite.join("j.arb", [("blank", 5, None)]), ValueError, None),
    "synth-unknown": (lambda: arbsuite.synth(bogus=1), TypeError, None),
    "synth-dashed": (lambda: arbsuite.synth(**{"symbol-rate": 1e6}), TypeError, None),
    "synth-output": (lambda: arbsuite.synth(output="x.arb"), TypeError, None),
    "synth-verbose": (lambda: arbsuite.synth(verbose=True), TypeError, None),
    "synth-flag-value": (lambda: arbsuite.synth(mode="mccw", crest_law=1), TypeError, None),
    "synth-bool-value": (lambda: arbsuite.synth(alpha=True), TypeError, None),
    "synth-complex-value": (lambda: arbsuite.synth(alpha=1j), TypeError, None),
    "synth-symbols": (lambda: arbsuite.synth(symbols=0), ValueError, None),
    "synth-symbols-text": (lambda: arbsuite.synth(symbols="many"), ValueError, None),
    "synth-modulation": (lambda: arbsuite.synth(modulation="qqq"), ValueError, None),
    "synth-wrong-mode": (lambda: arbsuite.synth(carriers=4), ValueError, None),
    "synth-rrc-alpha": (lambda: arbsuite.synth(filter="rrc", alpha=0), ValueError, None),
    "synth-constellation": (lambda: arbsuite.synth(modulation="user",
                                                   constellation="missing.csv"), ValueError,
                            None),
    "synth-comb-too-wide": (lambda: arbsuite.synth(mode="mccw", carriers=8000, spacing=1e9),
                            ValueError, None),
    "synth-data-file": (lambda: arbsuite.synth(data="file:missing-list.txt"), arbsuite.Error,
                        "negative"),
}


@pytest.mark.parametrize("name", sorted(CASES))
def test_error_paths_raise_the_documented_exception(files, name):
    call, exception, status = CASES[name]
    with pytest.raises(exception) as raised:
        call()
    if exception is arbsuite.Error:
        assert isinstance(raised.value, RuntimeError)
        if status == "any":
            assert isinstance(raised.value.status, int)
        elif status == "negative":
            assert raised.value.status < 0
        else:
            assert raised.value.status == status
        if raised.value.status is not None:
            assert f"(status {raised.value.status}" in str(raised.value)
    # A refused write or join leaves no file behind.
    assert not (files / "x.arb").exists() and not (files / "j.arb").exists()


def test_every_function_is_documented():
    import pydoc

    text = pydoc.render_doc(arbsuite, renderer=pydoc.plaintext)
    for name in ["read", "write", "join", "stats", "synth"]:
        doc = getattr(arbsuite, name).__doc__
        assert doc.startswith(name + "("), name
        assert "Raises" in doc, name
        assert name + "(" in text
    assert "Error" in text and arbsuite.Error.__doc__


def test_module_exports_its_entry_point_only():
    # The packer and the crypto compiled into the module stay local: they must never
    # stand in for libwavecrypt.so's functions that libseqlink looks up.
    listing = subprocess.run(["nm", "-D", "--defined-only", arbsuite.__file__],
                             capture_output=True, text=True, check=True).stdout
    names = [line.split()[-1] for line in listing.splitlines()
             if line.strip() and not line.split()[-1].startswith(("__asan", "__ubsan", "__lsan"))]
    assert names == ["PyInit_arbsuite"]


@pytest.fixture
def not_arb_files(work):
    """Files that are no .arb files: a CSV of IQ values (the header reader takes its
    first bytes for a version above 1 without a text entry) and random bytes."""
    values = np.random.default_rng(5).normal(size=(500, 2))
    with open("iq.csv", "w") as out:
        out.write("I,Q\n" + "".join(f"{i:.6f},{q:.6f}\n" for i, q in values))
    with open("random.bin", "wb") as out:
        out.write(np.random.default_rng(6).bytes(4096))
    return ["iq.csv", "random.bin"]


def test_a_file_that_is_not_arb_is_refused_as_arbtool_info_refuses_it(not_arb_files):
    arbsuite.write("a.arb", IQ, 1e6)
    for name in not_arb_files:
        info = run("arbtool", "info", name, check=False)
        assert info.returncode == 2, info.stderr
        assert info.stderr.startswith(f"arbtool: {name}: not a valid .arb file"), info.stderr
        expected = info.stderr.removeprefix("arbtool: ").rstrip("\n")
        for call in [lambda: arbsuite.read(name), lambda: arbsuite.stats(name),
                     lambda: arbsuite.join("j.arb", ["a.arb", name])]:
            with pytest.raises(arbsuite.Error) as raised:
                call()
            assert str(raised.value) == expected
            assert raised.value.status == 7
        assert not os.path.exists("j.arb")
