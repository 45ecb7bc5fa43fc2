// Section design against a table of exact quantised integers and stored
// design fields per type and subtype (worked out once from the design
// formulas, independently of this code), the response's phase, and the
// quantisation edges.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <string>
#include <limits>
#include <ostream>
#include <vector>

#include "codec/filter/biquad.h"
#include "codec/filter/truncate.h"

namespace {

constexpr double kFs = 44100;

struct DesignCase {
  const char* name;
  int type, subtype, bits;
  double fs, fc, bandwidth, gainDb;
  int32_t integers[5];  // N0 N1 N2 D1 D2
  // The fields after the design; a field a design does not store keeps
  // the value set before it (gain -77, bandwidth -55, q 2.5, ratio -11).
  double fcAfter, gainAfter, bandwidthAfter, qAfter, ratioAfter, normalisationAfter;
};

const DesignCase kDesigns[] = {
    {"EqWorkedExample", 0, 0, 16, 44100.0, 1000.0, 200.0, -3.0,
      {32578, -31795, 31662, 31795, -31474}, 1000.0, -3.0, 200.0, 1.0, 0.2, 1.0},
    {"EqBoostScaled", 0, 0, 16, 44100.0, 1000.0, 200.0, 6.0,
      {32767, -31538, 30955, 31979, -31846}, 1000.0, 6.0, 200.0, 1.0, 0.2, 0.9862109717585421},
    {"EqCut", 0, 0, 24, 48000.0, 3000.0, 500.0, -9.0,
      {7931433, -7095409, 7428598, 7095409, -6971424}, 3000.0, -9.0, 500.0, 1.0, 0.16666666666666666, 1.0},
    {"EqFlat", 0, 0, 24, 44100.0, 1000.0, 200.0, 0.0,
      {8388607, -8186956, 8152914, 8186956, -8152914}, 1000.0, 0.0, 200.0, 1.0, 0.2, 1.0},
    {"EqBoost32", 0, 0, 32, 96000.0, 12000.0, 3000.0, 4.5,
      {2147483647, -1303044718, 1538083380, 1382350598, -1762394282}, 12000.0, 4.5, 3000.0, 1.0, 0.25, 0.942629691812573},
    {"HighPassButterworth1Boost", 1, 0, 24, 44100.0, 500.0, 0.0, 6.0,
      {8388607, -4194303, 0, 3905668, 0}, 500.0, 6.0, -55.0, 2.5, -11.0, 0.5190465572327654},
    {"LowPassButterworth1", 2, 0, 16, 48000.0, 1000.0, 0.0, 0.0,
      {2015, 1007, 0, 14367, 0}, 1000.0, 0.0, -55.0, 2.5, -11.0, 1.0},
    {"HighPassButterworth2Cut", 1, 1, 32, 44100.0, 2000.0, 0.0, -3.0,
      {1242611048, -1242611048, 1242611048, 1719116813, -1435221761}, 2000.0, -3.0, -55.0, 0.707, -11.0, 1.0},
    {"LowPassButterworth2", 2, 1, 24, 44100.0, 1000.0, 0.0, 0.0,
      {38620, 38620, 38620, 7545852, -6857580}, 1000.0, 0.0, -55.0, 0.707, -11.0, 1.0},
    {"HighPassBessel2", 1, 2, 16, 44100.0, 2000.0, 0.0, 0.0,
      {25843, -25843, 25843, 25311, -19983}, 2000.0, 0.0, -55.0, 0.58, -11.0, 1.0},
    {"LowPassBessel2Boost", 2, 2, 32, 48000.0, 300.0, 0.0, 3.0,
      {1131041, 1131041, 1131041, 2075580674, -2006880566}, 300.0, 3.0, -55.0, 0.58, -11.0, 1.0},
    {"HighPassLinkwitzRiley2", 1, 3, 24, 48000.0, 800.0, 0.0, 0.0,
      {7573938, -7573938, 7573938, 7553135, -6800873}, 800.0, 0.0, -55.0, 2.5, -11.0, 1.0},
    {"LowPassLinkwitzRiley2Cut", 2, 3, 16, 44100.0, 800.0, 0.0, -6.0,
      {47, 47, 47, 29229, -26074}, 800.0, -6.0, -55.0, 2.5, -11.0, 1.0},
    {"HighPassVariableQ2", 1, 4, 16, 44100.0, 150.0, 0.0, 0.0,
      {32623, -32623, 32623, 32620, -32488}, 150.0, 0.0, -55.0, 2.5, -11.0, 1.0},
    {"LowPassVariableQ2", 2, 4, 24, 44100.0, 1000.0, 0.0, 1.5,
      {49115, 49115, 49115, 8074308, -7925310}, 1000.0, 1.5, -55.0, 2.5, -11.0, 1.0},
    {"TrebleShelfCut9", 3, 0, 24, 44100.0, 4000.0, 0.0, -9.0,
      {3535037, -2061607, 1496269, 6223214, -4965914}, 4000.0, -9.0, -55.0, 2.5, -11.0, 1.0},
    {"TrebleShelfAt6", 3, 0, 32, 44100.0, 4000.0, 0.0, 6.0,
      {2147483647, -1430051871, 1083972173, 1168074906, -835678949}, 4000.0, 6.0, -55.0, 2.5, -11.0, 0.5739485955475926},
    {"TrebleShelfAtMinus6", 3, 0, 16, 44100.0, 4000.0, 0.0, -6.0,
      {18806, -10229, 7318, 21820, -16539}, 4000.0, -6.0, -55.0, 2.5, -11.0, 1.0},
    {"TrebleShelfInside", 3, 0, 16, 48000.0, 3000.0, 0.0, 5.5,
      {32767, -25077, 20366, 22392, -17160}, 3000.0, 5.5, -55.0, 2.5, -11.0, 0.578958606006919},
    {"TrebleShelfAtZero", 3, 0, 24, 44100.0, 2000.0, 0.0, 0.0,
      {8388607, -6715514, 5606748, 6715420, -5606620}, 2000.0, 0.0, -55.0, 2.5, -11.0, 0.9998963576004296},
    {"BassShelfBoost3", 4, 0, 16, 44100.0, 300.0, 0.0, 3.0,
      {32767, -31687, 30677, 31858, -30999}, 300.0, 3.0, -55.0, 2.5, -11.0, 0.9947892317542424},
    {"BassShelfAt6", 4, 0, 24, 44100.0, 300.0, 0.0, 6.0,
      {8388607, -8087958, 7808127, 8175698, -7973334}, 300.0, 6.0, -55.0, 2.5, -11.0, 0.9895856662177519},
    {"BassShelfAtMinus6", 4, 0, 32, 44100.0, 300.0, 0.0, -6.0,
      {2125119035, -2071182196, 2019916307, 2070517622, -1998880843}, 300.0, -6.0, -55.0, 2.5, -11.0, 1.0},
    {"BassShelfInside", 4, 0, 24, 48000.0, 200.0, 0.0, -5.5,
      {8339386, -8207618, 8079950, 8206713, -8032541}, 200.0, -5.5, -55.0, 2.5, -11.0, 1.0},
    {"BassShelfAtZero", 4, 0, 16, 44100.0, 300.0, 0.0, 0.0,
      {32767, -31776, 30844, 31776, -30845}, 300.0, 0.0, -55.0, 2.5, -11.0, 0.9999982606922658},
    {"BassShelfBoost12", 4, 0, 24, 44100.0, 100.0, 0.0, 12.0,
      {8388607, -8225603, 8068815, 8306900, -8226770}, 100.0, 12.0, -55.0, 2.5, -11.0, 0.9903533864082394},
    // Near half the rate b1 exceeds 1: the numerator is scaled a second time.
    {"TrebleShelfNearHalfTheRate", 3, 0, 16, 44100.0, 21900.0, 0.0, -12.0,
      {16626, 16383, 16147, -31812, -30911}, 21900.0, -12.0, -55.0, 2.5, -11.0, 0.5148441000649492},
    {"TrebleShelfMovedBelowHalfTheRate", 3, 0, 24, 44100.0, 22000.0, 0.0, 6.0,
      {4245038, 4194303, 4144766, -8317627, -8247839}, 21950.0, 6.0, -55.0, 2.5, -11.0, 0.5042847820520711},
    {"TrebleShelfNearHalfTheRate48k", 3, 0, 24, 48000.0, 23850.0, 0.0, -12.0,
      {4251368, 4194303, 4138749, -8164001, -7951113}, 23850.0, -12.0, -55.0, 2.5, -11.0, 0.5136178606187287},
    {"BassShelfBoostNearHalfTheRate", 4, 0, 16, 44100.0, 21900.0, 0.0, 12.0,
      {16512, 16383, 16256, -32254, -31758}, 21900.0, 12.0, -55.0, 2.5, -11.0, 0.12757671320925634},
    {"PhaseShift", 5, 0, 16, 44100.0, 1000.0, 300.0, 6.0,
      {31395, -31756, 32767, 31756, -31395}, 1000.0, -77.0, 300.0, 2.5, 0.3, 1.0},
    {"PhaseShift32", 5, 0, 32, 48000.0, 5000.0, 1000.0, -3.0,
      {1883292613, -1598914904, 2147483647, 1598914904, -1883292613}, 5000.0, -77.0, 1000.0, 2.5, 0.2, 1.0},
    {"Notch", 6, 0, 16, 44100.0, 1000.0, 200.0, 0.0,
      {32306, -31979, 32306, 31979, -31846}, 1000.0, 0.0, 200.0, 2.5, 0.2, 1.0},
    {"NotchWithGain", 6, 0, 24, 44100.0, 5000.0, 400.0, 3.0,
      {8388607, -6348571, 8388607, 6172633, -7923660}, 5000.0, 3.0, 400.0, 2.5, 0.08, 0.7281242826683576},
    {"EqJustBelowTheBand", 0, 0, 24, 44100.0, 21949.9, 200.0, 0.0,
      {8388607, 8269919, 8152914, -8269919, -8152914}, 21949.9, 0.0, 200.0, 1.0, 0.00911165882304703, 1.0},
    {"EqAtTheBandsLowerEdge", 0, 0, 24, 44100.0, 21950.1, 200.0, 0.0,
      {8388607, 8269921, 8152914, -8269921, -8152914}, 21950.0, 0.0, 200.0, 1.0, 0.009111617312072893, 1.0},
    {"EqAtTheBandsUpperEdge", 0, 0, 24, 44100.0, 22149.9, 200.0, 0.0,
      {8388607, 8269921, 8152914, -8269921, -8152914}, 21950.0, 0.0, 200.0, 1.0, 0.009111617312072893, 1.0},
    {"EqJustAboveTheBand", 0, 0, 24, 44100.0, 22150.0, 200.0, 0.0,
      {8388607, 8269921, 8152914, -8269921, -8152914}, 22150.0, 0.0, 200.0, 1.0, 0.009029345372460496, 1.0},
    {"EqJustBelowTheBand48k", 0, 0, 16, 48000.0, 23899.5, 200.0, -2.0,
      {32657, 32232, 31813, -32232, -31704}, 23899.5, -2.0, 200.0, 1.0, 0.008368375907445762, 1.0},
    {"EqInsideTheBand48k", 0, 0, 16, 48000.0, 23900.5, 200.0, -2.0,
      {32657, 32232, 31813, -32232, -31704}, 23900.0, -2.0, 200.0, 1.0, 0.008368200836820083, 1.0},
};

void PrintTo(const DesignCase& c, std::ostream* os) { *os << c.name; }

class BiquadDesign : public testing::TestWithParam<DesignCase> {
 protected:
  // A section of the case's type, subtype and resolution, not yet designed.
  static TBiquad Section(const DesignCase& c, int index) {
    TBiquad section(index);
    section.type = c.type;
    section.subtype = c.subtype;
    section.bits = c.bits;
    return section;
  }
};

TEST_P(BiquadDesign, GivesTheExactIntegersAndStoresItsFields) {
  const DesignCase& c = GetParam();
  TBiquad section = Section(c, 3);
  section.gain = -77;
  section.bandwidth = -55;
  section.q = 2.5;
  section.bandwidthRatio = -11;
  section.normalisation = 0.25;
  section.designed = false;
  section.Design(c.fc, c.bandwidth, c.fs, c.gainDb, false);
  EXPECT_EQ((std::vector<int32_t>{section.N0, section.N1, section.N2, section.D1, section.D2}),
            (std::vector<int32_t>(c.integers, c.integers + 5)));
  EXPECT_EQ(section.D0, 0);
  EXPECT_EQ(section.a0, 1.0);
  EXPECT_TRUE(section.designed);
  EXPECT_EQ(section.sampleRate, c.fs);
  EXPECT_EQ(section.fc, c.fcAfter);
  EXPECT_EQ(section.gain, c.gainAfter);
  EXPECT_EQ(section.bandwidth, c.bandwidthAfter);
  EXPECT_EQ(section.q, c.qAfter);
  EXPECT_EQ(section.bandwidthRatio, c.ratioAfter);
  EXPECT_DOUBLE_EQ(section.normalisation, c.normalisationAfter);
}

// The plot's frequency axis: 10 Hz to half the rate, and the given points.
std::vector<double> PlotFrequencies(double fs, std::initializer_list<double> more = {}) {
  std::vector<double> f(more);
  for (int i = 0; i < 369; ++i) f.push_back(10 * std::pow(fs / 20, i / 368.0));
  return f;
}

// What the plot draws from a table, against each section's own evaluation
// at every frequency: 20 lg Magnitude and Phase, within round-off.
void ExpectTableGivesThePerFrequencyResponse(const TBiquad& section, const TFrequencyTable& table,
                                             const std::string& name) {
  std::vector<double> dB(table.Size()), phase(table.Size());
  section.Evaluate(table, dB.data(), phase.data());
  int failures = 0;
  for (size_t i = 0; i < table.Size() && failures < 5; ++i) {
    const double f = table.Frequency(i);
    const double slowDb = 20 * std::log10(section.Magnitude(f)), slowPhase = section.Phase(f);
    // Infinities are the same infinity, and a 0/0 at a pole stays undefined.
    const bool sameDb = std::isfinite(slowDb)
                            ? std::fabs(dB[i] - slowDb) <= 1e-12 * std::max(1.0, std::fabs(slowDb))
                            : dB[i] == slowDb || (std::isnan(slowDb) && std::isnan(dB[i]));
    const bool samePhase = std::isnan(slowPhase) ? std::isnan(phase[i]) : std::fabs(phase[i] - slowPhase) <= 1e-12;
    if (!sameDb || !samePhase) {
      ++failures;
      ADD_FAILURE() << name << " at " << f << " Hz: " << dB[i] << " dB, " << phase[i] << " rad; evaluated alone "
                    << slowDb << " dB, " << slowPhase << " rad";
    }
  }
  std::vector<double> gainOnly(table.Size(), 7.0);
  section.Evaluate(table, gainOnly.data(), nullptr);
  EXPECT_EQ(0, std::memcmp(gainOnly.data(), dB.data(), dB.size() * sizeof(double))) << name << ": gain alone differs";
}

TEST_P(BiquadDesign, ResponseOverATableIsTheResponseAtEachFrequency) {
  const DesignCase& c = GetParam();
  TBiquad section = Section(c, 0);
  section.q = 2.5;
  section.Design(c.fc, c.bandwidth, c.fs, c.gainDb, false);
  TFrequencyTable table;
  table.Set(PlotFrequencies(c.fs, {c.fc, section.fc, c.fs / 2}), c.fs);
  ExpectTableGivesThePerFrequencyResponse(section, table, c.name);
  // A table made at another rate: the section keeps to its own.
  const double other = c.fs == 48000 ? 44100 : 48000;
  table.Set(PlotFrequencies(other, {c.fc}), other);
  ExpectTableGivesThePerFrequencyResponse(section, table, std::string(c.name) + " (table at another rate)");
}

INSTANTIATE_TEST_SUITE_P(Table, BiquadDesign, testing::ValuesIn(kDesigns),
                         [](const testing::TestParamInfo<DesignCase>& info) { return std::string(info.param.name); });

struct PhaseCase {
  const char* name;
  int type, subtype, bits;
  double fs, fc, f;
  double phase, magnitude;  // of the quantised section at f
  double gainDb = 0;
};

const PhaseCase kPhases[] = {
    {"LowPassButterworth1AtFc", 2, 0, 24, 44100.0, 1000.0, 1000.0, -0.7853973463949365, 0.7071047826186448},
    {"HighPassButterworth1AtFc", 1, 0, 24, 44100.0, 1000.0, 1000.0, 0.7853980216546956, 0.7071062486331092},
    {"LowPassButterworth2AtFc", 2, 1, 16, 48000.0, 2000.0, 2000.0, -1.5706076296789102, 0.7056410499803654},
    {"PhaseShiftBelowFc", 5, 0, 24, 44100.0, 1000.0, 500.0, -0.39533619457827196, 1.0000000000000062},
    // Scaled twice, the shelf passes low frequencies at about half.
    {"TrebleShelfNearHalfTheRateAt20Hz", 3, 0, 16, 44100.0, 21900.0, 20.0, -2.0718506863837384e-05,
     0.5148308746121733, -12.0},
};

TEST(Biquad, PhaseAndMagnitudeOfKnownSections) {
  for (const PhaseCase& c : kPhases) {
    TBiquad section(0);
    section.type = c.type;
    section.subtype = c.subtype;
    section.bits = c.bits;
    section.Design(c.fc, 300, c.fs, c.gainDb, false);
    // A low pass lags, a high pass leads: the sign matters, not the last digits.
    EXPECT_NEAR(section.Phase(c.f), c.phase, 1e-9) << c.name;
    EXPECT_NEAR(section.Magnitude(c.f), c.magnitude, 1e-9) << c.name;
    EXPECT_NEAR(std::arg(section.Response(c.f)), c.phase, 1e-9) << c.name;
  }
}

TEST(Biquad, ACutAfterABoostResetsTheScaling) {
  TBiquad section(0);
  section.SetBits(16);
  section.Design(1000, 200, kFs, 6, false);
  EXPECT_EQ(section.b0, 1.0);
  EXPECT_DOUBLE_EQ(section.normalisation, 0.9862109717585421);
  section.Design(1000, 200, kFs, -6, false);
  EXPECT_EQ(section.normalisation, 1.0);
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

TEST(Biquad, ResponseOverATableAtTheEdgesOfTheRange) {
  struct Case {
    const char* name;
    double qb0, qb1, qb2, qa1, qa2;
  };
  // |H| of 1e-160 and 1e160 square beyond the double range; 0 has no phase
  // and minus infinity as its gain; a pole on the unit circle at 0 Hz.
  for (const Case& c : {Case{"Zero", 0, 0, 0, 0, 0}, Case{"Tiny", 1e-160, 0, 0, 0, 0}, Case{"Huge", 1e160, 0, 0, 0, 0},
                        Case{"JustUnderOne", 1 - 1e-15, 0, 0, 0, 0}, Case{"PoleAtZeroHz", 1, 0, 0, -2, 1},
                        Case{"Custom", 16384.0 / 32767, -0.5, 0.25, -1.9, 0.95}}) {
    TBiquad section(0);
    section.Design(1000, 200, kFs, 0, false);
    section.qb0 = c.qb0;
    section.qb1 = c.qb1;
    section.qb2 = c.qb2;
    section.qa1 = c.qa1;
    section.qa2 = c.qa2;
    TFrequencyTable table;
    table.Set(PlotFrequencies(kFs, {0, 1000, kFs / 2}), kFs);
    ExpectTableGivesThePerFrequencyResponse(section, table, c.name);
  }
}

TEST(BiquadCurve, EvaluatesAgainOnlyWhatNoLongerHolds) {
  TBiquad section(0);
  section.SetBits(16);
  section.Design(1000, 200, kFs, -3, false);
  TFrequencyTable table;
  table.Set(PlotFrequencies(kFs), kFs);
  TResponseCurve curve;
  auto expectFresh = [&](const std::string& step) {
    std::vector<double> dB(table.Size()), phase(table.Size());
    section.Evaluate(table, dB.data(), phase.data());
    EXPECT_EQ(curve.Gain(), dB) << step;
    EXPECT_EQ(curve.Phase(), phase) << step;
  };
  EXPECT_TRUE(curve.Update(section, table, true, false));
  EXPECT_FALSE(curve.Update(section, table, true, false));
  EXPECT_TRUE(curve.Update(section, table, true, true));  // the phase was not yet taken
  EXPECT_FALSE(curve.Update(section, table, false, true));
  expectFresh("first");
  // The same design again gives the same coefficients: nothing to do.
  section.Design(1000, 200, kFs, -3, false);
  EXPECT_FALSE(curve.Update(section, table, true, true));

  const int32_t custom[5] = {16384, -3000, 2000, 31000, -30000};
  struct Step {
    const char* name;
    std::function<void()> change;
  };
  const Step steps[] = {
      {"gain", [&] { section.Design(1000, 200, kFs, 3, false); }},
      {"custom coefficients", [&] { section.SetCustom(custom); }},
      {"resolution", [&] { section.SetBits(24); }},
      {"one coefficient", [&] { section.qa2 = std::nextafter(section.qa2, 0.0); }},
      {"rate", [&] { section.Design(1000, 200, 48000, 3, false); }},
      {"rate alone", [&] { section.sampleRate = 32000; }},
      {"table made again", [&] { table.Set(PlotFrequencies(48000), 48000); }},
      {"table of another range", [&] { table.Set(PlotFrequencies(24000), 48000); }},
  };
  for (const Step& step : steps) {
    step.change();
    EXPECT_TRUE(curve.Update(section, table, true, true)) << step.name;
    expectFresh(step.name);
    EXPECT_FALSE(curve.Update(section, table, true, true)) << step.name;
  }
}

TEST(Biquad, PhaseOfAZeroResponseIsZero) {
  TBiquad section(0);
  section.type = kBiquadNotch;
  section.Design(1000, 200, kFs, 0, false);
  section.qb0 = section.qb1 = section.qb2 = 0;  // H is exactly 0 everywhere
  EXPECT_EQ(section.Phase(1000), 0.0);
}

}  // namespace
