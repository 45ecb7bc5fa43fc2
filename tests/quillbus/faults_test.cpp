// Fault injection, the packet trace, and exchanges under latency from several threads.
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <thread>

#include "support.h"

namespace qbtest {
namespace {

std::string TraceText(const std::string& path) {
  Bytes bytes = ReadFile(path);
  return std::string(bytes.begin(), bytes.end());
}

struct FaultCase {
  const char* name;
  std::function<int(int)> inject;
  bool writes;
  bool reads;
  uint8_t status;      // of the reply, when read
  bool stillListed;    // after the next refresh
  bool registerWritten;
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class FaultTest : public QuillbusTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(FaultTest, AffectsTheNextExchangeOnly) {
  AddBoard("evm.board");
  ASSERT_EQ(Refresh(), 1);
  ASSERT_EQ(Exchange(0, Select(0x30))[3], 0);
  ASSERT_EQ(GetParam().inject(0), 0);
  EXPECT_EQ(GetParam().inject(3), -1);  // no such board

  Bytes command = I2cWrite(0x20, {0x66});
  Bytes reply(command.size());
  EXPECT_EQ(OrvaneUsbHidWrite(0, command.data(), static_cast<uint16_t>(command.size())), GetParam().writes);
  EXPECT_EQ(OrvaneUsbHidRead(0, reply.data(), static_cast<uint16_t>(reply.size())), GetParam().reads);
  if (GetParam().reads) {
    EXPECT_EQ(reply[3], GetParam().status);
  }
  // A lost reply stays lost.
  EXPECT_FALSE(OrvaneUsbHidRead(0, reply.data(), static_cast<uint16_t>(reply.size())));

  ASSERT_EQ(Refresh(), GetParam().stillListed ? 1 : 0);
  if (!GetParam().stillListed) return;
  const uint8_t value = GetParam().registerWritten ? 0x66 : 0x00;
  EXPECT_EQ(QuillbusGetRegister(0, 0x30, 0, 0, 0x20), value);
  EXPECT_EQ(Exchange(0, I2cRead(0x20, 1)), Reply(I2cRead(0x20, 1), 0, 8, {value}));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FaultTest,
    ::testing::Values(
        // name, inject, writes, reads, status, still listed, register written
        FaultCase{"FailWrite", [](int i) { return QuillbusFailWrites(i, 1); }, false, false, 0, true, false},
        FaultCase{"FailRead", [](int i) { return QuillbusFailReads(i, 1); }, true, false, 0, true, true},
        FaultCase{"FailStatus", [](int i) { return QuillbusFailStatus(i, 1); }, true, true, 0x05, true, false},
        FaultCase{"UnplugAfterWrite", [](int i) { return QuillbusUnplugAfter(i, 1); }, true, false, 0, false, false},
        FaultCase{"UnplugAfterReply", [](int i) { return QuillbusUnplugAfter(i, 2); }, true, true, 0, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

using TraceTest = QuillbusTest;

TEST_F(TraceTest, OneLinePerPacketActuallyWrittenOrRead) {
  AddBoard("a.board");
  AddBoard("b.board");
  ASSERT_EQ(Refresh(), 2);
  const std::string trace = dir_.path() + "/trace.txt";
  QuillbusSetTrace(trace.c_str());
  ASSERT_EQ(QuillbusFailWrites(0, 1), 0);
  Bytes select = Select(0x30);
  EXPECT_FALSE(OrvaneUsbHidWrite(0, select.data(), 8));
  ASSERT_FALSE(Exchange(0, Select(0x30)).empty());
  ASSERT_FALSE(Exchange(1, Select(0x44)).empty());
  ASSERT_FALSE(Exchange(0, I2cRead(0x7F, 1)).empty());
  EXPECT_EQ(TraceText(trace),
            "0 > 08 12 05 00 04 00 01 30\n"
            "0 < 08 12 05 00 04 00 01 30\n"
            "1 > 08 12 05 00 04 00 01 44\n"
            "1 < 08 12 05 01 04 00 01 44\n"
            "0 > 09 12 05 00 05 03 00 7F 00\n"
            "0 < 09 12 05 00 05 03 00 7F 00\n");
  QuillbusSetTrace(nullptr);
  ASSERT_FALSE(Exchange(0, Select(0x30)).empty());
  const std::string text = TraceText(trace);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 6);
}

TEST_F(TraceTest, TraceFileFromEnvironment) {
  AddBoard("evm.board");
  const std::string trace = dir_.path() + "/env-trace.txt";
  ::setenv("QUILLBUS_TRACE", trace.c_str(), 1);
  QuillbusReset();  // settings come back from the environment
  ::unsetenv("QUILLBUS_TRACE");
  ASSERT_EQ(Refresh(), 1);
  ASSERT_FALSE(Exchange(0, Select(0x30)).empty());
  EXPECT_EQ(TraceText(trace), "0 > 08 12 05 00 04 00 01 30\n0 < 08 12 05 00 04 00 01 30\n");
}

TEST_F(TraceTest, BoardsExchangeConcurrentlyUnderLatency) {
  constexpr int kBoards = 3;
  for (int i = 0; i < kBoards; ++i) AddBoard("b" + std::to_string(i) + ".board");
  ASSERT_EQ(Refresh(), kBoards);
  QuillbusSetLatency(200);
  std::vector<int> failures(kBoards, 0);
  std::vector<std::thread> threads;
  for (int board = 0; board < kBoards; ++board) {
    threads.emplace_back([&, board] {
      auto exchange = [&](Bytes command) {
        Bytes reply(command.size());
        if (!OrvaneUsbHidWrite(board, command.data(), static_cast<uint16_t>(command.size())) ||
            !OrvaneUsbHidRead(board, reply.data(), static_cast<uint16_t>(reply.size())))
          return Bytes{};
        return reply;
      };
      if (exchange(Select(0x30)).empty()) ++failures[board];
      for (int i = 0; i < 40; ++i) {
        const auto value = static_cast<uint8_t>(board * 50 + i);
        if (exchange(I2cWrite(0x30, {value})).empty()) ++failures[board];
        Bytes reply = exchange(I2cRead(0x30, 1));
        if (reply.size() != 9 || reply[8] != value) ++failures[board];
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures, std::vector<int>(kBoards, 0));
}

}  // namespace
}  // namespace qbtest
