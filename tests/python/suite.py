"""Helpers of the module's tests: the installed suite under ARBSUITE_PREFIX (the test
command installs the build there first), its programs as references, and independent
readers of their outputs."""

import os
import subprocess
from pathlib import Path

import numpy as np

PREFIX = Path(os.environ["ARBSUITE_PREFIX"])


def program(name):
    return str(PREFIX / "bin" / name)


def run(name, *args, cwd=None, check=True):
    """Runs an installed program; returns the completed process (text output)."""
    result = subprocess.run([program(name), *map(str, args)], cwd=cwd, capture_output=True,
                            text=True, stdin=subprocess.DEVNULL)
    if check and result.returncode != 0:
        raise AssertionError(f"{name} {' '.join(map(str, args))} exited {result.returncode}:\n"
                             f"{result.stdout}\n{result.stderr}")
    return result


def read_csv_pairs(path):
    """I,Q lines as an int16 array of shape (N, 2)."""
    return np.loadtxt(path, delimiter=",", dtype=np.int64, ndmin=2).astype(np.int16)


def dumped_samples(path, cwd=None):
    """The decrypted samples of an .arb file as arbtool dump writes them."""
    out = Path(cwd or ".") / (Path(path).name + ".dump.csv")
    run("arbtool", "dump", path, "-o", out, cwd=cwd)
    return read_csv_pairs(out)


def packer_quantisation(iq, level=0.81):
    """wavepack's quantisation, written from its definition: the pairs divided by their
    largest modulus, times level x 8191, truncated toward zero."""
    iq = np.asarray(iq)
    if np.iscomplexobj(iq):
        pairs = np.stack([iq.real, iq.imag], axis=1).astype(np.float64)
    else:
        pairs = np.asarray(iq, dtype=np.float64)
    peak = np.max(np.hypot(pairs[:, 0], pairs[:, 1]))
    return np.trunc((pairs / peak) * (level * 8191.0)).astype(np.int16)
