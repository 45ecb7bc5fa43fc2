// quillbus-board: serves one emulated board over TCP on 127.0.0.1, one
// client at a time, so a Palisar on this machine can reach it with
// OrvaneTCPConnect. Usage: quillbus-board [--port N] <board file>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/text.h"
#include "quillbus/board.h"
#include "quillbus/board_file.h"
#include "quillbus/wire.h"

namespace {

using namespace quillbus;

volatile std::sig_atomic_t stopping = 0;

void OnSignal(int) { stopping = 1; }

void Say(const std::string& text) { std::fprintf(stderr, "quillbus-board: %s\n", text.c_str()); }

// Waits until `fd` is readable; false when asked to stop first.
bool WaitReadable(int fd) {
  while (!stopping) {
    pollfd p{fd, POLLIN, 0};
    // A short period keeps the stop flag noticed even if a signal lands just before poll.
    int n = ::poll(&p, 1, 200);
    if (n > 0) return true;
    if (n < 0 && errno != EINTR) return false;
  }
  return false;
}

// Answers one request; false when the reply could not be sent.
bool Serve(int fd, Board& board, uint8_t op, const std::vector<uint8_t>& request) {
  std::vector<uint8_t> out;
  uint8_t status = wire::kOk;
  switch (op) {
    case wire::kInfo: {
      wire::Info info;
      info.firmware = board.Firmware();
      info.rate = board.Rate();
      info.name = board.Config().name;
      info.path = DevicePath(board.Config().file, true);
      out = wire::EncodeInfo(info);
      break;
    }
    case wire::kExchange:
      if (request.size() < 4 || request.size() > kMaxPacket || request[0] != request.size()) {
        status = wire::kBadRequest;
      } else {
        out.resize(request.size());
        board.Handle(request.data(), out.data());
      }
      break;
    case wire::kProgram: {
      std::string message;
      if (board.Program(request, message)) {
        wire::PutU16(out, board.Firmware());
      } else {
        status = wire::kFailed;
      }
      Say("firmware: " + message);
      out.insert(out.end(), message.begin(), message.end());
      break;
    }
    case wire::kRate:
      wire::PutU32(out, board.Rate());
      break;
    default:
      status = wire::kBadRequest;
  }
  return wire::SendFrame(fd, status, out.data(), out.size());
}

int Usage() {
  std::fprintf(stderr, "usage: quillbus-board [--port N] <board file>\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int port = 0;
  std::string file;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--port" && i + 1 < argc) {
      uint64_t value;
      if (!ParseNumber(argv[++i], 65535, value)) return Usage();
      port = static_cast<int>(value);
    } else if (!arg.empty() && arg[0] == '-') {
      return Usage();
    } else if (file.empty()) {
      file = arg;
    } else {
      return Usage();
    }
  }
  if (file.empty()) return Usage();

  std::vector<std::string> log;
  BoardConfig config;
  bool loaded = LoadBoardFile(file, config, log);
  for (const std::string& line : log) Say(line);
  if (!loaded) return 1;
  log.clear();
  Board board(config, log);
  for (const std::string& line : log) Say(line);

  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGINT, &action, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int yes = 1;
  ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener, 4) != 0) {
    Say(std::string("cannot listen: ") + std::strerror(errno));
    return 1;
  }
  socklen_t size = sizeof address;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
  std::printf("listening on 127.0.0.1:%d\n", ntohs(address.sin_port));
  std::fflush(stdout);
  Say("serving board '" + platform::Cut(config.name) + "' from " + config.file);

  while (WaitReadable(listener)) {
    int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    wire::SetTimeouts(client);
    Say("client connected");
    uint8_t op;
    std::vector<uint8_t> request;
    while (WaitReadable(client) && wire::ReceiveFrame(client, op, request) &&
           Serve(client, board, op, request)) {
    }
    ::close(client);
    Say(stopping ? "stopping" : "client left");
  }
  ::close(listener);
  return 0;
}
