#include "registers/i2c_command.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStringDecoder>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/gui/dialogs.h"
#include "platform/log.h"
#include "platform/text.h"
#include "platform/timing.h"

const char* const TI2CCommand::kDashLine =
    "#%---------------------------------------------------------------------------------------";

namespace {

// Scripts are 8-bit text: UTF-8 when they are valid UTF-8, Latin-1 otherwise.
QString ToQString(const std::string& s) {
  QStringDecoder utf8(QStringDecoder::Utf8);
  QString text = utf8(QByteArray::fromStdString(s));
  return utf8.hasError() ? QString::fromLatin1(s.data(), qsizetype(s.size())) : text;
}

std::vector<std::string> MemoLines(const QPlainTextEdit* memo) {
  const QString text = memo->toPlainText();
  std::vector<std::string> lines;
  if (text.isEmpty()) return lines;
  QStringList parts = text.split('\n');
  if (text.endsWith('\n')) parts.removeLast();
  lines.reserve(size_t(parts.size()));
  for (const QString& part : parts) lines.push_back(part.toStdString());
  return lines;
}

void SetMemoLines(QPlainTextEdit* memo, const std::vector<std::string>& lines) {
  QStringList parts;
  parts.reserve(qsizetype(lines.size()));
  for (const std::string& line : lines) parts << ToQString(line);
  memo->setPlainText(parts.join('\n'));
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* text) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(name);
  return button;
}

// Lines written with Windows line ends, byte for byte.
bool WriteLines(const std::string& path, const std::vector<std::string>& lines) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  for (const std::string& line : lines) out << line << "\r\n";
  return bool(out);
}

bool HexPair(const std::string& text, size_t at, int& value) {
  if (at + 2 > text.size()) return false;
  value = 0;
  for (size_t i = at; i < at + 2; ++i) {
    const char c = text[i];
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return false;
    value = value * 16 + d;
  }
  return true;
}

}  // namespace

TI2CCommand::TI2CCommand(QWidget* owner) : QWidget(owner, Qt::Tool | Qt::WindowStaysOnTopHint) {
  setObjectName("I2CCommand");
  setWindowTitle("Command");
  setMinimumSize(870, 455);

  CommandBufferGroup = new QGroupBox("Command Buffer", this);
  CommandBufferGroup->setObjectName("CommandBufferGroup");
  CommandBuffer = new QPlainTextEdit(CommandBufferGroup);
  CommandBuffer->setObjectName("CommandBuffer");
  CommandBuffer->setLineWrapMode(QPlainTextEdit::NoWrap);
  CommandBuffer->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  CommandBuffer->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Record = new QCheckBox("Record", CommandBufferGroup);
  Record->setObjectName("Record");
  ClearCommandBuffer = MakeButton(CommandBufferGroup, "ClearCommandBuffer", "Clear");
  GetLog = MakeButton(CommandBufferGroup, "GetLog", "GetLog");
  GetLog->hide();
  Run = MakeButton(CommandBufferGroup, "Run", "Run");
  CommandDecode = MakeButton(CommandBufferGroup, "CommandDecode", "Decode");
  CommandClearDecoded = MakeButton(CommandBufferGroup, "CommandClearDecoded", "ClearDecoded");
  Open = MakeButton(CommandBufferGroup, "Open", "Open");
  Save = MakeButton(CommandBufferGroup, "Save", "Save");
  ProgressBar = new QProgressBar(CommandBufferGroup);
  ProgressBar->setObjectName("ProgressBar");
  ProgressBar->setRange(0, 100);
  ProgressBar->setTextVisible(false);
  ProgressBar->setStyleSheet("QProgressBar::chunk { background-color: #FF00FF; }");
  ProgressBar->hide();

  ReadDataGroup = new QGroupBox("ReadData", this);
  ReadDataGroup->setObjectName("ReadDataGroup");
  ReadData = new QPlainTextEdit(ReadDataGroup);
  ReadData->setObjectName("ReadData");
  ReadData->setReadOnly(true);
  // A long loop prints without end: the oldest lines go.
  ReadData->setMaximumBlockCount(kReadDataLines);
  ReadData->setLineWrapMode(QPlainTextEdit::NoWrap);
  ReadData->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  ReadData->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  ClearReadData = MakeButton(ReadDataGroup, "ClearReadData", "Clear");
  ReadDecode = MakeButton(ReadDataGroup, "ReadDecode", "Decode");
  ReadClearDecoded = MakeButton(ReadDataGroup, "ReadClearDecoded", "ClearDecoded");

  Command = new QLineEdit(this);
  Command->setObjectName("Command");
  Execute = MakeButton(this, "Execute", "Execute");
  GenSrc = MakeButton(this, "GenSrc", "GenSrc");
  GenSrc->hide();

  RunScript = new QTimer(this);
  RunScript->setObjectName("RunScript");
  RunScript->setInterval(1);

  connect(Open, &QPushButton::clicked, this, [this] { OpenClick(); });
  connect(Save, &QPushButton::clicked, this, [this] { SaveClick(); });
  connect(Execute, &QPushButton::clicked, this, [this] { ExecuteClick(); });
  connect(Run, &QPushButton::clicked, this, [this] { RunClick(); });
  connect(RunScript, &QTimer::timeout, this, [this] { RunScriptTimer(); });
  connect(ClearReadData, &QPushButton::clicked, this, [this] { ClearReadDataClick(); });
  connect(ClearCommandBuffer, &QPushButton::clicked, this, [this] { ClearCommandBufferClick(); });
  connect(CommandDecode, &QPushButton::clicked, this, [this] { CommandDecodeClick(); });
  connect(CommandClearDecoded, &QPushButton::clicked, this, [this] { CommandClearDecodedClick(); });
  connect(ReadDecode, &QPushButton::clicked, this, [this] { ReadDecodeClick(); });
  connect(ReadClearDecoded, &QPushButton::clicked, this, [this] { ReadClearDecodedClick(); });
  connect(GetLog, &QPushButton::clicked, this, [this] { GetLogClick(); });
  connect(GenSrc, &QPushButton::clicked, this, [this] { GenSrcClick(); });

  script_.SetOutput(this);
  // No decode callback yet: the decoding buttons wait for one.
  SetCallbacks(nullptr, nullptr);
  resize(870, 455);
  FormResize();
}

TI2CCommand::~TI2CCommand() { script_.SetOutput(nullptr); }

void TI2CCommand::SetCallbacks(void* user, TI2CCommandTransferCallback transfer, TI2CCommandBitsCallback bits,
                               TI2CCommandDecodeCallback decode, TI2CCommandPageCallback page,
                               TI2CCommandLogCallback log) {
  script_.SetCallbacks(user, transfer, bits, decode, page, log);
  const bool decoding = decode != nullptr;
  CommandDecode->setVisible(decoding);
  CommandClearDecoded->setVisible(decoding);
  ReadDecode->setVisible(decoding);
  ReadClearDecoded->setVisible(decoding);
  FormResize();
}

bool TI2CCommand::LoadScript(const std::string& fileName) {
  const bool ok = script_.LoadScript(fileName);
  SetCommandLines(script_.Lines());
  return ok;
}

void TI2CCommand::SetProgressBar(QProgressBar* bar) { progressBar_ = bar; }

bool TI2CCommand::Running() const { return holding_ || RunScript->isActive() || Run->text() == "Stop"; }

std::vector<std::string> TI2CCommand::CommandLines() const { return MemoLines(CommandBuffer); }
std::vector<std::string> TI2CCommand::ReadDataLines() const { return MemoLines(ReadData); }
void TI2CCommand::SetCommandLines(const std::vector<std::string>& lines) { SetMemoLines(CommandBuffer, lines); }
void TI2CCommand::SetReadDataLines(const std::vector<std::string>& lines) { SetMemoLines(ReadData, lines); }
bool TI2CCommand::Recording() const { return Record->isChecked(); }
void TI2CCommand::AppendCommandLine(const std::string& line) { CommandBuffer->appendPlainText(ToQString(line)); }

// ---- output of the interpreter -------------------------------------------------------

void TI2CCommand::AddReadData(const std::string& line) { ReadData->appendPlainText(ToQString(line)); }

void TI2CCommand::Break(const std::string& text) {
  const auto shown = std::chrono::steady_clock::now();
  Dialogs().Message(this, "Palisar", text);
  // The user reading the message is no time the script holds the window.
  if (holding_) holdEnd_ += std::chrono::steady_clock::now() - shown;
}

void TI2CCommand::Progress(int percent) { Bar()->setValue(percent); }

// ---- runs ------------------------------------------------------------------------------

void TI2CCommand::SetRunControlsEnabled(bool enabled) {
  for (QWidget* w : std::initializer_list<QWidget*>{Execute, Open, Save, CommandBuffer, Record, ClearReadData,
                                                    ClearCommandBuffer, GetLog, GenSrc, CommandDecode,
                                                    CommandClearDecoded, ReadDecode, ReadClearDecoded})
    w->setEnabled(enabled);
}

void TI2CCommand::StartRun() {
  script_.SetLines(CommandLines());
  script_.BeginRun(false);
  shownForHandOver_ = false;
  Bar()->setValue(0);
  ContinueOnTimer(1);
}

void TI2CCommand::ContinueOnTimer(int interval) {
  Bar()->show();
  RunScript->start(interval);
  Run->setText("Stop");
  SetRunControlsEnabled(false);
}

void TI2CCommand::StopRun() {
  holding_ = false;
  RunScript->stop();
  Bar()->hide();
  Run->setText("Run");
  SetRunControlsEnabled(true);
  script_.EndRun();
}

void TI2CCommand::Stop() {
  if (script_.Synchronous()) return;
  // A stop from a message box of the run's own tick waits for the tick to end.
  if (ticking_) stopAfterTick_ = true;
  else if (Running()) StopRun();
}

bool TI2CCommand::TickRun(CommandScript::TickResult& result) {
  ticking_ = true;
  result = script_.Tick();
  ticking_ = false;
  if (!stopAfterTick_) return true;
  stopAfterTick_ = false;
  return false;
}

void TI2CCommand::RunClick() {
  if (script_.Synchronous() || holding_) return;
  if (Running()) Stop();
  else StartRun();
}

void TI2CCommand::RunScriptTimer() {
  const bool synchronous = script_.Synchronous();
  if (!RunScript->isActive() && !synchronous) return;
  RunScript->stop();
  CommandScript::TickResult result;
  if (!TickRun(result)) return StopRun();
  switch (result.end) {
    case CommandScript::TickEnd::More:
      if (!synchronous) RunScript->start(1);
      break;
    case CommandScript::TickEnd::Wait:
      if (!synchronous) RunScript->start(result.waitMs);
      break;
    case CommandScript::TickEnd::Finished:
    case CommandScript::TickEnd::Stopped:
      if (!synchronous) StopRun();
      break;
    case CommandScript::TickEnd::Failed:
      if (!synchronous) StopRun();
      ShowFailure(result.failedLine);
      break;
  }
}

void TI2CCommand::ReportLine(int number, const std::string& line) {
  Dialogs().Warning(this, "Palisar",
                    "Error, line = " + std::to_string(number) + ", " + platform::Cut(line) +
                        "\n\r\n\rSource File = " + platform::Cut(windowTitle().toStdString()));
}

void TI2CCommand::ShowFailure(int lineIndex) {
  const std::vector<std::string>& lines = script_.Lines();
  const std::string line = lineIndex >= 0 && size_t(lineIndex) < lines.size() ? lines[size_t(lineIndex)] : "";
  ReportLine(lineIndex + 1, line);
  const QTextBlock block = CommandBuffer->document()->findBlockByNumber(lineIndex);
  if (block.isValid()) {
    QTextCursor cursor(block);
    cursor.setPosition(block.position());
    cursor.setPosition(block.position() + block.length() - 1, QTextCursor::KeepAnchor);
    CommandBuffer->setTextCursor(cursor);
  }
  show();
  CommandBuffer->setFocus();
}

void TI2CCommand::RunSync() {
  // A timer-driven run of this window cannot go on under a synchronous one.
  if (RunScript->isActive()) StopRun();
  script_.SetLines(CommandLines());
  script_.BeginRun(true);
  Bar()->show();
  RunScript->stop();
  while (script_.LineCounter() < int(script_.Lines().size())) RunScriptTimer();
  Bar()->hide();
  script_.EndRun();
}

bool TI2CCommand::RunSyncFor(std::chrono::milliseconds hold) {
  // Asked again from a message box of this run: the run is on its way.
  if (holding_ || script_.Synchronous()) return false;
  if (Running()) StopRun();
  script_.SetLines(CommandLines());
  // Timer-driven from the start: a delay or a poll comes back as a wait, so
  // the run can leave off at any tick and go on from there.
  script_.BeginRun(false);
  shownForHandOver_ = false;
  Bar()->setValue(0);
  Bar()->show();
  holding_ = true;
  holdEnd_ = std::chrono::steady_clock::now() + hold;
  for (;;) {
    CommandScript::TickResult result;
    if (!TickRun(result)) {
      StopRun();
      return true;
    }
    if (result.end == CommandScript::TickEnd::Finished || result.end == CommandScript::TickEnd::Stopped ||
        result.end == CommandScript::TickEnd::Failed) {
      StopRun();
      if (result.end == CommandScript::TickEnd::Failed) ShowFailure(result.failedLine);
      return true;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(holdEnd_ - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      holding_ = false;
      ContinueOnTimer(result.end == CommandScript::TickEnd::Wait ? result.waitMs : 1);
      shownForHandOver_ = isHidden();
      show();
      raise();
      return false;
    }
    if (result.end == CommandScript::TickEnd::Wait) platform::Sleep(int(std::min<int64_t>(result.waitMs, left.count())));
  }
}

void TI2CCommand::ExecuteClick() {
  if (script_.Synchronous() || Running()) return;
  const std::string line = Command->text().toStdString();
  if (!script_.ExecuteSingleLine(line))
    ReportLine(1, line);
}

// ---- files ------------------------------------------------------------------------------

void TI2CCommand::OpenClick() {
  const std::string name = Dialogs().OpenFile(this, "Open", kFilter);
  std::error_code error;
  if (name.empty() || !std::filesystem::is_regular_file(name, error)) return;
  std::vector<std::string> lines;
  std::string problem;
  if (!CommandScript::ReadScriptFile(name, lines, &problem)) {
    platform::LogLine(problem);
    return;
  }
  SetCommandLines(lines);
  setWindowTitle(ToQString(name));
}

void TI2CCommand::SaveClick() {
  const std::string name = Dialogs().SaveFile(this, "Save", kFilter, script_.FileName());
  if (name.empty()) return;
  script_.SetFileName(name);
  if (!WriteLines(name, CommandLines())) platform::LogLine("Cannot write the script file " + name);
}

void TI2CCommand::ClearReadDataClick() { ReadData->clear(); }
void TI2CCommand::ClearCommandBufferClick() { CommandBuffer->clear(); }

// ---- decoding ---------------------------------------------------------------------------

int TI2CCommand::DecodeCallback(void* user, int device, ScriptPlace&, int reg, uint8_t* data, int count, bool isRead,
                                bool) {
  auto* window = static_cast<TI2CCommand*>(user);
  const TI2CCommandDecodeCallback decode = window->script_.Decode();
  if (isRead || !decode) return 1;
  if (device == 0x30 && reg == 0 && count > 0) window->decodedPage_ = data[0];
  for (int i = 0; i < count; ++i)
    decode(window->script_.User(), window->decodeOutput_, device, window->decodedPage_, reg + i, data[i]);
  window->decodeOutput_.push_back(kDashLine);
  return 1;
}

void TI2CCommand::CommandDecodeClick() {
  script_.DropPending();
  std::vector<std::string> lines;
  for (const std::string& line : CommandLines())
    if (line.find("#%") == std::string::npos) lines.push_back(line);

  // Every decoding starts on page 0, so decoding twice gives what decoding once gave.
  decodedPage_ = 0;
  decodeOutput_.clear();
  savedUser_ = script_.TransferUser();
  savedTransfer_ = script_.Transfer();
  script_.SetTransfer(this, DecodeCallback);
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string line = lines[i];
    if (!script_.ExecuteLine(line, i + 1 == lines.size(), true)) {
      decodeOutput_.push_back("#%Syntax Error");
      script_.DropPending();
    }
    decodeOutput_.push_back(line);
  }
  script_.FlushPending(true);
  script_.SetTransfer(savedUser_, savedTransfer_);
  SetCommandLines(decodeOutput_);
  decodeOutput_.clear();
}

void TI2CCommand::ReadDecodeClick() {
  const TI2CCommandDecodeCallback decode = script_.Decode();
  if (!decode) return;
  std::vector<std::string> lines;
  for (const std::string& line : ReadDataLines())
    if (!line.empty() && line.compare(0, 2, "#%") != 0) lines.push_back(line);

  std::vector<std::string> output;
  int device = 0x30, page = 0, reg = 0, count = 0;
  std::vector<uint8_t> bytes;
  auto invalid = [this](const std::string& text) {
    Dialogs().Warning(this, "Palisar", "'" + platform::Cut(text) + "' is not a valid integer value");
  };
  for (const std::string& original : lines) {
    output.push_back(original);
    const std::string line = CommandScript::Trim(original);
    if (!line.empty() && line[0] == '#') continue;
    if (!line.empty() && line[0] == 'r') {
      // "r 30 F0 10, Page = 0:" as the interpreter prints it.
      int d, r, n;
      if (!HexPair(line, 2, d)) return invalid(line.substr(2, 2));
      if (!HexPair(line, 5, r)) return invalid(line.substr(5, 2));
      if (!HexPair(line, 8, n)) return invalid(line.substr(8, 2));
      const size_t at = line.find("Page = ");
      const size_t colon = at == std::string::npos ? std::string::npos : line.find(':', at);
      const std::string number =
          at == std::string::npos ? std::string() : line.substr(at + 7, colon == std::string::npos ? std::string::npos : colon - at - 7);
      char* end = nullptr;
      const long p = std::strtol(number.c_str(), &end, 10);
      if (number.empty() || *end != 0) return invalid(number);
      device = d;
      reg = r;
      count = n;
      page = int(p);
      bytes.clear();
    } else {
      for (size_t i = 0; i + 2 <= line.size(); i += 3) {
        int v;
        if (!HexPair(line, i, v)) return invalid(line.substr(i, 2));
        if (bytes.size() < CommandScript::kBufferSize) bytes.push_back(uint8_t(v));
      }
    }
    if (int(bytes.size()) >= count) {
      for (int i = 0; i < count; ++i) decode(script_.User(), output, device, page, reg + i, bytes[size_t(i)]);
      output.push_back(kDashLine);
      bytes.clear();
    }
  }
  SetReadDataLines(output);
}

void TI2CCommand::CommandClearDecodedClick() {
  std::vector<std::string> kept;
  for (const std::string& line : CommandLines())
    if (line.find("#%") == std::string::npos) kept.push_back(line);
  SetCommandLines(kept);
}

void TI2CCommand::ReadClearDecodedClick() {
  std::vector<std::string> kept;
  for (const std::string& line : ReadDataLines())
    if (line.find("#%") == std::string::npos) kept.push_back(line);
  SetReadDataLines(kept);
}

// ---- log and source generator -----------------------------------------------------------

void TI2CCommand::GetLogClick() {
  const TI2CCommandLogCallback log = script_.Log();
  if (!log) return;
  char* text = log(script_.User());
  if (!text) return;
  const std::string all = text;
  std::free(text);
  size_t from = 0;
  while (from <= all.size()) {
    size_t lf = all.find('\n', from);
    std::string piece = all.substr(from, lf == std::string::npos ? std::string::npos : lf - from);
    if (!piece.empty() && piece.back() == '\r') piece.pop_back();
    if (lf == std::string::npos) {
      // The last piece counts without a final line feed; after one there is none.
      if (!piece.empty()) AppendCommandLine(piece);
      break;
    }
    AppendCommandLine(piece);
    from = lf + 1;
  }
}

int TI2CCommand::GenSrcCallback(void* user, int, ScriptPlace&, int reg, uint8_t* data, int count, bool isRead,
                                bool) {
  // Reads are ignored, not refused: they give zeros, so an s line writes back its set bits.
  if (isRead) {
    std::fill(data, data + count, uint8_t(0));
    return kTransferDone;
  }
  auto* window = static_cast<TI2CCommand*>(user);
  char line[32];
  for (int i = 0; i < count; ++i) {
    std::snprintf(line, sizeof line, "  {%03d, 0x%02X},", reg + i, data[i]);
    window->genSrc_.push_back(line);
  }
  return kTransferDone;
}

void TI2CCommand::GenSrcClick() {
  savedUser_ = script_.TransferUser();
  savedTransfer_ = script_.Transfer();
  const TI2CCommandBitsCallback bits = script_.Bits();
  const TI2CCommandPageCallback page = script_.PageQuery();
  script_.SetTransfer(this, GenSrcCallback);
  // Generating source is no run on the board: no board bits, no page queries.
  script_.SetBoardQueries(nullptr, nullptr);
  script_.SetGenerating(true);
  genSrc_.assign(1, "const QMX7440_VRA5520_REG_T __packed pFixedCfgRegs[] AT(FIXED_REGS_ADDR) = {");
  RunSync();
  genSrc_.push_back(
      "  // VRA5520\n  { 0x01, 0xC0 }, // Enable both amps, stereo headphone mode, not shutdown\n"
      "  { 0x02, 0x1A }  // Unmute and set volume\n};\n\n");
  const int n = int(genSrc_.size()) - 2;
  genSrc_.push_back("const IXD_CMD_T __packed pFixedCfgRegsCmdList[] = {");
  char line[160];
  for (int i = 0; i < n; ++i) {
    std::snprintf(line, sizeof line,
                  "  { QMX7440_I2C_ADDR, sizeof(QMX7440_VRA5520_REG_T), FIXED_REGS_ADDR + %d},", i);
    genSrc_.push_back(line);
  }
  char tail[400];
  std::snprintf(tail, sizeof tail,
                "  { VRA5520_I2C_ADDR, sizeof(QMX7440_VRA5520_REG_T), FIXED_REGS_ADDR + %d },\n"
                "  { VRA5520_I2C_ADDR, sizeof(QMX7440_VRA5520_REG_T), FIXED_REGS_ADDR + %d },\n"
                "  { VRA5520_I2C_ADDR, sizeof(QMX7440_VRA5520_REG_T), 0x0000               }\n};\n",
                n, n + 1);
  genSrc_.push_back(tail);
  if (!WriteLines(kGenSrcFile, genSrc_)) platform::LogLine(std::string("Cannot write ") + kGenSrcFile);
  script_.SetGenerating(false);
  script_.SetBoardQueries(bits, page);
  script_.SetTransfer(savedUser_, savedTransfer_);
  genSrc_.clear();
}

// ---- layout -----------------------------------------------------------------------------

void TI2CCommand::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  FormResize();
}

void TI2CCommand::closeEvent(QCloseEvent* event) {
  if (stopOnClose_ && Running() && !script_.Synchronous()) {
    platform::LogLine(platform::Cut(windowTitle().toStdString()) + ": the run stopped, its window was closed");
    Stop();
  }
  QWidget::closeEvent(event);
}

namespace {

// A row of buttons along the bottom of a group: the shown ones left to
// right at their widths; `stretch` (placed shown or not, since it comes and
// goes while a script runs) takes the rest of the row's last line.
struct TButtonRow {
  std::vector<std::pair<QWidget*, int>> buttons;
  QWidget* stretch = nullptr;
};

// Lays the rows out in a group `width` wide, each going on over further
// lines where its buttons do not fit (a narrow window, the init-script
// one); the last line's top is `lastTop`. Returns the first line's top.
int PlaceRows(const std::vector<TButtonRow>& rows, int width, int lastTop) {
  constexpr int kLeft = 8, kGap = 5, kPitch = 32, kHeight = 25;
  struct Spot {
    QWidget* widget;
    int line, x, width;
    bool bar;  // the stretch: a thin bar in the middle of its line
  };
  std::vector<Spot> spots;
  int line = -1;
  for (const TButtonRow& row : rows) {
    ++line;
    int x = kLeft;
    for (const auto& [button, buttonWidth] : row.buttons) {
      if (button->isHidden()) continue;
      if (x > kLeft && x + buttonWidth > width - kLeft) {
        ++line;
        x = kLeft;
      }
      spots.push_back({button, line, x, buttonWidth, false});
      x += buttonWidth + kGap;
    }
    if (row.stretch) spots.push_back({row.stretch, line, x + 3, std::max(0, width - kLeft - x - 3), true});
  }
  const int lines = line + 1;
  for (const Spot& s : spots) {
    const int top = lastTop - (lines - 1 - s.line) * kPitch;
    if (s.bar) s.widget->setGeometry(s.x, top + 4, s.width, kHeight - 8);
    else s.widget->setGeometry(s.x, top, s.width, kHeight);
  }
  return lastTop - (lines - 1) * kPitch;
}

}  // namespace

void TI2CCommand::FormResize() {
  const int w = width(), h = height();
  const int gw = w / 2 - 15, gh = h - 70;
  CommandBufferGroup->setGeometry(6, 6, gw, gh);
  ReadDataGroup->setGeometry(6 + gw + 6, 6, gw, gh);

  const int last = gh - 34;
  const int commandTop = PlaceRows({{{{Open, 75}, {Save, 75}, {Run, 66}}, ProgressBar},
                                    {{{Record, 70}, {ClearCommandBuffer, 75}, {GetLog, 75}, {CommandDecode, 75},
                                      {CommandClearDecoded, 90}}}},
                                   gw, last);
  CommandBuffer->setGeometry(8, 20, gw - 16, commandTop - 26);
  const int readTop = PlaceRows({{{{ClearReadData, 75}, {ReadDecode, 75}, {ReadClearDecoded, 90}}}}, gw, last);
  ReadData->setGeometry(8, 20, gw - 16, readTop - 26);

  Command->setGeometry(6, h - 56, w - 186, 25);
  Execute->setGeometry(w - 174, h - 56, 80, 25);
  GenSrc->setGeometry(w - 88, h - 56, 80, 25);
}
