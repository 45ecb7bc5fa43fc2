// Live audio input for the AGC window: 16-bit mono capture from the
// computer's default input, delivered in fixed buffers on a reading thread.
// No capture device is an ordinary state: Open reports why, in the
// platform's words.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class AudioCapture {
 public:
  // Runs on the reading thread with each completed buffer of samples.
  using Sink = std::function<void(const int16_t* samples, unsigned count)>;

  virtual ~AudioCapture() = default;
  // Opens the device and starts capture in buffers of `samples` samples.
  // False (and nothing started) with the reason in `error`: the platform's
  // text, after the step that failed when that was not the opening itself.
  virtual bool Open(unsigned rate, unsigned samples, Sink sink, std::string& error) = 0;
  // The device's name, as the platform knows it ("default").
  virtual const std::string& Device() const = 0;
  // Stops capture and releases the device; no sink call runs after it
  // returns. Harmless when nothing is open.
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
};

// ALSA capture of `device` ("default" for the default input); `config`, when
// not empty, is an ALSA configuration text used instead of the system's.
std::unique_ptr<AudioCapture> MakeAlsaCapture(const std::string& device = "default", const std::string& config = "");

// The level trace of one capture buffer of at least 512 samples: 256 levels
// in whole dB (truncated), one for each even sample 0, 2, ..., 510, of its
// distance from the DC offset (the mean of those 256 samples, in integer
// division), at least 1, against full scale 32768. A silent input (all
// samples equal) is -90 dB throughout.
constexpr unsigned kAGCLevelCount = 256;
std::vector<int> AGCLevels(const int16_t* samples);

// The AGC window's time texts: "0 s" below a microsecond, whole ns below a
// millisecond, whole us below 10 ms, whole ms below a second, else seconds
// truncated to tenths.
std::string AGCTimeText(double seconds);
