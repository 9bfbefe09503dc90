#!/usr/bin/python3
"""An LTE-like downlink frame at 61.44 MHz as a SigMF recording, for the worked
examples of the README and the demo (data users get from simulations at that rate):

    tools/make-lte-like.py OUT        # writes OUT.sigmf-data and OUT.sigmf-meta

One 10 ms frame, 20 MHz LTE numerology at 61.44 MHz: a 4096-point FFT, 1200
subcarriers of 15 kHz around DC (DC unused) with random 16QAM, 140 OFDM symbols with
cyclic prefixes of 320 (first of each slot) and 288 samples: 614,400 samples, one
period of a looped waveform (1,000,000 samples at 100 MHz). Seeded, so the same
every time.
"""
import json
import sys

import numpy as np


def frame(seed=20):
    rng = np.random.default_rng(seed)
    fft = 4096
    levels = np.array([-3, -1, 1, 3]) / np.sqrt(10)
    out = []
    for symbol in range(140):
        bins = np.zeros(fft, dtype=complex)
        qam = rng.choice(levels, 1200) + 1j * rng.choice(levels, 1200)
        bins[1:601] = qam[:600]
        bins[-600:] = qam[600:]
        body = np.fft.ifft(bins) * np.sqrt(fft / 1200)
        prefix = 320 if symbol % 7 == 0 else 288
        out.append(np.concatenate([body[-prefix:], body]))
    return np.concatenate(out)


def main():
    base = sys.argv[1]
    iq = frame()
    iq.astype(np.complex64).tofile(base + ".sigmf-data")
    meta = {
        "global": {"core:datatype": "cf32_le", "core:sample_rate": 61.44e6,
                   "core:version": "1.0.0",
                   "core:description": "LTE-like 20 MHz downlink frame, 16QAM"},
        "captures": [{"core:sample_start": 0}],
        "annotations": [],
    }
    with open(base + ".sigmf-meta", "w") as f:
        json.dump(meta, f, indent=2)
    papr = 10 * np.log10(np.max(np.abs(iq) ** 2) / np.mean(np.abs(iq) ** 2))
    print(f"{base}.sigmf-data: {len(iq)} samples at 61.44 MHz, PAPR {papr:.2f} dB")


if __name__ == "__main__":
    main()
