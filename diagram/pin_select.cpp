#include "diagram/pin_select.h"

#include <QSignalBlocker>
#include <algorithm>
#include <cmath>

#include "diagram/control_layout.h"

namespace {

struct PinInfo {
  int id;
  QStringList items;
  int companion;  // 0: none
  int gpioCode, misoCode, doutCode;
};

const PinInfo& Info(int id) {
  static const PinInfo pins[] = {
      {5200, {"GPIO1", "SCLK", "MISO", "DOUT", "GPIO2", "GPI1", "GPI2", "GPI3"}, 5000, 8, 9, 6},
      {6200, {"GPIO1", "SCLK", "MISO", "DOUT", "GPIO2", "GPI1", "GPI2", "GPI3"}, 6000, 9, 10, 7},
      {7200, {"GPIO1", "SCLK", "GPIO2", "GPI1"}, 0, 0, 0, 0},
      {8200, {"GPIO1", "GPIO2", "MISO"}, 0, 11, 8, 0},
      {9200, {"GPIO1", "SCLK", "MISO", "GPIO2", "GPI1", "GPI2", "GPI3"}, 9000, 7, 6, 0},
  };
  static const PinInfo none{0, {}, 0, 0, 0, 0};
  for (const PinInfo& pin : pins)
    if (pin.id == id) return pin;
  return none;
}

// Pin 7200's two-bit code.
const QStringList kPin7200Codes = {"GPIO1", "SCLK", "GPIO2", "GPI1"};

}  // namespace

const QStringList& TPinSelect::Functions() {
  static const QStringList functions = {"GPIO1", "SCLK", "MISO", "DOUT", "GPIO2", "GPI1", "GPI2", "GPI3"};
  return functions;
}

TPinSelect::TPinSelect(QWidget* owner, const float* rect, int width, TColor colour)
    : TBoundShape(0, 31, kFirstRegister, kLastRegister - kFirstRegister + 1, nullptr, rect, width, colour) {
  SetHintText("PinSelect");
  combo = new QComboBox(DiagramControlParent(owner));
  combo->setObjectName("PinSelectCombo");
  // Its font and size come with its first placement.
  combo->resize(kComboWidth, kComboHeight);
  combo->hide();
  QObject::connect(combo.data(), &QComboBox::activated, combo.data(), [this] { Changed(); });
}

TPinSelect::~TPinSelect() { delete combo.data(); }

std::string TPinSelect::Text() const { return combo ? combo->currentText().toStdString() : selection; }

// A text that is no item of the list ("N/A", or a function another pin
// holds) shows as the box's placeholder.
void TPinSelect::Show(const std::string& text) {
  selection = text;
  if (!combo) return;
  const QSignalBlocker quiet(combo.data());
  const QString shown = QString::fromStdString(text);
  combo->setPlaceholderText(shown);
  combo->setCurrentIndex(combo->findText(shown));
}

int TPinSelect::Field(int reg, int high, int low) const {
  return (Reg(reg) >> low) & ((1 << (high - low + 1)) - 1);
}

void TPinSelect::SetField(int reg, int high, int low, int value) {
  const int fieldMask = ((1 << (high - low + 1)) - 1) << low;
  Reg(reg) = uint8_t((Reg(reg) & ~fieldMask) | ((value << low) & fieldMask));
}

void TPinSelect::WriteReg(int reg) {
  if (write) write(user, device, page, reg, 1);
}

TGUIObject* TPinSelect::Companion() {
  const int companion = Info(id).companion;
  return companion ? FindByID(companion) : nullptr;
}

void TPinSelect::Place(float s, int dx, int dy) {
  PlacePoints(s, dx, dy);
  if (!combo) return;
  // The box is as large as its rectangle leaves room for, up to its full
  // size, so that it stays off the direction arrow beside it; its font
  // shrinks with a diagram drawn smaller than full size.
  const int left = int(std::lround(placedPoints[0].x)), top = int(std::lround(placedPoints[0].y)) + 1;
  const int right = int(std::lround(placedPoints[1].x)), bottom = int(std::lround(placedPoints[1].y));
  combo->setGeometry(left - dx, top - dy, std::clamp(right - left, 1, kComboWidth),
                     std::clamp(bottom - top, 1, kComboHeight));
  const float f = ControlSizeFactor(s);
  if (fit.Refit(f)) FitControl(combo, ScaledControlFont(QFont(QStringLiteral("Arial")), f), f);
}

bool TPinSelect::Click(int x, int y) { return mode != 0 && TGUIObject::Click(x, y); }

void TPinSelect::SetVisible(bool flag) {
  if (combo && combo->parentWidget()) combo->setVisible(flag);
}

void TPinSelect::AfterLoad() {
  TGUIObject::AfterLoad();
  for (int i = 0; i < kPins; ++i) pins[i] = dynamic_cast<TPinSelect*>(FindByID(kFirstPinID + 1000 * i));
  RebuildItems();
  if (TGUIObject* net = FindByID(3004)) netColour = net->GetOnColour();
}

void TPinSelect::RebuildItems() {
  if (!combo) return;
  const QSignalBlocker quiet(combo.data());
  const int shownIndex = combo->currentIndex();
  const QString shown = combo->currentText();
  QStringList items = Info(id).items;
  for (TPinSelect* other : pins) {
    if (!other || other == this || !other->combo) continue;
    items.removeAll(other->combo->currentText());
  }
  combo->clear();
  combo->addItems(items);
  combo->setCurrentIndex(shownIndex < 0 ? -1 : combo->findText(shown));
}

int TPinSelect::GetDirection(const std::string& function) const {
  const int c = Functions().indexOf(QString::fromStdString(function));
  auto in = [](int v, std::initializer_list<int> set) { return std::find(set.begin(), set.end(), v) != set.end(); };
  switch (c) {
    case 0:    // GPIO1
    case 4: {  // GPIO2
      const int v = Field(c == 0 ? 51 : 52, 5, 2);
      return v == 1 ? 1 : in(v, {7, 8, 9, 11}) ? 2 : 0;
    }
    case 1:
      return Field(56, 2, 1) == 3 ? 1 : 0;
    case 2:
      return in(Field(55, 4, 1), {6, 8, 9, 10}) ? 2 : 0;
    case 3:
      return in(Field(53, 3, 1), {6, 7}) ? 2 : 0;
    case 5:
      return Field(57, 6, 5) == 1 ? 1 : 0;
    case 6:
      return Field(57, 2, 1) == 1 ? 1 : 0;
    case 7:
      return Field(58, 6, 5) == 1 ? 1 : 0;
    default:
      return 0;
  }
}

void TPinSelect::ApplyFunction(const std::string& function, int direction) {
  const PinInfo& pin = Info(id);
  TGUIObject* companion = Companion();
  auto turn = [&](bool value) {
    if (auto* arrow = dynamic_cast<TSwitch*>(companion)) arrow->SetSwitch(value ? 1 : 0);
    else if (companion) companion->SetState(value);
  };
  if (companion) companion->SetEnabled(true);
  const int c = Functions().indexOf(QString::fromStdString(function));
  int reg = 0;
  switch (c) {
    case 0:
    case 4:
      reg = c == 0 ? 51 : 52;
      if (companion) companion->SetMode(1, nullptr);
      if (direction == 0) direction = GetDirection(function);
      if (direction == 0) direction = 1;
      SetField(reg, 5, 2, 0);
      if (direction == 1) {
        SetField(reg, 5, 2, 1);
        turn(true);
      } else {
        turn(false);
        SetField(reg, 5, 2, pin.gpioCode);
      }
      break;
    case 1:
      reg = 56;
      Reg(reg) |= 0x04;
      if (companion) companion->SetMode(0, nullptr);
      turn(true);
      break;
    case 2:
      reg = 55;
      SetField(reg, 4, 1, pin.misoCode);
      if (companion) companion->SetMode(0, nullptr);
      turn(false);
      break;
    case 3:
      reg = 53;
      SetField(reg, 3, 1, pin.doutCode);
      if (companion) companion->SetMode(0, nullptr);
      turn(false);
      break;
    case 5:
    case 6:
    case 7:
      reg = c == 7 ? 58 : 57;
      Reg(reg) |= c == 6 ? 0x02 : 0x20;
      if (companion) companion->SetMode(0, nullptr);
      turn(true);
      break;
    default:
      return;  // not a function: nothing to program
  }
  WriteReg(reg);
}

void TPinSelect::Changed() {
  if (!combo || !data) return;
  // Its own writes do not refresh it half way: the box keeps the choice.
  const uint8_t saved = TI2CObject::enabled;
  TI2CObject::enabled = 0;
  ChangedBody();
  TI2CObject::enabled = saved;
}

void TPinSelect::ChangedBody() {
  for (TPinSelect* other : pins)
    if (other && other != this) other->RebuildItems();
  const std::string text = Text();
  selection = text;
  const int c = Functions().indexOf(QString::fromStdString(text));
  switch (id) {
    case 5200:
    case 6200:
    case 9200:
      if (c < 0) return;
      if (id == 9200) SetField(32, 7, 5, c);
      else SetField(31, id == 5200 ? 7 : 4, id == 5200 ? 5 : 2, c);
      WriteReg(id == 9200 ? 32 : 31);
      ApplyFunction(text, 0);
      break;
    case 7200: {
      const int code = kPin7200Codes.indexOf(QString::fromStdString(text));
      if (code < 0) return;
      SetField(31, 1, 0, code);
      WriteReg(31);
      ApplyFunction(text, 1);
      if (TGUIObject* net = FindByID(3004)) net->SetNetState(0, true, netColour);
      SendEvent(kEventLit);
      break;
    }
    case 8200:
      ApplyFunction(text, 2);
      if (TGUIObject* led = FindByID(8003)) led->SetState(true);
      SendEvent(kEventLit);
      break;
    default:
      break;
  }
}

void TPinSelect::Refresh() {
  if (!data) return;
  std::string text;
  switch (id) {
    case 5200:
    case 6200:
    case 9200: {
      const int code = id == 5200 ? Field(31, 7, 5) : id == 6200 ? Field(31, 4, 2) : Field(32, 7, 5);
      text = Functions()[code].toStdString();
      const int direction = id == 9200 && code == 3 ? 0 : GetDirection(text);
      if (direction == 0) text = "N/A";
      if (TGUIObject* companion = Companion()) {
        companion->SetMode(0, nullptr);
        companion->SetEnabled(direction != 0);
        if (auto* arrow = dynamic_cast<TSwitch*>(companion)) arrow->SetSwitch(direction == 1 ? 1 : 0);
        else companion->SetState(direction == 1);
      }
      break;
    }
    case 7200: {
      text = kPin7200Codes[Field(31, 1, 0)].toStdString();
      const int direction = GetDirection(text);
      if (direction == 0) text = "N/A";
      if (TGUIObject* net = FindByID(3004)) net->SetNetState(0, direction != 0, 0);
      break;
    }
    case 8200: {
      TGUIObject* led = FindByID(8003);
      if (led) led->SetState(true);
      if (Field(51, 5, 2) == 11) text = "GPIO1";
      else if (Field(52, 5, 2) == 11) text = "GPIO2";
      else if (Field(55, 4, 1) == 8) text = "MISO";
      else {
        text = "N/A";
        if (led) led->SetState(false);
      }
      break;
    }
    default:
      return;
  }
  Show(text);
}

void TPinSelect::ArrowClicked(TIOArrow* arrow) {
  if (!arrow) return;
  const int direction = arrow->GetSwitchState() ? 1 : 2;
  if (id != 5200 && id != 6200 && id != 9200) return;
  const uint8_t saved = TI2CObject::enabled;
  TI2CObject::enabled = 0;
  ApplyFunction(Text(), direction);
  TI2CObject::enabled = saved;
}
