// The clock solver: whole solution lists in search order, refused inputs,
// every solution meeting its rate within the codec's limits, and the
// register programming with its write caches.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <tuple>
#include <vector>

#include "codec/qmx_clock.h"

namespace {

// (P, R, J, D, N, M) of every solution, in order.
using Row = std::tuple<int, int, int, int, int, int>;
std::vector<Row> Rows(const TQMXClock& clock, int count) {
  std::vector<Row> rows;
  for (int i = 0; i < count; ++i) {
    const TClockSolution s = clock.Solution(i);
    rows.emplace_back(s.P, s.R, s.J, s.D, s.N, s.M);
  }
  return rows;
}

TEST(ClockSolverTest, TwelveMegahertzTo44100NeedsTheFractionalPll) {
  TQMXClock clock;
  const int n = clock.Solve(12000000, 44100, 128, 128, 4, 128, false);
  const std::vector<Row> expected = {
      {1, 1, 7, 560, 3, 5},   {1, 1, 7, 5264, 4, 4},  {1, 1, 7, 560, 5, 3},  {1, 1, 7, 5264, 8, 2},
      {1, 1, 7, 560, 15, 1},  {1, 1, 7, 5264, 16, 1}, {1, 1, 7, 9968, 17, 1}, {1, 1, 8, 4672, 6, 3},
      {1, 1, 8, 4672, 9, 2},  {1, 1, 8, 4672, 18, 1}, {1, 1, 8, 9376, 19, 1}};
  ASSERT_EQ(n, 11);
  EXPECT_EQ(Rows(clock, n), expected);
  for (int i = 0; i < n; ++i) {
    EXPECT_TRUE(clock.Solution(i).usesPLL);
    EXPECT_EQ(clock.Solution(i).OSR, 128);
  }
}

TEST(ClockSolverTest, FortyEightKilohertzFindsJ8D1920WhereTheDividersAllow) {
  TQMXClock clock;
  const auto rows = Rows(clock, clock.Solve(12000000, 48000, 128, 128, 4, 128, false));
  auto has = [&](int n, int m) { return std::find(rows.begin(), rows.end(), Row{1, 1, 8, 1920, n, m}) != rows.end(); };
  EXPECT_TRUE(has(4, 4));
  EXPECT_TRUE(has(8, 2));
  EXPECT_TRUE(has(16, 1));
  EXPECT_FALSE(has(2, 8));  // 48000 x 128 x 8 passes 33 MHz
}

TEST(ClockSolverTest, AnExactInputNeedsNoPllUnlessTheInputIsDin) {
  TQMXClock clock;
  const int n = clock.Solve(12288000, 48000, 128, 128, 4, 128, false);
  EXPECT_EQ(Rows(clock, n), (std::vector<Row>{{1, 1, 1, 0, 1, 2}, {1, 1, 1, 0, 2, 1}}));
  EXPECT_FALSE(clock.Solution(0).usesPLL);
  const int pll = clock.Solve(12288000, 48000, 128, 128, 4, 128, true);
  ASSERT_GT(pll, 0);
  for (int i = 0; i < pll; ++i) EXPECT_TRUE(clock.Solution(i).usesPLL) << i;
  // An integer PLL meets it exactly, so the fractional stage never runs.
  EXPECT_EQ(clock.Solution(0).D, 0);
}

TEST(ClockSolverTest, RefusedAndImpossibleRequestsGiveNothing) {
  const struct {
    const char* what;
    int input, fs, osrMin, osrMax, engine, instructions;
  } cases[] = {
      {"instructions not a multiple of the engine OSR", 12000000, 44100, 128, 128, 4, 130},
      {"odd instruction count", 12000000, 44100, 128, 128, 1, 127},
      {"engine OSR 0", 12000000, 44100, 128, 128, 0, 128},
      {"input clock 0", 0, 44100, 128, 128, 4, 128},
      {"negative input clock", -12000000, 44100, 128, 128, 4, 128},
      {"sample rate 0", 12000000, 0, 128, 128, 4, 128},
      {"OSR range above 64 x engine OSR", 12288000, 8000, 300, 400, 4, 128},
      {"OSR range below the engine OSR", 12288000, 8000, 1, 3, 4, 128},
      {"no configuration meets it", 12000000, 1000000, 128, 128, 4, 128},
  };
  for (const auto& c : cases) {
    TQMXClock clock;
    EXPECT_EQ(clock.Solve(c.input, c.fs, c.osrMin, c.osrMax, c.engine, c.instructions, false), 0) << c.what;
  }
  // OSR 256 does solve 8000 Hz: the range above must not be narrowed to it,
  // while a range reaching past 256 is.
  TQMXClock clock;
  EXPECT_GT(clock.Solve(12288000, 8000, 256, 256, 4, 128, false), 0);
  const int n = clock.Solve(12288000, 8000, 100, 400, 4, 128, false);
  ASSERT_GT(n, 0);
  for (int i = 0; i < n; ++i) EXPECT_LE(clock.Solution(i).OSR, 256);
}

TEST(ClockSolverTest, EverySolutionMeetsItsRateWithinTheCodecsLimits) {
  const struct {
    int input, fs, osrMin, osrMax, engine, instructions;
  } requests[] = {
      {12000000, 44100, 128, 128, 4, 128}, {12000000, 48000, 64, 256, 4, 128}, {19200000, 32000, 100, 256, 8, 64},
      {26000000, 96000, 32, 64, 2, 64},    {512000, 8000, 128, 128, 4, 188},   {24576000, 192000, 16, 32, 1, 32},
      {11289600, 11025, 100, 256, 4, 188}, {2048000, 16000, 128, 128, 4, 128},
  };
  for (const auto& r : requests) {
    TQMXClock clock;
    const int n = clock.Solve(r.input, r.fs, r.osrMin, r.osrMax, r.engine, r.instructions, false);
    EXPECT_GT(n, 0) << r.input << " -> " << r.fs;
    EXPECT_LE(n, 255);
    for (int i = 0; i < n; ++i) {
      const TClockSolution s = clock.Solution(i);
      const int64_t clk = s.usesPLL ? (int64_t(s.J) * 10000 + s.D) * r.input * s.R / (int64_t(s.P) * 10000) : r.input;
      const int64_t made = int64_t(r.fs) * s.OSR * s.N * s.M;
      const double allowed = s.D ? clk * 0.001 : 0.0;
      EXPECT_LE(std::llabs(made - clk), allowed) << r.fs << " solution " << i;
      EXPECT_EQ(s.OSR % r.engine, 0);
      EXPECT_GE(s.M * s.OSR, r.instructions);
      EXPECT_LE(int64_t(r.fs) * s.OSR, 6500000);
      EXPECT_LE(int64_t(r.fs) * s.OSR * s.M, 33000000);
      if (s.usesPLL) {
        EXPECT_GE(clk, 80000000);
        EXPECT_LE(clk, 110000000);
        EXPECT_LT(s.D, 9999);
      } else {
        EXPECT_EQ(std::make_tuple(s.P, s.R, s.J, s.D), std::make_tuple(1, 1, 1, 0));
      }
    }
  }
}

TEST(ClockSolverTest, TheTableHoldsTheFirst255) {
  // A wide OSR range over a small rate gives more than 255 candidates.
  TQMXClock clock;
  EXPECT_EQ(clock.Solve(12000000, 44100, 1, 1024, 4, 8, false), 255);
}

// ---- programming

struct Write {
  int reg, count;
  bool operator==(const Write&) const = default;
};
std::vector<Write> writes;
void RecordWrite(void*, int device, int page, int reg, int count) {
  EXPECT_EQ(device, 0x30);
  EXPECT_EQ(page, 0);
  writes.push_back({reg, count});
}

struct Input : TClockInputSource {
  std::string text = "MCLK";
  std::string ClockInputText() const override { return text; }
};

class ClockProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    writes.clear();
    clock.SetOwner(&input);
    clock.SetCallbacks(this, RecordWrite, nullptr, nullptr);
  }
  uint8_t Reg(int reg) const { return clock.GetData()[reg - 4]; }

  Input input;
  TQMXClock clock;
};

TEST_F(ClockProgramTest, ThePllRegistersHoldSelectPowerPRJAndD) {
  TClockSolution s;
  s.usesPLL = true, s.P = 8, s.R = 16, s.J = 40, s.D = 5264;
  clock.SetSolution(0, s);
  input.text = "BCLK";
  clock.ProgramPLL(0);
  EXPECT_EQ(Reg(4), 0x07);  // BCLK into the PLL, the PLL as codec clock
  EXPECT_EQ(Reg(5), 0x80);  // P = 8 and R = 16 are written as 0
  EXPECT_EQ(Reg(6), 0x28);
  EXPECT_EQ(Reg(7), 5264 >> 8);
  EXPECT_EQ(Reg(8), 5264 & 0xFF);
  EXPECT_EQ(writes, (std::vector<Write>{{4, 5}}));
  // Without the PLL: select and power only, the PLL values stay.
  s.usesPLL = false;
  clock.SetSolution(1, s);
  input.text = "GPIO";  // the dialog's name of GPIO1
  clock.ProgramPLL(1);
  EXPECT_EQ(Reg(4), 0x08);
  input.text = "PLL";  // no input of the PLL: MCLK
  clock.ProgramPLL(1);
  EXPECT_EQ(Reg(4), 0x00);
  EXPECT_EQ(Reg(5), 0x00);
  EXPECT_EQ(Reg(6), 0x28);
  EXPECT_EQ(writes.back(), (Write{4, 2}));
}

TEST_F(ClockProgramTest, DividersAreWrittenOnlyWhenTheyChange) {
  ASSERT_EQ(clock.Solve(12000000, 48000, 128, 128, 4, 128, false), 9);
  clock.SetRegisterOffset(7);  // the ADC side
  clock.ProgramDividers(5, true);
  const std::vector<Write> first = {{4, 5}, {18, 1}, {19, 1}, {20, 2}, {22, 1}, {23, 1}};
  EXPECT_EQ(writes, first);
  EXPECT_EQ(Reg(18), 0x80 | 4);
  EXPECT_EQ(Reg(19), 0x80 | 4);
  EXPECT_EQ(Reg(20), 0);
  EXPECT_EQ(Reg(21), 128);
  EXPECT_EQ(Reg(22), 128 >> 2);
  EXPECT_EQ(Reg(23), 4);
  writes.clear();
  clock.ProgramDividers(5, true);
  EXPECT_EQ(writes, (std::vector<Write>{{4, 5}}));  // the PLL again, no divider
  writes.clear();
  clock.mPower = 0;
  clock.ProgramDividers(6, false);  // (8, 2): N and M change
  EXPECT_EQ(writes, (std::vector<Write>{{18, 1}, {19, 1}}));
  EXPECT_EQ(Reg(19), 2);
}

TEST_F(ClockProgramTest, WithoutAWriteCallbackOnlyTheImageChanges) {
  TQMXClock unbound;
  ASSERT_GT(unbound.Solve(12288000, 48000, 128, 128, 4, 128, false), 0);
  unbound.ProgramDividers(0, true);
  EXPECT_EQ(unbound.GetData()[11 - 4], 0x81);
  EXPECT_TRUE(writes.empty());
}

}  // namespace
