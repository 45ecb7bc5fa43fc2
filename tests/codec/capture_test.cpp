// The ALSA capture back end, for real: a private ALSA configuration whose
// capture PCM reads a file holding a known tone; the AGC window's level
// trace of a buffer, and its time texts.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <mutex>
#include <vector>

#include <QImage>

#include "codec/agc_form.h"
#include "codec/audio_capture.h"
#include "tests/support/test_support.h"

namespace {

class CaptureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Two seconds of 1 kHz at half scale.
    for (int i = 0; i < 88200; ++i) tone_.push_back(int16_t(std::lround(16384 * std::sin(2 * M_PI * 1000 * i / 44100.0))));
    std::ofstream(dir_.File("tone.raw"), std::ios::binary)
        .write(reinterpret_cast<const char*>(tone_.data()), std::streamsize(tone_.size() * 2));
    config_ = "pcm.tone { type file slave.pcm { type null } file \"/dev/null\" infile \"" + dir_.File("tone.raw") +
              "\" format \"raw\" }\n";
  }

  // Buffers captured until `count` have come.
  std::vector<std::vector<int16_t>> Capture(AudioCapture& capture, size_t count) {
    std::vector<std::vector<int16_t>> buffers;
    std::mutex m;
    std::condition_variable cv;
    std::string error;
    EXPECT_TRUE(capture.Open(44100, 512, [&](const int16_t* s, unsigned n) {
      std::lock_guard<std::mutex> lock(m);
      buffers.emplace_back(s, s + n);
      cv.notify_all();
    }, error)) << error;
    {
      std::unique_lock<std::mutex> lock(m);
      cv.wait_for(lock, std::chrono::seconds(10), [&] { return buffers.size() >= count; });
    }
    capture.Close();
    std::lock_guard<std::mutex> lock(m);
    return buffers;
  }

  testsupport::TempDir dir_;
  std::vector<int16_t> tone_;
  std::string config_;
};

TEST_F(CaptureTest, TheCapturedBuffersAreTheTonesSamples) {
  auto capture = MakeAlsaCapture("tone", config_);
  const auto buffers = Capture(*capture, 4);
  ASSERT_GE(buffers.size(), 4u);
  for (size_t b = 0; b < 4; ++b) {
    ASSERT_EQ(buffers[b].size(), 512u);
    EXPECT_TRUE(std::equal(buffers[b].begin(), buffers[b].end(), tone_.begin() + long(b * 512))) << b;
  }
  EXPECT_FALSE(capture->IsOpen());
}

TEST_F(CaptureTest, ReopenedTheCaptureStartsAgainAndNothingArrivesAfterClose) {
  auto capture = MakeAlsaCapture("tone", config_);
  for (int round = 0; round < 3; ++round) {
    int late = 0;
    bool closed = false;
    std::string error;
    ASSERT_TRUE(capture->Open(44100, 512, [&](const int16_t*, unsigned) { late += closed; }, error)) << error;
    capture->Close();
    closed = true;
    EXPECT_EQ(late, 0);
  }
  // Destroyed while open: it stops first.
  std::string error;
  ASSERT_TRUE(capture->Open(44100, 512, [](const int16_t*, unsigned) {}, error));
  capture.reset();
}

TEST_F(CaptureTest, ADeviceThatCannotBeOpenedIsReportedWithItsNameAndTheReason) {
  const struct {
    const char* device;
    std::string config;
    const char* error;
  } cases[] = {
      {"nowhere", config_, "No such file or directory"},
      {"tone", "pcm.tone { type", "its configuration cannot be read ("},
  };
  for (const auto& c : cases) {
    auto capture = MakeAlsaCapture(c.device, c.config);
    EXPECT_EQ(capture->Device(), c.device);
    std::string error;
    bool called = false;
    EXPECT_FALSE(capture->Open(44100, 512, [&](const int16_t*, unsigned) { called = true; }, error));
    EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
    EXPECT_FALSE(capture->IsOpen());
    capture->Close();
    EXPECT_FALSE(called);
  }
}

// A buffer of 512 samples, sample i := `sample`(i).
std::vector<int16_t> Buffer(const std::function<int(int)>& sample) {
  std::vector<int16_t> b(512);
  for (int i = 0; i < 512; ++i) b[size_t(i)] = int16_t(sample(i));
  return b;
}

// Even samples 8000 +- 4096 by turns, odd ones 0: 4096 from the DC offset
// of the even samples (8000), though not from 0 nor from the mean of all.
std::vector<int16_t> SquareOnAnOffset() {
  return Buffer([](int i) { return i % 2 ? 0 : 8000 + (i % 4 ? -4096 : 4096); });
}

TEST(AGCLevelsTest, TheTraceIsTheEvenSamplesAboutTheirMeanInWholeDB) {
  const struct {
    const char* name;
    std::vector<int16_t> samples;
    int level;  // at every point
  } cases[] = {
      // trunc(20 log10(1 / 32768)) = trunc(-90.3)
      {"silence", Buffer([](int) { return 0; }), -90},
      {"silence at an offset", Buffer([](int) { return -12345; }), -90},
      {"the odd samples loud, the even ones silent", Buffer([](int i) { return i % 2 ? 16384 : 77; }), -90},
      // trunc(20 log10(4096 / 32768)) = trunc(-18.06)
      {"a square wave on an offset", SquareOnAnOffset(), -18},
      // trunc(20 log10(0.5)) = trunc(-6.02)
      {"half scale about 0", Buffer([](int i) { return i % 4 ? -16384 : 16384; }), -6},
      // The mean of -32768 and 32767 is 0 (integer division): 0 dB both.
      {"full scale", Buffer([](int i) { return i % 4 ? -32768 : 32767; }), 0},
  };
  for (const auto& c : cases) {
    const std::vector<int> levels = AGCLevels(c.samples.data());
    ASSERT_EQ(levels.size(), 256u) << c.name;
    EXPECT_EQ(levels, std::vector<int>(256, c.level)) << c.name;
  }
}

// The level plot draws the trace at those levels, point j at x of j.
TEST(AGCLevelsTest, ThePlotDrawsTheTraceAtTheLevelsOfTheLastBuffer) {
  const QColor trace(0x80, 0x80, 0xFF);
  const struct {
    const char* name;
    std::vector<int16_t> samples;
    int level;
  } cases[] = {{"silence at an offset", Buffer([](int) { return 3000; }), -90},
               {"a square wave on an offset", SquareOnAnOffset(), -18}};
  for (const auto& c : cases) {
    TAGCForm form;
    form.lastBuffer = c.samples;
    const QImage plot = form.Plot->grab().toImage();
    const int W = plot.width(), row = form.LevelY(c.level);
    // Every point on its row; no trace on any other row.
    for (int j = 0; j < 256; ++j) EXPECT_EQ(plot.pixelColor((W - 40) * j / 256 + 30, row), trace) << c.name << " " << j;
    int elsewhere = 0;
    for (int y = 0; y < plot.height(); ++y)
      for (int x = 0; x < W; ++x) elsewhere += y != row && plot.pixelColor(x, y) == trace;
    EXPECT_EQ(elsewhere, 0) << c.name;
  }
}

TEST(AGCTimeTextTest, EachBandPrintsItsUnit) {
  const struct {
    double seconds;
    const char* text;
  } cases[] = {{0, "0 s"},           {9e-7, "0 s"},          {1e-6, "1000 ns"},
               {32 / 44100.0, "725623 ns"}, {2e-3, "2000 us"}, {512 / 44100.0, "11 ms"},
               {0.999, "999 ms"},    {1.0, "1 s"},           {2.97, "2.9 s"}};
  for (const auto& c : cases) EXPECT_EQ(AGCTimeText(c.seconds), c.text) << c.seconds;
}

}  // namespace
