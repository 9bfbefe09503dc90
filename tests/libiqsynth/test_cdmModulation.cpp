// The digital modulation pipeline end to end on the global record: a looped QPSK waveform
// against an independently filtered periodic stream, continuous-phase FSK, the pi/4 and pi/8
// differential chains, and the settings it refuses before sizing any track.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <complex>
#include <string>
#include <valarray>
#include <vector>

#include "iqSynthCfg.h"
#include "iqSynthFilter.h"
#include "iqSynthLog.h"

namespace {

constexpr double kPi = 3.141592653589793;
using Cfg = iqSynthCfg;

class Pipeline : public ::testing::Test {
protected:
    iqSynthCfg& cfg = gIqSynthCfg;

    void SetUp() override
    {
        cfg.workingMode = Cfg::WORKING_MODE_DIGITAL;
        cfg.codingType = Cfg::CODING_NONE;
        cfg.dataSrc = Cfg::DATA_SRC_ALL_ZERO;
        cfg.dataFormatIsHex = false;
        cfg.AlphaBt = 0.35;
        cfg.symbolRate = 100e3;
        cfg.maxFskDev = 100e3;
        iMapDat.resize(0);
        qMapDat.resize(0);
        mapDat.resize(0);
    }

    void setRun(int type, int symbols, int S, int L, int filter)
    {
        cfg.digiModulatingType = static_cast<Cfg::DigiModulatingType_t>(type);
        cfg.sequenceLenth = symbols;
        cfg.overSamplingRate = S;
        cfg.filterLengh = L;
        cfg.shapingFilterType = static_cast<Cfg::ShapingFilterType_t>(filter);
        // As the run driver sets it (kept within int for the oversized cases).
        cfg.sampleLength = static_cast<int>(std::min<long long>(static_cast<long long>(symbols) * S, INT_MAX));
    }

    void setPattern(const std::string& bits)
    {
        cfg.dataSrc = Cfg::DATA_SRC_PATTERN;
        cfg.usrListSize = static_cast<int>(bits.size());
        std::copy(bits.begin(), bits.end(), cfg.usrList);
    }

    // Symbol values of a binary pattern read k characters at a time, cyclically.
    static std::vector<int> patternSymbols(const std::string& bits, int k, int count)
    {
        std::vector<int> out;
        std::size_t pos = 0;
        for (int j = 0; j < count; ++j) {
            int v = 0;
            for (int b = 0; b < k; ++b, pos = (pos + 1) % bits.size()) {
                v = 2 * v + (bits[pos] == '1');
            }
            out.push_back(v);
        }
        return out;
    }

    int flagsSet() const
    {
        int n = 0;
        for (char f : cfg.symbolMap) {
            n += f != 0;
        }
        return n;
    }
};

double raisedCosine(double t, double alpha)
{
    const double d = 2.0 * alpha * t;
    const double sinc = t == 0.0 ? 1.0 : std::sin(kPi * t) / (kPi * t);
    if (std::fabs(std::fabs(d) - 1.0) < 1e-9) {
        return kPi / 4.0 * sinc;
    }
    return sinc * std::cos(kPi * alpha * t) / (1.0 - d * d);
}

TEST_F(Pipeline, LoopedQpskWindowIsOnePeriodOfTheSteadyState)
{
    // 6 QPSK symbols from an 8-character pattern (it wraps inside the record), S = 4,
    // raised cosine over L = 8 symbols: 32 taps, lead-in of 32 samples (5 1/3 periods).
    const int S = 4, L = 8, symbols = 6;
    const std::string bits = "00011011";
    setRun(Cfg::MOD_QPSK, symbols, S, L, Cfg::FILTER_RISING_COS);
    setPattern(bits);
    mapDat.resize(5, 1.0);
    ASSERT_EQ(runCDMModulation(), 0);

    const std::size_t O = static_cast<std::size_t>(L * S), P = static_cast<std::size_t>(symbols * S);
    ASSERT_EQ(iMapDat.size(), O + P);
    ASSERT_EQ(qMapDat.size(), O + P);
    EXPECT_EQ(mapDat.size(), 0u);
    EXPECT_EQ(cfg.sampleOffset, static_cast<int>(O));
    EXPECT_EQ(cfg.modulationFamily, 0x90000);
    EXPECT_EQ(cfg.filterTap, 33);

    // QPSK points: 0 (a, a), 1 (-a, a), 2 (a, -a), 3 (-a, -a).
    const double a = std::sqrt(0.5);
    const std::vector<int> sym = patternSymbols(bits, 2, symbols);
    std::vector<double> pointI, pointQ;
    for (int s : sym) {
        pointI.push_back((s & 1) ? -a : a);
        pointQ.push_back((s & 2) ? -a : a);
    }
    const int M = S * L, N = M + 1;
    std::vector<double> h(static_cast<std::size_t>(M));
    double sum = 0.0;
    for (int k = 0; k < M; ++k) {
        h[static_cast<std::size_t>(k)] = raisedCosine(-L / 2.0 + k * static_cast<double>(L) / (N - 1), 0.35);
        sum += h[static_cast<std::size_t>(k)];
    }
    for (std::size_t n = 0; n < P; ++n) {
        double wantI = 0.0, wantQ = 0.0;
        for (std::size_t k = 0; k < static_cast<std::size_t>(M); ++k) {
            const std::size_t m = (n + 10 * P - k) % P;
            if (m % S == 0) {
                wantI += h[k] / sum * pointI[m / S];
                wantQ += h[k] / sum * pointQ[m / S];
            }
        }
        EXPECT_NEAR(iMapDat[O + n], wantI, 1e-12) << n;
        EXPECT_NEAR(qMapDat[O + n], wantQ, 1e-12) << n;
    }
    for (int s = 0; s < 4; ++s) {
        EXPECT_EQ(cfg.symbolMap[s], 1) << s;
    }
    EXPECT_EQ(flagsSet(), 4);
}

struct FskCase {
    int type;
    double maxFskDev;
    const char* bits;
    int S;
};

class FskChain : public Pipeline, public ::testing::WithParamInterface<FskCase> {};

TEST_P(FskChain, PhaseFollowsTheLevelsContinuously)
{
    const FskCase c = GetParam();
    const int k = c.type & 0xFF, tones = 1 << k, L = 4, symbols = 8, S = c.S;
    setRun(c.type, symbols, S, L, Cfg::FILTER_RECT);
    setPattern(c.bits);
    cfg.maxFskDev = c.maxFskDev;
    ASSERT_EQ(runCDMModulation(), 0);

    const std::size_t O = static_cast<std::size_t>(L * S);
    ASSERT_EQ(iMapDat.size(), O + static_cast<std::size_t>(symbols * S));
    ASSERT_EQ(mapDat.size(), iMapDat.size());
    const double h = (c.maxFskDev / cfg.symbolRate) / (tones - 1);
    const std::vector<int> sym = patternSymbols(c.bits, k, symbols);

    // The rectangle spreads each level v over its S samples (v/S each); the phase sum takes
    // in a sample before its angle is computed.
    double before = 0.0;  // sum of the levels of the symbols already passed
    for (int j = 0; j < symbols; ++j) {
        const int level = 2 * sym[static_cast<std::size_t>(j)] - tones + 1;
        for (int r = 0; r < S; ++r) {
            const std::size_t s = O + static_cast<std::size_t>(j * S + r);
            const double angle = 2.0 * kPi * h * (before + (r + 1) * static_cast<double>(level) / S);
            ASSERT_NEAR(iMapDat[s], std::cos(angle), 1e-9) << s;
            ASSERT_NEAR(qMapDat[s], std::sin(angle), 1e-9) << s;
            ASSERT_NEAR(std::hypot(iMapDat[s], qMapDat[s]), 1.0, 1e-12);
        }
        before += level;
    }
    for (std::size_t s = 0; s < O; ++s) {
        ASSERT_EQ(iMapDat[s], 0.0);
        ASSERT_EQ(qMapDat[s], 0.0);
    }
    // Flags of the raw symbol values only.
    for (int v = 0; v < 256; ++v) {
        bool used = false;
        for (int s : sym) {
            used = used || s == v;
        }
        EXPECT_EQ(cfg.symbolMap[v] != 0, used) << v;
    }
}

INSTANTIATE_TEST_SUITE_P(Tones, FskChain,
                         ::testing::Values(FskCase{Cfg::MOD_FSK2, 100e3, "0110", 8},        // h = 1
                                           FskCase{Cfg::MOD_FSK2, 25e3, "1101", 5},         // h = 1/4
                                           FskCase{Cfg::MOD_FSK4, 150e3, "00011011", 8},    // h = 1/2
                                           FskCase{Cfg::MOD_FSK8, 70e3, "000111010110", 4}));

TEST_F(Pipeline, TwoFskWithUnitIndexTurnsAWholeCyclePerSymbol)
{
    const int S = 8, L = 2;
    setRun(Cfg::MOD_FSK2, 4, S, L, Cfg::FILTER_RECT);
    setPattern("0110");
    ASSERT_EQ(runCDMModulation(), 0);
    const std::size_t O = static_cast<std::size_t>(L * S);
    // First data sample: the phase already holds its own advance, 2*pi*h*(-1/8).
    EXPECT_NEAR(iMapDat[O], std::cos(-2.0 * kPi / 8), 1e-12);
    EXPECT_NEAR(qMapDat[O], std::sin(-2.0 * kPi / 8), 1e-12);
    for (int j = 0; j < 4; ++j) {
        const std::size_t end = O + static_cast<std::size_t>(j * S + S - 1);
        EXPECT_NEAR(iMapDat[end], 1.0, 1e-12);
        EXPECT_NEAR(qMapDat[end], 0.0, 1e-12);
    }
}

TEST_F(Pipeline, FourFskOuterLevelsReachTheDeviation)
{
    // Instantaneous frequency = phase step per sample * sample rate / (2 pi).
    const int S = 8, L = 4;
    setRun(Cfg::MOD_FSK4, 4, S, L, Cfg::FILTER_RECT);
    setPattern("00011011");  // levels -3, -1, 1, 3
    cfg.maxFskDev = 60e3;
    ASSERT_EQ(runCDMModulation(), 0);
    const std::size_t O = static_cast<std::size_t>(L * S);
    const double sampleRate = cfg.symbolRate * S;
    const double want[] = {-60e3, -20e3, 20e3, 60e3};
    for (int j = 0; j < 4; ++j) {
        const std::size_t s = O + static_cast<std::size_t>(j * S + 3);
        const double step = std::arg(std::complex<double>(iMapDat[s + 1], qMapDat[s + 1]) /
                                     std::complex<double>(iMapDat[s], qMapDat[s]));
        EXPECT_NEAR(step * sampleRate / (2.0 * kPi), want[j], 1e-6) << j;
    }
}

TEST_F(Pipeline, GaussianFskKeepsAConstantEnvelope)
{
    setRun(Cfg::MOD_FSK2, 40, 8, 4, Cfg::FILTER_GAUSSIAN_FSK);
    cfg.AlphaBt = 0.5;
    cfg.dataSrc = Cfg::DATA_SRC_PRBS;
    cfg.prbs = Cfg::PRBS9;
    ASSERT_EQ(runCDMModulation(), 0);
    for (std::size_t s = static_cast<std::size_t>(cfg.sampleOffset); s < iMapDat.size(); ++s) {
        ASSERT_NEAR(std::hypot(iMapDat[s], qMapDat[s]), 1.0, 1e-12) << s;
    }
}

TEST_F(Pipeline, PiOver4DifferentialWithZeroSymbols)
{
    // S = 1 and a one-tap rectangle: the tracks are the phase points themselves.
    setRun(Cfg::MOD_PI4_DQPSK, 4, 1, 1, Cfg::FILTER_RECT);
    ASSERT_EQ(runCDMModulation(), 0);
    ASSERT_EQ(iMapDat.size(), 5u);
    for (int j = 0; j < 4; ++j) {
        const double phase = (j + 1) * kPi / 4;  // phase sums 1, 2, 3, 4
        EXPECT_NEAR(iMapDat[static_cast<std::size_t>(1 + j)], std::cos(phase), 1e-15) << j;
        EXPECT_NEAR(qMapDat[static_cast<std::size_t>(1 + j)], std::sin(phase), 1e-15) << j;
    }
    for (int f = 0; f < 256; ++f) {
        EXPECT_EQ(cfg.symbolMap[f] != 0, f >= 1 && f <= 4) << f;
    }
    EXPECT_EQ(cfg.modulationFamily, 0xA0000);
}

TEST_F(Pipeline, PiOver8DifferentialWithSymbolSevenRepeated)
{
    // Symbol 7 steps by -7 * pi/8: positions 9, 2, 11, 4, ... stay within 0..15.
    const int symbols = 16;
    setRun(Cfg::MOD_PI8_D8PSK, symbols, 1, 2, Cfg::FILTER_RECT);
    cfg.dataSrc = Cfg::DATA_SRC_ALL_ONE;
    ASSERT_EQ(runCDMModulation(), 0);
    for (int j = 0; j < symbols; ++j) {
        const double phase = -7.0 * (j + 1) * kPi / 8;
        EXPECT_NEAR(iMapDat[static_cast<std::size_t>(2 + j)], std::cos(phase), 1e-12) << j;
        EXPECT_NEAR(qMapDat[static_cast<std::size_t>(2 + j)], std::sin(phase), 1e-12) << j;
    }
    EXPECT_EQ(flagsSet(), 16);  // -7 is odd: sixteen steps visit every position
}

TEST_F(Pipeline, PiOver8FlagsOfTheFirstSymbols)
{
    setRun(Cfg::MOD_PI8_D8PSK, 3, 2, 1, Cfg::FILTER_RECT);
    cfg.dataSrc = Cfg::DATA_SRC_ALL_ONE;
    ASSERT_EQ(runCDMModulation(), 0);
    for (int f = 0; f < 256; ++f) {
        EXPECT_EQ(cfg.symbolMap[f] != 0, f == 9 || f == 2 || f == 11) << f;
    }
}

TEST_F(Pipeline, DifferentialSymbolsSitOnTheSymbolGrid)
{
    // S = 4 with a one-tap user filter: points at O, O+4, ...; zeros between.
    setRun(Cfg::MOD_PI4_DQPSK, 3, 4, 1, Cfg::FILTER_USR);
    cfg.usrFilterCoef[0] = 1.0;
    cfg.usrFilterCoef[1] = cfg.usrFilterCoef[2] = cfg.usrFilterCoef[3] = 0.0;
    ASSERT_EQ(runCDMModulation(), 0);
    for (std::size_t s = 4; s < 16; ++s) {
        if (s % 4 == 0) {
            EXPECT_NEAR(std::hypot(iMapDat[s], qMapDat[s]), 1.0, 1e-15) << s;
        } else {
            EXPECT_EQ(iMapDat[s], 0.0) << s;
            EXPECT_EQ(qMapDat[s], 0.0) << s;
        }
    }
}

struct Refusal {
    int type;
    int symbols;
    int S;
    int L;
    int errNo;
    const char* text;
};

class Refused : public Pipeline, public ::testing::WithParamInterface<Refusal> {};

TEST_P(Refused, BeforeAnyTrackIsSized)
{
    const Refusal c = GetParam();
    setRun(c.type, c.symbols, c.S, c.L, Cfg::FILTER_RISING_COS);
    iMapDat.resize(3, 0.5);
    qMapDat.resize(4, 0.25);
    mapDat.resize(5, 0.125);
    try {
        runCDMModulation();
        FAIL() << "no exception";
    } catch (const IqSynthCfgExcept& e) {
        EXPECT_EQ(e.errNo(), c.errNo);
        EXPECT_NE(std::string(e.what()).find(c.text), std::string::npos) << e.what();
    }
    ASSERT_EQ(iMapDat.size(), 3u);
    ASSERT_EQ(qMapDat.size(), 4u);
    ASSERT_EQ(mapDat.size(), 5u);
    EXPECT_EQ(iMapDat[2], 0.5);
    EXPECT_EQ(mapDat[4], 0.125);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, Refused,
    ::testing::Values(Refusal{0x50002, 10, 4, 8, 0x40002, "Not processing modulating type"},
                      Refusal{0x10002, 10, 4, 8, 0x40002, "Not processing modulating type"},
                      Refusal{0x30000, 10, 4, 8, 0x40002, "Not processing modulating type"},  // one FSK tone
                      Refusal{0xA0004, 10, 4, 8, 0x40002, "Not processing modulating type"},  // past the phase table
                      Refusal{0x50002, 0, 0, 0, 0x40002, "Not processing modulating type"},   // the type is checked first
                      Refusal{Cfg::MOD_QPSK, 10, 0, 8, 0x40005, "overSamplingRate"},
                      Refusal{Cfg::MOD_QPSK, 10, 33, 8, 0x40005, "overSamplingRate"},
                      Refusal{Cfg::MOD_QPSK, 10, 4, -1, 0x40005, "filterLengh"},
                      Refusal{Cfg::MOD_QPSK, 10, 4, 129, 0x40005, "filterLengh"},
                      Refusal{Cfg::MOD_QPSK, 0, 4, 8, 0x40005, "sequenceLenth"},
                      Refusal{Cfg::MOD_PI4_DQPSK, -5, 4, 8, 0x40005, "sequenceLenth"},
                      Refusal{Cfg::MOD_QPSK, 0x7FFFFFF0, 32, 8, 0x40005, "sequenceLenth"}));

TEST_F(Pipeline, FskWithoutSymbolRateIsRefusedBeforeSizing)
{
    setRun(Cfg::MOD_FSK2, 10, 4, 2, Cfg::FILTER_RECT);
    cfg.symbolRate = 0.0;
    mapDat.resize(2, 1.0);
    try {
        runCDMModulation();
        FAIL() << "no exception";
    } catch (const IqSynthCfgExcept& e) {
        EXPECT_EQ(e.errNo(), 0x40005);
        EXPECT_NE(std::string(e.what()).find("symbolRate"), std::string::npos);
    }
    EXPECT_EQ(mapDat.size(), 2u);
}

TEST_F(Pipeline, UnknownFilterTypeComesThroughTheRun)
{
    setRun(Cfg::MOD_BPSK, 10, 4, 2, 4);
    try {
        runCDMModulation();
        FAIL() << "no exception";
    } catch (const IqSynthCfgExcept& e) {
        EXPECT_EQ(e.errNo(), 0x40001);
    }
}

}  // namespace
