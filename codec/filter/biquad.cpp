#include "codec/filter/biquad.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <complex>

#include "codec/filter/truncate.h"
#include "codec/filter/writer_thread.h"

namespace {
constexpr double kPi = 3.141592653589793;
}

TBiquad::TBiquad(int slot) : index(slot) {}

void TBiquad::SetEnabled(bool on) {
  enabled = on;
  UpdateDevice();
}

void TBiquad::UpdateDevice() {
  if (!writer) return;
  if (enabled) {
    const int32_t num[3] = {N0, N1, N2};
    const int32_t den[3] = {D0, D1, D2};
    writer->Queue(unsigned(index), num, den, true);
  } else {
    const int32_t num[3] = {32767, 0, 0};
    const int32_t den[3] = {0, 0, 0};
    writer->Queue(unsigned(index), num, den, true);
  }
}

void TBiquad::SetBits(int newBits) {
  bits = std::clamp(newBits, kMinBits, kMaxBits);
  Quantise();
}

double TBiquad::Scale() const {
  const int b = std::clamp(int(bits), kMinBits, kMaxBits);
  return double((int64_t(1) << (b - 1)) - 1);
}

void TBiquad::RecomputeQuantised() {
  const double x = Scale();
  qb0 = N0 / x;
  qb1 = 2.0 * N1 / x;
  qb2 = N2 / x;
  qa1 = -2.0 * D1 / x;
  qa2 = -double(D2) / x;
}

void TBiquad::Quantise() {
  const double x = Scale();
  N0 = TruncInt32(b0 * x);
  N1 = TruncInt32(b1 * 0.5 * x);
  N2 = TruncInt32(b2 * x);
  D1 = TruncInt32(-a1 * 0.5 * x);
  D2 = TruncInt32(-a2 * x);
  if (N0 == 0) N0 = 1;
  RecomputeQuantised();
}

void TBiquad::SetCustom(const int32_t values[5]) {
  if (values[0] == N0 && values[1] == N1 && values[2] == N2 && values[3] == D1 && values[4] == D2) return;
  N0 = values[0];
  N1 = values[1];
  N2 = values[2];
  D1 = values[3];
  D2 = values[4];
  RecomputeQuantised();
  designed = false;
}

void TBiquad::Design(double newFc, double bw, double fs, double gainDb, bool write) {
  designed = true;
  if (std::fabs(fs / 2 - newFc) < 100) newFc = fs / 2 - 100;
  const double g = std::pow(10.0, 0.05 * gainDb);
  const bool known = type >= kBiquadEQ && type <= kBiquadNotch &&
                     !((type == kBiquadHighPass || type == kBiquadLowPass) && (subtype < 0 || subtype > kVariableQ2));
  if (known) {
    fc = newFc;
    a0 = 1.0;
    switch (type) {
      case kBiquadEQ: DesignEQ(bw, fs, g); gain = gainDb; break;
      case kBiquadHighPass:
      case kBiquadLowPass:
        gain = gainDb;
        if (subtype == kButterworth1)
          DesignFirstOrder(fs, g);
        else
          DesignSecondOrder(fs, g);
        break;
      case kBiquadTrebleShelf:
      case kBiquadBassShelf: DesignShelf(fs, gainDb); break;
      case kBiquadPhaseShift: DesignPhaseShift(bw, fs); break;
      case kBiquadNotch: DesignNotch(bw, fs, g); gain = gainDb; break;
    }
    sampleRate = fs;
    normalisation = 1.0;
    if (type != kBiquadPhaseShift) {
      if (b0 > 1) {
        normalisation = 1 / b0;
        b1 /= b0;
        b2 /= b0;
        b0 = 1.0;
      }
      if ((type == kBiquadTrebleShelf || type == kBiquadBassShelf) && b1 > 1) {
        normalisation /= b1;
        b0 /= b1;
        b2 /= b1;
        b1 = 1.0;
      }
    }
  }
  Quantise();
  if (write) UpdateDevice();
}

void TBiquad::DesignEQ(double bw, double fs, double g) {
  bandwidth = bw;
  q = 1.0;
  bandwidthRatio = bw / fc;
  const double c = -std::cos(2 * kPi * fc / fs);
  const double t = std::tan(kPi * bw / fs);
  const double d = g < 1 ? (t - g) / (t + g) : (t - 1) / (t + 1);
  const double h = (g - 1) * 0.5 * (1 + d);
  b0 = 1 + h;
  b1 = (1 - d) * c;
  b2 = -d - h;
  a1 = (1 - d) * c;
  a2 = -d;
}

void TBiquad::DesignFirstOrder(double fs, double g) {
  const double w = 2 * kPi * fc;
  const double k = w / std::tan(kPi * fc / fs);
  if (type == kBiquadLowPass) {
    b0 = b1 = w / (k + w);
  } else {
    b0 = k / (k + w);
    b1 = -k / (k + w);
  }
  b0 *= g;
  b1 *= g;
  a1 = (w - k) / (k + w);
  b2 = a2 = 0;
}

void TBiquad::DesignSecondOrder(double fs, double g) {
  const double w = 2 * kPi * fc;
  const double k = w / std::tan(kPi * fc / fs);
  double usedQ = q;
  if (subtype == kButterworth2) usedQ = 0.707;
  if (subtype == kBessel2) usedQ = 0.58;
  if (subtype != kLinkwitzRiley2) q = usedQ;
  const bool high = type == kBiquadHighPass;
  const double B2 = high ? 1 : 0, B1 = 0, B0 = high ? 0 : w * w;
  const double A2 = 1, A0 = w * w, A1 = subtype == kLinkwitzRiley2 ? 2 * w : w / usedQ;
  const double k2 = k * k;
  const double num0 = B2 * k2 + B1 * k + B0;
  const double num1 = 2 * B0 - 2 * B2 * k2;
  const double num2 = B2 * k2 - B1 * k + B0;
  const double den0 = A2 * k2 + A1 * k + A0;
  const double den1 = 2 * A0 - 2 * A2 * k2;
  const double den2 = A2 * k2 - A1 * k + A0;
  b0 = g * num0 / den0;
  b1 = g * num1 / den0;
  b2 = g * num2 / den0;
  a1 = den1 / den0;
  a2 = den2 / den0;
}

void TBiquad::DesignNotch(double bw, double fs, double g) {
  bandwidth = bw;
  bandwidthRatio = bw / fc;
  const double c = -std::cos(2 * kPi * fc / fs);
  const double t = std::tan(kPi * bw / fs);
  const double d = (1 - t) / (1 + t);
  b0 = g * 0.5 * (1 + d);
  b1 = g * (1 + d) * c;
  b2 = g * 0.5 * (1 + d);
  a1 = (1 + d) * c;
  a2 = d;
}

void TBiquad::DesignPhaseShift(double bw, double fs) {
  bandwidth = bw;
  bandwidthRatio = bw / fc;
  const double c = -std::cos(2 * kPi * fc / fs);
  const double t = std::tan(kPi * bw / fs);
  const double d = (1 - t) / (1 + t);
  b0 = d;
  b1 = (1 + d) * c;
  b2 = 1.0;
  a1 = (1 + d) * c;
  a2 = d;
}

void TBiquad::DesignShelf(double fs, double gainDb) {
  gain = gainDb;
  const double G = std::fabs(gainDb) < 0.001 ? 0.001 : gainDb;
  const double A = std::pow(10.0, 0.05 * G);
  double gc;
  if (G > -6 && G < 6)
    gc = std::sqrt(A);
  else
    gc = A > 1 ? A / std::sqrt(2.0) : std::sqrt(2.0) * A;
  const double w = std::tan(kPi * (fc / fs - 0.25));
  const double h = std::sqrt(2.0) * 0.5;
  const double p = std::pow((gc * gc - 1) / (A * A - gc * gc), 0.25);
  const double r = std::sqrt(A) * p;
  const double m = 1 - w * w;
  // The bass shelf is the treble one with u and v exchanged and the middle
  // terms' signs turned.
  const bool treble = type == kBiquadTrebleShelf;
  const double u = treble ? 1 + w : 1 - w;
  const double v = treble ? 1 - w : 1 + w;
  const double sign = treble ? 1.0 : -1.0;
  const double D = p * p * v * v + 2 * h * p * m + u * u;
  b0 = (r * r * v * v + 2 * h * r * m + u * u) / D;
  b1 = sign * (2 * u * u - 2 * r * r * v * v) / D;
  b2 = (r * r * v * v - 2 * h * r * m + u * u) / D;
  a1 = sign * (2 * u * u - 2 * p * p * v * v) / D;
  a2 = (p * p * v * v - 2 * h * p * m + u * u) / D;
}

TUnitPoint TUnitPoint::At(double f, double sampleRate) {
  const double w = 2 * kPi * f / sampleRate;
  TUnitPoint z;
  z.c = std::cos(w);
  z.s = std::sin(w);
  // cos 2w and sin 2w from the double-angle forms, as z^-2 = (z^-1)^2.
  z.c2 = z.c * z.c - z.s * z.s;
  z.s2 = 2 * z.c * z.s;
  return z;
}

void TFrequencyTable::Set(std::vector<double> f, double sampleRate) {
  static uint64_t tables = 0;  // GUI thread only
  stamp = ++tables;
  frequencies = std::move(f);
  rate = sampleRate;
  points.resize(frequencies.size());
  for (size_t i = 0; i < frequencies.size(); ++i) points[i] = TUnitPoint::At(frequencies[i], rate);
}

double TBiquad::PhaseOf(std::complex<double> h) {
  if (std::fabs(h.real()) <= 1e-13 && std::fabs(h.imag()) <= 1e-13) return 0;
  return std::atan2(h.imag(), h.real());
}

double TBiquad::GainDbOf(std::complex<double> h) {
  // 20 lg |h| as 10 lg 2 times log2 |h|^2: no hypot, and log2 costs a
  // fraction of log10. Where |h|^2 leaves the normal range, the modulus
  // itself is taken, so that large and tiny values stay finite as before.
  const double n = h.real() * h.real() + h.imag() * h.imag();
  if (std::isnormal(n)) return 3.0102999566398120 * std::log2(n);
  return 20 * std::log10(std::abs(h));
}

void TBiquad::Evaluate(const TFrequencyTable& table, double* dB, double* phase) const {
  const bool shared = table.SampleRate() == sampleRate;
  for (size_t i = 0; i < table.Size(); ++i) {
    const std::complex<double> h = shared ? Response(table.Point(i)) : Response(table.Frequency(i));
    if (dB) dB[i] = GainDbOf(h);
    if (phase) phase[i] = PhaseOf(h);
  }
}

double TBiquad::Magnitude(double f) const { return std::abs(Response(f)); }

double TBiquad::Phase(double f) const { return PhaseOf(Response(f)); }

bool TResponseCurve::Update(const TBiquad& s, const TFrequencyTable& t, bool gain, bool phase) {
  // Bits, not values: a NaN coefficient is the same coefficient again.
  const uint64_t now[6] = {std::bit_cast<uint64_t>(s.qb0), std::bit_cast<uint64_t>(s.qb1),
                           std::bit_cast<uint64_t>(s.qb2), std::bit_cast<uint64_t>(s.qa1),
                           std::bit_cast<uint64_t>(s.qa2), std::bit_cast<uint64_t>(s.sampleRate)};
  if (!std::equal(now, now + 6, key) || t.Stamp() != table) {
    std::copy(now, now + 6, key);
    table = t.Stamp();
    hasGain = hasPhase = false;
  }
  const bool needGain = gain && !hasGain, needPhase = phase && !hasPhase;
  if (!needGain && !needPhase) return false;
  if (needGain) dB.resize(t.Size());
  if (needPhase) radians.resize(t.Size());
  s.Evaluate(t, needGain ? dB.data() : nullptr, needPhase ? radians.data() : nullptr);
  hasGain = hasGain || needGain;
  hasPhase = hasPhase || needPhase;
  return true;
}
