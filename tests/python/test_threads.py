"""The module from several threads: 8 threads making 50 calls each of every function
at once finish (no thread waits for one of the module's locks, or for numpy's
first use, while holding the interpreter lock another one needs) and give the
results of the programs; failures raised while the interpreter lock is let go are
still the module's errors; and other Python threads run while a call works in the
libraries."""

import json
import pickle
import subprocess
import sys
import threading
import time

import numpy as np
import pytest

import arbsuite
from suite import dumped_samples, packer_quantisation, read_csv_pairs, run

THREADS = 8
CALLS = 50
FUNCTIONS = ["synth", "read", "stats", "join", "write"]
# A run that deadlocks is stopped after this many seconds, with the stacks of its
# threads on its standard error (a run that works takes a few seconds).
DEADLINE = 120

RNG = np.random.default_rng(11)
SOURCE = RNG.normal(size=(1000, 2))
# One input per thread for write, and the level it is written with.
WRITE_INPUTS = [RNG.normal(size=(300 + 17 * k, 2)) for k in range(THREADS)]
WRITE_LEVELS = [0.3 + 0.08 * k for k in range(THREADS)]


def synth_setting(k):
    """Thread k's setting of synth, as keywords and as iqsynth options."""
    if k % 2 == 0:
        return (dict(modulation="qpsk", symbols=64, oversampling=4, cnr=10, seed=k),
                ["-M", "qpsk", "-n", "64", "-s", "4", "--cnr", "10", "--seed", str(k)])
    return (dict(mode="mccw", carriers=4 + k, spacing=10e3, phases="random", seed=k),
            ["-m", "mccw", "--carriers", str(4 + k), "--spacing", "10k", "--phases", "random",
             "--seed", str(k)])


SYNTH_SETTINGS = [synth_setting(k) for k in range(THREADS)]

# Every tenth call of a thread is one that fails, in the library or in the program's
# code the module runs without the interpreter lock.
WORKLOAD = """
import faulthandler, json, pickle, sys, threading
faulthandler.dump_traceback_later({deadline}, exit=True)
import arbsuite

THREADS, CALLS = {threads}, {calls}
# numpy is first imported by the calls of the first phase (synth): the write inputs
# are loaded only for their own phase.
with open("synth.json") as source:
    inputs = {{"synth": json.load(source)}}


def failure(call):
    try:
        call()
    except Exception as error:
        return (type(error).__name__, getattr(error, "status", None), str(error))
    return ("no error", None, "")


def call(function, k, n):
    fails = n % 10 == 9
    if function == "read":
        if fails:
            return failure(lambda: arbsuite.read("missing.arb"))
        return arbsuite.read("a.arb", complex=n % 2 == 1)[0]
    if function == "stats":
        if fails:
            return failure(lambda: arbsuite.stats("missing.arb"))
        return arbsuite.stats("a.arb")
    if function == "write":
        if fails:
            return failure(lambda: arbsuite.write("missing/w.arb", inputs["write"][k], 1e6))
        arbsuite.write(f"w-{{k}}-{{n}}.arb", inputs["write"][k], 2e6,
                       level=inputs["levels"][k])
        return None
    if function == "join":
        if fails:
            return failure(lambda: arbsuite.join("j-missing.arb", ["a.arb", "missing.arb"]))
        return arbsuite.join(f"j-{{k}}-{{n}}.arb", ["a.arb", ("blank", 100, None), "b.arb"])
    if fails:
        return failure(lambda: arbsuite.synth(data="file:missing-list.txt"))
    return arbsuite.synth(**inputs["synth"][k])[0]


def phase(function):
    if function == "write":
        with open("write.pickle", "rb") as source:
            inputs.update(pickle.load(source))
    results = [[None] * CALLS for _ in range(THREADS)]
    start = threading.Barrier(THREADS)

    def work(k):
        start.wait()
        for n in range(CALLS):
            results[k][n] = call(function, k, n)

    threads = [threading.Thread(target=work, args=(k,)) for k in range(THREADS)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    return results


results = {{function: phase(function) for function in sys.argv[1:]}}
with open("results.pickle", "wb") as out:
    pickle.dump(results, out)
"""


@pytest.fixture
def references(work):
    """The inputs of the calls, and what the programs make of the same inputs."""
    arbsuite.write("a.arb", SOURCE, 10_000_000)
    arbsuite.write("b.arb", SOURCE[:333], 5_000_000, level=0.4)
    with open("synth.json", "w") as out:
        json.dump([keywords for keywords, _ in SYNTH_SETTINGS], out)
    with open("write.pickle", "wb") as out:
        pickle.dump({"write": WRITE_INPUTS, "levels": WRITE_LEVELS}, out)
    run("arbtool", "join", "-o", "joined.arb", "a.arb", "blank:100", "b.arb")
    synthesised = []
    for k, (_, options) in enumerate(SYNTH_SETTINGS):
        run("iqsynth", *options, "--csv", f"s{k}.csv")
        synthesised.append(read_csv_pairs(f"s{k}.csv"))
    return {
        "a": dumped_samples("a.arb"),
        "stats": json.loads(run("arbtool", "stats", "--json", "a.arb").stdout),
        "joined": arbsuite.read("joined.arb"),
        "synth": synthesised,
    }


def test_eight_threads_of_fifty_calls_of_every_function(work, references):
    try:
        result = subprocess.run(
            [sys.executable, "-c", WORKLOAD.format(deadline=DEADLINE, threads=THREADS,
                                                   calls=CALLS), *FUNCTIONS],
            cwd=work, capture_output=True, text=True, timeout=DEADLINE + 30)
    except subprocess.TimeoutExpired as expired:
        pytest.fail(f"the threads did not finish in {DEADLINE + 30} s:\n{expired.stderr}")
    assert result.returncode == 0, f"the threads did not finish:\n{result.stderr[-20000:]}"
    with open(work / "results.pickle", "rb") as source:
        results = pickle.load(source)

    a = references["a"]
    np.testing.assert_array_equal(a, packer_quantisation(SOURCE))
    a_complex = (a[:, 0] + 1j * a[:, 1]) / np.float32(8192)
    written_expected = [packer_quantisation(WRITE_INPUTS[k], WRITE_LEVELS[k])
                        for k in range(THREADS)]
    joined, joined_info = references["joined"]
    for k in range(THREADS):
        for n in range(CALLS):
            where = f"thread {k}, call {n}"
            if n % 10 == 9:
                kind, status, text = results["read"][k][n]
                assert (kind, status) == ("Error", 4), (where, text)
                assert results["stats"][k][n][:2] == ("Error", 4), where
                assert results["write"][k][n][:2] == ("Error", 19), where
                assert results["join"][k][n][:2] == ("Error", 4), where
                kind, status, text = results["synth"][k][n]
                assert kind == "Error" and status < 0, (where, text)
                assert not (work / "j-missing.arb").exists()
                continue
            np.testing.assert_array_equal(results["read"][k][n], a_complex if n % 2 else a,
                                          err_msg=where)
            assert results["stats"][k][n] == references["stats"], where
            written, info = arbsuite.read(work / f"w-{k}-{n}.arb")
            np.testing.assert_array_equal(written, written_expected[k], err_msg=where)
            assert info["clock_hz"] == 2e6, where
            assert results["join"][k][n]["samples"] == joined_info["samples"], where
            got, info = arbsuite.read(work / f"j-{k}-{n}.arb")
            np.testing.assert_array_equal(got, joined, err_msg=where)
            assert info == joined_info, where
            np.testing.assert_array_equal(results["synth"][k][n], references["synth"][k],
                                          err_msg=where)


def longest_pause(call, repeats=5):
    """The longest pause of a ticking Python thread while call runs, as a fraction of
    the call's duration (the least of repeats, as a busy machine can only lengthen a
    pause): near 1 when the call holds the interpreter lock throughout, small when it
    lets go of it while the libraries work."""
    fractions = []
    # A short switch interval: the ticker takes the interpreter lock whenever it may.
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-4)
    try:
        for _ in range(repeats):
            fractions.append(pause_fraction(call))
    finally:
        sys.setswitchinterval(interval)
    return min(fractions)


def pause_fraction(call):
    """The longest pause of a ticking thread during one call, over the call's duration."""
    ticks = []
    stop = threading.Event()

    def tick():
        while not stop.is_set():
            ticks.append(time.perf_counter())

    ticker = threading.Thread(target=tick)
    ticker.start()
    while not ticks:
        time.sleep(0.001)
    start = time.perf_counter()
    call()
    end = time.perf_counter()
    stop.set()
    ticker.join()
    inside = [start] + [t for t in ticks if start < t < end] + [end]
    return max(np.diff(inside)) / (end - start)


@pytest.fixture(scope="module")
def large(tmp_path_factory):
    """A waveform of 4,194,304 pairs (its file 16 MiB), and half of it as IQ data."""
    folder = tmp_path_factory.mktemp("large")
    iq = (np.random.default_rng(3).normal(size=(1 << 21, 2)) * 1000).astype(np.int16)
    arbsuite.write(folder / "half.arb", iq, 1e6)
    arbsuite.join(folder / "large.arb", [folder / "half.arb", folder / "half.arb"])
    return folder, iq


CALLS_ON_LARGE = {
    "read": lambda folder, iq: arbsuite.read(folder / "large.arb"),
    "stats": lambda folder, iq: arbsuite.stats(folder / "large.arb"),
    "write": lambda folder, iq: arbsuite.write(folder / "written.arb", iq, 1e6),
    "join": lambda folder, iq: arbsuite.join(folder / "joined.arb", [folder / "half.arb"]),
    "synth": lambda folder, iq: arbsuite.synth(modulation="qpsk", symbols=50_000, cnr=10,
                                               seed=5),
}


@pytest.mark.parametrize("function", FUNCTIONS)
def test_other_threads_run_while_the_libraries_work(large, function):
    folder, iq = large
    # Held throughout, the lock stops the ticker for 0.8 of the call and more; let go,
    # it stops it only while the arguments and results are converted (0.3 at most).
    assert longest_pause(lambda: CALLS_ON_LARGE[function](folder, iq)) < 0.6
