"""The preparation functions on numpy arrays against scipy and numpy's FFT: resampling
equals scipy.signal.resample, a shift by whole cycles keeps the loop seamless, composed
carriers sit at their offsets with their power ratio, crest-factor reduction reaches
its target, and bad values raise ValueError before any work."""

import warnings

import numpy as np
import pytest
import scipy.signal

import arbsuite


def gaussian(n, seed):
    rng = np.random.default_rng(seed)
    return (rng.standard_normal(n) + 1j * rng.standard_normal(n)) / np.sqrt(2)


@pytest.mark.parametrize("n, rate_in, rate_out", [
    (3840, 61.44e6, 100e6),   # up, even
    (3841 * 2, 2e6, 3e6),     # up, even
    (999, 3e6, 2e6),          # down, odd
    (1000, 100e6, 50e6),      # down, even
    (1001, 1e6, 1e6),         # the same rate
])
@pytest.mark.filterwarnings("ignore:resampling from")
def test_resample_equals_scipy(n, rate_in, rate_out):
    x = gaussian(n, n)
    y = arbsuite.resample(x, rate_in, rate_out)
    reference = scipy.signal.resample(x, int(round(n * rate_out / rate_in)))
    assert y.dtype == np.complex128
    assert y.shape == reference.shape
    assert np.max(np.abs(y - reference)) < 1e-9 * np.max(np.abs(x))


def test_resample_takes_int16_pairs_and_repeats():
    pairs = np.array([[1000, -200], [300, 40], [-5, 6]] * 10, dtype=np.int16)
    with pytest.raises(ValueError, match="repeat=64"):
        arbsuite.resample(pairs, 61.44e6, 100e6)
    y = arbsuite.resample(pairs, 61.44e6, 100e6, repeat=64)
    x = np.tile(pairs[:, 0] + 1j * pairs[:, 1], 64)  # 30 x 64 = 1920 samples, 3125 at 100 MHz
    assert np.max(np.abs(y - scipy.signal.resample(x, len(x) * 625 // 384))) < 1e-6


def test_a_cut_band_is_warned():
    t = np.arange(1000)
    tone = np.exp(2j * np.pi * 0.4 * t)  # 400 kHz at 1 MHz
    with pytest.warns(UserWarning, match="occupied band"):
        arbsuite.resample(tone, 1e6, 500e3)


def test_shift_whole_and_fractional_cycles():
    n = 1000
    x = np.ones(n, dtype=complex)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        y = arbsuite.shift(x, 1e6, 25e3)
    assert np.allclose(y, np.exp(2j * np.pi * 25e3 * np.arange(n) / 1e6), atol=1e-12)
    assert arbsuite.seam(y)["ratio"] == pytest.approx(1.0, abs=1e-6)
    with pytest.warns(UserWarning, match="25000 Hz and 26000 Hz are the nearest seamless"):
        arbsuite.shift(x, 1e6, 25.5e3)


def test_compose_places_carriers_with_their_power_ratio():
    a = gaussian(200, 1)
    b = gaussian(300, 2)
    # Band-limit both to a few bins so their spectra stay apart after the shifts.
    a = np.fft.ifft(np.fft.fft(a) * (np.abs(np.fft.fftfreq(200)) < 0.02))
    b = np.fft.ifft(np.fft.fft(b) * (np.abs(np.fft.fftfreq(300)) < 0.02))
    iq, info = arbsuite.compose([(a, 1e6, -200e3, 0.0), (b, 1e6, 150e3, -3.0)], 1e6)
    assert info["samples"] == 600
    spectrum = np.abs(np.fft.fft(iq)) ** 2
    f = np.fft.fftfreq(600, 1 / 1e6)
    low = spectrum[f < 0].sum()
    high = spectrum[f > 0].sum()
    assert 10 * np.log10(high / low) == pytest.approx(-3.0, abs=0.1)
    assert [c["repeats"] for c in info["carriers"]] == [3, 2]


def test_reduce_papr_reaches_its_target():
    n = 8192
    spectrum = np.zeros(n, dtype=complex)
    rng = np.random.default_rng(3)
    bins = np.r_[1:400, n - 400:n]
    spectrum[bins] = np.exp(2j * np.pi * rng.random(len(bins)))
    x = np.fft.ifft(spectrum)
    before = 10 * np.log10(np.max(np.abs(x) ** 2) / np.mean(np.abs(x) ** 2))
    assert before > 9
    y, report = arbsuite.reduce_papr(x, 8.192e6, 7.0, band=(-400e3, 400e3))
    papr = 10 * np.log10(np.max(np.abs(y) ** 2) / np.mean(np.abs(y) ** 2))
    assert papr == pytest.approx(7.0, abs=0.1)
    assert report["papr_db"] == pytest.approx(papr, abs=1e-9)
    evm = np.sqrt(np.sum(np.abs(y - x) ** 2) / np.sum(np.abs(x) ** 2))
    assert report["evm_percent"] == pytest.approx(100 * evm, rel=1e-5)
    again, _ = arbsuite.reduce_papr(x, 8.192e6, 7.0, band=(-400e3, 400e3))
    assert np.array_equal(again, y)


@pytest.mark.parametrize("call", [
    lambda: arbsuite.resample(np.ones(8), float("nan"), 1e6),
    lambda: arbsuite.resample(np.ones(8), 1e6, -1.0),
    lambda: arbsuite.resample(np.ones(8), 1e6, 2e6, repeat=0),
    lambda: arbsuite.shift(np.ones(8), 1e6, float("inf")),
    lambda: arbsuite.shift(np.ones(8), 1e6, 600e3),
    lambda: arbsuite.compose([(np.ones(8), 1e6, 0.0, float("nan"))], 1e6),
    lambda: arbsuite.compose([(np.ones(65537), 1e6), (np.ones(65539), 1e6)], 1e6),
    lambda: arbsuite.reduce_papr(np.exp(1j * np.arange(64.0)), 1e6, 0.0),
    lambda: arbsuite.reduce_papr(gaussian(64, 1), 1e6, 40.0),
    lambda: arbsuite.reduce_papr(gaussian(64, 1), 1e6, 3.0, band=(-600e3, 0)),
])
def test_bad_values_raise_value_error(call):
    with pytest.raises(ValueError):
        call()


def test_stats_of_an_array_equal_those_of_the_file_it_makes(work):
    t = np.arange(5000)
    iq = np.exp(2j * np.pi * 0.01 * t) + 0.3 * np.exp(-2j * np.pi * 0.07 * t)
    arbsuite.write("made.arb", iq, 10e6)
    assert arbsuite.stats(iq, 10e6) == arbsuite.stats("made.arb")
    with pytest.raises(TypeError):
        arbsuite.stats(iq)
    with pytest.raises(ValueError):
        arbsuite.stats("made.arb", 10e6)
