#include "platform/log.h"

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>

namespace platform {
namespace {

std::mutex& SinkMutex() {
  static std::mutex m;
  return m;
}

std::shared_ptr<LogSink>& Sink() {
  static std::shared_ptr<LogSink> sink;
  return sink;
}

}  // namespace

LogSink SetLogSink(LogSink sink) {
  std::lock_guard<std::mutex> lock(SinkMutex());
  LogSink previous = Sink() ? *Sink() : LogSink{};
  Sink() = sink ? std::make_shared<LogSink>(std::move(sink)) : nullptr;
  return previous;
}

void LogLine(const std::string& line) {
  std::shared_ptr<LogSink> sink;
  {
    std::lock_guard<std::mutex> lock(SinkMutex());
    sink = Sink();
  }
  // Called outside the mutex: a sink may log again or take its own locks.
  if (sink) (*sink)(line);
  else WriteStderrLine(line);
}

void WriteStderrLine(const std::string& line) {
  const std::string text = line + '\n';
  std::fwrite(text.data(), 1, text.size(), stderr);
}

void LogF(const char* format, ...) {
  char buffer[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  LogLine(buffer);
}

}  // namespace platform
