#include "quillbus/board_file.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include <unistd.h>

#include "platform/file.h"
#include "platform/text.h"

namespace quillbus {
namespace {

std::string Trim(const std::string& s) {
  size_t begin = s.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return {};
  size_t end = s.find_last_not_of(" \t\r\n");
  return s.substr(begin, end - begin + 1);
}

std::string Hex(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%02X", value);
  return text;
}

// An I2C codec address in write form: even, one byte, and not the EEPROM's.
bool ParseCodecAddress(const std::string& text, uint8_t& address) {
  uint64_t value;
  if (!ParseNumber(text, 0xFE, value) || (value & 1) || value == 0xA0) return false;
  address = static_cast<uint8_t>(value);
  return true;
}

std::string Directory(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

bool ParseNumber(const std::string& text, uint64_t max, uint64_t& value) {
  // Decimal unless prefixed: a leading zero must not turn a rate into octal.
  int base = 10;
  std::string digits = text;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    base = 16;
    digits = digits.substr(2);
  }
  if (digits.empty() || digits.size() > 16) return false;
  // strtoull would skip blanks and take a sign: "0x 5" or "-1" is no number.
  const unsigned char first = static_cast<unsigned char>(digits[0]);
  if (base == 16 ? !std::isxdigit(first) : !std::isdigit(first)) return false;
  char* end = nullptr;
  errno = 0;
  unsigned long long parsed = std::strtoull(digits.c_str(), &end, base);
  if (errno != 0 || *end != '\0' || digits[0] == '-' || digits[0] == '+') return false;
  if (parsed > max) return false;
  value = parsed;
  return true;
}

std::string FileName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string AbsolutePath(const std::string& path) {
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved)) return resolved;
  if (!path.empty() && path[0] == '/') return path;
  char cwd[PATH_MAX];
  if (!::getcwd(cwd, sizeof cwd)) return path;
  return std::string(cwd) + "/" + path;
}

BoardConfig ParseBoardText(const std::string& text, const std::string& path,
                           std::vector<std::string>& log) {
  BoardConfig config;
  config.file = path;
  const std::string file = FileName(path);
  config.name = file;
  if (config.name.size() > 6 && config.name.ends_with(".board"))
    config.name.resize(config.name.size() - 6);

  bool spiGiven = false;
  std::istringstream lines(text);
  std::string line;
  int number = 0;
  while (std::getline(lines, line)) {
    ++number;
    const std::string where = file + ":" + std::to_string(number) + ": ";
    if (size_t hash = line.find('#'); hash != std::string::npos) line.resize(hash);
    line = Trim(line);
    if (line.empty()) continue;
    size_t equals = line.find('=');
    if (equals == std::string::npos) {
      log.push_back(where + "line without '=' ignored");
      continue;
    }
    const std::string key = Trim(line.substr(0, equals));
    const std::string value = Trim(line.substr(equals + 1));
    uint64_t n;
    if (key == "name") {
      if (value.empty())
        log.push_back(where + "empty name, using '" + platform::Cut(config.name) + "'");
      else
        config.name = value;
    } else if (key == "firmware") {
      if (ParseNumber(value, 0xFFFF, n))
        config.firmware = static_cast<uint16_t>(n);
      else
        log.push_back(where + "bad firmware '" + platform::Cut(value) + "', using " + Hex(config.firmware));
    } else if (key == "rate") {
      if (ParseNumber(value, 1000000, n) && n >= 1000)
        config.rate = static_cast<uint32_t>(n);
      else
        log.push_back(where + "bad rate '" + platform::Cut(value) + "', using " + std::to_string(config.rate));
    } else if (key == "devices") {
      std::vector<uint8_t> devices;
      std::string token;
      std::istringstream tokens(value);
      while (tokens >> token) {
        // Commas are allowed as separators too.
        std::istringstream parts(token);
        std::string part;
        while (std::getline(parts, part, ',')) {
          if (part.empty()) continue;
          uint8_t address;
          if (ParseCodecAddress(part, address))
            devices.push_back(address);
          else
            log.push_back(where + "bad device address '" + platform::Cut(part) + "' ignored");
        }
      }
      if (devices.empty())
        log.push_back(where + "no valid device address, using 0x30");
      else
        config.devices = devices;
    } else if (key == "spi") {
      uint8_t address;
      if (value == "none") {
        config.spiDevice = -1;
        spiGiven = true;
      } else if (ParseCodecAddress(value, address)) {
        config.spiDevice = address;
        spiGiven = true;
      } else {
        log.push_back(where + "bad spi device '" + platform::Cut(value) + "', using 0x30");
      }
    } else if (key == "spi-convention") {
      if (value == "0" || value == "1")
        config.spiConvention = value[0] - '0';
      else
        log.push_back(where + "bad spi-convention '" + platform::Cut(value) + "', using 0");
    } else if (key == "eeprom") {
      if (value.empty())
        log.push_back(where + "empty eeprom image name ignored");
      else
        config.eepromImage = value[0] == '/' ? value : Directory(path) + "/" + value;
    } else {
      log.push_back(where + "unknown key '" + platform::Cut(key) + "' ignored");
    }
  }
  if (config.spiDevice >= 0) {
    bool present = false;
    for (uint8_t d : config.devices) present = present || d == config.spiDevice;
    if (!present && spiGiven)
      log.push_back(file + ": spi device " + Hex(config.spiDevice) +
                    " is not among the devices; SPI register commands will not be answered");
    else if (!present)
      config.spiDevice = config.devices.front();  // the default follows the first codec
  }
  return config;
}

bool LoadBoardFile(const std::string& path, BoardConfig& config, std::vector<std::string>& log) {
  std::string text, problem;
  if (!platform::ReadFile(path, text, problem)) {
    log.push_back("cannot read board file " + platform::Quote(path) + ": " + problem);
    return false;
  }
  config = ParseBoardText(text, AbsolutePath(path), log);
  return true;
}

std::string DevicePath(const std::string& boardFile, bool network) {
  // FNV-1a of the absolute path tells apart equal file names in different directories.
  uint32_t hash = 2166136261u;
  for (unsigned char c : boardFile) hash = (hash ^ c) * 16777619u;
  std::string name;
  for (unsigned char c : FileName(boardFile)) {
    bool reserved = c <= ' ' || c == '#' || c == '\\' || c == '{' || c == '}' || c == 0x7F;
    name += reserved ? '_' : static_cast<char>(c);
  }
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, "-%08x", hash);
  return std::string("\\\\?\\hid#vid_2b1e&pid_0c0d#quillbus-") + (network ? "net-" : "") + name +
         suffix + "#{4d1e55b2-f16f-11cf-88cb-001111000030}";
}

std::u16string ToUtf16(const std::string& utf8) {
  std::u16string out;
  size_t i = 0;
  while (i < utf8.size()) {
    unsigned char c = utf8[i];
    uint32_t cp;
    int extra;
    if (c < 0x80) {
      cp = c;
      extra = 0;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F;
      extra = 1;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F;
      extra = 2;
    } else if ((c & 0xF8) == 0xF0) {
      cp = c & 0x07;
      extra = 3;
    } else {
      out += u'\uFFFD';
      ++i;
      continue;
    }
    if (i + extra >= utf8.size()) {  // truncated sequence at the end
      out += u'\uFFFD';
      break;
    }
    bool good = true;
    for (int k = 1; k <= extra; ++k) {
      unsigned char d = utf8[i + k];
      if ((d & 0xC0) != 0x80) {
        good = false;
        break;
      }
      cp = (cp << 6) | (d & 0x3F);
    }
    if (!good) {
      out += u'\uFFFD';
      ++i;
      continue;
    }
    i += extra + 1;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

}  // namespace quillbus
