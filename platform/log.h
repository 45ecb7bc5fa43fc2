// The diagnostic log: one line at a time, to a sink the host sets (its log
// window, with a copy on stderr); stderr until then. Safe from any thread: the sink decides how the
// line reaches its window.
#pragma once

#include <functional>
#include <string>

namespace platform {

using LogSink = std::function<void(const std::string& line)>;

// Replaces the sink and returns the one it replaces (empty for stderr); an
// empty function restores stderr.
LogSink SetLogSink(LogSink sink);
void LogLine(const std::string& line);
// Writes one line and its line feed to stderr in one call, so that lines of
// several threads do not interleave.
void WriteStderrLine(const std::string& line);
// printf-style formatting under the C locale's rules.
void LogF(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace platform
