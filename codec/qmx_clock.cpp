#include "codec/qmx_clock.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

// A real bounded to [lo, hi] as an integer; NaN and infinities land on a bound.
int Clamp(double x, int lo, int hi) {
  if (!(x >= lo)) return lo;
  if (x > hi) return hi;
  return int(x);
}

}  // namespace

TQMXClock::TQMXClock() : TI2CObject(0x30, 0, 4, 24, nullptr) {}

TClockSolution TQMXClock::Solution(int i) const {
  TClockSolution s;
  if (i < 0 || i >= kTableSize) return s;
  s.P = tableP[i], s.R = tableR[i], s.J = tableJ[i], s.D = tableD[i];
  s.N = tableN[i], s.M = tableM[i], s.OSR = tableOSR[i], s.usesPLL = tableUsesPLL[i] != 0;
  return s;
}

void TQMXClock::SetSolution(int i, const TClockSolution& s) {
  if (i < 0 || i >= kTableSize) return;
  tableP[i] = s.P, tableR[i] = s.R, tableJ[i] = s.J, tableD[i] = s.D;
  tableN[i] = s.N, tableM[i] = s.M, tableOSR[i] = s.OSR, tableUsesPLL[i] = s.usesPLL ? 1 : 0;
}

int TQMXClock::Solve(int inputClock, int rate, int osrLow, int osrHigh, int engine, int instructions,
                     bool skipNoPLL) {
  osrMin = osrLow;
  osrMax = osrHigh;
  engineOSR = engine;
  instructionCount = instructions;
  mPower = 1;
  nPower = 1;
  if (instructionCount % 2 != 0 || engineOSR <= 0 || instructionCount % engineOSR != 0) return 0;
  // A clock or rate of 0 or below has no solution (and would divide by zero).
  if (inputClock <= 0 || rate <= 0) return 0;
  solutionCount = 0;
  fs = rate;
  input = inputClock;
  // OSR = k x engine OSR with 1 <= k <= 64, inside the asked range: a range
  // that holds no such multiple has no solution (clamping both ends would
  // otherwise search an OSR outside it).
  const double kHigh = std::floor(double(osrMax) / engineOSR), kLow = std::ceil(double(osrMin) / engineOSR);
  if (kLow > kHigh || kHigh < 1 || kLow > kMaxLimit) return 0;
  kMax = Clamp(kHigh, 1, kMaxLimit);
  kMin = Clamp(kLow, 1, kMaxLimit);

  Candidate c{};
  if (!skipNoPLL) {
    c = Candidate{false, 1, 1, 1, 0, 1, 1, 1, 0};
    DividerSearch(c, input);
    if (solutionCount > 0) return solutionCount;
  }
  bool found = false;
  // Integer PLL.
  c = Candidate{true, 1, 1, 1, 0, 1, 1, 1, 0};
  const double in = double(input);
  for (int P = Clamp(std::floor(in / intInMax), pMin, pMax); P <= Clamp(std::ceil(in / intInMin), pMin, pMax); ++P) {
    for (int R = rMin; R <= Clamp(std::ceil(P * pllOutMax / in), rMin, rMax); ++R) {
      const int jLo = Clamp(std::floor(P * pllOutMin / (R * in)), jMin, jMax);
      const int jHi = Clamp(std::ceil(P * pllOutMax / (R * in)), jMin, jMax);
      for (int J = jLo; J <= jHi; ++J) {
        c.P = P, c.R = R, c.J = J;
        DividerSearch(c, input * R * J / P);
        if (solutionCount >= kMaxSolutions) return solutionCount;
      }
    }
  }
  if (solutionCount > 0) return solutionCount;
  // Fractional PLL.
  c = Candidate{true, 1, 1, 1, 0, 1, 1, 1, 0};
  const int R = 1;
  const double rateD = double(fs);
  for (int P = Clamp(std::floor(in / fracInMax), pMin, pMax); P <= Clamp(std::ceil(in / fracInMin), pMin, pMax); ++P) {
    const int jLo = Clamp(std::floor(P * pllOutMin / in), jMin, jMax);
    const int jHi = Clamp(std::ceil(P * pllOutMax / in), jMin, jMax);
    // An input outside the fractional range leaves only D = 0, that is
    // Fs x OSR x N x M = CLKlo exactly; outside the integer range too, nothing.
    const bool fractional = in >= fracInMin * P && in <= fracInMax * P;
    if (!fractional && (in < intInMin * P || in > intInMax * P)) continue;
    for (int J = jLo; J <= jHi; ++J) {
      const int64_t exact = input * J / P;
      if (!fractional && exact % fs != 0) continue;
      const double clkLo = double(exact), clkHi = double(input * (J + 1) / P);
      // Only Fs x OSR x N x M within 0.1 % of a CLK in [CLKlo, CLKhi] and
      // in the PLL's range can pass (with room to spare for rounding).
      const double low = std::max(clkLo, pllOutMin) * (1 - 2 * tolerance);
      const double high = std::min(clkHi, pllOutMax) * (1 + 2 * tolerance);
      const double osrTop = double(kMax) * engineOSR, osrBottom = double(kMin) * engineOSR;
      const int nHi = Clamp(std::ceil(clkHi / (rateD * instructionCount)), nMin, nMax);
      for (int N = Clamp(std::floor(clkLo / maxDividerClock), nMin, nMax); N <= nHi; ++N) {
        const int mHi = std::min(Clamp(std::ceil(clkHi / (double(N) * osrMin * rateD)), mMin, mMax),
                                 Clamp(std::floor(high / (rateD * N * osrBottom)), 0, mMax));
        const int mLo = std::max(Clamp(std::floor(clkLo / (double(N) * maxModulatorClock)), mMin, mMax),
                                 Clamp(std::ceil(low / (rateD * N * osrTop)), mMin, mMax + 1));
        for (int M = mLo; M <= mHi; ++M) {
          if (!fractional && (exact / fs) % (int64_t(N) * M) != 0) continue;
          const double step = double(M) * N * rateD * engineOSR;
          const int osrLo = Clamp(std::floor(clkLo / step), kMin, kMax) * engineOSR;
          const int osrHi = Clamp(std::ceil(clkHi / step), kMin, kMax) * engineOSR;
          // The product grows with OSR (and, once OSR stays at its lowest,
          // with M), and M x OSR, Fs x OSR and Fs x OSR x M have their
          // limits: what lies beyond is passed over; the order is kept.
          const double perOSR = rateD * N * M;
          if (perOSR * osrLo > high) break;
          const double first = std::max({low / perOSR, double(instructionCount) / M, double(osrLo)});
          const int start = std::max(osrLo, int(std::ceil(first / engineOSR)) * engineOSR - engineOSR);
          for (int OSR = start; OSR <= osrHi; OSR += engineOSR) {
            if (perOSR * OSR < low || M * OSR < instructionCount) continue;
            if (perOSR * OSR > high || rateD * OSR > maxModulatorClock || rateD * OSR * M > maxDividerClock) break;
            if (solutionCount >= kMaxSolutions) return solutionCount;  // the table is full
            const double wanted = double(fs * P * N * M * OSR - input * R * J);
            const int D = Clamp(std::floor(wanted * 10000 / (in * R) + 0.5), 0, 9999);
            c.P = P, c.R = R, c.J = J, c.D = D, c.N = N, c.M = M, c.OSR = OSR;
            c.CLK = (int64_t(J) * 10000 + D) * input * R / (int64_t(P) * 10000);
            if (Accept(c)) {
              Append(c);
              found = true;
            }
          }
        }
      }
    }
  }
  return found ? solutionCount : 0;
}

void TQMXClock::DividerSearch(Candidate& c, int64_t clk) {
  c.CLK = clk;
  // Without a fraction only Fs x OSR x N x M = CLK is accepted: dividers
  // that do not divide CLK / Fs are passed over (the order is kept).
  if (clk % fs != 0) return;
  const int64_t perRate = clk / fs;
  const double k = double(clk), rate = double(fs);
  const int nHi = Clamp(std::ceil(k / (rate * instructionCount)), nMin, nMax);
  for (int N = Clamp(std::floor(k / maxDividerClock), nMin, nMax); N <= nHi; ++N) {
    if (perRate % N != 0) continue;
    // And OSR = CLK / (Fs x N x M) must lie in [kMin, kMax] x engine OSR.
    const int64_t q = perRate / N;
    const int64_t lowest = (q + int64_t(kMax) * engineOSR - 1) / (int64_t(kMax) * engineOSR);
    const int64_t highest = q / (int64_t(kMin) * engineOSR);
    const int mLo = int(std::max<int64_t>(Clamp(std::floor(k / (double(N) * maxModulatorClock)), mMin, mMax), lowest));
    const int mHi = int(std::min<int64_t>(Clamp(std::ceil(k / (double(N) * osrMin * rate)), mMin, mMax), highest));
    for (int M = mLo; M <= mHi; ++M) {
      if (solutionCount >= kMaxSolutions) return;  // the table is full
      if (q % M != 0) continue;
      const int kk = Clamp(std::floor(k / (double(M) * N * rate * engineOSR) + 0.5), kMin, kMax);
      c.N = N, c.M = M, c.OSR = kk * engineOSR;
      if (Accept(c)) Append(c);
    }
  }
}

bool TQMXClock::Accept(const Candidate& c) const {
  const int64_t modulator = fs * c.OSR;
  // Without a fractional part the rate must be met exactly.
  const int64_t miss = std::llabs(modulator * c.N * c.M - c.CLK);
  if (double(miss) > double(c.CLK) * (c.D != 0 ? tolerance : 0.0)) return false;
  if (int64_t(c.M) * c.OSR < instructionCount) return false;
  if (modulator > maxModulatorClock) return false;
  if (modulator * c.M > maxDividerClock) return false;
  if (!c.usesPLL) return true;
  if (c.D == 9999) return false;  // the clamped top value
  const double in = double(input);
  if (c.D == 0) {
    if (in < intInMin * c.P || in > intInMax * c.P) return false;
  } else if (in < fracInMin * c.P || in > fracInMax * c.P) {
    return false;
  }
  return double(c.CLK) >= pllOutMin && double(c.CLK) <= pllOutMax;
}

void TQMXClock::Append(const Candidate& c) {
  if (solutionCount >= kMaxSolutions) return;
  TClockSolution s;
  s.P = c.P, s.R = c.R, s.J = c.J, s.D = c.D, s.N = c.N, s.M = c.M, s.OSR = c.OSR, s.usesPLL = c.usesPLL;
  SetSolution(solutionCount++, s);
}

void TQMXClock::Send(int reg, int count) {
  if (write) write(user, device, page, reg, count);
}

void TQMXClock::ProgramPLL(int index) {
  if (index < 0 || index >= kTableSize) return;
  const std::string input = owner ? owner->ClockInputText() : std::string();
  // The dialog's list says "GPIO" for GPIO1; "PLL" (and anything else) is MCLK.
  const int select = input == "BCLK" ? 1 : (input == "GPIO1" || input == "GPIO") ? 2 : input == "DIN" ? 3 : 0;
  Byte(4) = uint8_t(select * 4);
  Byte(5) &= 0x7F;
  if (tableUsesPLL[index]) {
    Byte(4) |= 3;
    Byte(5) = uint8_t(0x80 | (tableP[index] & 7) << 4 | (tableR[index] & 0x0F));
    Byte(6) = uint8_t(tableJ[index] & 0x3F);
    Byte(7) = uint8_t((tableD[index] >> 8) & 0x3F);
    Byte(8) = uint8_t(tableD[index] & 0xFF);
    Send(4, 5);
  } else {
    Send(4, 2);
  }
}

void TQMXClock::ProgramDividers(int index, bool withPLL) {
  if (index < 0 || index >= kTableSize) return;
  if (withPLL) ProgramPLL(index);
  const int off = registerOffset;
  if (tableN[index] != lastN || nPower != lastNPower) {
    Byte(11 + off) = uint8_t((nPower ? 0x80 : 0) | (tableN[index] & 0x7F));
    Send(11 + off, 1);
    lastN = tableN[index], lastNPower = nPower;
  }
  if (tableM[index] != lastM || mPower != lastMPower) {
    Byte(12 + off) = uint8_t((mPower ? 0x80 : 0) | (tableM[index] & 0x7F));
    Send(12 + off, 1);
    lastM = tableM[index], lastMPower = mPower;
  }
  if (tableOSR[index] != lastOSR) {
    Byte(13 + off) = uint8_t((tableOSR[index] >> 8) & 3);
    Byte(14 + off) = uint8_t(tableOSR[index] & 0xFF);
    Send(13 + off, 2);
    lastOSR = tableOSR[index];
  }
  if (instructionCount != lastInstructionCount) {
    Byte(15 + off) = uint8_t(instructionCount >> 2);
    Send(15 + off, 1);
    lastInstructionCount = instructionCount;
  }
  if (engineOSR != lastEngineOSR) {
    Byte(16 + off) = uint8_t(engineOSR & 0x0F);
    Send(16 + off, 1);
    lastEngineOSR = engineOSR;
  }
}
