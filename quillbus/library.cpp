// The exported functions of libquillbus.so: the device list (board files in a
// directory plus boards reached over TCP), packet exchange with fault
// injection, trace and latency, and the library log.
//
// One mutex guards all state. Latency sleeps and network round trips happen
// outside it, so boards do not hold each other up; log lines said under it
// are delivered to the callback only after it is released.
#include "quillbus/quillbus.h"

#include <dirent.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/file.h"
#include "platform/text.h"
#include "quillbus/board.h"
#include "quillbus/board_file.h"
#include "quillbus/wire.h"

namespace {

using namespace quillbus;

constexpr size_t kLogLines = 100;
constexpr uint8_t kStreamingInterface = 18;

// Identity of a board file on disk, to notice that it was touched or replaced.
struct Stamp {
  dev_t device = 0;
  ino_t inode = 0;
  timespec modified{};
  off_t size = 0;
  bool operator==(const Stamp& o) const {
    return device == o.device && inode == o.inode && modified.tv_sec == o.modified.tv_sec &&
           modified.tv_nsec == o.modified.tv_nsec && size == o.size;
  }
};

std::optional<Stamp> StampOf(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return Stamp{st.st_dev, st.st_ino, st.st_mtim, st.st_size};
}

// A connection to a board server. `mutex` serialises the round trips; the
// socket is closed only when the last user lets go.
class Remote {
 public:
  explicit Remote(int fd, std::string where) : fd_(fd), where_(std::move(where)) {}
  ~Remote() { ::close(fd_); }
  Remote(const Remote&) = delete;
  Remote& operator=(const Remote&) = delete;

  static std::shared_ptr<Remote> Connect(const char* host, int port, std::string& error);

  bool Call(uint8_t op, const std::vector<uint8_t>& request, uint8_t& status, std::vector<uint8_t>& reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    return wire::SendFrame(fd_, op, request.data(), request.size()) && wire::ReceiveFrame(fd_, status, reply);
  }
  // False once the server has closed the connection. Never waits: a round
  // trip in progress counts as alive.
  bool Alive() {
    std::unique_lock<std::mutex> lock(mutex_, std::try_to_lock);
    if (!lock.owns_lock()) return true;
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0) return true;
    if (p.revents & (POLLHUP | POLLERR)) return false;
    uint8_t byte;
    return ::recv(fd_, &byte, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
  }
  // Wakes a pending round trip at once; safe without the mutex.
  void Shutdown() { ::shutdown(fd_, SHUT_RDWR); }
  const std::string& Where() const { return where_; }

 private:
  std::mutex mutex_;
  int fd_;
  std::string where_;
};

std::shared_ptr<Remote> Remote::Connect(const char* host, int port, std::string& error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (int rc = ::getaddrinfo(host, service.c_str(), &hints, &found); rc != 0) {
    error = ::gai_strerror(rc);
    return nullptr;
  }
  error = "no address";
  int fd = -1;
  for (addrinfo* a = found; a && fd < 0; a = a->ai_next) {
    fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
    if (fd < 0) {
      error = std::strerror(errno);
      continue;
    }
    // Non-blocking connect bounded by the exchange timeout.
    int rc = ::connect(fd, a->ai_addr, a->ai_addrlen);
    if (rc != 0 && errno == EINPROGRESS) {
      pollfd p{fd, POLLOUT, 0};
      rc = ::poll(&p, 1, wire::kTimeoutMs);
      int soError = 0;
      socklen_t size = sizeof soError;
      if (rc == 1 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &size) == 0 && soError == 0) {
        rc = 0;
      } else {
        errno = rc == 0 ? ETIMEDOUT : soError;
        rc = -1;
      }
    }
    if (rc != 0) {
      error = std::strerror(errno);
      ::close(fd);
      fd = -1;
    }
  }
  ::freeaddrinfo(found);
  if (fd < 0) return nullptr;
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  wire::SetTimeouts(fd);
  return std::make_shared<Remote>(fd, std::string(host) + ":" + service);
}

// One plug of a board: a replugged board is a new Plug with a new handle.
struct Plug {
  uint64_t serial = 0;
  void* handle = nullptr;
  bool gone = false;
  std::string key;  // absolute board file path; for network boards host:port
  std::string name;
  std::u16string path;
  std::unique_ptr<Board> board;    // local boards
  std::shared_ptr<Remote> remote;  // network boards
  uint16_t firmware = 0;           // network boards: as the server last said

  std::vector<uint8_t> reply;
  bool hasReply = false;
  int failWrites = 0;
  int failReads = 0;
  int failStatus = 0;
  int statusSkip = 0;   // commands answered before the refused ones
  int unplugAfter = 0;  // 0: off

  bool Network() const { return remote != nullptr; }
  uint16_t Firmware() const { return board ? board->Firmware() : firmware; }
};

class Library;

// Holds the library mutex; log lines said under it go out after unlocking.
class Session {
 public:
  explicit Session(Library& library);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  void Log(std::string line) { lines_.push_back(std::move(line)); }
  void Log(const std::vector<std::string>& lines) { lines_.insert(lines_.end(), lines.begin(), lines.end()); }

 private:
  Library& library_;
  std::unique_lock<std::mutex> lock_;
  std::vector<std::string> lines_;
};

class Library {
 public:
  Library() {
    std::vector<std::string> lines;
    ApplyEnvironment(true, lines);
    Deliver(lines);
  }

  std::mutex mutex;

  // ---- log ----
  void Deliver(std::vector<std::string>& lines) {
    if (lines.empty()) return;
    QuillbusLogCallback callback;
    {
      std::lock_guard<std::mutex> lock(logMutex_);
      for (std::string& line : lines) {
        // Lines quote board files, which may hold anything; a NUL would cut the text short.
        for (char& c : line)
          if (static_cast<unsigned char>(c) < 0x20 && c != '\t') c = '?';
        recent_.push_back(line);
        if (recent_.size() > kLogLines) recent_.pop_front();
      }
      callback = callback_.load();
    }
    if (!callback) return;
    for (std::string& line : lines) callback(line.data());
  }
  void SetCallback(QuillbusLogCallback callback) { callback_.store(callback); }
  char* RecentLog() {
    std::string text;
    {
      std::lock_guard<std::mutex> lock(logMutex_);
      for (const std::string& line : recent_) text += line + "\n";
    }
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy) std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
  }

  // ---- settings (under the mutex) ----
  void ApplyEnvironment(bool firstTime, std::vector<std::string>& lines) {
    latencyUs_ = 0;
    if (const char* text = std::getenv("QUILLBUS_LATENCY_US"); text && *text) {
      uint64_t value;
      if (ParseNumber(text, 10000000, value))
        latencyUs_ = static_cast<int>(value);
      else
        lines.push_back(std::string("QUILLBUS_LATENCY_US: bad value '") + text + "' ignored");
    }
    CloseTrace();
    if (const char* path = std::getenv("QUILLBUS_TRACE"); path && *path) {
      // Started afresh when the library loads; after QuillbusReset it goes on.
      OpenTrace(path, firstTime ? "w" : "a", lines);
    }
    latencyAtomic_.store(latencyUs_);
  }
  void OpenTrace(const char* path, const char* mode, std::vector<std::string>& lines) {
    CloseTrace();
    trace_ = std::fopen(path, mode);
    if (!trace_) lines.push_back(std::string("cannot open trace file ") + path + ": " + std::strerror(errno));
  }
  void CloseTrace() {
    if (trace_) std::fclose(trace_);
    trace_ = nullptr;
  }
  void Trace(int index, char direction, const uint8_t* bytes, size_t count) {
    if (!trace_) return;
    std::string line = std::to_string(index) + " " + direction;
    char hex[4];
    for (size_t i = 0; i < count; ++i) {
      std::snprintf(hex, sizeof hex, " %02X", bytes[i]);
      line += hex;
    }
    line += '\n';
    std::fputs(line.c_str(), trace_);
    std::fflush(trace_);
  }
  // Read without the mutex: the sleep it sets happens outside it.
  int LatencyUs() const { return latencyAtomic_.load(); }
  void SetLatency(int us) {
    latencyUs_ = std::max(0, us);
    latencyAtomic_.store(latencyUs_);
  }
  void SetBoardsDir(const char* dir) {
    if (dir)
      dirOverride_ = dir;
    else
      dirOverride_.reset();
  }

  // ---- the list ----
  std::shared_ptr<Plug> At(int index) const {
    if (index < 0 || index >= static_cast<int>(list_.size())) return nullptr;
    const auto& plug = list_[static_cast<size_t>(index)];
    return plug->gone ? nullptr : plug;
  }
  int Count() const { return static_cast<int>(list_.size()); }

  void Rescan(Session& s) {
    std::vector<std::pair<std::string, std::string>> files;  // (file name, absolute path)
    const char* env = std::getenv("QUILLBUS_BOARDS");
    const std::string dir = dirOverride_ ? *dirOverride_ : (env ? env : "");
    if (!dir.empty()) {
      const std::string base = AbsolutePath(dir);
      if (DIR* d = ::opendir(base.c_str())) {
        while (dirent* e = ::readdir(d)) {
          std::string name = e->d_name;
          if (name.size() <= 6 || name[0] == '.' || !name.ends_with(".board")) continue;
          if (StampOf(base + "/" + name)) files.emplace_back(name, base + "/" + name);
        }
        ::closedir(d);
        badDir_.clear();
      } else if (badDir_ != base) {
        s.Log("boards directory " + base + ": " + std::strerror(errno));
        badDir_ = base;
      }
    }
    std::sort(files.begin(), files.end());

    std::map<std::string, bool> seen;
    for (const auto& f : files) seen[f.second] = true;
    for (auto it = local_.begin(); it != local_.end();) {
      if (seen.count(it->first)) {
        ++it;
        continue;
      }
      it->second->gone = true;
      it->second->board.reset();
      s.Log("board '" + platform::Cut(it->second->name) + "' unplugged (" + FileName(it->first) + " removed)");
      it = local_.erase(it);
    }
    for (auto it = detached_.begin(); it != detached_.end();)
      it = seen.count(it->first) ? std::next(it) : detached_.erase(it);

    for (const auto& [fileName, path] : files) {
      if (local_.count(path)) continue;
      std::optional<Stamp> stamp = StampOf(path);
      if (!stamp) continue;
      if (auto d = detached_.find(path); d != detached_.end()) {
        if (d->second == *stamp) continue;
        detached_.erase(d);  // touched since it was detached
      }
      std::vector<std::string> lines;
      BoardConfig config;
      if (!LoadBoardFile(path, config, lines)) {
        s.Log(lines);
        detached_[path] = *stamp;  // tried again once the file changes
        continue;
      }
      auto plug = NewPlug(path, config.name, DevicePath(path, false));
      plug->board = std::make_unique<Board>(config, lines);
      s.Log(lines);
      s.Log("board '" + platform::Cut(config.name) + "' plugged (" + fileName + ")");
      local_[path] = plug;
    }

    for (auto it = network_.begin(); it != network_.end();) {
      if ((*it)->remote->Alive()) {
        ++it;
        continue;
      }
      (*it)->gone = true;
      s.Log("connection to board server " + (*it)->remote->Where() + " lost");
      it = network_.erase(it);
    }

    list_.clear();
    for (const auto& f : files)
      if (auto it = local_.find(f.second); it != local_.end()) list_.push_back(it->second);
    list_.insert(list_.end(), network_.begin(), network_.end());
  }

  std::shared_ptr<Plug> NewPlug(const std::string& key, const std::string& name, const std::string& path) {
    auto plug = std::make_shared<Plug>();
    plug->serial = ++serials_;
    // Handles are made from a serial that never repeats, so no two plugs share one.
    plug->handle = reinterpret_cast<void*>(static_cast<uintptr_t>(0x51B0000 + plug->serial * 16));
    plug->key = key;
    plug->name = name;
    plug->path = ToUtf16(path);
    return plug;
  }

  // Takes a board off until its file is touched or QuillbusReplug.
  void Detach(Session& s, const std::shared_ptr<Plug>& plug, const std::string& why) {
    if (plug->gone) return;
    plug->gone = true;
    plug->hasReply = false;
    if (plug->Network()) {
      plug->remote->Shutdown();
      network_.erase(std::remove(network_.begin(), network_.end(), plug), network_.end());
    } else {
      plug->board.reset();
      local_.erase(plug->key);
      if (std::optional<Stamp> stamp = StampOf(plug->key)) detached_[plug->key] = *stamp;
    }
    s.Log("board '" + platform::Cut(plug->name) + "' unplugged (" + why + ")");
  }

  void AddNetwork(Session& s, std::shared_ptr<Remote> remote, const wire::Info& info) {
    auto plug = NewPlug(remote->Where(), info.name, info.path);
    plug->remote = std::move(remote);
    plug->firmware = info.firmware;
    network_.push_back(plug);
    s.Log("connected to board server " + plug->key + ": board '" + platform::Cut(info.name) + "'");
  }

  void Replug() { detached_.clear(); }

  void Reset(Session& s) {
    for (auto& plug : list_) plug->gone = true;
    for (auto& [path, plug] : local_) plug->gone = true;
    for (auto& plug : network_) {
      plug->gone = true;
      plug->remote->Shutdown();
    }
    list_.clear();
    local_.clear();
    network_.clear();
    detached_.clear();
    badDir_.clear();
    std::vector<std::string> lines;
    ApplyEnvironment(false, lines);
    s.Log(lines);
  }

  // Records a packet that went through: trace line, and the countdown of QuillbusUnplugAfter.
  void Passed(Session& s, const std::shared_ptr<Plug>& plug, int index, char direction, const uint8_t* bytes,
              size_t count) {
    Trace(index, direction, bytes, count);
    if (plug->unplugAfter > 0 && --plug->unplugAfter == 0) Detach(s, plug, "vanished mid-transfer");
  }

 private:
  std::mutex logMutex_;
  std::deque<std::string> recent_;
  std::atomic<QuillbusLogCallback> callback_{nullptr};

  std::optional<std::string> dirOverride_;
  std::string badDir_;
  FILE* trace_ = nullptr;
  int latencyUs_ = 0;
  std::atomic<int> latencyAtomic_{0};

  std::vector<std::shared_ptr<Plug>> list_;
  std::map<std::string, std::shared_ptr<Plug>> local_;
  std::vector<std::shared_ptr<Plug>> network_;
  std::map<std::string, Stamp> detached_;
  uint64_t serials_ = 0;
};

Session::Session(Library& library) : library_(library), lock_(library.mutex) {}

Session::~Session() {
  lock_.unlock();
  library_.Deliver(lines_);
}

Library& Lib() {
  // Destroyed when the library is unloaded (the last link freed it) or at
  // exit; the links stop their threads before either.
  static Library library;
  return library;
}

void Pause() {
  if (int us = Lib().LatencyUs(); us > 0) std::this_thread::sleep_for(std::chrono::microseconds(us));
}

bool CopyUtf16(const std::u16string& text, void* buffer, unsigned long bufferBytes) {
  const size_t bytes = (text.size() + 1) * sizeof(char16_t);
  if (!buffer || bufferBytes < bytes) return false;
  std::memcpy(buffer, text.c_str(), bytes);
  return true;
}

// Runs `f` on the local board of `index`, or returns -1.
template <typename F>
int WithBoard(int index, F f) {
  Session s(Lib());
  auto plug = Lib().At(index);
  if (!plug || !plug->board) return -1;
  return f(*plug->board);
}

template <typename F>
int WithPlug(int index, F f) {
  Session s(Lib());
  auto plug = Lib().At(index);
  if (!plug) return -1;
  f(*plug);
  return 0;
}

bool ValidAddress(int address) { return address >= 0 && address <= 0xFF; }

}  // namespace

extern "C" {

int OrvaneUsbHidRefresh(uint16_t vendorId, uint16_t productId) {
  Session s(Lib());
  Lib().Rescan(s);
  return vendorId == kQuillbusVendorId && productId == kQuillbusProductId ? Lib().Count() : 0;
}

void* OrvaneUsbHidGetDevHandle(int index) {
  Session s(Lib());
  auto plug = Lib().At(index);
  return plug ? plug->handle : nullptr;
}

bool OrvaneUsbHidWrite(int index, uint8_t* packet, uint16_t length) {
  if (!packet || length < 4) return false;
  const size_t size = packet[0];
  if (size < 4 || size > kMaxPacket || size > length) return false;
  const std::vector<uint8_t> command(packet, packet + size);
  Pause();

  std::shared_ptr<Plug> plug;
  std::shared_ptr<Remote> remote;
  {
    Session s(Lib());
    plug = Lib().At(index);
    if (!plug) return false;
    if (plug->failWrites > 0) {
      --plug->failWrites;
      return false;
    }
    plug->hasReply = false;  // a new command drops an unread reply
    bool refuse = false;
    if (plug->failStatus > 0) {
      if (plug->statusSkip > 0) --plug->statusSkip;
      else refuse = true;
    }
    if (refuse || !plug->Network()) {
      plug->reply.assign(size, 0);
      if (refuse) {
        --plug->failStatus;
        Board::Refuse(command.data(), plug->reply.data(), kStatusInjected);
      } else {
        plug->board->Handle(command.data(), plug->reply.data());
      }
      plug->hasReply = true;
      Lib().Passed(s, plug, index, '>', command.data(), size);
      return true;
    }
    remote = plug->remote;
  }

  // A network board: the round trip runs without the library mutex.
  uint8_t status = 0;
  std::vector<uint8_t> reply;
  const bool ok = remote->Call(wire::kExchange, command, status, reply) && status == wire::kOk &&
                  reply.size() == size;
  Session s(Lib());
  if (plug->gone) return false;
  if (!ok) {
    Lib().Detach(s, plug, "connection to " + remote->Where() + " lost");
    return false;
  }
  plug->reply = std::move(reply);
  plug->hasReply = true;
  Lib().Passed(s, plug, index, '>', command.data(), size);
  return true;
}

bool OrvaneUsbHidRead(int index, uint8_t* buffer, uint16_t length) {
  if (!buffer) return false;
  Pause();
  Session s(Lib());
  auto plug = Lib().At(index);
  if (!plug) return false;
  if (plug->failReads > 0) {
    --plug->failReads;
    plug->hasReply = false;  // the reply is lost on the way
    return false;
  }
  if (!plug->hasReply || plug->reply.size() != length) return false;
  std::memcpy(buffer, plug->reply.data(), length);
  plug->hasReply = false;
  Lib().Passed(s, plug, index, '<', buffer, length);
  return true;
}

bool OrvaneUsbHidGetDevicePathName(int index, void* buffer, unsigned long bufferBytes) {
  Session s(Lib());
  auto plug = Lib().At(index);
  return plug && CopyUtf16(plug->path, buffer, bufferBytes);
}

bool OrvaneUsbHidGetDevInfo(int index, uint16_t* vendorId, uint16_t* productId, uint16_t* version) {
  Session s(Lib());
  auto plug = Lib().At(index);
  if (!plug) return false;
  if (vendorId) *vendorId = kQuillbusVendorId;
  if (productId) *productId = kQuillbusProductId;
  if (version) *version = plug->Firmware();
  return true;
}

bool OrvaneUsbHidGetCurSamplingRate(int index, uint8_t interfaceNumber, uint32_t* rate) {
  if (!rate || interfaceNumber != kStreamingInterface) return false;
  std::shared_ptr<Plug> plug;
  {
    Session s(Lib());
    plug = Lib().At(index);
    if (!plug) return false;
    if (plug->board) {
      *rate = plug->board->Rate();
      return true;
    }
  }
  uint8_t status = 0;
  std::vector<uint8_t> reply;
  const bool ok = plug->remote->Call(wire::kRate, {}, status, reply) && status == wire::kOk && reply.size() == 4;
  Session s(Lib());
  if (plug->gone) return false;
  if (!ok) {
    Lib().Detach(s, plug, "connection to " + plug->remote->Where() + " lost");
    return false;
  }
  *rate = wire::GetU32(reply.data());
  return true;
}

bool OrvaneUsbHidProgramEeprom(int index, char* path, uint8_t interfaceNumber, uint8_t eepromAddress,
                               uint8_t flags) {
  (void)flags;
  std::vector<uint8_t> image;
  std::string problem;
  const std::string file = path ? path : "";
  if (file.empty()) {
    problem = "no firmware file given";
  } else if (std::string bytes, error; !platform::ReadFile(file, bytes, error)) {
    problem = "cannot open firmware file " + platform::Quote(file) + ": " + error;
  } else {
    image.assign(bytes.begin(), bytes.end());
    if (image.empty())
      problem = "firmware file " + platform::Quote(file) + " is empty";
    else if (image.size() > kEepromSize - kImageStart)  // also keeps it within one server frame
      problem = "firmware file " + platform::Quote(file) + " exceeds the application area of " +
                std::to_string(kEepromSize - kImageStart) + " bytes";
  }

  std::shared_ptr<Plug> plug;
  {
    Session s(Lib());
    plug = Lib().At(index);
    if (!plug) return false;
    const std::string who = "board '" + platform::Cut(plug->name) + "': ";
    if (problem.empty() && (interfaceNumber != kStreamingInterface || eepromAddress != kEepromAddress))
      problem = "firmware goes through interface 18 to the EEPROM at 0xA0";
    if (!problem.empty()) {
      s.Log(who + "programming failed: " + problem);
      return false;
    }
    if (plug->board) {
      std::string message;
      bool ok = plug->board->Program(image, message);
      s.Log(who + (ok ? "firmware programmed from " + file + ": " : "programming failed: ") + message);
      return ok;
    }
  }
  uint8_t status = 0;
  std::vector<uint8_t> reply;
  const bool sent = plug->remote->Call(wire::kProgram, image, status, reply);
  Session s(Lib());
  if (plug->gone) return false;
  const std::string who = "board '" + platform::Cut(plug->name) + "': ";
  if (!sent) {
    Lib().Detach(s, plug, "connection to " + plug->remote->Where() + " lost");
    return false;
  }
  if (status != wire::kOk || reply.size() < 2) {
    s.Log(who + "programming failed: " + std::string(reply.begin(), reply.end()));
    return false;
  }
  plug->firmware = wire::GetU16(reply.data());
  s.Log(who + "firmware programmed from " + file + ": " + std::string(reply.begin() + 2, reply.end()));
  return true;
}

void OrvaneSetLogCB(QuillbusLogCallback callback) { Lib().SetCallback(callback); }

int OrvaneTCPConnect(char* server, int port) {
  const std::string where = std::string(server ? server : "(none)") + ":" + std::to_string(port);
  std::string error;
  std::shared_ptr<Remote> remote;
  wire::Info info;
  if (!server || !*server || port <= 0 || port > 65535) {
    error = "bad server or port";
  } else if (remote = Remote::Connect(server, port, error); remote) {
    uint8_t status = 0;
    std::vector<uint8_t> reply;
    if (!remote->Call(wire::kInfo, {}, status, reply) || status != wire::kOk || !wire::DecodeInfo(reply, info)) {
      error = "no board information from the server";
      remote.reset();
    }
  }
  Session s(Lib());
  if (!remote) {
    s.Log("cannot connect to board server " + where + ": " + error);
    return 0;
  }
  Lib().AddNetwork(s, std::move(remote), info);
  return 1;
}

char* OrvaneGetCodecLog() { return Lib().RecentLog(); }

uint16_t OrvaneUsbHidGetOutRptLen(int index) {
  Session s(Lib());
  return Lib().At(index) ? kMaxPacket : 0;
}

uint16_t OrvaneUsbHidGetInRptLen(int index) {
  Session s(Lib());
  return Lib().At(index) ? kMaxPacket : 0;
}

// Interrupt-in polling: hands over a waiting reply, like a read that never waits.
bool OrvaneUsbHidPolling(int index, uint8_t* buffer, uint16_t length) {
  return OrvaneUsbHidRead(index, buffer, length);
}

// The IO endpoint carries the same command packets.
bool OrvaneUsbHidWriteIOEP(int index, uint8_t* buffer, uint16_t length) {
  return OrvaneUsbHidWrite(index, buffer, length);
}

bool OrvaneUsbHidGetManufactureString(int index, void* buffer, unsigned long bufferBytes) {
  Session s(Lib());
  return Lib().At(index) && CopyUtf16(u"Palisar Quillbus", buffer, bufferBytes);
}

bool OrvaneUsbHidGetProductString(int index, void* buffer, unsigned long bufferBytes) {
  Session s(Lib());
  auto plug = Lib().At(index);
  return plug && CopyUtf16(ToUtf16(plug->name), buffer, bufferBytes);
}

// ---- control interface ----

void QuillbusSetBoardsDir(const char* dir) {
  Session s(Lib());
  Lib().SetBoardsDir(dir);
}

void QuillbusReset() {
  Session s(Lib());
  Lib().Reset(s);
}

int QuillbusBoardCount() {
  Session s(Lib());
  return Lib().Count();
}

void QuillbusRescan() {
  Session s(Lib());
  Lib().Rescan(s);
}

int QuillbusUnplug(int index) {
  Session s(Lib());
  auto plug = Lib().At(index);
  if (!plug) return -1;
  Lib().Detach(s, plug, "by request");
  return 0;
}

void QuillbusReplug() {
  Session s(Lib());
  Lib().Replug();
}

int QuillbusGetRegister(int index, int i2cAddress, int book, int page, int reg) {
  if (!ValidAddress(i2cAddress) || book < 0 || book > 255 || page < 0 || page > 255 || reg < 0 || reg > 127)
    return -1;
  return WithBoard(index, [&](Board& b) {
    Codec* codec = b.CodecAt(static_cast<uint8_t>(i2cAddress));
    return codec ? codec->Get(static_cast<uint8_t>(book), static_cast<uint8_t>(page), static_cast<uint8_t>(reg))
                 : -1;
  });
}

int QuillbusSetRegister(int index, int i2cAddress, int book, int page, int reg, int value) {
  if (!ValidAddress(i2cAddress) || book < 0 || book > 255 || page < 0 || page > 255 || reg < 0 || reg > 127 ||
      value < 0 || value > 255)
    return -1;
  return WithBoard(index, [&](Board& b) {
    Codec* codec = b.CodecAt(static_cast<uint8_t>(i2cAddress));
    if (!codec) return -1;
    codec->Set(static_cast<uint8_t>(book), static_cast<uint8_t>(page), static_cast<uint8_t>(reg),
               static_cast<uint8_t>(value));
    return 0;
  });
}

int QuillbusGetSelectedPage(int index, int i2cAddress) {
  if (!ValidAddress(i2cAddress)) return -1;
  return WithBoard(index, [&](Board& b) {
    Codec* codec = b.CodecAt(static_cast<uint8_t>(i2cAddress));
    return codec ? codec->Page() : -1;
  });
}

int QuillbusGetSelectedBook(int index, int i2cAddress) {
  if (!ValidAddress(i2cAddress)) return -1;
  return WithBoard(index, [&](Board& b) {
    Codec* codec = b.CodecAt(static_cast<uint8_t>(i2cAddress));
    return codec ? codec->Book() : -1;
  });
}

int QuillbusSetDevicePresent(int index, int i2cAddress, int present) {
  if (!ValidAddress(i2cAddress)) return -1;
  return WithBoard(index, [&](Board& b) {
    b.SetPresent(static_cast<uint8_t>(i2cAddress), present != 0);
    return 0;
  });
}

int QuillbusReadEeprom(int index, int address, uint8_t* buffer, int count) {
  if (!buffer || address < 0 || count < 0 || address >= static_cast<int>(kEepromSize)) return -1;
  return WithBoard(index, [&](Board& b) {
    size_t n = std::min(static_cast<size_t>(count), kEepromSize - static_cast<size_t>(address));
    b.ReadEeprom(static_cast<size_t>(address), buffer, n);
    return static_cast<int>(n);
  });
}

int QuillbusWriteEeprom(int index, int address, const uint8_t* buffer, int count) {
  if (!buffer || address < 0 || count < 0 || address >= static_cast<int>(kEepromSize)) return -1;
  return WithBoard(index, [&](Board& b) {
    size_t n = std::min(static_cast<size_t>(count), kEepromSize - static_cast<size_t>(address));
    b.WriteEeprom(static_cast<size_t>(address), buffer, n);
    return static_cast<int>(n);
  });
}

int QuillbusGetControllerByte(int index, int address) {
  if (address < 0 || address > 0xFFFF) return -1;
  return WithBoard(index, [&](Board& b) { return static_cast<int>(b.ControllerByte(static_cast<uint16_t>(address))); });
}

int QuillbusGetBoardByte(int index) {
  return WithBoard(index, [](Board& b) { return static_cast<int>(b.BoardByte()); });
}

int QuillbusGetAppIdCount(int index) {
  return WithBoard(index, [](Board& b) { return b.AppIdCount(); });
}

int QuillbusGetFirmwareVersion(int index) {
  Session s(Lib());
  auto plug = Lib().At(index);
  return plug ? plug->Firmware() : -1;
}

int QuillbusSetSamplingRate(int index, int rate) {
  if (rate <= 0) return -1;
  return WithBoard(index, [&](Board& b) {
    b.SetRate(static_cast<uint32_t>(rate));
    return 0;
  });
}

int QuillbusFailWrites(int index, int count) {
  return WithPlug(index, [&](Plug& p) { p.failWrites = std::max(0, count); });
}

int QuillbusFailReads(int index, int count) {
  return WithPlug(index, [&](Plug& p) { p.failReads = std::max(0, count); });
}

int QuillbusFailStatus(int index, int count) { return QuillbusFailStatusAfter(index, 0, count); }

int QuillbusFailStatusAfter(int index, int skip, int count) {
  return WithPlug(index, [&](Plug& p) {
    p.failStatus = std::max(0, count);
    p.statusSkip = std::max(0, skip);
  });
}

int QuillbusUnplugAfter(int index, int exchanges) {
  Session s(Lib());
  auto plug = Lib().At(index);
  if (!plug) return -1;
  if (exchanges <= 0)
    Lib().Detach(s, plug, "vanished mid-transfer");
  else
    plug->unplugAfter = exchanges;
  return 0;
}

void QuillbusSetLatency(int microseconds) {
  Session s(Lib());
  Lib().SetLatency(microseconds);
}

void QuillbusSetTrace(const char* path) {
  Session s(Lib());
  std::vector<std::string> lines;
  if (path && *path)
    Lib().OpenTrace(path, "w", lines);
  else
    Lib().CloseTrace();
  s.Log(lines);
}

}  // extern "C"
