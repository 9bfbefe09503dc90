"""arbsuite.join against arbtool join: the same samples, text header and segments."""

import os
import subprocess
import sys

import numpy as np
import pytest

import arbsuite
from suite import program, run

RNG = np.random.default_rng(7)

MODES = [
    # (level, clock, user clock) as keyword arguments, and as arbtool options
    (dict(), []),
    (dict(level="rms", clock="highest"), ["--level", "rms", "--clock", "highest"]),
    (dict(clock="user", user_clock_hz=20e6), ["--clock", "user", "--user-clock", "20MHz"]),
    (dict(level="rms", clock="unchanged"), ["--level", "rms"]),
]


@pytest.fixture
def sources(work):
    arbsuite.write("a.arb", RNG.normal(size=(1000, 2)), 10_000_000)
    arbsuite.write("b.arb", RNG.normal(size=333) * 1j + 0.3, 5_000_000, level=0.4)
    return work


@pytest.mark.parametrize("keywords, options", MODES)
def test_join_equals_arbtool_join(sources, keywords, options):
    run("arbtool", "join", "-o", "cli.arb", *options, "a.arb", "blank:100", "b.arb",
        "blank:40@1e6", "a.arb")
    info = arbsuite.join("py.arb", ["a.arb", ("blank", 100, None), "b.arb",
                                    ("blank", 40, 1e6), "a.arb"], **keywords)
    expected, expected_info = arbsuite.read("cli.arb")
    joined, joined_info = arbsuite.read("py.arb")
    np.testing.assert_array_equal(joined, expected)
    assert joined_info == expected_info
    assert info["output"] == "py.arb" and info["samples"] == expected_info["samples"]
    assert [(s["name"], s["clock_hz"], s["samples"]) for s in info["segments"]] == [
        (s["name"], s["clock_hz"], s["samples"]) for s in expected_info["segments"]]
    assert [s["energy"] for s in info["segments"]] == pytest.approx(
        [s["energy"] for s in expected_info["segments"]], abs=1e-6)


def test_config_is_kept_where_asked_and_equals_arbtool_config(sources, monkeypatch):
    scratch = sources / "tmp"
    scratch.mkdir()
    monkeypatch.setenv("TMPDIR", str(scratch))
    run("arbtool", "join", "-o", "out.arb", "--write-config-only", "--config", "cli.txt",
        "--level", "rms", "a.arb", "blank:10", "b.arb")
    arbsuite.join("out.arb", ["a.arb", ("blank", 10, None), "b.arb"], level="rms",
                  config="py.txt")
    assert (sources / "py.txt").read_text() == (sources / "cli.txt").read_text()
    # Without config= the configuration is a temporary file, removed afterwards.
    arbsuite.join("out2.arb", ["a.arb", "b.arb"])
    assert os.listdir(scratch) == []
    assert not (sources / "out2-segments.txt").exists()


def test_a_path_that_looks_like_a_blank_word_is_a_file(sources):
    os.replace("a.arb", "blank:5")
    info = arbsuite.join("j.arb", ["blank:5", ("blank", 5, None)])
    assert [s["name"] for s in info["segments"]] == ["blank:5", "Blank"]
    assert info["samples"] == 1005


def test_join_memory_does_not_follow_the_total(work):
    """Four times the segments add almost nothing to the join's peak memory: the
    samples are streamed, not held for the whole output."""
    arbsuite.write("seg.arb", RNG.normal(size=(2_000_000, 2)), 10_000_000)

    def peak_kib(copies):
        # The child's own peak, read by a shell that runs it and reports RUSAGE_CHILDREN.
        code = ("import resource, subprocess, sys; "
                "subprocess.run(sys.argv[1:], check=True, capture_output=True); "
                "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)")
        args = [program("arbtool"), "join", "-o", f"j{copies}.arb", *["seg.arb"] * copies]
        # An AddressSanitizer build keeps freed memory in a quarantine of 256 MB, which a
        # streamed join fills piece by piece: a small one measures the program instead
        # (ignored by a build without the sanitizer).
        env = dict(os.environ)
        env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":quarantine_size_mb=16"
        out = subprocess.run([sys.executable, "-c", code, *args], capture_output=True, text=True,
                             check=True, env=env)
        return int(out.stdout)

    small = peak_kib(4)     # 32 MB of samples
    large = peak_kib(16)    # 128 MB of samples
    assert os.path.getsize("j16.arb") > 128_000_000
    # Holding the whole join would add 96 MB; the streamed join adds what its bounded
    # buffers take beyond the smaller join's.
    assert large - small < 24 * 1024, (small, large)
