// Quoting outside text in messages and log lines: a value from a file or a
// board can be megabytes long, so every message shows at most the first 80
// characters of it, then "…".
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

constexpr size_t kMaxQuotedChars = 80;

// The first `limit` characters of `text` (UTF-8 sequences are never split),
// followed by "…" when anything was cut.
std::string Cut(std::string_view text, size_t limit = kMaxQuotedChars);
// Cut(text) between double quotes.
std::string Quote(std::string_view text, size_t limit = kMaxQuotedChars);

// Where byte `offset` of `text` lies, as a reader finds it: "line L, column
// C", both counted from 1, the column in characters.
std::string LineAndColumn(std::string_view text, size_t offset);

}  // namespace platform
