#include "codec/audio_capture.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <thread>
#include <vector>

#include "codec/decimal_text.h"

namespace {

class TAlsaCapture : public AudioCapture {
 public:
  TAlsaCapture(std::string device, std::string config) : device_(std::move(device)), config_(std::move(config)) {}
  ~TAlsaCapture() override { Close(); }

  bool Open(unsigned rate, unsigned samples, Sink sink, std::string& error) override {
    Close();
    snd_pcm_t* pcm = nullptr;
    int result = 0;
    // The step that failed, when it is not the opening itself.
    std::string step;
    if (config_.empty()) {
      result = snd_pcm_open(&pcm, device_.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
    } else {
      snd_config_t* top = nullptr;
      snd_input_t* in = nullptr;
      result = snd_config_top(&top);
      if (result >= 0) result = snd_input_buffer_open(&in, config_.data(), ssize_t(config_.size()));
      if (result >= 0) result = snd_config_load(top, in);
      if (in) snd_input_close(in);
      if (result < 0) step = "its configuration cannot be read";
      if (result >= 0) result = snd_pcm_open_lconf(&pcm, device_.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK, top);
      if (top) snd_config_delete(top);
    }
    if (result >= 0) {
      result = snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 1, rate, 1, 100000);
      if (result < 0) step = "it does not capture 16-bit mono at " + std::to_string(rate) + " samples/s";
    }
    if (result >= 0) {
      result = snd_pcm_start(pcm);
      if (result < 0) step = "its capture does not start";
    }
    if (result < 0) {
      error = step.empty() ? snd_strerror(result) : step + " (" + snd_strerror(result) + ")";
      if (pcm) snd_pcm_close(pcm);
      return false;
    }
    pcm_ = pcm;
    stop_ = false;
    thread_ = std::thread([this, samples, sink = std::move(sink)] { Read(samples, sink); });
    return true;
  }

  void Close() override {
    if (!pcm_) return;
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    snd_pcm_drop(pcm_);
    snd_pcm_close(pcm_);
    pcm_ = nullptr;
  }

  bool IsOpen() const override { return pcm_ != nullptr; }
  const std::string& Device() const override { return device_; }

 private:
  void Read(unsigned samples, const Sink& sink) {
    std::vector<int16_t> buffer(samples);
    unsigned filled = 0;
    while (!stop_) {
      // Waits in short steps so that Close is never held up.
      const int ready = snd_pcm_wait(pcm_, 50);
      if (stop_) break;
      if (ready < 0 && snd_pcm_recover(pcm_, ready, 1) < 0) break;
      const snd_pcm_sframes_t n = snd_pcm_readi(pcm_, buffer.data() + filled, samples - filled);
      if (n == -EAGAIN || n == 0) continue;
      if (n < 0) {
        if (snd_pcm_recover(pcm_, int(n), 1) < 0) break;
        continue;
      }
      filled += unsigned(n);
      if (filled < samples) continue;
      filled = 0;
      if (sink) sink(buffer.data(), samples);
    }
  }

  std::string device_, config_;
  snd_pcm_t* pcm_ = nullptr;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace

std::unique_ptr<AudioCapture> MakeAlsaCapture(const std::string& device, const std::string& config) {
  return std::make_unique<TAlsaCapture>(device, config);
}

std::vector<int> AGCLevels(const int16_t* samples) {
  long sum = 0;
  for (unsigned j = 0; j < kAGCLevelCount; ++j) sum += samples[2 * j];
  const long mean = sum / long(kAGCLevelCount);
  std::vector<int> levels(kAGCLevelCount);
  for (unsigned j = 0; j < kAGCLevelCount; ++j) {
    const long e = std::max(1L, std::labs(samples[2 * j] - mean));
    levels[j] = int(20 * std::log10(double(e) / 32768));
  }
  return levels;
}

std::string AGCTimeText(double t) {
  if (!(t >= 1e-6)) return "0 s";
  char text[32];
  if (t < 1e-3)
    std::snprintf(text, sizeof text, "%i ns", int(t * 1e9));
  else if (t < 1e-2)
    std::snprintf(text, sizeof text, "%i us", int(t * 1e6));
  else if (t < 1)
    std::snprintf(text, sizeof text, "%i ms", int(t * 1e3));
  else
    return DecimalText(static_cast<long long>(t * 10), 1) + " s";  // truncated to tenths
  return text;
}
