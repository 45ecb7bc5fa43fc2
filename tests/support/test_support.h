// Small helpers shared by the test suites: temporary directories, files,
// trace reading and log capture.
#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/log.h"

namespace testsupport {

// A fresh directory under $TMPDIR, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void WriteFile(const std::string& path, const std::string& text);
std::string ReadFile(const std::string& path);
std::vector<std::string> ReadLines(const std::string& path);

// Collects the diagnostic log while it lives.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  std::vector<std::string> Lines();
  bool Contains(const std::string& line);
  void Clear();

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
  // Given back at the end, so that a test after this one in the same
  // process still logs where it expects to (a host test's log window).
  platform::LogSink previous_;
};

// Polls `done` until it holds or `timeout` passes; returns its last value.
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(5));

}  // namespace testsupport
