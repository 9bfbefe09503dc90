#!/usr/bin/python3
"""The preparation steps of the suite side by side with scipy, in one run.

    /usr/bin/python3 bench/prep/vs_scipy.py BUILD [SAMPLES]

BUILD is a build folder with bin/prep_bench. For each case the same data go to
scipy.signal.resample and to prep_bench (through raw cf64 files; reading and writing
them is not timed); the best of three runs of each is printed with their ratio and
the largest difference of the results against full scale (the data's peak modulus)
and our peak resident memory per sample of the longer waveform (input or output;
the process's own input buffer included).
Shift, compose and crest-factor reduction to 8 dB (its passes printed) are timed on
4,000,000 samples,
with the peak resident memory per sample of the largest waveform.
"""
import os
import subprocess
import sys
import tempfile
import time

import numpy as np
import scipy.signal


def ours(build, args):
    out = subprocess.run([os.path.join(build, "bin", "prep_bench")] + [str(a) for a in args],
                         check=True, capture_output=True, text=True).stdout.split()
    return float(out[0]), int(out[1]), int(out[2]) if len(out) > 2 else 0


def best(f, runs=3):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        result = f()
        times.append(time.perf_counter() - start)
    return min(times), result


def main():
    build = sys.argv[1]
    samples = int(sys.argv[2]) if len(sys.argv) > 2 else 10_000_000
    rng = np.random.default_rng(1)
    folder = tempfile.mkdtemp(prefix="prep-bench-")
    print(f"{'case':<34} {'scipy s':>9} {'ours s':>9} {'ratio':>7} {'max diff / FS':>14}")
    for name, rate_in, rate_out in (("61.44 MHz -> 100 MHz", 61.44e6, 100e6),
                                    ("100 MHz -> 50 MHz", 100e6, 50e6)):
        # A length for which the resampled period is whole.
        down = 384 if rate_in == 61.44e6 else 2
        n = samples // down * down
        m = n * 625 // 384 if rate_in == 61.44e6 else n // 2
        x = (rng.standard_normal(n) + 1j * rng.standard_normal(n)) * 0.3
        source = os.path.join(folder, "in.cf64")
        result = os.path.join(folder, "out.cf64")
        x.astype(np.complex128).tofile(source)
        scipy_time, reference = best(lambda: scipy.signal.resample(x, m))
        runs = [ours(build, ["resample", source, result, rate_in, rate_out]) for _ in range(3)]
        our_time = min(r[0] for r in runs)
        peak = max(r[1] for r in runs) / max(n, m)
        y = np.fromfile(result, dtype=np.complex128)
        diff = np.max(np.abs(y - reference)) / np.max(np.abs(x))
        print(f"{name + f' ({n} samples)':<34} {scipy_time:9.3f} {our_time:9.3f} "
              f"{scipy_time / our_time:7.2f} {diff:14.3e}   peak {peak:.1f} B/sample")
    n = 4_000_000
    x = (rng.standard_normal(n) + 1j * rng.standard_normal(n)) * 0.3
    # Band-limited for the crest-factor case: a third of the band.
    spectrum = np.fft.fft(x)
    spectrum[n // 6: n - n // 6] = 0
    x = np.fft.ifft(spectrum)
    source = os.path.join(folder, "in.cf64")
    x.astype(np.complex128).tofile(source)
    result = os.path.join(folder, "out.cf64")
    for label, args in (("shift, 4,000,000 samples", ["shift", source, result, 1e6, 1.23e5]),
                        ("compose, 2 x 4,000,000 samples", ["compose", source, source, result, 1e6]),
                        ("crest factor to 8 dB, 4,000,000", ["papr", source, result, 1e6, 8.0])):
        seconds, peak, passes = ours(build, args)
        note = f", {passes} passes" if passes else ""
        print(f"{label:<34} {'':>9} {seconds:9.3f} {'':>7}   peak {peak / n:.1f} B/sample{note}")


if __name__ == "__main__":
    main()
