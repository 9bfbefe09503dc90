"""The suite's own programs hand samples and plans to each other in memory: write,
iqsynth -o, arbtool compose and arbtool join (also into a FIFO, and from Python)
make no file in $TMPDIR at any point of their run. wavepack, whose documented flow
goes through a temporary sample file, shows that such a file is there to be seen."""

import os
import subprocess
import threading
import time

import numpy as np
import pytest

import arbsuite
from suite import program, run


class Watch:
    """Lists a folder over and over while it lives; `seen` holds every name found."""

    def __init__(self, folder):
        self.folder = folder
        self.seen = set()
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._look, daemon=True)

    def _look(self):
        while not self._stop.is_set():
            self.seen.update(os.listdir(self.folder))

    def __enter__(self):
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self._stop.set()
        self._thread.join()
        self.seen.update(os.listdir(self.folder))


@pytest.fixture
def watched(work, monkeypatch):
    folder = work / "tmp"
    folder.mkdir()
    monkeypatch.setenv("TMPDIR", str(folder))
    return folder


def run_watched(folder, *command):
    with Watch(folder) as watch:
        result = subprocess.run([program(command[0]), *map(str, command[1:])], capture_output=True,
                                text=True, stdin=subprocess.DEVNULL)
    assert result.returncode == 0, result.stderr
    return watch.seen


def test_the_watch_sees_wavepacks_sample_file(watched):
    # The output is a FIFO that nobody reads yet: wavepack waits to open it with its sample
    # file written, so the file is there to be seen however loaded the machine is.
    values = np.random.default_rng(1).normal(size=(40_000, 2))
    np.savetxt("iq.csv", values, delimiter=",", fmt="%.6f")
    os.mkfifo("w.arb")
    child = subprocess.Popen([program("wavepack"), "-d", "iq.csv", "-f", "1MHz", "-o", "w.arb"],
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                             stdin=subprocess.DEVNULL)
    deadline = time.monotonic() + 60
    while not any(name.startswith("PN") for name in os.listdir(watched)):
        assert child.poll() is None and time.monotonic() < deadline, os.listdir(watched)
        time.sleep(0.01)
    with open("w.arb", "rb") as fifo:
        written = fifo.read()
    assert child.wait(timeout=60) == 0, child.stderr.read()
    child.stderr.close()
    assert len(written) > 160_000
    assert os.listdir(watched) == []


def test_write_makes_no_temporary_file(watched):
    iq = np.random.default_rng(2).normal(size=(2_000_000, 2))
    with Watch(watched) as watch:
        arbsuite.write("w.arb", iq, 1e6)
    assert watch.seen == set()
    assert os.path.getsize("w.arb") > 8_000_000


def test_iqsynth_and_compose_make_no_temporary_file(watched):
    assert run_watched(watched, "iqsynth", "-m", "noise", "--noise-rate", "20MHz",
                       "--noise-samples", "1000000", "--system-bandwidth", "5e6", "--seed", "7",
                       "-o", "s.arb") == set()
    arbsuite.write("a.arb", np.random.default_rng(3).normal(size=(20_000, 2)), 10_000_000)
    assert run_watched(watched, "arbtool", "compose", "-o", "c.arb", "--clock", "40MHz",
                       "a.arb:1MHz", "a.arb:-2MHz") == set()


def test_joins_make_no_temporary_file(watched):
    arbsuite.write("a.arb", np.random.default_rng(4).normal(size=(300_000, 2)), 10_000_000)
    arbsuite.write("b.arb", np.random.default_rng(5).normal(size=(1001, 2)), 5_000_000)
    assert run_watched(watched, "arbtool", "join", "-o", "j.arb", "--level", "rms", "a.arb",
                       "blank:100", "b.arb", "a.arb") == set()
    assert os.path.exists("j-segments.txt")
    with Watch(watched) as watch:
        arbsuite.join("p.arb", ["a.arb", "b.arb", ("blank", 10, None)], level="rms")
    assert watch.seen == set()

    # Into a FIFO, where no configuration can sit beside the output.
    os.mkfifo("fifo.arb")
    received = []
    reader = threading.Thread(target=lambda: received.append(open("fifo.arb", "rb").read()))
    reader.start()
    assert run_watched(watched, "arbtool", "join", "-o", "fifo.arb", "a.arb", "b.arb") == set()
    reader.join()
    run("arbtool", "join", "-o", "file.arb", "--config", "file-segments.txt", "a.arb", "b.arb")
    with open("file.arb", "rb") as joined:
        # The same layout; only the key and the samples under it differ.
        assert len(received[0]) == len(joined.read())
