#include "host/board_id.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr char kTag[] = "FWID";
constexpr size_t kTagSize = 4;

bool HasTag(const BoardIdBytes& block) { return std::memcmp(block.data(), kTag, kTagSize) == 0; }

// A name that fills the block has no terminator: the copy stops at the block's end.
std::string Bounded(const BoardIdBytes& block) {
  const auto* begin = reinterpret_cast<const char*>(block.data()) + kTagSize;
  const auto* end = reinterpret_cast<const char*>(block.data()) + block.size();
  return std::string(begin, std::find(begin, end, '\0'));
}

}  // namespace

std::string BoardNameFromId(const BoardIdBytes& block) {
  BoardIdBytes mapped = block;
  std::replace(mapped.begin(), mapped.end(), uint8_t(' '), uint8_t('_'));
  return HasTag(mapped) ? Bounded(mapped) : std::string();
}

std::string BoardIdText(const BoardIdBytes& block) { return HasTag(block) ? Bounded(block) : std::string(); }

BoardIdBytes MakeBoardIdBlock(const std::string& name) {
  BoardIdBytes block{};
  std::memcpy(block.data(), kTag, kTagSize);
  const size_t length = std::min<size_t>(name.size(), kBoardNameMax);
  std::memcpy(block.data() + kTagSize, name.data(), length);
  return block;
}
