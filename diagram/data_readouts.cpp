#include "diagram/data_readouts.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <cmath>
#include <cstdio>
#include <fstream>

#include "diagram/control_layout.h"
#include "diagram/script_button.h"
#include "platform/gui/gui.h"
#include "platform/library.h"
#include "platform/log.h"
#include "registers/i2c_command.h"

namespace {

constexpr int kScopePage = 255, kScopeRegister = 6, kScopeBytes = 112, kScopeRate = 20;
constexpr int kStatusPage = 103, kStatusRegister = 38, kValuesPage = 251, kValuesCount = 32, kPollRate = 10;

std::string Hint(const char* name, const TI2CObject& window) {
  return std::string(name) + std::to_string(window.GetPage()) + ", Register: " +
         std::to_string(window.GetFirstRegister()) + ", Length: " + std::to_string(window.GetCount());
}

QCheckBox* Box(QWidget* owner, const char* caption, bool checked) {
  if (!owner) return nullptr;
  auto* box = new QCheckBox(QString::fromUtf8(caption), owner);
  box->setChecked(checked);
  box->show();
  return box;
}

}  // namespace

// ------------------------------------------------------------------ shared

TDataReadout::TDataReadout(int page, int reg, int count, QWidget* ownerWidget, const float* rect, void* window,
                           TScriptTransferCallback transfer, const std::string& scriptFile,
                           const std::string& caption)
    : TStreamingShape(0, page, reg, count, rect), owner(ownerWidget) {
  bitmap.SetSize(FileSide(rect[0], rect[2], 4), FileSide(rect[1], rect[3], 4), 0xFFFFFF);
  script.Set(scriptFile, caption, window, transfer, nullptr);
  activeBox = Box(owner, "Active", true);
  if (activeBox) QObject::connect(activeBox.data(), &QCheckBox::clicked, [this] { UpdateMode(); });
}

TDataReadout::~TDataReadout() { delete activeBox.data(); }

void TDataReadout::SetActiveObjects(bool flag) {
  TStreamingShape::SetActiveObjects(flag);
  if (activeBox) activeBox->setEnabled(flag);
  UpdateMode();
}

void TDataReadout::UpdateMode() {
  const bool active = activeBox ? activeBox->isChecked() && activeBox->isEnabled() : true;
  SetMode(active ? 1 : 0, nullptr);
  // An inert readout takes no pointer, so nothing would end its stream later.
  if (!active) EndStream();
}

void TDataReadout::PlaceImage() {
  if (!bitmap.Locked()) bitmap.SetSize(ImageWidth(), ImageHeight(), 0xFFFFFF);
  if (activeBox) PlaceBoxBeside(activeBox, placedPoints[1].x, placedPoints[1].y, 0, GetScale(), activeFit);
}

void TDataReadout::RunScript() { script.RunSync(); }

void TDataReadout::OnGuiThread(const std::function<void()>& draw) {
  // A direct call on the GUI thread; nothing once the program is going.
  gui::SendSync(draw);
}

void TDataReadout::CopyBitmap() {
  if (!canvas) return;
  TCanvasLock lock(*canvas);
  lock.Painter().drawImage(ImageLeft(), ImageTop(), bitmap.Image());
}

// ------------------------------------------------------------------- scope

TDSVoiceRecordData::TDSVoiceRecordData(QWidget* owner, const float* rect, void* window,
                                       TScriptTransferCallback transfer, int address)
    // The window covers the 112 bytes that a block decodes.
    : TDataReadout(kScopePage, kScopeRegister, kScopeBytes, owner, rect, window, transfer,
                   "Codecs\\QMX7120-P_DSVoiceData.txt", "QMX7120-P_DSVoiceData.txt"),
      address(address) {
  SetHintText(Hint("DS Voice Record Data: Page: ", *this));
  recordBox = Box(owner, "Record to DSVoiceRecord.txt", false);
  if (recordBox) QObject::connect(recordBox.data(), &QCheckBox::clicked, [this] { RecordClick(); });
}

TDSVoiceRecordData::~TDSVoiceRecordData() {
  // A log still collecting is kept when the widget goes.
  if (logging) SaveLog();
  delete recordBox.data();
}

void TDSVoiceRecordData::Place(float s, int dx, int dy) {
  TDataReadout::Place(s, dx, dy);
  PlaceImage();
  // Under the "Active" box, as large as its text: beside the scope it would
  // cover the readout that the kit puts next to it.
  if (recordBox) PlaceBoxBeside(recordBox, placedPoints[1].x, placedPoints[1].y, 20, s, recordFit);
  // The last block at the new size; only a decoded block goes to the log.
  RenderScope();
}

bool TDSVoiceRecordData::Click(int x, int y) {
  const bool hit = TDataReadout::Click(x, y);
  if (hit) script.Show();
  return hit;
}

void TDSVoiceRecordData::OnHighlighted() {
  RunScript();
  streaming = true;
  RequestRefresh(kScopePage, kScopeRegister, kScopeBytes, kScopeRate);
  showBitmap = false;
}

void TDSVoiceRecordData::OnUnhighlighted() {
  streaming = false;
  StopOwnRefresh();
  showBitmap = true;
}

void TDSVoiceRecordData::Draw(TCanvas* target) {
  TDataReadout::Draw(target);
  // While it streams the image holds the newest block: a redraw of the page
  // in between must show it too.
  if (showBitmap || streaming) target->Painter().drawImage(ImageLeft(), ImageTop(), bitmap.Image());
}

void TDSVoiceRecordData::OnRegisterChanged(int dev, int pg, unsigned reg) {
  if (dev != device || !streaming) return;
  if (pg == page && int(reg) >= firstRegister && int(reg) <= firstRegister + count - 1) DecodeSamples();
}

void TDSVoiceRecordData::DecodeSamples() {
  for (int n = 0; n < kSamples; ++n) samples[n] = DecodeSample(data[2 * n], data[2 * n + 1]);
  OnGuiThread([this] { DrawSamples(); });
}

void TDSVoiceRecordData::DrawSamples() {
  if (logging) {
    std::string block;
    char line[16];
    for (int sample : samples) {
      std::snprintf(line, sizeof line, "0x%04x\r\n", unsigned(sample) & 0xFFFF);
      block += line;
    }
    block += "\r\n";
    log.push_back(std::move(block));
    if (log.size() > kMaxLogBlocks) log.pop_front();
  }
  RenderScope();
  CopyBitmap();
  SendEvent(kEventStateChanged);
}

void TDSVoiceRecordData::RenderScope() {
  const int w = bitmap.Width(), h = bitmap.Height();
  TCanvasLock lock(bitmap);
  QPainter& painter = lock.Painter();
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.fillRect(0, 0, w, h, Qt::black);
  const QColor grey(0x80, 0x80, 0x80);
  painter.setPen(grey);
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(0, 0, w, h);
  painter.drawLine(0, h / 2, w, h / 2);
  // A narrow scope would round the grid step to 0 and never end its grid.
  const int g = std::max(1, int(std::lround(double(w) / kSamples * (1000.0 / 210.0))));
  painter.setFont(QFont(QStringLiteral("Arial"), 10));
  // "1 ms" follows "1 Div" on its grid line, or after the text where the
  // grid is narrower than the text.
  const QString div = QStringLiteral("1 Div");
  const QFontMetrics metrics = painter.fontMetrics();
  const int msLeft =
      std::max(7 + g, 7 + metrics.horizontalAdvance(div) + metrics.horizontalAdvance(QLatin1Char(' ')));
  painter.drawText(7, h - 20 + 10, div);
  painter.drawText(msLeft, h - 20 + 10, QStringLiteral("1 ms"));
  for (int x = 0; x < w; x += g) painter.drawLine(x, 5, x, h - 5);
  painter.setPen(QColor(0x00, 0xFF, 0xFF));
  QPoint previous(0, h / 2);
  for (int n = 0; n < kSamples; ++n) {
    const QPoint point(int(std::lround(double(w) * n / kSamples)),
                       int(std::lround((1.0 - samples[n] / 2048.0) * (h / 2))));
    painter.drawLine(previous, point);
    previous = point;
  }
}

void TDSVoiceRecordData::RecordClick() {
  if (recordBox && recordBox->isChecked()) {
    log.clear();
    logging = true;
  } else {
    SaveLog();
    logging = false;
  }
}

void TDSVoiceRecordData::SaveLog() {
  std::ofstream file(kLogFile, std::ios::binary | std::ios::trunc);
  for (const std::string& block : log) file << block;
  if (!file) platform::LogLine(std::string("DS Voice Record Data: cannot write ") + kLogFile);
}

// ----------------------------------------------------------------- IN1/IN2

TIN1IN2Data::TIN1IN2Data(QWidget* owner, const float* rect, void* window, TScriptTransferCallback transfer,
                         int address)
    : TDataReadout(kStatusPage, kStatusRegister, 1, owner, rect, window, transfer, "Codecs\\QMX7120-P_IN1IN2.txt",
                   "QMX7120-P_IN1IN2.txt"),
      address(address) {
  SetHintText(Hint("IN1 & IN2 Data: Page: ", *this));
}

void TIN1IN2Data::Place(float s, int dx, int dy) {
  TDataReadout::Place(s, dx, dy);
  PlaceImage();
  Render();
}

bool TIN1IN2Data::Click(int x, int y) {
  const bool hit = TDataReadout::Click(x, y);
  if (hit) showVolts = !showVolts;
  return hit;
}

void TIN1IN2Data::OnHighlighted() {
  if (driven) return;
  showBitmap = false;
  RunScript();
  streaming = true;
  RequestRefresh(kStatusPage, kStatusRegister, 1, kPollRate);
}

void TIN1IN2Data::OnUnhighlighted() {
  streaming = false;
  if (driven) return;
  StopOwnRefresh();
  showBitmap = true;
}

void TIN1IN2Data::Draw(TCanvas* target) {
  TDataReadout::Draw(target);
  Render();
  target->Painter().drawImage(ImageLeft(), ImageTop(), bitmap.Image());
}

void TIN1IN2Data::OnRegisterChanged(int dev, int pg, unsigned) {
  // Page 251 lies in the image only once the window is bound to it.
  if (dev != device || !streaming || driven || data == PrivateData()) return;
  if (pg == kStatusPage) {
    if (showBitmap || (data[0] & kBusyBit)) return;
    RequestRefresh(kValuesPage, 1, kValuesCount, kPollRate);
  } else if (pg == kValuesPage) {
    const uint8_t* values = data + (kValuesPage - kStatusPage) * 128 - kStatusRegister;
    in1 = values[1] * 256 + values[2];
    in2 = values[17] * 256 + values[18];
    OnGuiThread([this] { Delivered(); });
    // The delivery's fade step may have ended the hover, and the stream.
    if (streaming) RequestRefresh(kStatusPage, kStatusRegister, 1, kPollRate);
  }
}

void TIN1IN2Data::SetValues(int value1, int value2) {
  in1 = value1;
  in2 = value2;
  OnGuiThread([this] { Delivered(); });
}

void TIN1IN2Data::Delivered() {
  FadeStep();
  SendEvent(kEventStateChanged);
}

std::string TIN1IN2Data::Text() const {
  char text[64];
  if (showVolts) {
    char first[32], second[32];
    std::snprintf(first, sizeof first, "%f", in1 * 1.8 / 4096);
    std::snprintf(second, sizeof second, "%f", in2 * 1.8 / 4096);
    std::snprintf(text, sizeof text, "%.5sV  %.5sV", first, second);
  } else {
    std::snprintf(text, sizeof text, "%04d     %04d", in1, in2);
  }
  return text;
}

void TIN1IN2Data::Render() {
  const int w = bitmap.Width(), h = bitmap.Height();
  TCanvasLock lock(bitmap);
  QPainter& painter = lock.Painter();
  painter.setPen(QColor(0x80, 0x80, 0x80));
  painter.setBrush(Qt::white);
  painter.drawRect(0, 0, w, h);
  QFont font(QStringLiteral("Arial"));
  font.setPointSize(std::max(1, int(std::lround(20 * scale))));
  painter.setFont(font);
  painter.setPen(showVolts ? QColor(0x80, 0x00, 0x80) : QColor(0x00, 0x00, 0xFF));
  const int x = int(std::lround((showVolts ? 5 : 22) * scale));
  painter.drawText(QRect(x, h / 4, w, h), Qt::AlignLeft | Qt::AlignTop, QString::fromStdString(Text()));
  painter.setPen(Qt::black);
}
