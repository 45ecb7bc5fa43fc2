// The "Command" window: a command buffer holding a script, the ReadData pane
// that collects read results and echoes, file open and save, execution of one
// typed line, annotation (decoding) of scripts and read results with the
// register descriptions, the access library's log and a generator of C source
// from a script's writes. The language itself is CommandScript; this window
// runs it timer-driven (100 lines per 1 ms tick, stoppable between ticks) or
// synchronously.
#pragma once

#include <QWidget>
#include <chrono>
#include <string>
#include <vector>

#include "registers/command_script.h"

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTimer;

class TI2CCommand : public QWidget, private CommandScriptOutput {
  Q_OBJECT
 public:
  static constexpr const char* kFilter = "Command script files (*.txt, *.cfg)|*.TXT;*.CFG";
  // Written into the start directory (the current directory).
  static constexpr const char* kGenSrcFile = "GenSrc.c";
  static const char* const kDashLine;
  // ReadData keeps this many lines, dropping the oldest.
  static constexpr int kReadDataLines = 10000;

  explicit TI2CCommand(QWidget* owner);
  ~TI2CCommand() override;

  // Stores the callbacks; without a decode callback the four decoding buttons are hidden.
  void SetCallbacks(void* user, TI2CCommandTransferCallback transfer, TI2CCommandBitsCallback bits = nullptr,
                    TI2CCommandDecodeCallback decode = nullptr, TI2CCommandPageCallback page = nullptr,
                    TI2CCommandLogCallback log = nullptr);
  // Sets the file name and loads the file into CommandBuffer (the caption stays).
  bool LoadScript(const std::string& fileName);
  bool ExecuteLine(std::string& line, bool isLastLine, bool decodeOnly) {
    return script_.ExecuteLine(line, isLastLine, decodeOnly);
  }
  // Runs the whole CommandBuffer at once.
  void RunSync();
  // Runs the whole CommandBuffer at once for at most `hold` (time in message
  // boxes not counted); a script that has not ended by then goes on as a
  // timer-driven run from the line it reached (the window shown, Run
  // captioned "Stop"), so nothing runs twice and what ran keeps its order.
  // Delays and polls wait as in a timer-driven run, sleeping while the hold
  // lasts. True when the run is over (ended or failed) within `hold`.
  bool RunSyncFor(std::chrono::milliseconds hold);
  // Ends a timer-driven run, as the Stop button does (a synchronous run goes on).
  void Stop();
  // Closing the window stops its run: for windows whose run nobody could
  // reach again once they are closed.
  void SetStopOnClose(bool on) { stopOnClose_ = on; }
  // The last run was handed over by RunSyncFor, which showed the window for it.
  bool ShownForHandOver() const { return shownForHandOver_; }
  // A progress bar that stands in for the window's own during runs (null: its own).
  void SetProgressBar(QProgressBar* bar);

  CommandScript& Script() { return script_; }
  // A run goes on: timer-driven, or held by RunSyncFor.
  bool Running() const;
  // CommandBuffer and ReadData as lines.
  std::vector<std::string> CommandLines() const;
  std::vector<std::string> ReadDataLines() const;
  void SetCommandLines(const std::vector<std::string>& lines);
  void SetReadDataLines(const std::vector<std::string>& lines);
  // While Record is checked the owner appends its writes here.
  bool Recording() const;
  void AppendCommandLine(const std::string& line);

  // Handlers.
  void OpenClick();
  void SaveClick();
  void ExecuteClick();
  void RunClick();
  void RunScriptTimer();
  void ClearReadDataClick();
  void ClearCommandBufferClick();
  void CommandDecodeClick();
  void CommandClearDecodedClick();
  void ReadDecodeClick();
  void ReadClearDecodedClick();
  void GetLogClick();
  void GenSrcClick();
  void FormResize();

  // Controls, named as in the form.
  QGroupBox* CommandBufferGroup;
  QPlainTextEdit* CommandBuffer;
  QCheckBox* Record;
  QPushButton* ClearCommandBuffer;
  QPushButton* GetLog;
  QPushButton* Run;
  QPushButton* CommandDecode;
  QPushButton* CommandClearDecoded;
  QPushButton* Open;
  QPushButton* Save;
  QProgressBar* ProgressBar;
  QGroupBox* ReadDataGroup;
  QPlainTextEdit* ReadData;
  QPushButton* ClearReadData;
  QPushButton* ReadDecode;
  QPushButton* ReadClearDecoded;
  QLineEdit* Command;
  QPushButton* Execute;
  QPushButton* GenSrc;
  QTimer* RunScript;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  // CommandScriptOutput
  void AddReadData(const std::string& line) override;
  void Break(const std::string& text) override;
  void Progress(int percent) override;

  static int DecodeCallback(void* user, int device, ScriptPlace& place, int reg, uint8_t* data, int count,
                            bool isRead, bool last);
  static int GenSrcCallback(void* user, int device, ScriptPlace& place, int reg, uint8_t* data, int count,
                            bool isRead, bool last);

  void StartRun();
  // The run goes on timer-driven from here, its next tick after `interval` ms.
  void ContinueOnTimer(int interval);
  void StopRun();
  // One tick of the run; false when a stop came while the tick ran (the run is then over).
  bool TickRun(CommandScript::TickResult& result);
  void SetRunControlsEnabled(bool enabled);
  void ShowFailure(int lineIndex);
  // The "Error, line = N, …" message box of a failed line (outside text cut).
  void ReportLine(int number, const std::string& line);
  QProgressBar* Bar() const { return progressBar_ ? progressBar_ : ProgressBar; }

  CommandScript script_;
  void* savedUser_ = nullptr;
  TI2CCommandTransferCallback savedTransfer_ = nullptr;
  std::vector<std::string> genSrc_;
  std::vector<std::string> decodeOutput_;
  // The page that writes of register 0 select while a script is decoded.
  int decodedPage_ = 0;
  QProgressBar* progressBar_ = nullptr;
  // RunSyncFor's run before its hand-over, and when its hold ends.
  bool holding_ = false;
  std::chrono::steady_clock::time_point holdEnd_;
  bool ticking_ = false;
  bool stopAfterTick_ = false;
  bool stopOnClose_ = false;
  bool shownForHandOver_ = false;
};
