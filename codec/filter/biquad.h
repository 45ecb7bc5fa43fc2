// One second-order section of the filter tool: designed by the bilinear
// transform with prewarping from a type and its parameters, scaled so that
// no leading numerator coefficient exceeds 1, quantised to signed integers
// of 8..32 bits and handed to the writer thread. Plain maths, no window.
#pragma once

#include <complex>
#include <cstdint>
#include <string>

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
  std::complex<double> Response(double f) const;
  // arg h, and 0 for an h that is zero within 1e-13.
  static double PhaseOf(std::complex<double> h);

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
