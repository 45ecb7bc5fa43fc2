// Runs a script from the fuzz data against fake callbacks: reads are answered
// from the data's tail, and the run is bounded in ticks and transfers so that
// loops and polls cannot hold the fuzzer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "registers/command_script.h"
#include "platform/log.h"

namespace {

struct Fake {
  const uint8_t* data = nullptr;
  size_t size = 0;
  size_t at = 0;
  int calls = 0;
};

// A budget of transfers ends polls that would otherwise spin until their time-out.
constexpr int kMaxCalls = 5000;
constexpr int kMaxTicks = 500;

int Transfer(void* user, int device, ScriptPlace& place, int reg, uint8_t* buffer, int count, bool isRead, bool) {
  auto* fake = static_cast<Fake*>(user);
  if (++fake->calls > kMaxCalls) return 0;
  // A paged and booked device, so that the run's own selects are followed.
  if (!place.placed) place = ScriptPlace{true, true, true, 0, 0};
  if (place.book < 0 || place.book > 0xFF || place.page < 0 || place.page > 0xFF) std::abort();
  // Every transfer stays within one register page and the interpreter's buffer.
  if (device < 0 || device > 0xFF || reg < 0 || count < 0 || reg + count > CommandScript::kBufferSize ||
      (count == 0 && reg > 0xFF))
    std::abort();
  if (isRead) {
    for (int i = 0; i < count; ++i) {
      buffer[i] = fake->size ? fake->data[fake->at % fake->size] : 0;
      ++fake->at;
    }
    // Some reads are refused, as a device that does not answer would.
    if (fake->size && (fake->data[fake->at % fake->size] & 0x0F) == 0x0F) return 0;
  }
  return 1;
}

int Bits(void*, int, bool) { return 1; }
int Page(void* user, int) { return int(static_cast<Fake*>(user)->at & 0xFF); }
void Decode(void*, std::vector<std::string>& lines, int, int, int, int) { lines.push_back("#% decoded"); }

class Output : public CommandScriptOutput {
 public:
  void AddReadData(const std::string& line) override { bytes += line.size(); }
  void Break(const std::string& text) override { bytes += text.size(); }
  size_t bytes = 0;
};

// A d line that could wait becomes "d 0" in a synchronous run (which would
// sleep) and "d 1" in a timer-driven one (which only notes the wait): the
// fuzzer must not sleep.
std::string Tame(const std::string& line, bool synchronous) {
  size_t i = 0;
  while (i < line.size() && static_cast<unsigned char>(line[i]) <= ' ') ++i;
  if (i >= line.size() || (line[i] != 'd' && line[i] != 'D')) return line;
  for (size_t j = i + 1; j < line.size() && line[j] != '#'; ++j)
    if (line[j] >= '1' && line[j] <= '9') return synchronous ? "d 0" : "d 1";
  return line;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  platform::SetLogSink([](const std::string&) {});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The first byte picks the mode; the rest is the script text.
  if (size < 1) return 0;
  const uint8_t mode = data[0];
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  std::vector<std::string> lines;
  size_t start = 0;
  for (;;) {
    size_t end = text.find('\n', start);
    std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(Tame(line, (mode & 1) != 0 || (mode & 2) == 0));
    if (end == std::string::npos) break;
    start = end + 1;
  }

  Fake fake{data, size, 0, 0};
  Output output;
  CommandScript script;
  script.SetCallbacks(&fake, Transfer, Bits, Decode, Page, nullptr);
  script.SetOutput(&output);

  if (mode & 1) {
    // Each line on its own, as the command window executes a typed line, then decode-only.
    for (const std::string& line : lines) {
      if (fake.calls > kMaxCalls) break;
      script.ExecuteSingleLine(line);
    }
    for (std::string line : lines) script.ExecuteLine(line, false, true);
    script.FlushPending(true);
    return 0;
  }
  script.SetLines(lines);
  script.BeginRun((mode & 2) == 0);
  for (int tick = 0; tick < kMaxTicks && fake.calls <= kMaxCalls; ++tick) {
    const CommandScript::TickResult r = script.Tick();
    if (r.end == CommandScript::TickEnd::Finished || r.end == CommandScript::TickEnd::Failed) break;
    // A timer-driven d wait would need real time to pass: stop there.
    if (r.end == CommandScript::TickEnd::Wait && r.waitMs > 1) break;
  }
  script.EndRun();
  return 0;
}
