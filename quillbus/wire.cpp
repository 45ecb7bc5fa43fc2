#include "quillbus/wire.h"

#include <sys/socket.h>
#include <sys/time.h>

#include <cerrno>

namespace quillbus::wire {

void PutU16(std::vector<uint8_t>& out, uint16_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

void PutU32(std::vector<uint8_t>& out, uint32_t value) {
  PutU16(out, static_cast<uint16_t>(value));
  PutU16(out, static_cast<uint16_t>(value >> 16));
}

uint16_t GetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

uint32_t GetU32(const uint8_t* p) { return GetU16(p) | static_cast<uint32_t>(GetU16(p + 2)) << 16; }

std::vector<uint8_t> EncodeInfo(const Info& info) {
  std::vector<uint8_t> out;
  PutU16(out, info.firmware);
  PutU32(out, info.rate);
  const std::string name = info.name.substr(0, 255);
  out.push_back(static_cast<uint8_t>(name.size()));
  out.insert(out.end(), name.begin(), name.end());
  const std::string path = info.path.substr(0, 4096);
  PutU16(out, static_cast<uint16_t>(path.size()));
  out.insert(out.end(), path.begin(), path.end());
  return out;
}

bool DecodeInfo(const std::vector<uint8_t>& payload, Info& info) {
  size_t at = 0;
  auto have = [&](size_t n) { return payload.size() - at >= n; };
  if (!have(7)) return false;
  info.firmware = GetU16(&payload[0]);
  info.rate = GetU32(&payload[2]);
  at = 6;
  size_t nameSize = payload[at++];
  if (!have(nameSize)) return false;
  info.name.assign(payload.begin() + at, payload.begin() + at + nameSize);
  at += nameSize;
  if (!have(2)) return false;
  size_t pathSize = GetU16(&payload[at]);
  at += 2;
  if (!have(pathSize)) return false;
  info.path.assign(payload.begin() + at, payload.begin() + at + pathSize);
  return at + pathSize == payload.size();
}

namespace {

bool SendAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool ReceiveAll(int fd, uint8_t* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::recv(fd, data, size, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

bool SendFrame(int fd, uint8_t head, const uint8_t* payload, size_t size) {
  if (size > 0xFFFF) return false;
  std::vector<uint8_t> frame{head};
  PutU16(frame, static_cast<uint16_t>(size));
  if (size) frame.insert(frame.end(), payload, payload + size);
  return SendAll(fd, frame.data(), frame.size());
}

bool ReceiveFrame(int fd, uint8_t& head, std::vector<uint8_t>& payload) {
  uint8_t header[3];
  if (!ReceiveAll(fd, header, sizeof header)) return false;
  head = header[0];
  payload.resize(GetU16(header + 1));
  return payload.empty() || ReceiveAll(fd, payload.data(), payload.size());
}

void SetTimeouts(int fd) {
  timeval tv{kTimeoutMs / 1000, (kTimeoutMs % 1000) * 1000};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

}  // namespace quillbus::wire
