// The board server protocol: frames of a head byte, a 16-bit little-endian
// payload length and the payload. A request's head is the operation, a
// response's head is its status.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quillbus::wire {

enum Op : uint8_t {
  kInfo = 0x01,      // -> firmware u16, rate u32, name (u8 length + bytes), path (u16 length + bytes)
  kExchange = 0x02,  // command packet -> reply packet
  kProgram = 0x03,   // firmware file bytes -> firmware u16 + message (or message on failure)
  kRate = 0x04,      // -> rate u32
};

constexpr uint8_t kOk = 0x00;
constexpr uint8_t kFailed = 0x01;      // the operation ran and failed (message in the payload)
constexpr uint8_t kBadRequest = 0x02;  // unknown operation or malformed payload

// How long one send or receive may stall before the peer is given up.
constexpr int kTimeoutMs = 2000;

struct Info {
  uint16_t firmware = 0;
  uint32_t rate = 0;
  std::string name;
  std::string path;  // UTF-8 device path
};

std::vector<uint8_t> EncodeInfo(const Info& info);
bool DecodeInfo(const std::vector<uint8_t>& payload, Info& info);

void PutU16(std::vector<uint8_t>& out, uint16_t value);
void PutU32(std::vector<uint8_t>& out, uint32_t value);
uint16_t GetU16(const uint8_t* p);
uint32_t GetU32(const uint8_t* p);

// Sends one frame; false on any failure (never raises SIGPIPE).
bool SendFrame(int fd, uint8_t head, const uint8_t* payload, size_t size);
// Receives one frame; false on end of stream, timeout or error.
bool ReceiveFrame(int fd, uint8_t& head, std::vector<uint8_t>& payload);
// Applies kTimeoutMs to both directions of a connected socket.
void SetTimeouts(int fd);

}  // namespace quillbus::wire
