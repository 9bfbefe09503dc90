"""arbsuite.write, read and stats against wavepack, arbtool dump and arbtool stats,
and the packer's quantisation written from its definition."""

import json
import os
import subprocess
import sys

import numpy as np
import pytest

import arbsuite
from suite import dumped_samples, packer_quantisation, run

RNG = np.random.default_rng(20240601)

# Inputs of every kind write takes: complex tones and noise, two real columns of
# floats and of integers, one and three pairs, huge and tiny magnitudes.
INPUTS = {
    "complex-tone": np.exp(2j * np.pi * 0.0137 * np.arange(4099)),
    "complex-noise": RNG.normal(size=2000) + 1j * RNG.normal(size=2000),
    "real-columns": RNG.uniform(-3, 3, size=(1001, 2)),
    "int-columns": RNG.integers(-30000, 30000, size=(512, 2), dtype=np.int32),
    "one-pair": np.array([[0.25, -0.5]]),
    "three-pairs": np.array([1 + 0j, -1j, 0.5 - 0.5j], dtype=np.complex64),
    "huge": RNG.normal(size=(300, 2)) * 1e300,
    "tiny": RNG.normal(size=(300, 2)) * 1e-300,
}


@pytest.mark.parametrize("level", [0.81, 1.0, 0.05])
@pytest.mark.parametrize("name", sorted(INPUTS))
def test_write_then_read_gives_the_packer_quantisation(work, name, level):
    iq = INPUTS[name]
    arbsuite.write("wave.arb", iq, 2_500_000, level=level)
    samples, info = arbsuite.read("wave.arb")
    expected = packer_quantisation(iq, level)
    assert samples.dtype == np.int16 and samples.shape == expected.shape
    np.testing.assert_array_equal(samples, expected)
    assert info["samples"] == len(expected)
    assert info["clock_hz"] == 2_500_000
    assert info["header"]["Clock"] == "2500000HZ"
    energy = np.sum((expected.astype(np.float64) / 8192) ** 2)
    assert info["energy"] == pytest.approx(energy, abs=1e-6)
    assert "segments" not in info
    values, _ = arbsuite.read("wave.arb", complex=True)
    assert values.dtype == np.complex64 and values.shape == (len(expected),)
    np.testing.assert_array_equal(values.real, expected[:, 0] / np.float32(8192))
    np.testing.assert_array_equal(values.imag, expected[:, 1] / np.float32(8192))


@pytest.mark.parametrize("clock, text", [(1000, "1kHz"), (10e6, "10MHz"), (50_000_000, "50m"),
                                         (100e6, "100MHz")])
def test_write_makes_the_file_wavepack_makes(work, clock, text):
    iq = RNG.normal(size=(777, 2)) * 5
    np.savetxt("values.csv", iq, delimiter=",", fmt="%.17g")
    run("wavepack", "-d", "values.csv", "-f", text, "-o", "packed.arb")
    arbsuite.write("written.arb", iq, clock)
    packed, packed_info = arbsuite.read("packed.arb")
    written, written_info = arbsuite.read("written.arb")
    np.testing.assert_array_equal(written, packed)
    assert written_info == packed_info
    # Same layout: only the wrapped key, and so the encrypted samples, differ.
    assert (work / "written.arb").stat().st_size == (work / "packed.arb").stat().st_size


def test_read_equals_arbtool_dump_and_info(work):
    iq = RNG.normal(size=(1200, 2))
    arbsuite.write("a.arb", iq, 4_000_000)
    arbsuite.write("b.arb", iq[:301] * -1, 1_000_000)
    run("arbtool", "join", "-o", "joined.arb", "--level", "rms", "a.arb", "blank:50", "b.arb")
    for name in ["a.arb", "joined.arb"]:
        samples, info = arbsuite.read(name)
        np.testing.assert_array_equal(samples, dumped_samples(name))
        text = run("arbtool", "info", name).stdout
        assert f"Samples:  {info['samples']}" in text
        for key, value in info["header"].items():
            assert key in text and value in text
    _, info = arbsuite.read("joined.arb")
    assert info["clock_hz"] is None  # 4 MHz and 1 MHz segments
    assert [(s["name"], s["clock_hz"], s["samples"], s["start"]) for s in info["segments"]] == [
        ("a.arb", 4e6, 1200, 0), ("Blank", 4e6, 50, 1200), ("b.arb", 1e6, 301, 1250)]
    energies = [float(info["header"][f"SEGMENT_{k}"].rsplit(",", 1)[1]) for k in range(3)]
    assert [s["energy"] for s in info["segments"]] == energies
    assert info["energy"] == float(info["header"]["Value"])


def test_stats_equals_arbtool_stats_json(work):
    arbsuite.write("a.arb", np.exp(2j * np.pi * 0.1 * np.arange(20000)), 10_000_000)
    arbsuite.write("b.arb", RNG.normal(size=5000) + 1j * RNG.normal(size=5000), 10_000_000)
    run("arbtool", "join", "-o", "joined.arb", "a.arb", "blank:100", "b.arb")
    for name in ["a.arb", "b.arb", "joined.arb"]:
        expected = json.loads(run("arbtool", "stats", "--json", name).stdout)
        assert arbsuite.stats(name) == expected


def peak_kib_of(call, path):
    """The peak memory of a fresh interpreter that makes one arbsuite call on path."""
    code = ("import resource, sys, arbsuite; "
            f"arbsuite.{call}(sys.argv[1]); "
            "print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss)")
    # An AddressSanitizer build's quarantine would hold every freed piece.
    env = dict(os.environ)
    env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":quarantine_size_mb=16"
    out = subprocess.run([sys.executable, "-c", code, path], capture_output=True, text=True,
                         check=True, env=env)
    return int(out.stdout.split()[-1])


def test_read_and_stats_of_a_large_file_hold_no_copy_of_its_samples(work):
    """stats measures the file's pieces, read decrypts them into the array it returns:
    neither holds the 24 MB of samples besides (a whole read would add them)."""
    pairs = 6_000_000
    arbsuite.write("big.arb", RNG.normal(size=(pairs, 2)), 10_000_000)
    arbsuite.write("small.arb", RNG.normal(size=(1000, 2)), 10_000_000)
    stats_growth = peak_kib_of("stats", "big.arb") - peak_kib_of("stats", "small.arb")
    assert stats_growth < 16 * 1024, stats_growth
    array_kib = 4 * pairs // 1024
    read_growth = peak_kib_of("read", "big.arb") - peak_kib_of("read", "small.arb")
    assert read_growth - array_kib < 12 * 1024, (read_growth, array_kib)


def test_paths_may_be_pathlike_and_bytes(work):
    arbsuite.write(work / "p.arb", [[1.0, 0.0], [0.0, 1.0]], 1e6)
    a, _ = arbsuite.read(work / "p.arb")
    b, _ = arbsuite.read(b"p.arb")
    np.testing.assert_array_equal(a, b)
