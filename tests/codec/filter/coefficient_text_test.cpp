// The listing's text forms and reading an edited listing back.
#include <gtest/gtest.h>

#include <memory>

#include "codec/filter/biquad.h"
#include "codec/filter/coefficient_text.h"

namespace {

struct Sections {
  explicit Sections(int bits) {
    for (int i = 0; i < 40; ++i) {
      owned[i] = std::make_unique<TBiquad>(i);
      owned[i]->SetBits(bits);
      owned[i]->Design(1000 + 100 * i, 200, 44100, -3, false);
      filters[i] = owned[i].get();
    }
  }
  std::unique_ptr<TBiquad> owned[40];
  TBiquad* filters[40];
};

TEST(CoefficientText, ListingOfTheWorkedExample) {
  Sections s(16);
  s.filters[0]->Design(1000, 200, 44100, -3, false);
  s.filters[0]->enabled = true;
  EXPECT_EQ(CoefficientListing(s.filters),
            "Text \"* Sample Rate = 44100\"\r\n"
            "Text \"* Filter 1 EQ 1000 Hz Fc -3.0 dB 200 Hz BW\"\r\n"
            "Text \"* H(z) = (N0 + 2*N1/z + N2/(z2)) / (32768 - 2*D1/z - D2/(z2))\"\r\n"
            "Text \"* Filter Coefficients in format N0, N1, N2, D1, D2\"\r\n"
            "Text \"* Filter 1\"\r\n"
            "0x7F42\r\n0x83CD\r\n0x7BAE\r\n0x7C33\r\n0x850E\r\n");
}

// The rate and the resolution of the heading come from section 1 alone;
// each section writes its coefficients at its own resolution.
TEST(CoefficientText, ListingHeadingTakesSectionOnesSettings) {
  Sections s(20);
  struct Setup {
    int index, bits;
    double fs;
    int type, subtype;
    double fc, bandwidth, gain;
  };
  for (int i = 0; i < 40; ++i) s.filters[i]->Design(500 + 10 * i, 100, 32000, 2, false);
  for (const Setup& u : {Setup{0, 16, 44100, kBiquadEQ, 0, 1000, 200, -3},
                         Setup{2, 24, 48000, kBiquadLowPass, kButterworth2, 250, 0, 1.5},
                         Setup{39, 32, 96000, kBiquadNotch, 0, 7000, 300, -1}}) {
    TBiquad& f = *s.filters[u.index];
    f.bits = u.bits;
    f.type = u.type;
    f.subtype = u.subtype;
    f.Design(u.fc, u.bandwidth, u.fs, u.gain, false);
    f.enabled = true;
  }
  EXPECT_EQ(CoefficientListing(s.filters),
            "Text \"* Sample Rate = 44100\"\r\n"
            "Text \"* Filter 1 EQ 1000 Hz Fc -3.0 dB 200 Hz BW\"\r\n"
            "Text \"* Filter 3 Low Pass 2nd Order Butterworth, 250 Hz Fc 1.5 dB \"\r\n"
            "Text \"* Filter 40 Notch 7000 Hz Fc -1.0 dB 300 Hz BW\"\r\n"
            "Text \"* H(z) = (N0 + 2*N1/z + N2/(z2)) / (32768 - 2*D1/z - D2/(z2))\"\r\n"
            "Text \"* Filter Coefficients in format N0, N1, N2, D1, D2\"\r\n"
            "Text \"* Filter 1\"\r\n"
            "0x7F42\r\n0x83CD\r\n0x7BAE\r\n0x7C33\r\n0x850E\r\n"
            "Text \"* Filter 3\"\r\n"
            "0x000A30\r\n0x000A30\r\n0x000A30\r\n0x7D09C3\r\n0x85CA2C\r\n"
            "Text \"* Filter 40\"\r\n"
            "0x70F89314\r\n0x9AADECD0\r\n0x70F89314\r\n0x71AEFFAF\r\n0x827D29D0\r\n");
}

TEST(CoefficientText, EmptyListingAndScaleAt32Bits) {
  Sections s(32);
  EXPECT_EQ(CoefficientListing(s.filters),
            "Text \"* Sample Rate = 44100\"\r\n"
            "Text \"* H(z) = (N0 + 2*N1/z + N2/(z2)) / (2147483648 - 2*D1/z - D2/(z2))\"\r\n"
            "Text \"* Filter Coefficients in format N0, N1, N2, D1, D2\"\r\n");
}

TEST(CoefficientText, HexadecimalLinesKeepTheirWidth) {
  struct Case {
    int bits;
    int32_t value;
    const char* text;
  };
  for (const Case& c : {Case{16, 32767, "0x7FFF"}, {16, 100, "0x0064"}, {16, -1, "0xFFFF"}, {16, -32768, "0x8000"},
                        {16, -4096, "0xF000"}, {24, -1, "0xFFFFFF"}, {10, -1, "0xFF"}, {32, -1, "0xFFFFFFFF"}}) {
    TBiquad section(0);
    section.bits = c.bits;
    section.N0 = section.N1 = section.N2 = section.D1 = section.D2 = c.value;
    const std::string line = std::string(c.text) + "\r\n";
    EXPECT_EQ(section.CoefficientText(), line + line + line + line + line) << c.bits << " " << c.value;
  }
}

TEST(CoefficientText, Descriptions) {
  TBiquad section(0);
  auto describe = [&](int type, int subtype, double fc, double bw, double gain) {
    section.type = type;
    section.subtype = subtype;
    section.q = 2.5;
    section.Design(fc, bw, 44100, gain, false);
    return section.Describe();
  };
  EXPECT_EQ(describe(kBiquadHighPass, kButterworth2, 99.9, 0, 1.25), "High Pass 2nd Order Butterworth, 99 Hz Fc 1.2 dB ");
  EXPECT_EQ(describe(kBiquadLowPass, kVariableQ2, 500, 0, 0), "Low Pass 2nd Order Variable Q = 2.500, 500 Hz Fc 0.0 dB ");
  EXPECT_EQ(describe(kBiquadTrebleShelf, 0, 4000, 0, -6), "Treble Shelf 4000 Hz Fc -6.0 dB");
  EXPECT_EQ(describe(kBiquadBassShelf, 0, 100, 0, 6), "Bass Shelf 100 Hz Fc 6.0 dB");
  EXPECT_EQ(describe(kBiquadPhaseShift, 0, 1000, 300, 6), "Phase Shift 1000 Hz Fc 300 Hz BW");
  EXPECT_EQ(describe(kBiquadNotch, 0, 60, 10, -1), "Notch 60 Hz Fc -1.0 dB 10 Hz BW");
  section.type = 7;
  EXPECT_EQ(section.Describe(), "N/A");
}

TEST(CoefficientText, ShortestDecimal) {
  EXPECT_EQ(ShortestDecimal(0.1), "0.1");
  EXPECT_EQ(ShortestDecimal(44100), "44100");
  EXPECT_EQ(ShortestDecimal(-45), "-45");
  EXPECT_EQ(ShortestDecimal(47605.0880681818), "47605.0880681818");
}

TEST(CoefficientText, LinesThatConvert) {
  struct Case {
    const char* line;
    bool converts;
    uint32_t value;
  };
  for (const Case& c : {Case{"0xFFFF", true, 0xFFFF}, {"  65535", true, 65535}, {"0x7FFF", true, 0x7FFF},
                        {"-5", true, uint32_t(-5)}, {"0xffffffff\r", true, 0xFFFFFFFF}, {"0x12 dB", false, 0},
                        {"0x123456789", false, 0}, {"Text \"* Filter 1\"", false, 0}, {"", false, 0},
                        {"0x", false, 0}, {"-", false, 0}, {"2147483648", false, 0}, {"-2147483648", true, 0x80000000}}) {
    const std::optional<uint32_t> value = ParseCoefficientLine(c.line);
    EXPECT_EQ(value.has_value(), c.converts) << c.line;
    if (value && c.converts) {
      EXPECT_EQ(*value, c.value) << c.line;
    }
  }
}

TEST(CoefficientText, AListingReadBackUnchangedChangesNothing) {
  Sections s(16);
  for (int i : {0, 1, 4}) s.filters[i]->enabled = true;
  ParseCoefficients(CoefficientListing(s.filters), s.filters);
  for (int i : {0, 1, 4}) EXPECT_TRUE(s.filters[i]->designed) << i;
}

TEST(CoefficientText, GroupsGoToTheEnabledSectionsInOrder) {
  struct Case {
    const char* name;
    std::vector<int> enabled;
    std::string text;
    std::vector<std::pair<int, std::vector<int32_t>>> expected;  // section, N0 N1 N2 D1 D2
  };
  const Case cases[] = {
      {"SignExtendedAt16Bits", {0}, "0xFFFF\n65535\n0x7FFF\n-5\nText \"x\"\n0x12 dB\n7\n",
       {{0, {-1, -1, 32767, -5, 7}}}},
      {"SectionsOneAndThreeThirdGroupDropped", {0, 2},
       "1\n2\n3\n4\n5\r\n\r\n6\n7\n8\n9\n10\n11\n12\n13\n14\n15\n",
       {{0, {1, 2, 3, 4, 5}}, {2, {6, 7, 8, 9, 10}}}},
      {"OnlySectionForty", {39}, "1\n2\n3\n4\n5", {{39, {1, 2, 3, 4, 5}}}},
      {"FewerThanFiveDropped", {0}, "1\n2\n3\n4\n", {}},
  };
  for (const Case& c : cases) {
    Sections s(16);
    // Section 1's resolution decides the sign bit, whatever the others hold.
    for (int i = 1; i < 40; ++i) s.filters[i]->bits = 32;
    for (int i : c.enabled) s.filters[i]->enabled = true;
    const int32_t n1 = s.filters[1]->N1;
    ParseCoefficients(c.text, s.filters);
    for (const auto& [index, values] : c.expected) {
      const TBiquad& f = *s.filters[index];
      EXPECT_EQ((std::vector<int32_t>{f.N0, f.N1, f.N2, f.D1, f.D2}), values) << c.name;
      EXPECT_FALSE(f.designed) << c.name;
    }
    if (c.expected.empty()) {
      EXPECT_TRUE(s.filters[0]->designed) << c.name;
    }
    EXPECT_EQ(s.filters[1]->N1, n1) << c.name;  // never enabled: untouched
    EXPECT_TRUE(s.filters[1]->designed) << c.name;
  }
}

}  // namespace
