#include "registers/command_script.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <climits>
#include <iterator>
#include <cstdio>

#include "platform/file.h"
#include "platform/log.h"
#include "platform/text.h"
#include "platform/timing.h"

namespace {

std::atomic<int64_t> defaultSyncBudgetMs{CommandScript::kSyncBudgetMs};

// Script numbers are hexadecimal without a prefix: the original put "0x" in
// front and converted, so a prefix, a sign or any other character is an
// error, and eight digits from 80000000 up read as negative 32-bit values.
bool HexToken(const std::string& token, int& value) {
  if (token.empty()) return false;
  uint64_t v = 0;
  for (char c : token) {
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return false;
    v = v * 16 + unsigned(d);
    if (v > 0xFFFFFFFFull) return false;
  }
  value = static_cast<int32_t>(static_cast<uint32_t>(v));
  return true;
}

// Loop counts, delays and time-outs: decimal, optionally signed.
bool DecimalToken(const std::string& token, int& value) {
  const char* first = token.data();
  const char* last = first + token.size();
  if (first != last && *first == '+') ++first;
  if (first == last) return false;
  auto [end, error] = std::from_chars(first, last, value);
  return error == std::errc() && end == last;
}

// The mask of s and f, read from its last character (bit 0) on: "1" set,
// "0" clear, "X" keep. Characters beyond the eighth from the end change no bit.
bool ParseMask(const std::string& token, uint8_t& ones, uint8_t& keep) {
  ones = 0;
  keep = 0xFF;
  const int n = int(token.size());
  for (int i = 0; i < n; ++i) {
    const char c = token[size_t(n - 1 - i)];
    if (c != '0' && c != '1' && c != 'x' && c != 'X') return false;
    if (i >= 8) continue;
    const uint8_t bit = uint8_t(1u << i);
    if (c == 'x' || c == 'X') continue;
    keep &= uint8_t(~bit);
    if (c == '1') ones |= bit;
  }
  return true;
}

std::vector<std::string> Tokens(const std::string& text) {
  std::vector<std::string> tokens;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && text[i] == ' ') ++i;
    size_t j = i;
    while (j < text.size() && text[j] != ' ') ++j;
    if (j > i) tokens.push_back(text.substr(i, j - i));
    i = j;
  }
  return tokens;
}

std::string Format(const char* format, int a, int b, int c, int d) {
  char text[96];
  std::snprintf(text, sizeof text, format, a, b, c, d);
  return text;
}

}  // namespace

int ScriptPlace::Follow(int reg, const uint8_t* data, int count) {
  int moved = 0;
  if (count <= 0 || !data || !paged) return moved;
  // Bytes beyond register 127 reach no register of the page.
  for (int r = std::max(reg, 0); r < reg + count && r < 128; ++r) {
    if (r == 0) {
      page = data[r - reg];
      moved |= kMovedPage;
    } else if (r == 127 && booked && page == 0) {
      book = data[r - reg];
      moved |= kMovedBook;
    }
  }
  return moved;
}

CommandScript::CommandScript() = default;

void CommandScript::ForgetPlaces() {
  std::fill(std::begin(places_), std::end(places_), ScriptPlace{});
  lastTyped_ = false;
}

void CommandScript::SetDefaultSyncBudget(std::chrono::milliseconds budget) { defaultSyncBudgetMs = budget.count(); }

std::chrono::milliseconds CommandScript::DefaultSyncBudget() {
  return std::chrono::milliseconds(defaultSyncBudgetMs.load());
}

int CommandScript::BlockingLimitMs() const {
  if (!synchronous_) return kBlockingLimitMs;
  // Waiting past the run's end would only delay its stop.
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(syncDeadline_ - Clock::now()).count();
  return int(std::clamp<int64_t>(left, 0, kBlockingLimitMs));
}

std::string CommandScript::Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return s.substr(b, e - b);
}

void CommandScript::SetCallbacks(void* user, TI2CCommandTransferCallback transfer, TI2CCommandBitsCallback bits,
                                 TI2CCommandDecodeCallback decode, TI2CCommandPageCallback page,
                                 TI2CCommandLogCallback log) {
  // Another owner's board: the typed lines start again from where it is.
  if (user != user_) std::fill(std::begin(typedPlaces_), std::end(typedPlaces_), ScriptPlace{});
  user_ = user;
  transferUser_ = user;
  transfer_ = transfer;
  bits_ = bits;
  decode_ = decode;
  page_ = page;
  log_ = log;
}

void CommandScript::SetTransfer(void* user, TI2CCommandTransferCallback transfer) {
  transferUser_ = user;
  transfer_ = transfer;
}

void CommandScript::SetBoardQueries(TI2CCommandBitsCallback bits, TI2CCommandPageCallback page) {
  bits_ = bits;
  page_ = page;
}

bool CommandScript::ReadScriptFile(const std::string& path, std::vector<std::string>& lines, std::string* error) {
  std::string text, problem;
  if (!platform::ReadFile(path, text, problem)) {
    if (error) *error = "Cannot open the script file " + platform::Quote(path) + ": " + problem;
    return false;
  }
  lines.clear();
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return true;
}

bool CommandScript::LoadScript(const std::string& fileName) {
  fileName_ = fileName;
  lines_.clear();
  std::string error;
  if (ReadScriptFile(fileName, lines_, &error)) return true;
  platform::LogLine(error);
  return false;
}

int CommandScript::InterfaceDevice(int dd) const {
  switch (interface_) {
    case 1: return 0;
    case 2: return 1;
    default: return dd & 0xFE;
  }
}

void CommandScript::Emit(const std::string& line) {
  if (output_) output_->AddReadData(line);
}

void CommandScript::ReportFailure(int lineNumber, const std::string& line, bool show) {
  if (!logFailures_ || generating_) return;
  const std::string text = lineNumber > 0
                               ? "Transfer failed, line = " + std::to_string(lineNumber) + ": " + platform::Cut(line)
                               : "Transfer failed: " + platform::Cut(line);
  platform::LogLine(text);
  // The user running the script sees it where its reads show.
  if (show) Emit("#" + text);
}

int CommandScript::Call(int device, int reg, uint8_t* buffer, int count, bool isRead, bool last, bool report,
                        bool show) {
  ScriptPlace& place = Places()[size_t(device) & 0xFF];
  const int result = transfer_(transferUser_, device, place, reg, buffer, count, isRead, last);
  if (!isRead) place.Follow(reg, buffer, count);
  // Without a board nothing is refused: the owner says so once, not per line.
  if (!(result & (kTransferDone | kTransferNoBoard)) && report) ReportFailure(currentLine_, currentText_, show);
  return result;
}

void CommandScript::FlushPending(bool last) {
  if (pendingCount_ <= 0 || !transfer_) return;
  const int line = currentLine_;
  const std::string text = currentText_;
  // A refused block is reported with the line that opened it.
  currentLine_ = pendingLine_;
  currentText_ = pendingText_;
  Call(device_, register_, buffer_, pendingCount_, false, last);
  currentLine_ = line;
  currentText_ = text;
  pendingCount_ = 0;
}

bool CommandScript::ExecuteLine(std::string& line, bool isLastLine, bool decodeOnly) {
  return Interpret(line, isLastLine, decodeOnly, false) != Step::Failed;
}

bool CommandScript::ExecuteSingleLine(std::string line) {
  pendingCount_ = 0;
  register_ = 0;
  currentLine_ = 0;
  typing_ = lastTyped_ = true;
  const bool ok = ExecuteLine(line, true, false);
  FlushPending(true);
  typing_ = false;
  return ok;
}

CommandScript::Step CommandScript::Poll(int device, int reg, uint8_t ones, uint8_t keep, int ms, bool timerDriven) {
  const auto now = Clock::now();
  if (timerDriven) {
    // The line may come back tick after tick; its time-out counts from its first poll.
    if (pollLine_ != lineCounter_) {
      pollLine_ = lineCounter_;
      pollStart_ = now;
    }
  } else {
    // Nothing could stop an endless poll here.
    const int limit = BlockingLimitMs();
    if (ms < 0 || ms > limit) ms = limit;
    pollStart_ = now;
  }
  if (generating_) ms = 0;
  const auto sliceStart = now;
  for (;;) {
    uint8_t value = 0;
    const int result = Call(device, reg, &value, 1, true, false);
    if (!(result & kTransferDone)) break;  // a device that does not answer, or no board, never changes
    if ((value & uint8_t(~keep)) == ones) break;
    if (ms == 0) break;
    const auto t = Clock::now();
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(t - pollStart_).count();
    if (ms > 0 && elapsed >= ms) break;
    if (timerDriven && t - sliceStart >= std::chrono::milliseconds(kPollSliceMs)) return Step::Waiting;
  }
  pollLine_ = -1;
  return Step::Done;
}

CommandScript::Step CommandScript::Interpret(std::string& line, bool isLastLine, bool decodeOnly, bool timerDriven) {
  line = Trim(line);
  std::string text = line.substr(0, kLineLength);
  if (size_t hash = text.find('#'); hash != std::string::npos) text.resize(hash);
  const std::vector<std::string> t = Tokens(text);
  if (t.empty()) return Step::Done;
  currentText_ = line;

  const char first = t[0][0];
  if (first != '>' && first != '#') FlushPending(isLastLine);

  // Data bytes of w and >: up to a token that begins with "//".
  auto collect = [&](size_t from, std::vector<uint8_t>& bytes) {
    for (size_t i = from; i < t.size(); ++i) {
      if (t[i].compare(0, 2, "//") == 0) break;
      int v;
      if (!HexToken(t[i], v)) return false;
      bytes.push_back(uint8_t(v & 0xFF));
    }
    return !bytes.empty();
  };
  auto append = [&](const std::vector<uint8_t>& bytes) {
    for (uint8_t b : bytes) {
      if (pendingCount_ + register_ >= kBufferSize) break;
      buffer_[pendingCount_++] = b;
    }
  };

  if (first == ':') {
    if (t[0].size() < 2 || t[0][1] != 'L') return Step::Failed;
    if (decodeOnly) return Step::Done;
    if (t.size() >= 2) {
      int limit;
      if (!DecimalToken(t[1], limit) || loopDepth_ >= kMaxLoops) return Step::Failed;
      if (limit < 0 && synchronous_) {
        // Nobody could stop it: a synchronous run has no Stop button.
        platform::LogLine("A loop without end cannot run synchronously: " + platform::Cut(line));
        return Step::Failed;
      }
      loops_[loopDepth_++] = Loop{lineCounter_, limit, 0};
      outsideLoops_ = 0;
      return Step::Done;
    }
    if (loopDepth_ == 0) return Step::Failed;
    Loop& loop = loops_[loopDepth_ - 1];
    const int k = loop.iteration;
    if (loop.iteration < INT_MAX) loop.iteration = k + 1;
    if (k >= loop.limit && loop.limit >= 0) {
      --loopDepth_;
      outsideLoops_ = loopDepth_ == 0;
      return Step::Done;
    }
    Emit(Indent(loopDepth_) + "#Loop [line #" + std::to_string(loop.startLine) + " to #" +
         std::to_string(lineCounter_) + "], Iteration #" + std::to_string(int64_t(k) + 1) + " of #" +
         std::to_string(loop.limit));
    lineCounter_ = loop.startLine;
    return Step::Done;
  }

  const char command = first >= 'A' && first <= 'Z' ? char(first + ('a' - 'A')) : first;
  switch (command) {
    case 'w': {
      int dd, rr;
      std::vector<uint8_t> bytes;
      if (t.size() < 3 || !HexToken(t[1], dd) || !HexToken(t[2], rr) || dd < 0 || rr < 0) return Step::Failed;
      if (!collect(3, bytes)) return Step::Failed;
      device_ = InterfaceDevice(dd);
      register_ = rr & 0xFF;
      pendingCount_ = 0;
      pendingLine_ = currentLine_;
      pendingText_ = line;
      append(bytes);
      return Step::Done;
    }
    case '>': {
      std::vector<uint8_t> bytes;
      if (!collect(1, bytes)) return Step::Failed;
      if (pendingCount_ == 0) {
        pendingLine_ = currentLine_;
        pendingText_ = line;
      }
      append(bytes);
      return Step::Done;
    }
    case '/':
    case 'l':
      return Step::Done;
    default:
      break;
  }

  if (decodeOnly) {
    // Only writes are decoded; everything else is skipped, unknown commands still fail.
    return std::string("rsfgidbc").find(command) != std::string::npos ? Step::Done : Step::Failed;
  }

  switch (command) {
    case 'r': {
      int dd, rr, nn;
      if (t.size() < 4 || !HexToken(t[1], dd) || !HexToken(t[2], rr) || !HexToken(t[3], nn) || dd < 0 || rr < 0)
        return Step::Failed;
      rr &= 0xFF;
      int n = nn & 0xFF;
      if (n + rr > kBufferSize) n = kBufferSize - rr;
      device_ = InterfaceDevice(dd);
      register_ = rr;
      int page = 0;
      // Without a transfer callback the buffer's contents are printed as they are.
      int result = kTransferDone;
      if (transfer_) {
        // The line shows its own failure below.
        result = Call(device_, rr, buffer_, n, true, outsideLoops_ != 0, true, false);
        // The page the run selected, where the owner keeps one.
        if (Place(device_).placed) page = Place(device_).page;
        else if (page_) page = page_(user_, device_);
      }
      const std::string indent = Indent(loopDepth_);
      Emit(indent + Format("r %02X %02X %02X, Page = %d:", dd & 0xFE, rr, n, page));
      // A failed read shows no bytes that were not read: the failure, or the
      // owner's last known values marked as such (a window without a board
      // answers from its image, which is no failure).
      const bool values = result & (kTransferDone | kTransferLastKnown);
      if (!(result & kTransferDone) && !(values && (result & kTransferNoBoard)))
        Emit(indent + (values ? "  #Read failed, last known values:" : "  #Read failed"));
      for (int i = 0; values && i < n; i += 16) {
        std::string row = i == 0 ? indent + "  " : "  ";
        for (int j = i; j < n && j < i + 16; ++j) row += Format("%02X ", buffer_[j], 0, 0, 0);
        Emit(row);
      }
      return Step::Done;
    }
    case 's': {
      int dd, rr;
      uint8_t ones, keep;
      if (t.size() < 4 || !HexToken(t[1], dd) || !HexToken(t[2], rr) || !ParseMask(t[3], ones, keep))
        return Step::Failed;
      device_ = InterfaceDevice(dd);
      register_ = rr & 0xFF;
      if (transfer_) {
        // Without the register's present value the change cannot be made;
        // a window without a board changes its last known value.
        const int result = Call(device_, register_, buffer_, 1, true, false);
        if (!(result & kTransferDone) && result != (kTransferNoBoard | kTransferLastKnown)) return Step::Done;
        buffer_[0] = uint8_t(ones | (buffer_[0] & keep));
        pendingCount_ = 0;
        Call(device_, register_, buffer_, 1, false, outsideLoops_ != 0);
      }
      return Step::Done;
    }
    case 'f': {
      int dd, rr, ms = 0;
      uint8_t ones, keep;
      if (t.size() < 4 || !HexToken(t[1], dd) || !HexToken(t[2], rr) || !ParseMask(t[3], ones, keep))
        return Step::Failed;
      if (t.size() >= 5 && !DecimalToken(t[4], ms)) return Step::Failed;
      device_ = InterfaceDevice(dd);
      if (!transfer_) return Step::Done;
      return Poll(device_, rr & 0xFF, ones, keep, ms, timerDriven);
    }
    case 'g': {
      int a, b;
      if (t.size() < 3 || !HexToken(t[1], a) || !HexToken(t[2], b)) return Step::Failed;
      if (bits_) bits_(user_, a, b != 0);
      return Step::Done;
    }
    case 'i': {
      if (t.size() < 2) return Step::Failed;
      switch (t[1][0]) {
        case 'I':
        case 'i': interface_ = 0; break;
        case 'S':
        case 's': interface_ = 1; break;
        case 'P':
        case 'p': interface_ = 2; break;
        default: return Step::Failed;
      }
      return Step::Done;
    }
    case 'd': {
      int ms;
      if (t.size() < 2 || !DecimalToken(t[1], ms)) return Step::Failed;
      if (ms <= 0) return Step::Done;
      if (timerDriven) {
        // The window stays responsive and the Run button can stop the wait.
        waiting_ = true;
        waitUntil_ = Clock::now() + std::chrono::milliseconds(ms);
        return Step::Done;
      }
      platform::Sleep(std::min(ms, BlockingLimitMs()));
      return Step::Done;
    }
    case 'b': {
      std::string message = Trim(text.substr(1));
      if (message.empty()) message = "break";
      if (output_) {
        // The user reading the message is no time the script spends.
        const auto shown = Clock::now();
        output_->Break(message);
        syncDeadline_ += Clock::now() - shown;
      }
      return Step::Done;
    }
    case 'c': {
      std::string echo = text.size() > 2 ? text.substr(2) : std::string();
      while (!echo.empty() && static_cast<unsigned char>(echo.back()) <= ' ') echo.pop_back();
      Emit("#" + echo);
      return Step::Done;
    }
    default:
      return Step::Failed;
  }
}

void CommandScript::BeginRun(bool synchronous) {
  pendingCount_ = 0;
  register_ = 0;
  loopDepth_ = 0;
  lineCounter_ = 0;
  outsideLoops_ = 1;
  synchronous_ = synchronous;
  waiting_ = false;
  pollLine_ = -1;
  syncDeadline_ = Clock::now() + syncBudget_;
  ForgetPlaces();
}

void CommandScript::EndRun() {
  synchronous_ = 0;
  waiting_ = false;
  pollLine_ = -1;
  loopDepth_ = 0;
}

void CommandScript::EndOfRun() {
  currentLine_ = 0;
  FlushPending(true);
  // The owner takes this read as the end of the run (a refresh); it belongs to no line.
  if (transfer_) Call(device_, 0, buffer_, 1, true, true, false);
}

CommandScript::TickResult CommandScript::Tick() {
  TickResult result;
  const int n = int(lines_.size());
  if (waiting_) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(waitUntil_ - Clock::now()).count();
    if (left > 0) {
      result.end = TickEnd::Wait;
      result.waitMs = int(std::min<int64_t>(left, INT_MAX));
      return result;
    }
    waiting_ = false;
    // The wait of the last line is over: now the run ends.
    if (lineCounter_ >= n) {
      EndOfRun();
      result.end = TickEnd::Finished;
      return result;
    }
  }
  if (lineCounter_ >= n) {
    result.end = TickEnd::Finished;
    return result;
  }
  for (int i = 0; i < kLinesPerTick; ++i) {
    std::string line = lines_[size_t(lineCounter_)];
    currentLine_ = lineCounter_ + 1;
    const Step step = Interpret(line, lineCounter_ == n - 1, false, !synchronous_);
    if (step == Step::Failed) {
      result.end = TickEnd::Failed;
      result.failedLine = lineCounter_;
      pendingCount_ = 0;
      register_ = 0;
      lineCounter_ = n;
      return result;
    }
    if (step == Step::Waiting) {
      result.end = TickEnd::Wait;
      result.waitMs = 1;
      return result;
    }
    ++result.lines;
    if (output_) output_->Progress(int(int64_t(lineCounter_) * 100 / n));
    if (synchronous_ && Clock::now() >= syncDeadline_) {
      platform::LogF("Script stopped after %g s, line = %d, %s (Source File = %s)",
                     std::chrono::duration<double>(syncBudget_).count(), currentLine_, platform::Cut(line).c_str(),
                     platform::Cut(fileName_).c_str());
      // What the lines so far wrote goes out, and the owner refreshes as at any end.
      EndOfRun();
      result.end = TickEnd::Stopped;
      result.failedLine = lineCounter_;
      lineCounter_ = n;
      return result;
    }
    ++lineCounter_;
    // A delay on the last line waits before the run ends.
    if (waiting_) {
      result.end = TickEnd::Wait;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(waitUntil_ - Clock::now()).count();
      result.waitMs = int(std::clamp<int64_t>(left, 1, INT_MAX));
      return result;
    }
    if (lineCounter_ >= n) {
      EndOfRun();
      result.end = TickEnd::Finished;
      return result;
    }
  }
  return result;
}

bool CommandScript::RunSync() {
  BeginRun(true);
  bool ok = true;
  while (lineCounter_ < int(lines_.size())) {
    const TickResult r = Tick();
    if (r.end == TickEnd::Stopped) ok = false;
    if (r.end == TickEnd::Failed) {
      platform::LogF("Error, line = %d, %s (Source File = %s)", r.failedLine + 1,
                     platform::Cut(lines_[size_t(r.failedLine)]).c_str(), platform::Cut(fileName_).c_str());
      ok = false;
    }
  }
  EndRun();
  return ok;
}
