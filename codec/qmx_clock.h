// The clock solver: every way the codec's clock tree turns an input clock
// into a sample rate, and the programming of a chosen one.
//
//   Fs = CLK / (N x M x OSR),  CLK = input (no PLL) or input x R x (J + D/10000) / P
//
// It is a register window over page 0 registers 4..27 of device 0x30, so
// its writes travel through the host's write callback. Window-free.
#pragma once

#include <cstdint>
#include <string>

#include "common/i2c_object.h"

// Who says which clock input feeds the PLL ("MCLK", "BCLK", "GPIO1", "DIN").
class TClockInputSource {
 public:
  virtual std::string ClockInputText() const = 0;

 protected:
  ~TClockInputSource() = default;
};

struct TClockSolution {
  int P = 1, R = 1, J = 1, D = 0, N = 1, M = 1, OSR = 1;
  bool usesPLL = false;
  bool operator==(const TClockSolution&) const = default;
};

class TQMXClock : public TI2CObject {
 public:
  static constexpr int kTableSize = 256;
  static constexpr int kMaxSolutions = 255;

  TQMXClock();
  ~TQMXClock() = default;

  // Replaces the table; the number of solutions, 0 when none or when the
  // inputs are refused (odd instruction count, one that is not a multiple
  // of the engine OSR, no multiple of it in the OSR range, a clock or rate
  // of 0 or below).
  int Solve(int inputClock, int fs, int osrMin, int osrMax, int engineOSR, int instructionCount, bool skipNoPLL);
  // Registers 4..8: the PLL input select and the PLL of solution `index`.
  void ProgramPLL(int index);
  // The PLL first when asked, then the dividers that differ from what this
  // object last wrote.
  void ProgramDividers(int index, bool withPLL);

  void Refresh() override {}

  int SolutionCount() const { return solutionCount; }
  TClockSolution Solution(int index) const;
  void SetSolution(int index, const TClockSolution& solution);

  void SetRegisterOffset(int offset) { registerOffset = offset; }
  int GetRegisterOffset() const { return registerOffset; }
  void SetOwner(const TClockInputSource* owner) { this->owner = owner; }
  int GetInstructionCount() const { return instructionCount; }
  int GetEngineOSR() const { return engineOSR; }

  // Power bits written with M and N.
  uint8_t mPower = 1;
  uint8_t nPower = 1;

 private:
  struct Candidate {
    bool usesPLL;
    int J, P, R, D, M, N, OSR;
    int64_t CLK;
  };
  void DividerSearch(Candidate& c, int64_t clk);
  bool Accept(const Candidate& c) const;
  void Append(const Candidate& c);
  // One image byte and its write (when bound).
  uint8_t& Byte(int reg) { return data[reg - firstRegister]; }
  void Send(int reg, int count);

  int lastM = -1;
  uint8_t lastMPower = 0;
  int lastN = -1;
  uint8_t lastNPower = 0;
  int lastOSR = -1;
  int lastInstructionCount = -1;
  int lastEngineOSR = -1;
  int registerOffset = 0;
  const TClockInputSource* owner = nullptr;
  int instructionCount = 188;
  int engineOSR = 4;
  double tolerance = 0.001;
  int osrMax = 256;
  int osrMin = 100;
  int maxDividerClock = 33000000;
  int maxModulatorClock = 6500000;
  int nMax = 128, nMin = 1;
  int mMax = 128, mMin = 1;
  double pllOutMax = 110e6, pllOutMin = 80e6;
  double fracInMax = 20e6, fracInMin = 10e6;
  double intInMax = 20e6, intInMin = 512e3;
  int jMax = 63, jMin = 1;
  int rMax = 16, rMin = 1;
  int pMax = 8, pMin = 1;
  int kMaxLimit = 64;
  // The search inputs.
  int64_t fs = 0;
  int64_t input = 0;
  int kMax = 1, kMin = 1;
  // The solution table.
  int tableP[kTableSize] = {}, tableR[kTableSize] = {}, tableJ[kTableSize] = {}, tableD[kTableSize] = {};
  int tableN[kTableSize] = {}, tableM[kTableSize] = {}, tableOSR[kTableSize] = {}, tableUsesPLL[kTableSize] = {};
  int solutionCount = 0;
};
