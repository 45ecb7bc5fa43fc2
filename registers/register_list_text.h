// The `RegisterListText` format: a plain register list, one entry after
// another, each "page register default mask name" (page and register
// decimal, default and mask hexadecimal with or without "0x", the name one
// word), separated by blanks, tabs or carriage returns. An entry ends at its
// line. The board window seeds its register image with the defaults and
// gives the inspector the names and writable masks.
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

  // Reads every entry of `fileName`. An entry that does not match the
  // pattern, or runs short of its line, is skipped with a warning and the
  // reading goes on at the next line; an entry out of range (page 0..255, register 0..127) is skipped
  // with a warning; a name longer than 255 characters is cut and a default
  // or mask wider than a byte kept (its low byte counts), each with a warning.
  // False only when the file cannot be read.
  static bool Read(const std::string& fileName, std::vector<RegisterListEntry>& entries, std::string& error,
                   std::vector<std::string>& warnings);
  static void Parse(const std::string& text, const std::string& source, std::vector<RegisterListEntry>& entries,
                    std::vector<std::string>& warnings);
};
