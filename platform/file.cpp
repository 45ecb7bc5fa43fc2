#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace platform {
namespace {

std::string SizeText(size_t bytes) {
  if (bytes >= (size_t(1) << 20) && bytes % (size_t(1) << 20) == 0) return std::to_string(bytes >> 20) + " MB";
  return std::to_string(bytes) + " bytes";
}

// Reads up to `limit` bytes and one more, which tells a longer file. The
// size from fstat is a hint only: a file may grow while it is read.
bool Read(const std::string& path, size_t limit, bool devices, std::string& contents, bool& longer,
          std::string& error) {
  contents.clear();
  error.clear();
  longer = false;
  // Non-blocking, so that opening a FIFO without a writer returns at once;
  // it is refused below as not a regular file.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    error = std::strerror(errno);
    return false;
  }
  struct stat info {};
  bool ok = false;
  if (::fstat(fd, &info) != 0) {
    error = std::strerror(errno);
  } else if (S_ISDIR(info.st_mode)) {
    error = "a directory, not a file";
  } else if (!S_ISREG(info.st_mode) && !(devices && S_ISCHR(info.st_mode))) {
    error = "not a regular file";
  } else if (S_ISREG(info.st_mode) && !devices && uint64_t(info.st_size) > limit) {
    longer = true;
  } else {
    if (S_ISREG(info.st_mode)) contents.reserve(size_t(std::min<uint64_t>(uint64_t(info.st_size), limit)));
    char chunk[65536];
    ok = true;
    while (!longer) {
      const ssize_t n = ::read(fd, chunk, sizeof chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        error = std::strerror(errno);
        ok = false;
        break;
      }
      if (n == 0) break;
      const size_t room = limit - contents.size();
      contents.append(chunk, std::min(size_t(n), room));
      longer = size_t(n) > room;
    }
  }
  ::close(fd);
  return ok || longer;
}

}  // namespace

bool ReadFile(const std::string& path, std::string& contents, std::string& error, size_t limit) {
  bool longer = false;
  if (Read(path, limit, false, contents, longer, error) && !longer) return true;
  if (longer) error = "larger than " + SizeText(limit);
  contents.clear();
  contents.shrink_to_fit();
  return false;
}

bool ReadFileHead(const std::string& path, size_t limit, std::string& contents, bool& cut, std::string& error) {
  if (Read(path, limit, true, contents, cut, error)) return true;
  contents.clear();
  return false;
}

}  // namespace platform
