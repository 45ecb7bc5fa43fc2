// One second-order section of the filter tool: designed by the bilinear
// transform with prewarping from a type and its parameters, scaled so that
// no leading numerator coefficient exceeds 1, quantised to signed integers
// of 8..32 bits and handed to the writer thread; and its response over the
// plot's frequency axis, kept between paints. Plain maths, no window.
#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class TRefreshEVMThread;

// Filter types (the item index of the tool's type box).
enum : int32_t {
  kBiquadEQ = 0,
  kBiquadHighPass = 1,
  kBiquadLowPass = 2,
  kBiquadTrebleShelf = 3,
  kBiquadBassShelf = 4,
  kBiquadPhaseShift = 5,
  kBiquadNotch = 6,
};

// Subtypes of high and low pass.
enum : int32_t {
  kButterworth1 = 0,
  kButterworth2 = 1,
  kBessel2 = 2,
  kLinkwitzRiley2 = 3,
  kVariableQ2 = 4,
};

// z^-1 and z^-2 on the unit circle for one frequency at one sample rate.
// Taken once per frequency, they serve every section of that rate.
struct TUnitPoint {
  double c = 1, s = 0;    // cos w, sin w
  double c2 = 1, s2 = 0;  // cos 2w, sin 2w
  static TUnitPoint At(double f, double sampleRate);
};

// A row of frequencies with their unit-circle points at one sample rate:
// the plot's frequency axis, evaluated for all its sections at once.
class TFrequencyTable {
 public:
  void Set(std::vector<double> frequencies, double sampleRate);
  size_t Size() const { return frequencies.size(); }
  double Frequency(size_t i) const { return frequencies[i]; }
  const TUnitPoint& Point(size_t i) const { return points[i]; }
  double SampleRate() const { return rate; }
  // Changes with every Set, and differs between tables.
  uint64_t Stamp() const { return stamp; }

 private:
  std::vector<double> frequencies;
  std::vector<TUnitPoint> points;
  double rate = 0;
  uint64_t stamp = 0;
};

class TBiquad {
 public:
  static constexpr int kMinBits = 8;
  static constexpr int kMaxBits = 32;

  explicit TBiquad(int index);

  // Enables or disables the section and queues what the codec should now hold.
  void SetEnabled(bool on);
  // Queues the integers (or the pass-through set when disabled) to the writer.
  void UpdateDevice();
  // Changes the resolution (clamped to 8..32) and requantises; queues nothing.
  void SetBits(int bits);
  void Quantise();
  void Design(double fc, double bandwidth, double sampleRate, double gain, bool write);
  // N0, N1, N2, D1, D2 read back from the listing.
  void SetCustom(const int32_t values[5]);

  // |H| (linear) and arg H (radians) of the quantised section at `f` Hz.
  double Magnitude(double f) const;
  double Phase(double f) const;
  // H at `f` Hz, for callers that need both magnitude and phase.
  std::complex<double> Response(double f) const { return Response(TUnitPoint::At(f, sampleRate)); }
  // H at a unit-circle point taken at this section's rate.
  std::complex<double> Response(const TUnitPoint& z) const {
    const double nr = qb0 + qb1 * z.c + qb2 * z.c2, ni = -(qb1 * z.s + qb2 * z.s2);
    const double dr = 1.0 + qa1 * z.c + qa2 * z.c2, di = -(qa1 * z.s + qa2 * z.s2);
    // Plain division: the library's handles infinities at several times the cost.
    const double d = dr * dr + di * di;
    return {(nr * dr + ni * di) / d, (ni * dr - nr * di) / d};
  }
  // arg h, and 0 for an h that is zero within 1e-13.
  static double PhaseOf(std::complex<double> h);
  // 20 lg |h|, minus infinity for an h of 0.
  static double GainDbOf(std::complex<double> h);
  // The gain in dB and the phase in radians at every frequency of `table`
  // (either output may be left out). A section of another rate than the
  // table's takes its own points.
  void Evaluate(const TFrequencyTable& table, double* dB, double* phase) const;

  // The one-line description and the five coefficient lines of the listing.
  std::string Describe() const;
  std::string CoefficientText() const;

  double fc = 0;
  double gain = 0;
  double bandwidth = 0;
  double q = 0;
  double sampleRate = 0;
  double bandwidthRatio = 0;
  double a0 = 1.0, a1 = 0, a2 = 0;
  double b0 = 0, b1 = 0, b2 = 0;
  double qa1 = 0, qa2 = 0, qb0 = 0, qb1 = 0, qb2 = 0;
  int32_t N0 = 0, N1 = 0, N2 = 0;
  int32_t D0 = 0, D1 = 0, D2 = 0;
  int32_t bits = 24;
  int32_t type = kBiquadEQ;
  int32_t subtype = kButterworth1;
  bool designed = true;
  int32_t index;
  double normalisation = 1.0;
  bool enabled = false;
  TRefreshEVMThread* writer = nullptr;

 private:
  // The quantisation scale 2^(bits-1) - 1, formed in 64 bits.
  double Scale() const;
  void RecomputeQuantised();
  void DesignEQ(double bw, double fs, double g);
  void DesignFirstOrder(double fs, double g);
  void DesignSecondOrder(double fs, double g);
  void DesignNotch(double bw, double fs, double g);
  void DesignPhaseShift(double bw, double fs);
  void DesignShelf(double fs, double gainDb);
};

// One section's gain (dB) and phase (radians) over a frequency table, kept
// until the section's quantised coefficients, its rate or the table change.
class TResponseCurve {
 public:
  // Evaluates again what is needed and no longer holds; true when it did.
  bool Update(const TBiquad& section, const TFrequencyTable& table, bool gain, bool phase);
  const std::vector<double>& Gain() const { return dB; }
  const std::vector<double>& Phase() const { return radians; }

 private:
  uint64_t key[6] = {};  // the bits of qb0 qb1 qb2 qa1 qa2 and the rate
  uint64_t table = 0;    // stamp of the table evaluated on
  bool hasGain = false, hasPhase = false;
  std::vector<double> dB, radians;
};
