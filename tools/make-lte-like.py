#!/usr/bin/env python3
"""Writes an LTE-like test recording for the wavepack examples: one 1 ms subframe of
a 20 MHz downlink-like OFDM signal at 61.44 MHz (4096-point FFT, 15 kHz spacing,
1200 QPSK subcarriers around an empty DC, 14 symbols with normal cyclic prefixes),
as the SigMF pair NAME.sigmf-meta / NAME.sigmf-data (cf32_le). Deterministic: the
symbols come from a fixed linear congruential generator, not from numpy's.
    python3 tools/make-lte-like.py lte-like
"""
import json
import sys

import numpy as np

RATE = 61.44e6
FFT = 4096
USED = 1200  # subcarriers, 600 each side of DC
CYCLIC_PREFIXES = [320, 288, 288, 288, 288, 288, 288] * 2  # one subframe: two slots


def qpsk_symbols(count, seed=9):
    state = seed
    values = np.empty(count, dtype=complex)
    for k in range(count):
        state = (state * 6364136223846793005 + 1442695040888963407) % 2**64
        bits = state >> 62
        values[k] = complex(1 if bits & 1 else -1, 1 if bits & 2 else -1) / np.sqrt(2)
    return values


def subframe():
    symbols = qpsk_symbols(USED * len(CYCLIC_PREFIXES)).reshape(len(CYCLIC_PREFIXES), USED)
    pieces = []
    for cp, data in zip(CYCLIC_PREFIXES, symbols):
        bins = np.zeros(FFT, dtype=complex)
        bins[1 : USED // 2 + 1] = data[USED // 2 :]  # +15 kHz ... +9 MHz
        bins[FFT - USED // 2 :] = data[: USED // 2]  # -9 MHz ... -15 kHz
        time = np.fft.ifft(bins) * np.sqrt(FFT)
        pieces.append(np.concatenate([time[-cp:], time]))
    return np.concatenate(pieces)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make-lte-like.py NAME")
    name = sys.argv[1]
    samples = subframe()
    assert samples.size == 61440
    samples.astype(np.complex64).tofile(name + ".sigmf-data")
    meta = {
        "global": {
            "core:datatype": "cf32_le",
            "core:sample_rate": RATE,
            "core:version": "1.0.0",
            "core:description": "LTE-like 20 MHz OFDM subframe, 1200 QPSK subcarriers",
        },
        "captures": [{"core:sample_start": 0}],
        "annotations": [],
    }
    with open(name + ".sigmf-meta", "w") as f:
        json.dump(meta, f, indent=2)
        f.write("\n")


if __name__ == "__main__":
    main()
