// The ALSA capture back end, for real: a private ALSA configuration whose
// capture PCM reads a file holding a known tone; and the AGC time texts.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <vector>

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
