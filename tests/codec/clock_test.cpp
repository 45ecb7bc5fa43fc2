// The clock solver: whole solution lists in search order (kept as test
// data), refused inputs, and the register programming with its write caches.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "codec/qmx_clock.h"
#include "tests/support/test_support.h"

namespace {

// One request of the solver and the whole list it must return, in order.
struct Request {
  int line = 0;
  std::string text;
  int input = 0, fs = 0, osrMin = 0, osrMax = 0, engine = 0, instructions = 0;
  bool skipNoPLL = false;
  int count = 0;
  std::vector<TClockSolution> solutions;
};

// tests/codec/data/clock_solutions.txt: "solve ... -> COUNT" opens a request;
// each line after it is a PLL setting ("P R J D" or "off"), a colon and the
// N/M/OSR of consecutive solutions with that setting.
std::vector<Request> ReadRequests() {
  std::vector<Request> requests;
  int number = 0;
  for (const std::string& line : testsupport::ReadLines(CLOCK_SOLUTIONS_FILE)) {
    ++number;
    if (line.empty() || line[0] == '#') continue;
    std::istringstream in(line);
    std::string word;
    in >> word;
    if (word == "solve") {
      Request r;
      r.line = number;
      r.text = line;
      int skip = 0;
      std::string arrow;
      in >> r.input >> r.fs >> r.osrMin >> r.osrMax >> r.engine >> r.instructions >> skip >> arrow >> r.count;
      EXPECT_TRUE(in && arrow == "->") << "line " << number;
      r.skipNoPLL = skip != 0;
      requests.push_back(r);
      continue;
    }
    EXPECT_FALSE(requests.empty()) << "line " << number;
    const auto colon = line.find(':');
    EXPECT_NE(colon, std::string::npos) << "line " << number;
    if (requests.empty() || colon == std::string::npos) break;
    TClockSolution pll;
    std::istringstream head(line.substr(0, colon));
    if (line.substr(0, colon) != "off") {
      pll.usesPLL = true;
      EXPECT_TRUE(head >> pll.P >> pll.R >> pll.J >> pll.D && (head >> std::ws).eof()) << "line " << number;
    }
    std::istringstream rest(line.substr(colon + 1));
    TClockSolution s = pll;
    char slash1 = 0, slash2 = 0;
    while (rest >> s.N >> slash1 >> s.M >> slash2 >> s.OSR) {
      EXPECT_TRUE(slash1 == '/' && slash2 == '/') << "line " << number;
      requests.back().solutions.push_back(s);
    }
    EXPECT_TRUE(rest.eof()) << "line " << number;
  }
  return requests;
}

std::string Describe(const TClockSolution& s) {
  std::ostringstream out;
  if (s.usesPLL)
    out << s.P << ' ' << s.R << ' ' << s.J << ' ' << s.D;
  else
    out << "off (" << s.P << ' ' << s.R << ' ' << s.J << ' ' << s.D << ')';
  out << ": " << s.N << '/' << s.M << '/' << s.OSR;
  return out.str();
}

// Every field of every solution, in search order, for a table of requests
// that reach each stage, its 255 cap, the clamped D = 9999, an OSR range
// that does not start on a multiple of the engine OSR, and DIN; each through
// a fresh solver and through one solver reused as the dialog reuses it.
TEST(ClockSolverTest, WholeSolutionListsMatchTheTable) {
  const std::vector<Request> requests = ReadRequests();
  ASSERT_GE(requests.size(), 10u);
  TClockSolution marker;
  marker.P = marker.R = marker.J = marker.D = marker.N = marker.M = marker.OSR = -7;
  TQMXClock reused;
  for (const Request& r : requests) {
    SCOPED_TRACE("line " + std::to_string(r.line) + ": " + r.text);
    ASSERT_EQ(int(r.solutions.size()), r.count);
    TQMXClock fresh;
    for (TQMXClock* clock : {&fresh, &reused}) {
      clock->mPower = clock->nPower = 0;
      clock->SetSolution(TQMXClock::kMaxSolutions, marker);  // the slot past the last one
      EXPECT_EQ(clock->Solve(r.input, r.fs, r.osrMin, r.osrMax, r.engine, r.instructions, r.skipNoPLL), r.count);
      EXPECT_EQ(clock->SolutionCount(), r.count);
      EXPECT_EQ(clock->GetEngineOSR(), r.engine);
      EXPECT_EQ(clock->GetInstructionCount(), r.instructions);
      EXPECT_EQ(clock->mPower, 1);
      EXPECT_EQ(clock->nPower, 1);
      int wrong = 0;
      for (int i = 0; i < r.count && wrong < 5; ++i) {
        const TClockSolution got = clock->Solution(i);
        if (got == r.solutions[i]) continue;
        ++wrong;
        ADD_FAILURE() << "solution " << i << ": " << Describe(got) << ", expected " << Describe(r.solutions[i]);
      }
      EXPECT_EQ(clock->Solution(TQMXClock::kMaxSolutions), marker);
    }
  }
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

TEST_F(ClockProgramTest, TheClockInputTextSelectsThePllInput) {
  TClockSolution s;
  s.usesPLL = true, s.P = 1, s.R = 1, s.J = 8, s.D = 1920;
  clock.SetSolution(0, s);
  const struct {
    const char* text;
    int select;
  } cases[] = {{"MCLK", 0}, {"BCLK", 1}, {"GPIO1", 2}, {"GPIO", 2}, {"DIN", 3},
               {"PLL", 0},  {"din", 0},  {"DIN ", 0},  {"", 0}};
  for (const auto& c : cases) {
    input.text = c.text;
    writes.clear();
    clock.ProgramPLL(0);
    EXPECT_EQ(Reg(4), c.select << 2 | 3) << '"' << c.text << '"';
    EXPECT_EQ(writes, (std::vector<Write>{{4, 5}})) << c.text;
  }
}

TEST_F(ClockProgramTest, WithoutAWriteCallbackOnlyTheImageChanges) {
  ASSERT_EQ(clock.Solve(12000000, 48000, 128, 128, 4, 128, false), 9);
  clock.ProgramDividers(5, true);  // bound: the recorder sees the writes
  ASSERT_EQ(writes.size(), 6u);
  // The write callback dropped by rebinding: (8, 2) reaches the image only.
  writes.clear();
  clock.SetCallbacks(this, nullptr, nullptr, nullptr);
  clock.ProgramDividers(6, true);
  EXPECT_EQ(Reg(11), 0x80 | 8);
  EXPECT_EQ(Reg(12), 0x80 | 2);
  EXPECT_TRUE(writes.empty());
  // Writes held back, as during a refresh: (3, 5) with J = 7, D = 6800.
  clock.SetCallbacks(this, RecordWrite, nullptr, nullptr);
  clock.SuspendWrites(true);
  clock.ProgramDividers(0, true);
  EXPECT_EQ(Reg(6), 7);
  EXPECT_EQ(Reg(7), 6800 >> 8);
  EXPECT_EQ(Reg(8), 6800 & 0xFF);
  EXPECT_EQ(Reg(11), 0x80 | 3);
  EXPECT_EQ(Reg(12), 0x80 | 5);
  EXPECT_TRUE(writes.empty());
  clock.SuspendWrites(false);
  clock.ProgramPLL(0);
  EXPECT_EQ(writes, (std::vector<Write>{{4, 5}}));
}

}  // namespace
