// Section design checked against values worked out from the analog
// prototypes (the bilinear transform with prewarping maps fc onto the
// prototype's corner, so |H(fc)| is the prototype's |H(jW)|), and the
// quantisation edges.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "codec/filter/biquad.h"
#include "codec/filter/truncate.h"

namespace {

constexpr double kFs = 44100;

double Db(double gainDb) { return std::pow(10.0, gainDb / 20); }

struct ResponseCase {
  const char* name;
  int type;
  int subtype;
  double q;
  double fc, bandwidth, gainDb;
  double atFc, atDc, atNyquist;  // magnitudes of the unscaled design
};

class BiquadResponse : public testing::TestWithParam<ResponseCase> {};

TEST_P(BiquadResponse, MatchesPrototypeAtFcDcAndNyquist) {
  const ResponseCase& c = GetParam();
  TBiquad section(0);
  section.type = c.type;
  section.subtype = c.subtype;
  section.q = c.q;
  section.Design(c.fc, c.bandwidth, kFs, c.gainDb, false);
  // Undo the numerator scaling to compare with the prototype.
  const double undo = 1 / section.normalisation;
  EXPECT_NEAR(section.Magnitude(section.fc) * undo, c.atFc, 2e-3 * std::max(1.0, c.atFc));
  EXPECT_NEAR(section.Magnitude(0) * undo, c.atDc, 2e-3 * std::max(1.0, c.atDc));
  EXPECT_NEAR(section.Magnitude(kFs / 2) * undo, c.atNyquist, 2e-3 * std::max(1.0, c.atNyquist));
}

const double kA6 = Db(6), kA3 = Db(3), kAm9 = Db(-9);

INSTANTIATE_TEST_SUITE_P(
    Designs, BiquadResponse,
    testing::Values(
        ResponseCase{"EqBoost", kBiquadEQ, 0, 0, 1000, 200, 6, kA6, 1, 1},
        ResponseCase{"EqCut", kBiquadEQ, 0, 0, 3000, 500, -9, kAm9, 1, 1},
        ResponseCase{"LowPassButterworth1", kBiquadLowPass, kButterworth1, 0, 1000, 0, 0, std::sqrt(0.5), 1, 0},
        ResponseCase{"HighPassButterworth1Gain", kBiquadHighPass, kButterworth1, 0, 500, 0, 6, kA6 * std::sqrt(0.5), 0, kA6},
        ResponseCase{"LowPassButterworth2", kBiquadLowPass, kButterworth2, 0, 1000, 0, 0, 0.707, 1, 0},
        ResponseCase{"HighPassBessel2", kBiquadHighPass, kBessel2, 0, 2000, 0, 0, 0.58, 0, 1},
        ResponseCase{"LowPassLinkwitzRiley", kBiquadLowPass, kLinkwitzRiley2, 0, 800, 0, 0, 0.5, 1, 0},
        ResponseCase{"LowPassVariableQ", kBiquadLowPass, kVariableQ2, 2.0, 1000, 0, 0, 2.0, 1, 0},
        ResponseCase{"Notch", kBiquadNotch, 0, 0, 1000, 200, 0, 0, 1, 1},
        ResponseCase{"NotchWithGain", kBiquadNotch, 0, 0, 5000, 400, 3, 0, kA3, kA3},
        ResponseCase{"PhaseShift", kBiquadPhaseShift, 0, 0, 1000, 300, 0, 1, 1, 1},
        ResponseCase{"BassShelfBoost", kBiquadBassShelf, 0, 0, 300, 0, 3, std::sqrt(kA3), kA3, 1},
        ResponseCase{"BassShelfBigBoost", kBiquadBassShelf, 0, 0, 300, 0, 6, kA6 / std::sqrt(2.0), kA6, 1},
        ResponseCase{"TrebleShelfCut", kBiquadTrebleShelf, 0, 0, 4000, 0, -9, std::sqrt(2.0) * kAm9, 1, kAm9}),
    [](const testing::TestParamInfo<ResponseCase>& info) { return std::string(info.param.name); });

TEST(Biquad, WorkedEqExampleAt16Bits) {
  TBiquad section(0);
  section.SetBits(16);
  section.Design(1000, 200, kFs, -3, false);
  EXPECT_EQ((std::vector<int32_t>{section.N0, section.N1, section.N2, section.D1, section.D2}),
            (std::vector<int32_t>{32578, -31795, 31662, 31795, -31474}));
  EXPECT_EQ(section.D0, 0);
  EXPECT_DOUBLE_EQ(section.normalisation, 1.0);
}

TEST(Biquad, FlatEqIsFullScaleAt24BitsAndEqualsItsDenominator) {
  TBiquad section(0);
  section.Design(1000, 200, kFs, 0, false);
  EXPECT_EQ(section.N0, 8388607);
  EXPECT_EQ(section.N1, -section.D1);
  EXPECT_EQ(section.N2, -section.D2);
  EXPECT_NEAR(section.Magnitude(1000), 1.0, 1e-6);
}

TEST(Biquad, BoostScalesTheNumeratorAndACutResetsIt) {
  TBiquad section(0);
  section.Design(1000, 200, kFs, 6, false);
  EXPECT_DOUBLE_EQ(section.b0, 1.0);
  // h = (g - 1)(1 + d)/2 with d of the boost branch.
  const double t = std::tan(M_PI * 200 / kFs), d = (t - 1) / (t + 1);
  EXPECT_NEAR(section.normalisation, 1 / (1 + (Db(6) - 1) * 0.5 * (1 + d)), 1e-12);
  section.Design(1000, 200, kFs, -6, false);
  EXPECT_DOUBLE_EQ(section.normalisation, 1.0);
}

TEST(Biquad, FrequencyNearHalfTheRateMovesBelowIt) {
  for (const auto& [given, used] : {std::pair{22000.0, 21950.0}, {22100.0, 21950.0}, {22200.0, 22200.0}}) {
    TBiquad section(0);
    section.Design(given, 200, kFs, 0, false);
    EXPECT_DOUBLE_EQ(section.fc, used) << given;
  }
}

TEST(Biquad, QuantisationEdges) {
  struct Case {
    int bits;
    double b0, a1, a2;
    int32_t n0, d1, d2;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  for (const Case& c : {Case{16, 1.0, -1.9, 0, 32767, 31128, 0},        //
                        Case{16, 1e-6, 0, 0, 1, 0, 0},                  // trunc(0.0327) = 0, stored as 1
                        Case{24, 1.0, 0, -1, 8388607, 0, 8388607},      //
                        Case{32, 1.0, -2.0, -1.0, INT32_MAX, INT32_MAX, INT32_MAX},
                        Case{32, 1.5, 2.5, -1.5, INT32_MAX, INT32_MIN, INT32_MAX},  // past the range: saturates
                        Case{32, nan, inf, -inf, 1, INT32_MIN, INT32_MAX}}) {
    TBiquad section(0);
    section.bits = c.bits;
    section.b0 = c.b0;
    section.a1 = c.a1;
    section.a2 = c.a2;
    section.Quantise();
    EXPECT_EQ(section.N0, c.n0) << c.bits << " " << c.b0;
    EXPECT_EQ(section.D1, c.d1) << c.bits << " " << c.a1;
    EXPECT_EQ(section.D2, c.d2) << c.bits << " " << c.a2;
  }
}

TEST(Biquad, TruncationHelperIsSafeForEveryInput) {
  EXPECT_EQ(TruncInt32(std::nan("")), 0);
  EXPECT_EQ(TruncInt32(1e300), INT32_MAX);
  EXPECT_EQ(TruncInt32(-std::numeric_limits<double>::infinity()), INT32_MIN);
  EXPECT_EQ(TruncInt32(-2.9), -2);
  EXPECT_EQ(TruncSaturate<uint8_t>(-1.0), 0);
  EXPECT_EQ(TruncSaturate<int64_t>(1e19), INT64_MAX);
}

TEST(Biquad, ShelfAtZeroDesignsATinyGainButKeepsZero) {
  TBiquad section(0);
  section.type = kBiquadBassShelf;
  section.Design(300, 0, kFs, 0, false);
  EXPECT_EQ(section.gain, 0);
  EXPECT_NEAR(section.Magnitude(0) / section.normalisation, Db(0.001), 1e-4);
  EXPECT_GT(section.Magnitude(0) / section.normalisation, 1.0);
}

TEST(Biquad, CustomCoefficientsAndResolutionChange) {
  TBiquad section(0);
  section.SetBits(16);
  section.Design(1000, 200, kFs, -3, false);
  const int32_t same[5] = {32578, -31795, 31662, 31795, -31474};
  section.SetCustom(same);
  EXPECT_TRUE(section.designed);

  const int32_t custom[5] = {16384, 0, 0, 0, 0};
  section.SetCustom(custom);
  EXPECT_FALSE(section.designed);
  EXPECT_EQ(section.N0, 16384);
  EXPECT_NEAR(section.Magnitude(1234), 16384.0 / 32767, 1e-12);
  EXPECT_EQ(section.Describe(), "Custom Coefficients");

  // A resolution change requantises the last design; the section stays custom.
  section.SetBits(16);
  EXPECT_EQ(section.N0, 32578);
  EXPECT_FALSE(section.designed);
}

TEST(Biquad, UnknownTypeKeepsItsCoefficients) {
  TBiquad section(0);
  section.Design(1000, 200, kFs, -3, false);
  const int32_t n1 = section.N1;
  section.type = 9;
  section.Design(5000, 100, kFs, 6, false);
  EXPECT_EQ(section.N1, n1);
  EXPECT_EQ(section.fc, 1000);
  EXPECT_TRUE(section.designed);
}

TEST(Biquad, PhaseOfAZeroResponseIsZero) {
  TBiquad section(0);
  section.type = kBiquadNotch;
  section.Design(1000, 200, kFs, 0, false);
  section.qb0 = section.qb1 = section.qb2 = 0;  // H is exactly 0 everywhere
  EXPECT_EQ(section.Phase(1000), 0.0);
  section.Design(1000, 200, kFs, 0, false);
  EXPECT_NEAR(section.Phase(100), -section.Phase(-100), 1e-12);
  EXPECT_NE(section.Phase(100), 0.0);
}

}  // namespace
