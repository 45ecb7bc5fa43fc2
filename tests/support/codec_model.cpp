#include "tests/support/codec_model.h"

#include <cstdio>
#include <sstream>

namespace testsupport {

std::string ToString(const CodecWrite& w) {
  char text[64];
  std::snprintf(text, sizeof text, "%02X b%d p%d r%02X = %02X", w.device, w.book, w.page, w.reg, w.value);
  return text;
}

void CodecModel::Start(int device, int book, int page) { places_[device] = Place{book, page}; }

void CodecModel::UseSpi(int device, int convention) {
  spiDevice_ = device;
  spiConvention_ = convention;
}

namespace {
std::vector<uint8_t> Bytes(const std::string& hex) {
  std::vector<uint8_t> out;
  std::istringstream in(hex);
  unsigned v;
  while (in >> std::hex >> v) out.push_back(uint8_t(v));
  return out;
}
}  // namespace

void CodecModel::Replay(const std::vector<std::string>& traceLines, int board) {
  const std::string command = std::to_string(board) + " > ", reply = std::to_string(board) + " < ";
  for (const std::string& line : traceLines) {
    if (line.rfind(command, 0) == 0) {
      pending_ = Bytes(line.substr(command.size()));
    } else if (line.rfind(reply, 0) == 0) {
      const std::vector<uint8_t> answer = Bytes(line.substr(reply.size()));
      // A refused command changed nothing.
      if (!pending_.empty() && answer.size() > 3 && answer[3] == 0) Apply(pending_);
      pending_.clear();
    }
  }
}

void CodecModel::Apply(const std::vector<uint8_t>& c) {
  if (c.size() < 8) return;
  const int cls = c[2], op = c[5];
  if (cls == 0x05 && op == 0x00 && c[6] == 1) {
    selected_ = c[7];
  } else if (cls == 0x05 && op == 0x02 && selected_ >= 0 && selected_ != 0xA0) {
    Write(selected_, c[7], c.data() + 8, int(c.size()) - 8);
  } else if (cls == 0x06 && op == 0x00 && spiDevice_ >= 0) {
    const int reg = spiConvention_ == 0 ? c[7] >> 1 : c[7] & 0x7F;
    Write(spiDevice_, reg, c.data() + 8, int(c.size()) - 8);
  }
}

void CodecModel::Write(int device, int reg, const uint8_t* data, int count) {
  Place& at = places_[device];
  for (int i = 0; i < count && reg + i < 128; ++i) {
    const int r = reg + i;
    writes_.push_back({device, at.book, at.page, r, data[i]});
    // As the codec does: a select applies to the bytes after it.
    if (r == 0) at.page = data[i];
    else if (r == 127 && at.page == 0) at.book = data[i];
  }
}

std::vector<CodecWrite> CodecModel::DataWrites() const {
  std::vector<CodecWrite> out;
  for (const CodecWrite& w : writes_)
    if (w.reg != 0 && !(w.reg == 127 && w.page == 0)) out.push_back(w);
  return out;
}

int CodecModel::Page(int device) const {
  auto found = places_.find(device);
  return found == places_.end() ? 0 : found->second.page;
}

int CodecModel::Book(int device) const {
  auto found = places_.find(device);
  return found == places_.end() ? 0 : found->second.book;
}

}  // namespace testsupport
