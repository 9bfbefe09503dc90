"""arbsuite.synth against iqsynth --csv: the same samples for the same settings,
given to the module as keywords and to the program in its own spellings."""

import re
import subprocess
import sys
import threading

import numpy as np
import pytest

import arbsuite
from suite import read_csv_pairs, run

CASES = {
    "qpsk-rrc": (dict(modulation="qpsk", symbols=256, symbol_rate=1e6, oversampling=8,
                      filter="rrc", alpha=0.35),
                 ["-M", "qpsk", "-n", "256", "-r", "1MHz", "-s", "8", "-f", "rrc", "-a", "0.35"]),
    "16qam-noise": (dict(modulation="16qam", coding="gray", data="prbs15", symbols=500, cnr=20,
                         seed=42),
                    ["-M", "16qam", "-c", "gray", "-d", "prbs15", "-n", "500", "--cnr", "20",
                     "--seed", "42"]),
    "fsk4-gauss": (dict(modulation="fsk4", fsk_deviation=30e3, symbol_rate="10k",
                        filter="gauss-fsk", alpha=0.5, data="hex:A5F0", symbols=64),
                   ["-M", "fsk4", "--fsk-deviation", "30k", "-r", "10000", "-f", "gauss-fsk",
                    "-a", "0.5", "-d", "hex:A5F0", "-n", "64"]),
    "bpsk-ramp": (dict(modulation="bpsk", symbols=200, ramp=[(0, 0), (100, -20)],
                       ramp_shape="linear", span=12),
                  ["-M", "bpsk", "-n", "200", "--ramp", "0:0,100:-20", "--ramp-shape", "linear",
                   "-l", "12"]),
    "noise": (dict(mode="noise", noise_rate=20e6, noise_samples=4096, system_bandwidth="5MHz",
                   seed=7),
              ["-m", "noise", "--noise-rate", "20MHz", "--noise-samples", "4096",
               "--system-bandwidth", "5e6", "--seed", "7"]),
    "mccw-newman": (dict(mode="mccw", carriers=16, spacing=250e3, phases="newman",
                         levels=np.array([0.0] * 8 + [-3.0] * 8)),
                    ["-m", "mccw", "--carriers", "16", "--spacing", "250k", "--phases", "newman",
                     "--levels", ",".join(["0"] * 8 + ["-3"] * 8)]),
    "mccw-random": (dict(mode="mccw", carriers=4, spacing=1e3, phases="random",
                         switches=[1, 1, 0, 1], seed=3),
                    ["-m", "mccw", "--carriers", "4", "--spacing", "1k", "--phases", "random",
                     "--switches", "1101", "--seed", "3"]),
}


def summary_value(text, label):
    return re.search(rf"^{label}:\s+(\S+)", text, re.MULTILINE).group(1)


@pytest.mark.parametrize("name", sorted(CASES))
def test_synth_equals_iqsynth_csv(work, name):
    keywords, options = CASES[name]
    printed = run("iqsynth", *options, "--csv", "out.csv").stdout
    samples, info = arbsuite.synth(**keywords)
    np.testing.assert_array_equal(samples, read_csv_pairs("out.csv"))
    assert info["samples"] == int(summary_value(printed, "Samples"))
    assert f"{info['clock_hz']:.6f}" == summary_value(printed, "Sample rate")
    assert f"{info['crest_factor_db']:.2f}" == summary_value(printed, "Crest factor")
    assert f"{info['energy']:.6f}" == summary_value(printed, "Energy")
    if "seed" in keywords:
        assert info["seed"] == keywords["seed"]


def test_drawn_seed_repeats_the_run_and_complex_is_scaled():
    first, info = arbsuite.synth(modulation="qpsk", symbols=100, cnr=10)
    again, _ = arbsuite.synth(modulation="qpsk", symbols=100, cnr=10, seed=info["seed"])
    np.testing.assert_array_equal(first, again)
    values, _ = arbsuite.synth(modulation="qpsk", symbols=100, cnr=10, seed=info["seed"],
                               complex=True)
    assert values.dtype == np.complex64
    np.testing.assert_array_equal(values, (first[:, 0] + 1j * first[:, 1]) / np.float32(8192))
    assert info["noise"]["system_bandwidth_hz"] == 1e6


def test_calls_from_threads_take_turns():
    settings = [dict(mode="mccw", carriers=8, spacing=10e3, phases="random", seed=s) for s in
                range(6)] + [dict(modulation="8psk", symbols=300, cnr=5, seed=s) for s in range(6)]
    expected = [arbsuite.synth(**s)[0] for s in settings]
    results = [None] * len(settings)

    def work(k):
        results[k] = arbsuite.synth(**settings[k])[0]

    threads = [threading.Thread(target=work, args=(k,)) for k in range(len(settings))]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    for got, want in zip(results, expected):
        np.testing.assert_array_equal(got, want)


FRESH_PROCESS = """
import sys, arbsuite
try:
    arbsuite.synth(modulation="qpsk", symbols=50, cnr=10, seed=1, {first})
except arbsuite.Error as error:
    print("Error", error.status, error)
    sys.exit(0)
arbsuite.synth(modulation="qpsk", symbols=50, seed=2, {first})
try:
    arbsuite.synth(modulation="qpsk", symbols=50, log="other.log")
except ValueError as error:
    print("ValueError", error)
"""


def fresh_process(work, first):
    """A Python process whose first synth call loads libiqsynth."""
    return subprocess.run([sys.executable, "-c", FRESH_PROCESS.format(first=first)], cwd=work,
                          capture_output=True, text=True)


def test_no_log_and_nothing_on_standard_output_by_default(work):
    result = fresh_process(work, "")
    assert result.returncode == 0, result.stderr
    assert result.stdout.startswith("ValueError log: libiqsynth chose its run log")
    assert "no log" in result.stdout
    assert sorted(p.name for p in work.iterdir()) == []


def test_log_collects_the_runs_of_the_process(work):
    result = fresh_process(work, "log='runs.log'")
    assert result.returncode == 0, result.stderr
    assert result.stdout.startswith("ValueError")
    log = (work / "runs.log").read_text()
    assert log.count("noise seed is 1") == 1
    assert sorted(p.name for p in work.iterdir()) == ["runs.log"]


def test_log_that_cannot_be_written_is_an_error(work):
    result = fresh_process(work, "log='missing-folder/run.log'")
    assert result.returncode == 0, result.stderr
    assert result.stdout.startswith("Error None cannot write the run log ")
    assert "missing-folder/run.log" in result.stdout
