#include "codec/agc_form.h"

#include <QCheckBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPainterPath>
#include <array>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "platform/gui/dialogs.h"

namespace {

QColor Qt_(TColor c) { return QColor(int(c & 0xFF), int(c >> 8 & 0xFF), int(c >> 16 & 0xFF)); }

// A paint box with its paint and mouse handlers.
class TPlotBox : public QWidget {
 public:
  explicit TPlotBox(QWidget* parent) : QWidget(parent) {}
  std::function<void(QPainter&)> paint;
  std::function<void(int, int)> down, move;
  std::function<void()> up;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    if (paint) paint(p);
  }
  void mousePressEvent(QMouseEvent* e) override {
    if (down) down(e->position().toPoint().x(), e->position().toPoint().y());
  }
  void mouseMoveEvent(QMouseEvent* e) override {
    if (move) move(e->position().toPoint().x(), e->position().toPoint().y());
  }
  void mouseReleaseEvent(QMouseEvent*) override {
    if (up) up();
  }
};

// The text of a level in dB; every level of the lines is a whole number of tenths.
QString Db(double dB) { return QString::fromStdString(DecimalText(std::lround(dB * 10), 1) + " dB"); }

}  // namespace

// ---------------------------------------------------------------- line

TAGCLine::TAGCLine(float x1, float x2, float y, TColor colour)
    : TGUILine(std::array<float, 4>{x1, y, x2, y}.data(), 2, colour), x1_(x1), x2_(x2) {
  Place(1, 0, 0);
  SetHighlightColour(255);
  SetOnColour(colour);
  SetOnWidth(2);
  SetHighlightWidth(2);
  SetMode(1, nullptr);
}

float TAGCLine::NearestIndex(float dB) {
  if (levelCount == 0) return 0;
  int best = 0;
  int bestDiff = std::abs(int(dB - levels[0]));
  for (unsigned i = 1; i < levelCount; ++i) {
    const int diff = std::abs(int(dB - levels[i]));
    if (diff < bestDiff) best = int(i), bestDiff = diff;
  }
  selectedIndex = best;
  return levels[best];
}

void TAGCLine::MoveTo(float y) {
  const float xy[4] = {x1_, y, x2_, y};
  SetPoints(xy, 2);
  Place(1, 0, 0);
}

void TAGCLine::Paint(QPainter& p) const {
  const TPointF a = GetPlacedPoint(0), b = GetPlacedPoint(1);
  p.setPen(QPen(Qt_(GetCurrentColour()), 2));
  p.drawLine(QPointF(a.x, a.y), QPointF(b.x, b.y));
  p.drawText(QPointF(a.x, a.y - 3), QString::fromStdString(caption));
}

// ---------------------------------------------------------------- form

TAGCForm::TAGCForm() : TCodecDialog("AGC", 575, 409) {
  makeCapture = [] { return MakeAlsaCapture(); };
  AGCEnabled = Check(this, "AGCEnabled", "AGC Enabled", QRect(8, 6, 120, 20));
  auto* plot = new TPlotBox(this);
  plot->setGeometry(8, 31, 417, 370);
  plot->setObjectName("Plot");
  plot->paint = [this](QPainter& p) { PlotPaint(p); };
  plot->down = [this](int x, int y) { PlotMouseDown(x, y); };
  plot->move = [this](int x, int y) { PlotMouseMove(x, y); };
  plot->up = [this] { PlotMouseUp(); };
  plot->setMouseTracking(true);
  Plot = plot;
  Text("Target Level:", 440, 10, 100);
  TargetLevelText = Text("-20 dB", 440, 28, 100);
  Text("Noise Threshold:", 440, 50, 110);
  NoiseThresholdText = Text("-20 dB", 440, 68, 100);
  Text("AGC Gain", 440, 94, 100);
  MaxGain = Slider(this, Qt::Vertical, 0, 116, 0, QRect(450, 114, 30, 140));
  MaxGain->setTickInterval(9);
  MaxGain->setObjectName("MaxGain");
  MaxGainText = Text("0 dB", 440, 256, 100);
  CurrentGain = new QProgressBar(this);
  CurrentGain->setOrientation(Qt::Vertical);
  CurrentGain->setRange(-24, 116);
  CurrentGain->setGeometry(500, 114, 16, 140);
  CurrentGain->hide();
  auto* mini = new TPlotBox(this);
  mini->setGeometry(440, 279, 125, 82);
  mini->paint = [this](QPainter& p) { MiniPlotPaint(p); };
  MiniPlot = mini;
  MoreLess = new QPushButton("More >>", this);
  MoreLess->setObjectName("MoreLess");
  MoreLess->setGeometry(440, 372, 125, 28);

  struct Row {
    QSlider*& slider;
    QLabel*& text;
    const char* name;
    const char* caption;
    int max;
    const char* initial;
  } rows[] = {{Attack, AttackText, "Attack", "Attack", 31, "0 ms"},
              {AttackMult, AttackMultText, "AttackMult", "Attack x", 7, "1x"},
              {Decay, DecayText, "Decay", "Decay", 31, "0 ms"},
              {DecayMult, DecayMultText, "DecayMult", "Decay x", 7, "1x"},
              {Signal, SignalText, "Signal", "Signal debounce", 15, "0 ms"},
              {Noise, NoiseText, "Noise", "Noise debounce", 31, "0 ms"},
              {Hysteresis, HysteresisText, "Hysteresis", "Hysteresis", 3, "1 dB"}};
  int y = 10;
  for (Row& r : rows) {
    Text(r.caption, 585, y, 120);
    r.slider = Slider(this, Qt::Horizontal, 0, r.max, 0, QRect(585, y + 18, 160, 22));
    r.slider->setObjectName(r.name);
    r.text = Text(r.initial, 750, y + 20, 90);
    r.text->setObjectName(QString(r.name) + "Text");
    y += 54;
  }

  const int H = Plot->height(), W = Plot->width();
  (void)H;
  targetLine = std::make_unique<TAGCLine>(30.f, float(W - 10), float(LevelY(-5.5)), 0x00FF00);
  targetLine->SetCaption("Target Level");
  for (float l : {-5.5f, -8.f, -10.f, -12.f, -14.f, -17.f, -20.f, -24.f}) targetLine->AddLevel(l);
  noiseLine = std::make_unique<TAGCLine>(30.f, float(W - 10), float(LevelY(-30)), 0xFFFF00);
  noiseLine->SetCaption("Noise Threshold");
  for (int l = -30; l >= -90; l -= 2) noiseLine->AddLevel(float(l));

  connect(AGCEnabled, &QCheckBox::clicked, this, [this] { WriteRegisters(); });
  connect(MaxGain, &QSlider::valueChanged, this, [this](int p) {
    MaxGainText->setText(QString::fromStdString(DecimalText((116 - p) * 5, 1) + " dB"));
    WriteRegisters();
  });
  for (QSlider* s : {Attack, AttackMult, Decay, DecayMult, Signal, Noise, Hysteresis})
    connect(s, &QSlider::valueChanged, this, [this] {
      Times();
      WriteRegisters();
    });
  connect(MoreLess, &QPushButton::clicked, this, [this] {
    expanded = !expanded;
    MoreLess->setText(expanded ? "<< Less" : "More >>");
    resize(width() + (expanded ? 265 : -265), height());
  });
}

TAGCForm::~TAGCForm() {
  // The capture's thread posts into this form: it ends first.
  StopCapture();
}

int TAGCForm::LevelY(double dB) const { return int(dB * -0.1 * (Plot->height() - 40) * 0.1 + 40); }
double TAGCForm::YLevel(int y) const { return (y - 40) / ((Plot->height() - 40) * -0.01); }

void TAGCForm::Times() {
  auto mult = [](int p) { return QString::asprintf("%ux", 1u << p); };
  AttackText->setText(QString::fromStdString(
      AGCTimeText((2.0 * Attack->value() + 1) * (1 << AttackMult->value()) * 32 / kRate)));
  AttackMultText->setText(mult(AttackMult->value()));
  DecayText->setText(QString::fromStdString(
      AGCTimeText((2.0 * Decay->value() + 1) * (1 << DecayMult->value()) * 512 / kRate)));
  DecayMultText->setText(mult(DecayMult->value()));
  SignalText->setText(QString::fromStdString(AGCTimeText(double(1 << Signal->value()) / kRate)));
  NoiseText->setText(QString::fromStdString(AGCTimeText(double(1u << Noise->value()) / kRate)));
  HysteresisText->setText(Hysteresis->value() == 3 ? QString("disabled")
                                                   : QString::asprintf("%i dB", 1 << Hysteresis->value()));
}

void TAGCForm::WriteRegisters() {
  if (loading) return;
  agc.Reg(86) = uint8_t((AGCEnabled->isChecked() ? 0x80 : 0) | (targetLine->selectedIndex & 7) << 4);
  agc.Reg(87) = uint8_t((Hysteresis->value() & 3) << 6 | ((noiseLine->selectedIndex + 1) & 31) << 1);
  agc.Reg(88) = uint8_t(116 - MaxGain->value());
  agc.Reg(89) = uint8_t(Attack->value() << 3 | AttackMult->value());
  agc.Reg(90) = uint8_t(Decay->value() << 3 | DecayMult->value());
  agc.Reg(91) = uint8_t(Noise->value() & 31);
  agc.Reg(92) = uint8_t(Signal->value() & 15);
  // Register 93 is the applied gain: read only.
  agc.Send(86, 7);
}

void TAGCForm::Refresh() {
  Loading(loading, [this] {
    CurrentGain->setValue(int(int8_t(agc.Reg(93))));
    AGCEnabled->setChecked(agc.Reg(86) & 0x80);
    const unsigned index = agc.Reg(86) >> 4 & 7;
    const float target = targetLine->NearestIndex(index < targetLine->levelCount ? targetLine->levels[index] : 0.f);
    targetLine->MoveTo(float(LevelY(target)));
    TargetLevelText->setText(Db(target));
    const int v = agc.Reg(87) >> 1 & 31;
    if (v >= 1) {
      const float threshold = noiseLine->NearestIndex(float(-(28 + 2 * v)));
      noiseLine->MoveTo(float(LevelY(threshold)));
      NoiseThresholdText->setText(QString::asprintf("%i dB", int(threshold)));
    }
    SetPosition(Hysteresis, agc.Reg(87) >> 6);
    SetPosition(MaxGain, 116 - std::min<int>(agc.Reg(88), 116));
    SetPosition(Attack, agc.Reg(89) >> 3);
    SetPosition(AttackMult, agc.Reg(89) & 7);
    SetPosition(Decay, agc.Reg(90) >> 3);
    SetPosition(DecayMult, agc.Reg(90) & 7);
    SetPosition(Noise, agc.Reg(91) & 31);
    SetPosition(Signal, agc.Reg(92) & 15);
  });
  Plot->update();
}

void TAGCForm::showEvent(QShowEvent* event) {
  TCodecDialog::showEvent(event);
  FormShow();
}

void TAGCForm::hideEvent(QHideEvent* event) {
  FormHide();
  TCodecDialog::hideEvent(event);
}

void TAGCForm::FormShow() {
  StopCapture();
  stopping = false;
  const unsigned mine = ++generation;
  capture = makeCapture ? makeCapture() : nullptr;
  if (!capture) return;
  std::string error;
  const bool open = capture->Open(kRate, kBufferSamples, [this, mine](const int16_t* samples, unsigned count) {
    std::vector<int16_t> buffer(samples, samples + count);
    // Queued to the GUI thread; dropped if the form is gone (the module has
    // no share in the program's own posting layer, so Qt's queue is used).
    QMetaObject::invokeMethod(this, [this, mine, buffer = std::move(buffer)]() mutable {
      // A buffer of an earlier capture, or one after the hide: dropped.
      if (mine != generation || stopping) return;
      lastBuffer = std::move(buffer);
      ++buffersShown;
      Plot->update();
      MiniPlot->update();
    }, Qt::QueuedConnection);
  }, error);
  if (!open) {
    const std::string device = capture->Device();
    capture.reset();
    Dialogs().Warning(this, "AGC",
                      "The audio input \"" + device + "\" could not be opened: " +
                          (error.empty() ? "no reason given" : error) +
                          ". The level plots stay empty; the AGC settings still work.");
  }
}

void TAGCForm::FormHide() {
  stopping = true;
  StopCapture();
}

void TAGCForm::StopCapture() {
  // Synchronous: the reading thread has ended when Close returns, and the
  // buffers it posted are ignored by their number.
  if (capture) capture->Close();
  capture.reset();
  ++generation;
}

void TAGCForm::PlotPaint(QPainter& p) {
  if (lastBuffer.size() < kBufferSamples) return;
  const int W = Plot->width(), H = Plot->height();
  p.fillRect(Plot->rect(), Qt::black);
  p.setFont(QFont("Arial", 10));
  const QColor grid(0xDD, 0xDD, 0xDD);
  p.setPen(grid);
  p.drawText(3, 10 + p.fontMetrics().ascent(), "Amplitude [dB]");
  for (int i = 0; i < 10; ++i) {
    const int y = (H - 40) * i / 10 + 40;
    p.drawLine(30, y, W - 10, y);
    p.drawText(3, y - 10 + p.fontMetrics().ascent(), QString::number(-10 * i));
  }
  const std::vector<int> levels = AGCLevels(lastBuffer.data());
  QPainterPath trace;
  for (int j = 0; j < int(levels.size()); ++j) {
    const int x = (W - 40) * j / 256 + 30;
    if (j == 0)
      trace.moveTo(x, LevelY(levels[size_t(j)]));
    else
      trace.lineTo(x, LevelY(levels[size_t(j)]));
  }
  p.setPen(QColor(0x80, 0x80, 0xFF));
  p.drawPath(trace);
  targetLine->Paint(p);
  noiseLine->Paint(p);
}

void TAGCForm::MiniPlotPaint(QPainter& p) {
  if (lastBuffer.size() < kBufferSamples) return;
  const int W = MiniPlot->width(), half = MiniPlot->height() / 2;
  p.fillRect(MiniPlot->rect(), Qt::black);
  p.setPen(QColor(0xDD, 0xDD, 0xDD));
  p.drawLine(0, half, W, half);
  QPainterPath wave;
  for (int i = 0; i < 256; ++i) {
    const int x = i * W / 256;
    const int y = int(half - lastBuffer[size_t(2 * i)] / 32767.0 * half);
    if (i == 0)
      wave.moveTo(x, y);
    else
      wave.lineTo(x, y);
  }
  p.setPen(QColor(0xFF, 0xDD, 0xDD));
  p.drawPath(wave);
}

void TAGCForm::PlotMouseDown(int x, int y) {
  for (TAGCLine* line : {targetLine.get(), noiseLine.get()}) {
    if (line->HitTest(x, y)) line->dragging = true;
    line->SetMode(0, nullptr);
  }
}

void TAGCForm::PlotMouseMove(int x, int y) {
  for (TAGCLine* line : {targetLine.get(), noiseLine.get()}) {
    if (!line->dragging) continue;
    const float level = line->NearestIndex(float(YLevel(y)));
    line->MoveTo(float(LevelY(level)));
    (line == targetLine.get() ? TargetLevelText : NoiseThresholdText)->setText(Db(level));
    Plot->update();
    WriteRegisters();
  }
  for (TAGCLine* line : {targetLine.get(), noiseLine.get()}) line->MouseMove(x, y);
}

void TAGCForm::PlotMouseUp() {
  for (TAGCLine* line : {targetLine.get(), noiseLine.get()}) {
    line->dragging = false;
    line->SetMode(1, nullptr);
  }
}
