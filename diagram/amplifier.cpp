#include "diagram/amplifier.h"

#include <QApplication>
#include <QCheckBox>
#include <QCursor>
#include <QFontMetricsF>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <map>
#include <string>
#include <tuple>

#include "diagram/bit_widgets.h"
#include "diagram/control_layout.h"

namespace {

// trunc toward zero into an int, without overflow.
int Truncate(double value) {
  if (!(value == value)) return 0;
  return int(std::clamp(std::trunc(value), -2147483648.0, 2147483647.0));
}

// The gain as the edit shows it: general format, 3 significant digits.
QString GainText(float gain) { return QString::number(double(gain), 'g', 3); }

}  // namespace

TAmplifier::TAmplifier(QWidget* ownerWindow, float initialGain, float minGain, float maxGain, float gainStep,
                       int device, int page, int reg, uint8_t fieldMask, uint8_t fieldShift, int law,
                       const float* table, unsigned tableCount, float textX, float textY, const float* triangle,
                       bool mute, bool power, int width, TColor colour)
    : TBoundShape(device, page, reg, 1, nullptr, triangle, width, colour),
      gain(initialGain),
      min(minGain),
      max(maxGain),
      step(gainStep),
      textLocation{textX, textY},
      mask(fieldMask),
      shift(uint8_t(std::min<int>(fieldShift, 7))),
      gainLaw(law),
      owner(ownerWindow),
      gainTable(table, table + (table ? tableCount : 0)),
      showMute(mute),
      showPower(power) {
  // The slider window's first position is a change like any other: it
  // shows the gain it stands for (nothing is bound to write yet).
  sliderPosition = SliderPosition(initialGain);
  if (sliderPosition != SliderPosition(max)) SetGain(PositionGain(sliderPosition), true);
  SetHintText("Amplifier: I2C Address: " + HexAddress(device) + ", Page: " + std::to_string(page) +
              ", Register: " + std::to_string(reg));
}

TAmplifier::~TAmplifier() {
  delete slider.data();
  delete edit.data();
  delete muteBox.data();
  delete powerBox.data();
}

void TAmplifier::BuildControls() {
  if (edit) return;
  QWidget* parent = DiagramControlParent(owner);
  edit = new QLineEdit(parent);
  edit->setObjectName("GainEdit");
  edit->setFrame(true);
  QObject::connect(edit.data(), &QLineEdit::returnPressed, edit.data(), [this] { GainKeyPress(13); });
  muteBox = new QCheckBox(parent);
  muteBox->setObjectName("MuteBox");
  muteBox->setChecked(muted);
  QObject::connect(muteBox.data(), &QCheckBox::clicked, muteBox.data(), [this] { MuteClick(); });
  powerBox = new QCheckBox(parent);
  powerBox->setObjectName("PowerBox");
  // Sized and fitted before the text, so that the edit lays its text out once.
  PlaceControls();
  edit->setText(gainText);
  ShowControls();
}

QRect TAmplifier::ControlRect(int control) const {
  const auto px = [this](int pixels) { return ScaledControlPixels(pixels, sizeFactor); };
  // The edit as wide as its widest gain needs, once it knows its font.
  const int width = edit ? std::max(px(kEditWidth), editWidth) : px(kEditWidth);
  if (control == 0) return QRect(editLeft, editTop, width, px(kEditHeight));
  const int top = editTop + (control == 2 && showMute ? px(kBoxHeight) + px(2) : 0);
  return QRect(editLeft + width + px(4), top, px(kBoxWidth), px(kBoxHeight));
}

QString TAmplifier::WidestGainText() const {
  // Pages repeat their ranges, so each range is measured once.
  // (By their bits, which order even a NaN.)
  using Range = std::tuple<int, uint32_t, uint32_t, uint32_t, uint8_t, uint8_t, std::vector<uint32_t>>;
  static std::map<Range, QString> widest;
  std::vector<uint32_t> table;
  for (float g : gainTable) table.push_back(std::bit_cast<uint32_t>(g));
  const Range range(gainLaw, std::bit_cast<uint32_t>(min), std::bit_cast<uint32_t>(max), std::bit_cast<uint32_t>(step),
                    mask, shift, std::move(table));
  if (const auto found = widest.find(range); found != widest.end()) return found->second;
  const QFontMetricsF metrics(QFont(QStringLiteral("Arial")).resolve(QApplication::font()));
  QString text;
  qreal width = -1;
  // Every code of the field (the two-register law's four among them) whose
  // gain the widget shows.
  for (int code = 0; code <= 0xFF; ++code) {
    const float g = CodeToGain(code);
    if (!(g >= min && g <= max)) continue;
    const QString shown = GainText(g);
    if (const qreal w = metrics.horizontalAdvance(shown); w > width) {
      width = w;
      text = shown;
    }
  }
  return widest[range] = text;
}

void TAmplifier::PlaceControls() {
  if (!edit) return;
  if (fit.Refit(sizeFactor)) {
    const QFont font = ScaledControlFont(QFont(QStringLiteral("Arial")), sizeFactor);
    FitControl(edit, font, sizeFactor);
    // A box the file does not ask for is never shown.
    if (showMute) FitControl(muteBox, font, sizeFactor);
    if (showPower) FitControl(powerBox, font, sizeFactor);
    editWidth = EditWidthFor(edit, WidestGainText());
  }
  edit->setGeometry(ControlRect(0));
  muteBox->setGeometry(ControlRect(1));
  powerBox->setGeometry(ControlRect(2));
}

void TAmplifier::ShowControls() {
  if (!edit || !Shown()) return;
  edit->setVisible(visible && !muted);
  muteBox->setVisible(visible && showMute);
  powerBox->setVisible(visible && showPower);
}

TSliderForm* TAmplifier::Slider() {
  if (slider) return slider.data();
  QWidget* parent = DiagramControlParent(owner);
  slider = new TSliderForm(parent ? parent->window() : nullptr);
  slider->SetRange(sliderPosition, 0, SliderPosition(max));
  if (!gainText.isEmpty()) slider->VolumeText->setText(gainText + " dB");
  slider->Lock->setChecked(lockBox);
  slider->SetChangeCallback(this, SliderChange);
  return slider.data();
}

void TAmplifier::SetSliderPosition(int position) {
  sliderPosition = position;
  if (!slider) return;
  slider->SetChangeCallback(this, nullptr);
  slider->SetPosition(position);
  slider->SetChangeCallback(this, SliderChange);
}

void TAmplifier::SetLockBox(bool checked) {
  lockBox = checked;
  if (slider) slider->Lock->setChecked(checked);
}

float TAmplifier::PositionGain(int position) const {
  float g = float(position) * step + min;
  if (!gainTable.empty()) g = CodeToGain(Truncate(-double(g)));
  if (gainLaw == kLawTwoRegisters && g >= 10 && g < 20) g = 12;
  return g;
}

int TAmplifier::SliderPosition(float value) const {
  if (!(step > 0)) return 0;
  const int top = std::max(Truncate((double(max) - double(min)) / double(step)), 0);
  return std::clamp(Truncate((double(value) - double(min)) / double(step)), 0, top);
}

uint8_t* TAmplifier::SecondByte() const {
  if (!data || data == PrivateData() || firstRegister < 0 || firstRegister + kSecondRegisterOffset > 127)
    return nullptr;
  return data + kSecondRegisterOffset;
}

int TAmplifier::GainToCode(float g) const {
  // The two-register law's code has a bit in each register.
  const int top = gainLaw == kLawTwoRegisters ? 3 : FieldMax();
  if (!gainTable.empty()) {
    for (size_t i = 0; i < gainTable.size(); ++i)
      if (g >= gainTable[i]) return std::min(int(i), top);
    return std::min(int(gainTable.size() - 1), top);
  }
  const double s = step > 0 ? double(step) : 1.0;
  int code = 0;
  switch (gainLaw) {
    case 1:
      code = Truncate(-double(g) / s);
      break;
    case 2:
      code = Truncate(2.0 - double(g));
      break;
    case 3: {
      // Kept inside the field's signed range, then in its two's complement.
      const int n = top + 1;
      code = std::clamp(Truncate(double(g) / s), -(n / 2), n - n / 2 - 1);
      return code & top;
    }
    case kLawTwoRegisters:
      code = g >= 20 ? 2 : g >= 12 ? 1 : 0;
      break;
    case kLawThreeSteps:
      code = g >= 0 ? 1 : g >= -6 ? 2 : 3;
      break;
    case kLawFromOne:
      code = Truncate((double(std::max(g, min)) - double(min)) / s + 1);
      break;
    default:
      code = Truncate((double(g) - double(min)) / s);
      break;
  }
  return std::clamp(code, 0, top);
}

float TAmplifier::CodeToGain(int code) const {
  if (!gainTable.empty()) {
    const size_t last = gainTable.size() - 1;
    return gainTable[code < 0 ? last : std::min(size_t(code), last)];
  }
  switch (gainLaw) {
    case 1:
      return -float(code) * step;
    case 2:
      return 2.0f - float(code);
    case 3: {
      const int n = FieldMax() + 1;
      if (code < n / 2) return float(code) * step;
      const int c = code & FieldMax();
      return c < n / 2 ? float(c) * step : float(c - n) * step;
    }
    case kLawTwoRegisters:
      return code == 1 ? 12.0f : code == 2 ? 20.0f : 0.0f;
    case kLawThreeSteps:
      return code == 2 ? -6.0f : code == 3 ? -12.0f : 0.0f;
    case kLawFromOne:
      // Code 0 is below the law's first step: the lowest gain.
      return code <= 0 ? min : float(code - 1) * step + min;
    default:
      return float(code) * step + min;
  }
}

void TAmplifier::SetGain(float g, bool write) {
  if (settingGain) return;
  settingGain = true;
  if (lock) {
    for (unsigned i = 0; i < targetCount; ++i)
      if (auto* ganged = dynamic_cast<TAmplifier*>(targets[i])) ganged->SetGain(g, write);
  }
  const int code = GainToCode(g);
  gain = CodeToGain(code);
  if (!Muted()) {
    gainText = GainText(gain);
    if (edit) edit->setText(gainText);
    if (slider) slider->VolumeText->setText(gainText + " dB");
    SetSliderPosition(SliderPosition(gain));
  }
  settingGain = false;
  if (!this->write || !write || !data) return;

  if (gainLaw == kLawTwoRegisters) {
    *data = uint8_t((*data & ~mask) | ((((code >> 1) & 1) << shift) & mask));
    if (uint8_t* second = SecondByte()) *second = uint8_t((*second & ~mask) | (((code & 1) << shift) & mask));
  } else {
    *data = uint8_t((*data & ~mask) | ((code << shift) & mask));
  }
  if (std::find(std::begin(kRoutedIDs), std::end(kRoutedIDs), id) != std::end(kRoutedIDs)) {
    if (block) {
      uint8_t route = 2;
      block(user, 0x70, 2, &route, 1, false, false);
    }
    // The pair writes both registers from now on (not past the page, nor
    // from a window that is not bound into the image yet).
    if (id == kPairedID && data != PrivateData() && firstRegister >= 0 && firstRegister < 127) {
      data[1] = data[0];
      count = 2;
    }
  }
  if (sourceCount > 0 && sources[0]->Request(1, static_cast<TGUIObject*>(this)) == 0)
    *data = gainLaw == kLawThreeSteps ? uint8_t(*data & ~mask) : uint8_t(*data | mask);
  this->write(user, device, page, firstRegister, count);
}

void TAmplifier::RegisterChanged() {
  if (!data) return;
  int code = (*data & mask) >> shift;
  if (gainLaw == kLawTwoRegisters) {
    const uint8_t* second = SecondByte();
    code = 2 * code | (second ? (*second & mask) >> shift : 0);
  }
  if (gainLaw == kLawFromOne) {
    // The law's code 0 is silence: shown muted where the widget can.
    const bool wasMuted = muted;
    muted = code == 0 && showMute;
    if (muteBox) muteBox->setChecked(muted);
    if (muted) {
      SetMode(0, nullptr);
      if (slider) slider->hide();
      if (edit) edit->hide();
      return;
    }
    ShowControls();
    // Unmuted by the register: clickable again, as the Mute box leaves it.
    if (wasMuted) SetMode(1, nullptr);
  }
  const float value = CodeToGain(code);
  bool pass = true;
  if (sourceCount > 0) {
    pass = gainLaw == kLawThreeSteps ? (*data & mask) != 0 : (*data & mask) != mask;
    uint8_t passByte = pass ? 1 : 0;
    sources[0]->Request(2, &passByte);
  }
  if (value >= min && value <= max && pass) SetGain(value, false);
}

void TAmplifier::SliderChange(TSliderForm* form, void* user) {
  auto* self = static_cast<TAmplifier*>(user);
  if (!self || !form) return;
  self->sliderPosition = form->GetPosition();
  self->lockBox = form->Lock->isChecked();
  self->SetGain(self->PositionGain(self->sliderPosition), true);
  const bool locked = form->Lock->isChecked();
  if (locked != self->lock) {
    self->lock = locked;
    for (unsigned i = 0; i < self->targetCount; ++i) {
      auto* ganged = dynamic_cast<TAmplifier*>(self->targets[i]);
      if (!ganged) continue;
      if (locked) {
        self->settingGain = true;
        ganged->SetGain(self->gain, true);
        self->settingGain = false;
      }
      ganged->SetLockBox(locked);
    }
  }
  if (QApplication::activeWindow() == form) {
    self->StartFade(1);
    self->SetMode(2, nullptr);
  } else {
    self->StartFade(3);
    self->SetMode(1, nullptr);
  }
}

void TAmplifier::GainKeyPress(int key) {
  if (key != 13 || !edit) return;
  bool ok = false;
  float g = edit->text().trimmed().toFloat(&ok);
  if (!ok || !(g >= min && g <= max)) g = gain;
  SetGain(g, true);
  SetSliderPosition(SliderPosition(gain));
}

void TAmplifier::MuteClick() {
  muted = muteBox && muteBox->isChecked();
  SetGain(gain, true);
  if (edit) edit->setVisible(visible && !muted);
  if (muted) {
    SetMode(0, nullptr);
    if (slider) slider->hide();
    // Muted, the widget is inert: the window draws it, with the captions
    // beside its boxes, into the page's background.
    SendEvent(kEventStateChanged);
  } else {
    // Redrawn while still inert, so the background loses the captions; then
    // clickable again.
    SendEvent(kEventStateChanged);
    SetMode(1, nullptr);
    if (slider && Shown()) slider->setVisible(on);
  }
}

void TAmplifier::Place(float s, int dx, int dy) {
  PlacePoints(s, dx, dy);
  const TPointF first = placedPoints[0];
  // Kept in the placed range: the boxes beside the edit add to it.
  editLeft = CoordinatePixels(double(textLocation.x) * s + first.x - float(dx));
  editTop = CoordinatePixels(double(textLocation.y) * s + first.y - float(dy) + 1);
  // Smaller than full size, the edit and the boxes shrink with the diagram.
  sizeFactor = ControlSizeFactor(s);
  if (!edit) return;
  PlaceControls();
  if (Shown()) edit->setVisible(visible && !muted);
}

bool TAmplifier::Click(int x, int y) {
  if (mode == 0 || !ClickTest(x, y)) return false;
  TSliderForm* form = Slider();
  if (!form->isVisible()) form->move(QCursor::pos());
  if (targetCount > 0) {
    form->Lock->show();
    form->setFixedHeight(TSliderForm::kLockedHeight);
  }
  form->show();
  return true;
}

int TAmplifier::Request(int code, void*) {
  if (code != 3) return -1;
  SetGain(gain, true);
  return 0;
}

void TAmplifier::SetVisible(bool flag) {
  TGUIObject::SetVisible(flag);
  if (slider) slider->setVisible(flag && slider->isVisible());
  if (!Shown()) return;
  // The page shows the widget: its controls are needed now.
  if (flag) BuildControls();
  // The boxes of a hidden page must not stay over the page shown instead.
  ShowControls();
}

void TAmplifier::Draw(TCanvas* target) {
  TGUITriangle::Draw(target);
  // The captions stand in for the hidden edit while muted.
  if (!Shown() || !muted) return;
  QPainter& painter = target->Painter();
  painter.setFont(DiagramFont(ScaledControlPoints(8, sizeFactor)));
  painter.setBrush(Qt::NoBrush);
  painter.setPen(QColor(0, 0, 0));
  auto label = [&](int control, const char* text) {
    const QRect box = ControlRect(control);
    painter.drawText(QRect(box.right() + 1 + 3, box.top(), ScaledControlPixels(50, sizeFactor),
                           ScaledControlPixels(14, sizeFactor)),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, QString::fromLatin1(text));
  };
  if (showMute) label(1, "Mute");
  if (showPower) label(2, "Power");
}
