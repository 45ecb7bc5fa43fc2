#include "quillbus/board.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/file.h"
#include "platform/text.h"

namespace quillbus {
namespace {

constexpr double kPi = 3.14159265358979323846;

uint16_t FirmwareInImage(const uint8_t* image, size_t size, uint16_t otherwise) {
  if (size >= 6 && std::memcmp(image, "QBFW", 4) == 0)
    return static_cast<uint16_t>(image[4] | (image[5] << 8));
  return otherwise;
}

bool WriteAll(int fd, const uint8_t* data, size_t count, off_t offset) {
  while (count > 0) {
    ssize_t n = ::pwrite(fd, data, count, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    count -= static_cast<size_t>(n);
    offset += n;
  }
  return true;
}

}  // namespace

void Codec::Write(uint8_t reg, uint8_t value) { Set(book_, page_, reg, value); }

uint8_t Codec::Read(uint8_t reg) const { return Get(book_, page_, reg); }

uint8_t Codec::Get(uint8_t book, uint8_t page, uint8_t reg) const {
  if (reg == 0) return page_;
  if (page == 0 && reg == 127) return book_;
  auto it = pages_.find(static_cast<uint16_t>(book << 8 | page));
  return it == pages_.end() ? 0 : it->second[reg & 0x7F];
}

void Codec::Set(uint8_t book, uint8_t page, uint8_t reg, uint8_t value) {
  if (reg == 0) {
    page_ = value;
  } else if (page == 0 && reg == 127) {
    book_ = value;
  } else {
    pages_[static_cast<uint16_t>(book << 8 | page)][reg & 0x7F] = value;
  }
}

Board::Board(BoardConfig config, std::vector<std::string>& log)
    : config_(std::move(config)),
      rate_(config_.rate),
      present_(config_.devices.begin(), config_.devices.end()),
      eeprom_(kEepromSize, 0xFF),
      controller_(0x10000, 0) {
  present_.insert(kEepromAddress);
  const std::string path = config_.file + ".eeprom";
  const std::string file = FileName(config_.file);

  bool rewrite = false;
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd >= 0) {
    size_t got = 0;
    while (got < kEepromSize) {
      ssize_t n = ::pread(fd, eeprom_.data() + got, kEepromSize - got, static_cast<off_t>(got));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    if (got != kEepromSize) {
      log.push_back(file + ": EEPROM file holds " + std::to_string(got) +
                    " bytes, the rest reads as erased");
      rewrite = true;
    }
  } else {
    bool loaded = false;
    if (!config_.eepromImage.empty()) {
      // Only the EEPROM's size is read: an endless image (a device) is cut.
      std::string image, problem;
      bool cut = false;
      if (platform::ReadFileHead(config_.eepromImage, kEepromSize, image, cut, problem)) {
        if (cut) log.push_back(file + ": EEPROM image " + platform::Quote(config_.eepromImage) + " cut to 65536 bytes");
        std::copy(image.begin(), image.end(), eeprom_.begin());
        loaded = true;
      } else {
        log.push_back(file + ": cannot read EEPROM image " + platform::Quote(config_.eepromImage) + " (" + problem +
                      "), starting fresh");
      }
    }
    if (!loaded) {
      // A fresh EEPROM carries only the ID block with the board name.
      std::memcpy(&eeprom_[kIdBlock], "FWID", 4);
      std::string name = config_.name.substr(0, kIdBlockSize - 5);
      std::memset(&eeprom_[kIdBlock + 4], 0, kIdBlockSize - 4);
      std::memcpy(&eeprom_[kIdBlock + 4], name.data(), name.size());
    }
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    rewrite = true;
  }
  if (fd < 0) {
    log.push_back(file + ": EEPROM kept in memory only (" + path + ": " + std::strerror(errno) + ")");
  } else if (rewrite && !WriteAll(fd, eeprom_.data(), kEepromSize, 0)) {
    log.push_back(file + ": cannot write " + path + ": " + std::strerror(errno));
  }
  eepromFd_ = fd;
  firmware_ = FirmwareInImage(&eeprom_[kImageStart], kEepromSize - kImageStart, config_.firmware);
}

Board::~Board() {
  if (eepromFd_ >= 0) ::close(eepromFd_);
}

void Board::SetPresent(uint8_t address, bool present) {
  if (present)
    present_.insert(address);
  else
    present_.erase(address);
}

Codec* Board::CodecAt(uint8_t address) {
  if (address == kEepromAddress || !Present(address)) return nullptr;
  return &codecs_[address];
}

void Board::ReadEeprom(size_t address, uint8_t* data, size_t count) const {
  std::memcpy(data, &eeprom_[address], count);
}

void Board::WriteEeprom(size_t address, const uint8_t* data, size_t count) {
  if (count == 0) return;
  std::memcpy(&eeprom_[address], data, count);
  Persist(address, count);
}

void Board::Persist(size_t address, size_t count) {
  if (eepromFd_ >= 0) WriteAll(eepromFd_, &eeprom_[address], count, static_cast<off_t>(address));
}

bool Board::Program(const std::vector<uint8_t>& image, std::string& message) {
  if (image.empty()) {
    message = "empty firmware image";
    return false;
  }
  if (image.size() > kEepromSize - kImageStart) {
    message = "firmware image of " + std::to_string(image.size()) + " bytes exceeds the " +
              std::to_string(kEepromSize - kImageStart) + " bytes of the application area";
    return false;
  }
  WriteEeprom(kImageStart, image.data(), image.size());
  firmware_ = FirmwareInImage(image.data(), image.size(), firmware_);
  char text[96];
  std::snprintf(text, sizeof text, "%zu bytes written, firmware version 0x%04X", image.size(), firmware_);
  message = text;
  return true;
}

void Board::Refuse(const uint8_t* command, uint8_t* reply, uint8_t status) {
  std::memcpy(reply, command, command[0]);
  reply[3] = status;
}

void Board::Handle(const uint8_t* command, uint8_t* reply) {
  const int length = command[0];
  std::memcpy(reply, command, length);
  reply[3] = kStatusOk;
  uint8_t status;
  if (length < 8 || command[4] != length - 4) {
    status = kStatusLength;
  } else if (command[1] == 0xFF && command[2] == 0xFF) {
    ++appIds_;
    status = kStatusOk;
  } else if (command[1] != 0x12) {
    status = kStatusUnknown;
  } else {
    const uint8_t op = command[5];
    switch (command[2]) {
      case 0x02:  // board byte bits
        if (command[6] != 0 || op > 1)
          status = kStatusUnknown;
        else if (length != 8)
          status = kStatusLength;
        else {
          boardByte_ = op == 0 ? (boardByte_ | command[7]) : (boardByte_ & ~command[7]);
          status = kStatusOk;
        }
        break;
      case 0x04:  // controller memory bits
        if (command[6] != 0 || op > 1) {
          status = kStatusUnknown;
        } else if (length != 10) {
          status = kStatusLength;
        } else {
          uint8_t& byte = controller_[command[7] << 8 | command[8]];
          byte = op == 0 ? (byte | command[9]) : (byte & ~command[9]);
          status = kStatusOk;
        }
        break;
      case 0x05:
        status = I2c(command, reply);
        break;
      case 0x06:
        status = Spi(command, reply);
        break;
      default:
        status = kStatusUnknown;
    }
  }
  reply[3] = status;
}

uint8_t Board::Registers(Codec& codec, uint8_t reg, bool write, const uint8_t* command, uint8_t* reply,
                         int n) {
  // Auto-increment within the selected page; a page or book select on the
  // way takes effect for the bytes after it.
  if (!write) Convert(codec, reg, n);
  for (int i = 0; i < n; ++i) {
    const uint8_t r = static_cast<uint8_t>(reg + i);
    if (write)
      codec.Write(r, command[8 + i]);
    else
      reply[8 + i] = codec.Read(r);
  }
  return kStatusOk;
}

uint8_t Board::I2c(const uint8_t* command, uint8_t* reply) {
  const int length = command[0];
  const uint8_t op = command[5];
  if (op == 0x00) {  // select device
    if (command[6] != 1) return kStatusUnknown;
    if (length != 8) return kStatusLength;
    selected_ = command[7];
    return Present(command[7]) ? kStatusOk : kStatusNoDevice;
  }
  if (command[6] != 0) return kStatusUnknown;
  switch (op) {
    case 0x02:
    case 0x03: {
      const int n = length - 8;
      if (selected_ < 0 || !Present(static_cast<uint8_t>(selected_))) return kStatusNoDevice;
      if (selected_ == kEepromAddress) return kStatusWrongDevice;
      if (n > 48 || command[7] + n > 128) return kStatusRange;
      return Registers(*CodecAt(static_cast<uint8_t>(selected_)), command[7], op == 0x02, command, reply, n);
    }
    case 0x04:
    case 0x05: {
      if (length < 10) return kStatusLength;
      const size_t n = static_cast<size_t>(length - 10);
      if (selected_ < 0 || !Present(static_cast<uint8_t>(selected_))) return kStatusNoDevice;
      if (selected_ != kEepromAddress) return kStatusWrongDevice;
      const size_t address = static_cast<size_t>(command[8] << 8 | command[9]);
      if (address + n > kEepromSize) return kStatusRange;
      if (op == 0x04)
        WriteEeprom(address, command + 10, n);
      else
        ReadEeprom(address, reply + 10, n);
      return kStatusOk;
    }
    default:
      return kStatusUnknown;
  }
}

uint8_t Board::Spi(const uint8_t* command, uint8_t* reply) {
  const int n = command[0] - 8;
  const uint8_t op = command[5];
  if (command[6] != 0 || (op != 0x00 && op != 0x01 && op != 0x04)) return kStatusUnknown;
  if (config_.spiDevice < 0) return kStatusNoDevice;
  if (op == 0x04) {
    switch (command[7]) {
      case 0xE0:
        FillStream(reply + 8, n);
        return kStatusOk;
      case 0xD0:
        FillTouch(true, reply + 8, n);
        return kStatusOk;
      case 0x90:
        FillTouch(false, reply + 8, n);
        return kStatusOk;
      default:
        return kStatusUnknown;
    }
  }
  // The direction comes from the operation; the key only carries the register.
  const uint8_t key = command[7];
  const uint8_t reg = config_.spiConvention == 0 ? key >> 1 : key & 0x7F;
  Codec* codec = CodecAt(static_cast<uint8_t>(config_.spiDevice));
  if (!codec) return kStatusNoDevice;
  if (reg + n > 128) return kStatusRange;
  return Registers(*codec, reg, op == 0x00, command, reply, n);
}

void Board::FillStream(uint8_t* data, int n) {
  // 16-bit big-endian samples of a sine with a period of 480 samples.
  for (int i = 0; i + 1 < n; i += 2) {
    double angle = 2 * kPi * (streamPhase_++ % 480) / 480.0;
    auto sample = static_cast<int16_t>(std::lround(12000 * std::sin(angle)));
    data[i] = static_cast<uint8_t>(static_cast<uint16_t>(sample) >> 8);
    data[i + 1] = static_cast<uint8_t>(sample & 0xFF);
  }
  if (n % 2) data[n - 1] = 0;
}

namespace {

void SetCode(Codec& codec, uint8_t page, uint8_t reg, long code) {
  code = std::clamp(code, 0L, 4095L);
  codec.Set(0, page, reg, static_cast<uint8_t>(code >> 8));
  codec.Set(0, page, static_cast<uint8_t>(reg + 1), static_cast<uint8_t>(code & 0xFF));
}

}  // namespace

void Board::Convert(Codec& codec, uint8_t reg, int n) {
  if (codec.Book() != 0) return;
  const auto covers = [&](int first, int last) { return reg <= last && reg + n - 1 >= first; };
  if (codec.Page() == 3 && covers(54, 69)) {
    // Each selected input gets a fresh 12-bit code: slow waves for IN1, IN2
    // and the battery, and two temperature conversions about 300 K apart.
    const uint8_t selection = codec.Get(0, 3, 19);
    const double t = sarTime_++;
    if (selection & 0x80) SetCode(codec, 3, 54, 2048 + std::lround(900 * std::sin(t / 20.0)));
    if (selection & 0x40) SetCode(codec, 3, 56, 1400 + std::lround(500 * std::cos(t / 30.0)));
    if (selection & 0x20) SetCode(codec, 3, 58, 3000 + std::lround(60 * std::sin(t / 50.0)));
    if (selection & 0x10) {
      SetCode(codec, 3, 66, 1200);
      SetCode(codec, 3, 68, 1200 + 372 + std::lround(4 * std::sin(t / 10.0)));
    }
  } else if ((codec.Page() == 103 && covers(38, 38)) || (codec.Page() == 3 && covers(14, 14))) {
    // A status byte alternates between converting (bit 1) and ready; each
    // time it turns ready, its values page holds new 12-bit codes: page 251
    // (after page 103 register 38) and page 252 (after page 3 register 14),
    // at registers 1/2, 9/10, 17/18 and 21/22.
    const bool touchStatus = codec.Page() == 3;
    const uint8_t reg = touchStatus ? 14 : 38;
    const uint32_t n = (touchStatus ? touchStatusTime_ : inTime_)++;
    const bool busy = n % 2 == 0;
    const uint8_t status = codec.Get(0, codec.Page(), reg);
    codec.Set(0, codec.Page(), reg, static_cast<uint8_t>(busy ? status | 0x02 : status & ~0x02));
    if (!busy) {
      const uint8_t values = touchStatus ? 252 : 251;
      const double t = n / 2;
      SetCode(codec, values, 1, 2048 + std::lround(1500 * std::sin(t / 15.0)));
      SetCode(codec, values, 9, 2048 + std::lround(1200 * std::cos(t / 20.0)));
      SetCode(codec, values, 17, 1024 + std::lround(700 * std::cos(t / 25.0)));
      SetCode(codec, values, 21, 3000 + std::lround(500 * std::sin(t / 35.0)));
    }
  }
}

void Board::FillTouch(bool x, uint8_t* data, int n) {
  // A 12-bit position drifting slowly around the middle of the panel.
  for (int i = 0; i + 1 < n; i += 2) {
    double t = touchTime_++;
    double wave = x ? std::sin(t / 40.0) : std::cos(t / 55.0);
    long value = std::clamp(2048L + std::lround(1200 * wave), 0L, 4095L);
    data[i] = static_cast<uint8_t>(value >> 8);
    data[i + 1] = static_cast<uint8_t>(value & 0xFF);
  }
  if (n % 2) data[n - 1] = 0;
}

}  // namespace quillbus
