// Whole-file reading for every reader of outside input (board list, diagram
// pages, register maps and lists, scripts, coefficient files, pictures,
// firmware and EEPROM images). Only a regular file is read, and only up to
// a limit, so a page naming /dev/zero, a FIFO or a huge file cannot hang the
// program or exhaust its memory.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// The default limit: far beyond any real page, map, script or image.
constexpr size_t kMaxFileSize = size_t(64) << 20;

// Reads the whole file at `path` into `contents`. False when the file is
// missing, unreadable, not a regular file or larger than `limit` bytes;
// `error` then says why, without the path ("No such file or directory",
// "not a regular file", "larger than 64 MB"), for the caller's message.
bool ReadFile(const std::string& path, std::string& contents, std::string& error, size_t limit = kMaxFileSize);

// Reads at most `limit` bytes from the start of a regular file or a
// character device (an image may be given as /dev/zero); `cut` tells that
// there was more. Directories, FIFOs and sockets are refused as above.
bool ReadFileHead(const std::string& path, size_t limit, std::string& contents, bool& cut, std::string& error);

}  // namespace platform
