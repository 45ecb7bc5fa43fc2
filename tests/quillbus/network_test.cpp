// Boards served by quillbus-board over TCP on the loopback interface.
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <thread>

#include "support.h"

extern char** environ;

namespace qbtest {
namespace {

std::string ProgramDirectory() {
  char path[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  std::string text(path, static_cast<size_t>(n));
  return text.substr(0, text.rfind('/'));
}

// A quillbus-board child process on a port of its choosing.
class BoardServer {
 public:
  explicit BoardServer(const std::string& boardFile) {
    int out[2];
    if (::pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const std::string program = ProgramDirectory() + "/quillbus-board";
    std::vector<std::string> args{program, "--port", "0", boardFile};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    // Read "listening on 127.0.0.1:<port>", waiting at most 20 s in all.
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (pid_ > 0 && line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      pollfd p{out[0], POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      char buffer[128];
      ssize_t n = ::read(out[0], buffer, sizeof buffer);
      if (n <= 0) break;
      line.append(buffer, static_cast<size_t>(n));
    }
    ::close(out[0]);
    const std::string prefix = "listening on 127.0.0.1:";
    if (line.rfind(prefix, 0) == 0) port_ = std::atoi(line.c_str() + prefix.size());
  }
  ~BoardServer() { Stop(); }

  int Port() const { return port_; }
  // Sends SIGTERM and returns the exit status (-1 when it had to be killed).
  int Stop() {
    if (pid_ <= 0) return status_;
    ::kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return status_ = -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
    return status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  int status_ = -1;
};

int FreePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  ::close(fd);
  return ntohs(address.sin_port);
}

class NetworkTest : public QuillbusTest {
 protected:
  // The served board lives outside the boards directory.
  TempDir served_;
};

TEST_F(NetworkTest, ServedBoardJoinsAfterLocalBoardsAndLeavesWithServer) {
  AddBoard("local.board");
  const std::string file = served_.path() + "/remote.board";
  WriteFile(file, "name = Remote EVM\nfirmware = 0x0107\nrate = 96000\n");
  BoardServer server(file);
  ASSERT_GT(server.Port(), 0);
  ASSERT_EQ(Refresh(), 1);

  char host[] = "127.0.0.1";
  ASSERT_EQ(OrvaneTCPConnect(host, server.Port()), 1);
  EXPECT_EQ(QuillbusBoardCount(), 1);  // joins at the next refresh
  ASSERT_EQ(Refresh(), 2);
  EXPECT_NE(Utf8(DevicePath(1)).find("quillbus-net-remote.board-"), std::string::npos);
  EXPECT_NE(OrvaneUsbHidGetDevHandle(1), nullptr);

  uint16_t vid, pid, version = 0;
  ASSERT_TRUE(OrvaneUsbHidGetDevInfo(1, &vid, &pid, &version));
  EXPECT_EQ(version, 0x0107);
  uint32_t rate = 0;
  ASSERT_TRUE(OrvaneUsbHidGetCurSamplingRate(1, 18, &rate));
  EXPECT_EQ(rate, 96000u);
  char16_t product[64];
  ASSERT_TRUE(OrvaneUsbHidGetProductString(1, product, sizeof product));
  EXPECT_EQ(std::u16string(product), u"Remote EVM");

  const std::string trace = dir_.path() + "/trace.txt";
  QuillbusSetTrace(trace.c_str());
  EXPECT_EQ(Exchange(1, Select(0x30)), Select(0x30));
  QuillbusSetTrace(nullptr);
  ASSERT_EQ(Exchange(1, I2cWrite(0x05, {0x12, 0x34}))[3], 0);
  EXPECT_EQ(Exchange(1, I2cRead(0x05, 2)), Reply(I2cRead(0x05, 2), 0, 8, {0x12, 0x34}));
  EXPECT_EQ(Exchange(0, I2cRead(0x05, 2))[3], 0x01);  // the local board is another board
  ASSERT_EQ(QuillbusFailStatus(1, 1), 0);
  EXPECT_EQ(Exchange(1, Select(0x30))[3], 0x05);
  const Bytes traced = ReadFile(trace);
  EXPECT_EQ(std::string(traced.begin(), traced.end()),
            "1 > 08 12 05 00 04 00 01 30\n1 < 08 12 05 00 04 00 01 30\n");

  const std::string firmware = served_.path() + "/fw.bin";
  WriteFile(firmware, "QBFW\x01\x03image");
  ASSERT_TRUE(OrvaneUsbHidProgramEeprom(1, const_cast<char*>(firmware.c_str()), 18, 0xA0, 0));
  ASSERT_TRUE(OrvaneUsbHidGetDevInfo(1, &vid, &pid, &version));
  EXPECT_EQ(version, 0x0301);

  EXPECT_EQ(server.Stop(), 0);  // a clean exit on SIGTERM
  Bytes select = Select(0x30);
  EXPECT_FALSE(OrvaneUsbHidWrite(1, select.data(), 8));
  EXPECT_EQ(Refresh(), 1);
  EXPECT_NE(Log().find("connection to 127.0.0.1:"), std::string::npos);
}

TEST_F(NetworkTest, LostServerLeavesAtRefreshWithoutExchange) {
  const std::string file = served_.path() + "/remote.board";
  WriteFile(file, "");
  BoardServer server(file);
  ASSERT_GT(server.Port(), 0);
  char host[] = "127.0.0.1";
  ASSERT_EQ(OrvaneTCPConnect(host, server.Port()), 1);
  ASSERT_EQ(Refresh(), 1);
  EXPECT_EQ(server.Stop(), 0);
  EXPECT_EQ(Refresh(), 0);
}

TEST_F(NetworkTest, ServerTakesTheNextClientWhenOneLeaves) {
  const std::string file = served_.path() + "/remote.board";
  WriteFile(file, "");
  BoardServer server(file);
  ASSERT_GT(server.Port(), 0);
  char host[] = "127.0.0.1";
  ASSERT_EQ(OrvaneTCPConnect(host, server.Port()), 1);
  ASSERT_EQ(Refresh(), 1);
  ASSERT_EQ(Exchange(0, Select(0x30))[3], 0);
  QuillbusReset();  // drops the connection
  ASSERT_EQ(OrvaneTCPConnect(host, server.Port()), 1);
  ASSERT_EQ(Refresh(), 1);
  EXPECT_EQ(Exchange(0, Select(0x30))[3], 0);
}

TEST_F(NetworkTest, ConnectFailureReturnsZeroAndLogs) {
  char host[] = "127.0.0.1";
  EXPECT_EQ(OrvaneTCPConnect(host, FreePort()), 0);
  EXPECT_EQ(OrvaneTCPConnect(nullptr, 80), 0);
  EXPECT_EQ(Refresh(), 0);
  EXPECT_NE(Log().find("cannot connect to board server 127.0.0.1:"), std::string::npos);
}

}  // namespace
}  // namespace qbtest
