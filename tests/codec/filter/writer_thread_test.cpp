// The writer thread: per-slot coalescing, slot order, batch markers, stop.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "codec/filter/biquad.h"
#include "codec/filter/writer_thread.h"

namespace {

struct Recorder {
  std::mutex mutex;
  std::condition_variable changed;
  bool holdSlot0 = false;
  bool inSlot0 = false;
  struct Call {
    unsigned slot;
    bool arrays;
    int32_t n0, d1;
  };
  std::vector<Call> calls;

  static void Callback(void* context, unsigned slot, const int32_t* num3, const int32_t* den3) {
    auto* self = static_cast<Recorder*>(context);
    std::unique_lock<std::mutex> lock(self->mutex);
    self->calls.push_back({slot, num3 && den3, num3 ? num3[0] : 0, den3 ? den3[1] : 0});
    if (slot == 0) {
      self->inSlot0 = true;
      self->changed.notify_all();
      self->changed.wait(lock, [self] { return !self->holdSlot0; });
    }
    self->changed.notify_all();
  }
};

// Waits until everything queued has been through the callback.
bool WaitIdle(TRefreshEVMThread& writer) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    if (writer.Idle()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

void QueueSet(TRefreshEVMThread& writer, unsigned slot, int32_t n0, int32_t d1) {
  const int32_t num[3] = {n0, 0, 0}, den[3] = {0, d1, 0};
  writer.Queue(slot, num, den, true);
}

TEST(WriterThread, SendsTheLatestSetOfEachSlotInSlotOrder) {
  Recorder recorder;
  TRefreshEVMThread writer;
  writer.SetCallback(&recorder, Recorder::Callback);
  {
    std::unique_lock<std::mutex> lock(recorder.mutex);
    recorder.holdSlot0 = true;
  }
  QueueSet(writer, 0, 100, 0);
  {
    std::unique_lock<std::mutex> lock(recorder.mutex);
    ASSERT_TRUE(recorder.changed.wait_for(lock, std::chrono::seconds(5), [&] { return recorder.inSlot0; }));
  }
  // The thread is held inside slot 0's write: these wait for the next pass.
  QueueSet(writer, 7, 7, 70);
  QueueSet(writer, 2, 2, 20);
  QueueSet(writer, 3, 3, 30);
  QueueSet(writer, 3, 33, 330);
  QueueSet(writer, 40, 40, 400);  // no such slot
  EXPECT_FALSE(writer.Idle());
  {
    std::unique_lock<std::mutex> lock(recorder.mutex);
    recorder.holdSlot0 = false;
    recorder.changed.notify_all();
  }
  ASSERT_TRUE(WaitIdle(writer));
  std::lock_guard<std::mutex> lock(recorder.mutex);
  ASSERT_EQ(recorder.calls.size(), 4u);
  EXPECT_EQ(recorder.calls[1].slot, 2u);
  EXPECT_EQ(recorder.calls[2].slot, 3u);
  EXPECT_EQ(recorder.calls[2].n0, 33);
  EXPECT_EQ(recorder.calls[2].d1, 330);
  EXPECT_EQ(recorder.calls[3].slot, 7u);
}

TEST(WriterThread, SynchronousQueueAndMarkersCallAtOnce) {
  Recorder recorder;
  TRefreshEVMThread writer;
  writer.Queue(1, nullptr, nullptr, false);  // no callback yet: nothing
  writer.SetCallback(&recorder, Recorder::Callback);
  const int32_t num[3] = {5, 0, 0}, den[3] = {0, 6, 0};
  writer.Queue(TRefreshEVMThread::kBatchStart, nullptr, nullptr, false);
  writer.Queue(4, num, den, false);
  writer.Queue(TRefreshEVMThread::kBatchEnd, nullptr, nullptr, false);
  ASSERT_EQ(recorder.calls.size(), 3u);
  EXPECT_EQ(recorder.calls[0].slot, 0xFFFFu);
  EXPECT_FALSE(recorder.calls[0].arrays);
  EXPECT_EQ(recorder.calls[1].slot, 4u);
  EXPECT_EQ(recorder.calls[1].d1, 6);
  EXPECT_EQ(recorder.calls[2].slot, 0xFFFEu);
}

TEST(WriterThread, DestroyingWhileItWaitsReturnsWithinASecond) {
  auto writer = std::make_unique<TRefreshEVMThread>();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // now inside its wait
  const auto start = std::chrono::steady_clock::now();
  writer.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
}

TEST(WriterThread, SectionsQueueTheirIntegersOrThePassThroughSet) {
  Recorder recorder;
  TRefreshEVMThread writer;
  writer.SetCallback(&recorder, Recorder::Callback);
  TBiquad section(5);
  section.writer = &writer;
  section.Design(1000, 200, 44100, -3, true);  // disabled: the pass-through set at 24 bits too
  ASSERT_TRUE(WaitIdle(writer));
  section.SetBits(16);  // queues nothing
  section.SetEnabled(true);
  ASSERT_TRUE(WaitIdle(writer));
  std::lock_guard<std::mutex> lock(recorder.mutex);
  ASSERT_EQ(recorder.calls.size(), 2u);
  EXPECT_EQ(recorder.calls[0].slot, 5u);
  EXPECT_EQ(recorder.calls[0].n0, 32767);
  EXPECT_EQ(recorder.calls[0].d1, 0);
  EXPECT_EQ(recorder.calls[1].n0, 32578);
  EXPECT_EQ(recorder.calls[1].d1, 31795);
}

}  // namespace
