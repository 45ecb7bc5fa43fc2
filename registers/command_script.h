// The command-script language (`CommandScript`) and its interpreter: one
// command per line (write, continued write, read, bit change, poll, GPIO,
// interface, delay, message, echo, loops). The interpreter never talks to a
// board: every transfer goes through the owner's transfer callback, and what
// a run shows (read data, message boxes) goes to an output the owner gives.
// Every script-running part of the program uses this one class: the command
// window, diagram buttons, plug-in script requests, the EEPROM recorder and
// the decoders.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

// The result of a transfer callback. A transfer that was not made and not
// skipped for want of a board is logged with its script line.
enum : int {
  kTransferFailed = 0,     // refused or failed; a read's buffer holds nothing
  kTransferDone = 1,       // made (a read's buffer holds the register values)
  kTransferLastKnown = 2,  // not made, but a read's buffer holds the owner's last known values
  kTransferNoBoard = 4,    // flag: skipped, there is no board (a window without one); not an error
};
// The result of a transfer through a board link: made, or not made with or
// without the last known values, on a board or without one.
inline int TransferResult(bool made, bool lastKnown, bool board) {
  if (made) return kTransferDone;
  return (lastKnown ? kTransferLastKnown : kTransferFailed) | (board ? 0 : kTransferNoBoard);
}
// Where a run's transfers go on one device: the book and page the run has
// selected there. The owner places it at the run's first transfer to the
// device (from where the device is then, saying whether register 0 selects
// its page and register 127 of page 0 its book); from then on only the
// run's own writes move it, so no other writer between two lines, and no
// refused transfer, can move a later line.
struct ScriptPlace {
  bool placed = false;
  bool paged = false;
  bool booked = false;
  int book = 0;
  int page = 0;
  enum : int { kMovedPage = 1, kMovedBook = 2 };
  // Follows a write of `count` bytes from `reg`, made or refused: the run
  // named it. Every byte counts, as the codec takes a block byte by byte: one
  // written through register 0 selects the page for the bytes after it, one
  // through register 127 of page 0 the book. Says which of the two it wrote.
  int Follow(int reg, const uint8_t* data, int count);
};
// `place` is the run's place on `device`; an owner that keeps no pages leaves it unplaced.
typedef int (*TI2CCommandTransferCallback)(void* user, int device, ScriptPlace& place, int reg, uint8_t* buffer,
                                           int count, bool isRead, bool last);
typedef int (*TI2CCommandBitsCallback)(void* user, int value, bool on);
typedef void (*TI2CCommandDecodeCallback)(void* user, std::vector<std::string>& lines, int device, int page, int reg,
                                          int value);
typedef int (*TI2CCommandPageCallback)(void* user, int device);
// Text allocated with malloc (the caller frees it), or null.
typedef char* (*TI2CCommandLogCallback)(void* user);

// Where a run's visible output goes. Without one, it is dropped.
class CommandScriptOutput {
 public:
  virtual ~CommandScriptOutput() = default;
  // A line for ReadData (read results, echoes, loop lines).
  virtual void AddReadData(const std::string& line) = 0;
  // The message box of the b command (modal).
  virtual void Break(const std::string& text) = 0;
  // The progress of a run, 0..100.
  virtual void Progress(int /*percent*/) {}
};

class CommandScript {
 public:
  static constexpr int kMaxLoops = 32;
  static constexpr int kBufferSize = 256;
  static constexpr int kLinesPerTick = 100;
  static constexpr size_t kLineLength = 255;
  // A run that nobody can stop (a synchronous run, one executed line) waits
  // at most this long in one d or f line.
  static constexpr int kBlockingLimitMs = 10000;
  // A timer-driven poll gives the window back after this long.
  static constexpr int kPollSliceMs = 20;
  // Nobody can stop a synchronous run: it stops by itself after this long.
  static constexpr int kSyncBudgetMs = 30000;

  struct Loop {
    int startLine = 0;
    int limit = 0;
    int iteration = 0;
  };

  // How a tick ended.
  enum class TickEnd {
    More,      // 100 lines done, the run goes on at the next tick
    Wait,      // a d or f line waits: call again after `waitMs`
    Finished,  // the last line ran (the end-of-run transfers are done)
    Failed,    // `failedLine` failed; the run is over
    Stopped,   // a synchronous run ran out of time at `failedLine` (logged); the run is over
  };
  struct TickResult {
    TickEnd end = TickEnd::More;
    int lines = 0;       // lines run in this tick
    int waitMs = 0;      // for Wait
    int failedLine = -1; // index from 0, for Failed
  };

  CommandScript();

  void SetCallbacks(void* user, TI2CCommandTransferCallback transfer, TI2CCommandBitsCallback bits = nullptr,
                    TI2CCommandDecodeCallback decode = nullptr, TI2CCommandPageCallback page = nullptr,
                    TI2CCommandLogCallback log = nullptr);
  // Swaps the transfer callback and its user pointer only (the decoders and
  // the source generator do); the other callbacks keep the owner's pointer.
  void SetTransfer(void* user, TI2CCommandTransferCallback transfer);
  // Replaces the bits and page callbacks only (null: skipped, page 0).
  void SetBoardQueries(TI2CCommandBitsCallback bits, TI2CCommandPageCallback page);
  void* User() const { return user_; }
  void* TransferUser() const { return transferUser_; }
  TI2CCommandTransferCallback Transfer() const { return transfer_; }
  TI2CCommandBitsCallback Bits() const { return bits_; }
  TI2CCommandDecodeCallback Decode() const { return decode_; }
  TI2CCommandPageCallback PageQuery() const { return page_; }
  TI2CCommandLogCallback Log() const { return log_; }
  void SetOutput(CommandScriptOutput* output) { output_ = output; }
  // Whether refused transfers are logged (a recorder that answers no reads turns it off).
  void SetLogTransferFailures(bool on) { logFailures_ = on; }
  // A generator's run (GenSrc): the transfer callback only collects writes,
  // so refused transfers are not logged and a poll reads once instead of
  // waiting for a value that no board will give.
  void SetGenerating(bool on) { generating_ = on; }
  // The total time of one synchronous run (time in message boxes not
  // counted); past it the run stops with a log line. A d or f line of the
  // run waits no longer than the run has left.
  void SetSyncBudget(std::chrono::milliseconds budget) { syncBudget_ = budget; }
  // The budget every script starts with (kSyncBudgetMs): tests shorten it
  // for the scripts that windows make for themselves.
  static void SetDefaultSyncBudget(std::chrono::milliseconds budget);
  static std::chrono::milliseconds DefaultSyncBudget();

  const std::string& FileName() const { return fileName_; }
  void SetFileName(const std::string& name) { fileName_ = name; }
  // Reads the lines of a script file (either line end); false when it cannot
  // be read, with `error` set to the log line that says why.
  static bool ReadScriptFile(const std::string& path, std::vector<std::string>& lines, std::string* error = nullptr);
  // Sets the file name and loads its lines; a missing file leaves no lines (logged).
  bool LoadScript(const std::string& fileName);
  void SetLines(std::vector<std::string> lines) { lines_ = std::move(lines); }
  const std::vector<std::string>& Lines() const { return lines_; }

  // Interprets one line; false = syntax error or failed command. The line is
  // replaced by its trimmed form. Delays and polls block (with the limit above).
  bool ExecuteLine(std::string& line, bool isLastLine, bool decodeOnly);
  // One typed line: no block pending before it, its block written after it.
  // Typed lines are one writer: each goes on from the book and page the
  // earlier ones selected on its device (from where the device is, the
  // first time), whatever runs or other writers did between them.
  bool ExecuteSingleLine(std::string line);

  // A run: BeginRun, then Tick until it reports Finished or Failed.
  // A synchronous run blocks in d and f; a timer-driven one never does.
  void BeginRun(bool synchronous);
  TickResult Tick();
  // Ends a run early (stop) or after it finished.
  void EndRun();
  bool Synchronous() const { return synchronous_; }
  // The whole script at once; false when a line failed (logged with the file name).
  bool RunSync();

  // Writes the pending block when one is pending and a transfer callback is set.
  void FlushPending(bool last);
  void DropPending() {
    pendingCount_ = 0;
    register_ = 0;
  }

  int Device() const { return device_; }
  int Register() const { return register_; }
  int PendingCount() const { return pendingCount_; }
  int Interface() const { return interface_; }
  int LineCounter() const { return lineCounter_; }
  int LoopDepth() const { return loopDepth_; }
  bool OutsideLoops() const { return outsideLoops_ != 0; }
  const uint8_t* Buffer() const { return buffer_; }
  // The place on a device of the last run, or of the typed lines after one
  // was typed (unplaced until the first transfer there).
  const ScriptPlace& Place(int device) const {
    return (lastTyped_ ? typedPlaces_ : places_)[size_t(device) & 0xFF];
  }

  static std::string Trim(const std::string& s);

 private:
  enum class Step { Done, Failed, Waiting };
  using Clock = std::chrono::steady_clock;

  Step Interpret(std::string& line, bool isLastLine, bool decodeOnly, bool timerDriven);
  Step Poll(int device, int reg, uint8_t ones, uint8_t keep, int ms, bool timerDriven);
  // A failed transfer is logged (`report`) and also shown in the run's
  // output (`show`), unless the line shows its failure itself.
  int Call(int device, int reg, uint8_t* buffer, int count, bool isRead, bool last, bool report = true,
           bool show = true);
  void ReportFailure(int lineNumber, const std::string& line, bool show);
  ScriptPlace* Places() { return typing_ ? typedPlaces_ : places_; }
  const ScriptPlace* Places() const { return typing_ ? typedPlaces_ : places_; }
  int InterfaceDevice(int dd) const;
  int BlockingLimitMs() const;
  std::string Indent(int depth) const { return std::string(size_t(depth) * 2, ' '); }
  void Emit(const std::string& line);
  void EndOfRun();
  // A new run starts from where each device is.
  void ForgetPlaces();

  // Interpreter state, in the order of the original window's fields.
  std::string fileName_ = "untitled.cfg";
  int device_ = 0x30;
  int register_ = 0;
  int pendingCount_ = 0;
  int interface_ = 0;
  TI2CCommandTransferCallback transfer_ = nullptr;
  TI2CCommandBitsCallback bits_ = nullptr;
  TI2CCommandDecodeCallback decode_ = nullptr;
  TI2CCommandPageCallback page_ = nullptr;
  TI2CCommandLogCallback log_ = nullptr;
  void* user_ = nullptr;
  void* transferUser_ = nullptr;
  int lineCounter_ = 0;
  Loop loops_[kMaxLoops];
  int loopDepth_ = 0;
  uint8_t outsideLoops_ = 1;
  uint8_t synchronous_ = 0;
  uint8_t buffer_[kBufferSize] = {};
  ScriptPlace places_[256];
  // The typed lines' own places, kept from line to line; `typing_` while one runs.
  ScriptPlace typedPlaces_[256];
  bool typing_ = false;
  bool lastTyped_ = false;

  std::vector<std::string> lines_;
  CommandScriptOutput* output_ = nullptr;
  bool logFailures_ = true;
  bool generating_ = false;
  std::chrono::milliseconds syncBudget_ = DefaultSyncBudget();
  Clock::time_point syncDeadline_;
  // The line being run (from 1; 0 for a line executed on its own) and the
  // line that opened the pending block, for the log of a refused transfer.
  int currentLine_ = 0;
  std::string currentText_;
  int pendingLine_ = 0;
  std::string pendingText_;
  // Timer-driven waits: the end of a d delay, and the poll of an f line.
  bool waiting_ = false;
  Clock::time_point waitUntil_;
  int pollLine_ = -1;
  Clock::time_point pollStart_;
};
