// The `RegisterListText` format: a plain register list, one entry after
// another, each "page register default mask name" (page and register
// decimal, default and mask hexadecimal with or without "0x", the name one
// word), separated by any whitespace. The board window seeds its register
// image with the defaults and gives the inspector the names and writable masks.
#pragma once

#include <string>
#include <vector>

struct RegisterListEntry {
  int page = 0;
  int reg = 0;
  unsigned defaultValue = 0;
  unsigned mask = 0;
  std::string name;
};

struct RegisterListText {
  static constexpr size_t kMaxName = 255;

  // Reads every entry of `fileName`. An entry out of range (page 0..255,
  // register 0..127) is skipped with a warning, a name longer than 255
  // characters is cut with one; an entry that does not match the pattern
  // ends the reading with an error (the entries before it are kept).
  // False when the file cannot be read or an entry did not match.
  static bool Read(const std::string& fileName, std::vector<RegisterListEntry>& entries, std::string& error,
                   std::vector<std::string>& warnings);
  static bool Parse(const std::string& text, const std::string& source, std::vector<RegisterListEntry>& entries,
                    std::string& error, std::vector<std::string>& warnings);
};
