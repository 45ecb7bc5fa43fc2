#include "diagram/bit_widgets.h"

#include <QAbstractScrollArea>
#include <QPainter>
#include <QScrollArea>
#include <algorithm>
#include <cstdlib>

#include "diagram/control_layout.h"

namespace {

QPointF At(float x, float y) { return QPointF(qreal(x), qreal(y)); }

// An outline through the points, closed back to the first.
void Outline(QPainter& painter, const QPointF* points, int n) {
  QPointF closed[8];
  for (int i = 0; i < n; ++i) closed[i] = points[i];
  closed[n] = points[0];
  painter.drawPolyline(closed, n + 1);
}

}  // namespace

QWidget* DiagramControlParent(QWidget* owner) {
  if (auto* area = qobject_cast<QScrollArea*>(owner)) {
    if (area->widget()) return area->widget();
  }
  if (auto* area = qobject_cast<QAbstractScrollArea*>(owner)) return area->viewport();
  return owner;
}

// ---------------------------------------------------------------- common

int TBitWidget::Field(uint8_t byte, int mask, int shift) {
  return shift >= 0 && shift < 8 ? (byte & mask) >> shift : 0;
}

void TBitWidget::SetField(int mask, int shift, int value) {
  if (!data) return;
  const int placed = shift >= 0 && shift < 8 && value >= 0 ? (value << shift) & mask : 0;
  *data = uint8_t((*data & ~mask) | placed);
}

// ---------------------------------------------------------------- switch

TSwitch::TSwitch(void* diagram, int bit, int device, int page, int reg, const float* rect, int width, TColor colour)
    : TBitWidget(device, page, reg, 1, nullptr, rect, width, colour), diagram(diagram), bit(bit) {
  SetHintText(page >= 128 ? std::string("Switch: custom control")
                          : "Switch: I2C Address: " + HexAddress(device) + ", Page: " + std::to_string(page) +
                                ", Register: " + std::to_string(reg) + ", Bit: " + std::to_string(bit));
}

bool TSwitch::Click(int x, int y) {
  if (mode == 0 || !ClickTest(x, y)) return false;
  SetSwitch(switchState ? 0 : 1);
  if (targets[0]) targets[0]->Request(3, static_cast<TGUIObject*>(this));
  if (page >= 128) return true;
  SetBit(bit, switchState != 0);
  WriteRegister();
  return true;
}

void TSwitch::SetSwitch(uint8_t value) {
  const bool opens = switchState && !value;
  switchState = value ? 1 : 0;
  if (netCount == 2) {
    // Open, it has left its output net, whose off pass below passes it by.
    if (opens) DropOwnLight();
    TGUIObject* p = FindNetMemberOn(0);
    TGUIObject* q = FindNetMemberOn(1);
    if (p && q) return;
    const bool wasOn = on;
    if (p) SetNetState(1, switchState != 0, p->GetOnColour());
    if (q) SetNetState(0, switchState != 0, q->GetOnColour());
    KeepOwnLight(wasOn);
  }
  SendEvent(kEventStateChanged);
}

void TSwitch::SetState(bool value) {
  NoteNeighbourPass();
  TGUIObject::SetState(value);
  if (netCount != 2) return;
  SetNetState(0, value, onColour);
  if (switchState == 1) SetNetState(1, value, onColour);
}

bool TSwitch::HasNet(int net) {
  if (netCount != 2) return false;
  if (net == nets[0].number) return true;
  if (net == nets[1].number) return switchState != 0;
  return false;
}

bool TSwitch::GetState() { return (on || settingNetState) && switchState; }

bool TSwitch::GetSavedState(int) { return (switchState && FindNetMemberOn(0)) || FindNetMemberOn(1); }

void TSwitch::AfterLoad() {
  TGUIObject::AfterLoad();
  // 128 marks a clickable switch without a register; the pages above are inert.
  if (page >= 129 && page <= 255) SetMode(0, nullptr);
}

int TSwitch::Request(int code, void* value) {
  if (code == 1) return switchState;
  if (code == 2 && value) {
    SetSwitch(*static_cast<const uint8_t*>(value));
    return 0;
  }
  return -1;
}

void TSwitch::UpdateFromRegister() {
  if (page >= 128) return;
  SetSwitch(BitSet(bit) ? 1 : 0);
  Paint(canvas);
}

void TSwitch::Draw(TCanvas* target) {
  QPainter& painter = target->Painter();
  PreparePainter(painter, false);
  const TPointF a = placedPoints[0], b = placedPoints[1];
  // Off is the diagonal, on the bottom edge.
  painter.drawLine(At(a.x, switchState == 1 ? b.y : a.y), At(b.x, b.y));
}

// ---------------------------------------------------------------- amplifier switch

void TAmpSwitch::SetSwitch(uint8_t value) {
  switchState = value ? 1 : 0;
  SendEvent(kEventStateChanged);
}

void TAmpSwitch::Draw(TCanvas* target) {
  QPainter& painter = target->Painter();
  PreparePainter(painter, false);
  const float x0 = placedPoints[0].x, y0 = placedPoints[0].y;
  const float x1 = placedPoints[1].x, y1 = placedPoints[1].y;
  const QPointF triangle[3] = {At(x0, y0), At(x0, y1), At(x1, (y0 + y1) / 2)};
  Outline(painter, triangle, 3);
  const int l = std::abs(int((x1 - x0) * 0.4f));
  const QRectF box(qreal(x0 + float(l)), qreal(y0 + float(l)), qreal(x1 - x0 - float(2 * l)),
                   qreal(y1 - y0 - float(2 * l)));
  painter.setPen(QPen(QColor(255, 0, 0), qreal(currentWidth)));
  painter.setBrush(switchState == 0 ? QBrush(QColor(255, 0, 0)) : QBrush(Qt::NoBrush));
  painter.drawEllipse(box);
  painter.setBrush(Qt::NoBrush);
}

// ---------------------------------------------------------------- direction arrow

TIOArrow::TIOArrow(void* diagram, int bit, int page, int reg, const float* rect, int width, TColor colour)
    : TSwitch(diagram, bit, 0x30, page, reg, rect, width, colour) {}

bool TIOArrow::Click(int x, int y) {
  if (mode == 0 || !ClickTest(x, y)) return false;
  if (firstRegister > 127 || page > 127) {
    // No register: the pin select behind the second link re-encodes the pin.
    if (targetCount < 2 || !targets[1]) return false;
    switchState = switchState ? 0 : 1;
    if (auto* listener = dynamic_cast<TArrowClickListener*>(targets[1])) listener->ArrowClicked(this);
    return true;
  }
  SetSwitch(switchState ? 0 : 1);
  SetBit(bit, switchState != 0);
  WriteRegister();
  return true;
}

void TIOArrow::SetSwitch(uint8_t value) {
  if (settingSwitch) return;
  settingSwitch = true;
  switchState = value ? 1 : 0;
  if (netCount > 1) {
    if (auto* linked = dynamic_cast<TSwitch*>(targets[0])) linked->SetSwitch(switchState ? 0 : 1);
    if (switchState && TGUIObject::enabled) {
      SetNetState(0, true, TColor(pathColour));
      SetNetState(1, true, TColor(pathColour));
    } else if (TGUIObject::enabled) {
      if (TGUIObject* p = FindNetMemberOn(1)) {
        SetNetState(0, true, p->GetOnColour());
      } else {
        SetNetState(0, false, 0);
        SetNetState(1, false, 0);
      }
    } else {
      SetNetState(0, false, 0);
    }
  }
  SendEvent(kEventLit);
  settingSwitch = false;
}

void TIOArrow::SetState(bool value) {
  TGUIObject::SetState(value);
  if (netCount == 2) SetNetState(switchState && TGUIObject::enabled ? 1 : 0, value, onColour);
}

bool TIOArrow::GetSavedState(int) { return TGUIObject::enabled && FindNetMemberOn(switchState ? 0 : 1); }

void TIOArrow::AfterLoad() {
  // The on state is not copied: the arrow's saved state is its direction.
  if (targetCount > 1 && targets[1]) pathColour = int(targets[1]->GetOnColour());
  if (netCount > 1 && nets[0].memberCount > 1) pathColour = int(nets[0].members[1]->GetOnColour());
}

void TIOArrow::Draw(TCanvas* target) {
  QPainter& painter = target->Painter();
  // Aliased, so that drawing in the background colour erases exactly.
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setBrush(Qt::NoBrush);
  const QPen penA(PenColour(currentColour), qreal(currentWidth), Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
  const QPen penB(PenColour(backgroundColour), qreal(currentWidth), Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
  const float x0 = placedPoints[0].x, y0 = placedPoints[0].y;
  const float x1 = placedPoints[1].x, y1 = placedPoints[1].y;
  const QPointF m = At((x0 + x1) / 2, (y0 + y1) / 2);
  const QPointF right[3] = {At(x0, y0), m, At(x0, y1)};
  const QPointF left[3] = {At(x1, y0), m, At(x1, y1)};
  if (TGUIObject::enabled && switchState == 1) {
    painter.setPen(penB);
    Outline(painter, left, 3);
    painter.setPen(penA);
    Outline(painter, right, 3);
  } else if (TGUIObject::enabled) {
    painter.setPen(penB);
    Outline(painter, right, 3);
    painter.setPen(penA);
    Outline(painter, left, 3);
  } else {
    painter.setPen(penB);
    Outline(painter, left, 3);
    Outline(painter, right, 3);
    painter.setPen(penA);
    painter.drawLine(At(x0, y0), At(x1, y1));
    painter.drawLine(At(x1, y0), At(x0, y1));
  }
  painter.setPen(penA);
  painter.drawLine(At(x0, float(m.y())), At(x1, float(m.y())));
}

// ---------------------------------------------------------------- toggle

TToggle::TToggle(void* diagram, int mask, int shift, int device, int page, int reg, const float* rect, int positions,
                 int width, TColor colour)
    : TBitWidget(device, page, reg, 1, nullptr, rect, width, colour),
      diagram(diagram),
      mask(mask),
      shift(shift),
      positions(std::clamp(positions, kMinPositions, kMaxPositions)) {
  SetHintText("Switch: I2C Address: " + HexAddress(device) + ", Page: " + std::to_string(page) +
              ", Register: " + std::to_string(reg) + ", LSB: " + std::to_string(shift));
}

void TToggle::SetPosition(int p) {
  if (settingPosition) return;
  settingPosition = 1;
  if (p >= positions) p = positions - 1;
  if (p < 0) p = 0;
  const int left = position;
  position = p;
  for (unsigned i = 0; i < kMaxLinks && targets[i]; ++i) {
    if (auto* linked = dynamic_cast<TToggle*>(targets[i])) linked->SetPosition(p);
  }
  if (int(netCount) >= positions) {
    if (left != position) {
      // The light it passed into the position it left goes with it, unless
      // a member of that net drives it; the passes below light it anew.
      DropOwnLight();
      if (!FindNetMemberOn(unsigned(left))) SetNetState(unsigned(left), false, 0);
    }
    const bool wasOn = on;
    TGUIObject* r = FindNetMemberOn(unsigned(position));
    TGUIObject* s = FindNetMemberOn(unsigned(positions));
    lighting = true;
    if (r) SetNetState(unsigned(positions), true, r->GetOnColour());
    if (s) SetNetState(unsigned(position), true, s->GetOnColour());
    lighting = false;
    if (!r && !s) {
      SetNetState(unsigned(position), false, 0);
      SetNetState(unsigned(positions), false, 0);
    }
    KeepOwnLight(wasOn);
  }
  SendEvent(kEventLit);
  settingPosition = 0;
}

bool TToggle::Click(int x, int y) {
  if (mode == 0 || !ClickTest(x, y)) return false;
  // Set through SetPosition alone, which sees the position the lever leaves.
  SetPosition(position + 1 >= positions ? 0 : position + 1);
  int value = position;
  if (id == kRotatedFieldID && value < 3) value = (value + 1) % 3;
  SetField(mask, shift, value);
  Paint(canvas);
  WriteRegister();
  return true;
}

void TToggle::UpdateFromRegister() {
  int value = Field(data ? *data : 0, mask, shift);
  // The inverse of the click's encoding, so the lever shows what was written.
  if (id == kRotatedFieldID && value < 3) value = (value + 2) % 3;
  SetPosition(value);
  Paint(canvas);
}

void TToggle::SetState(bool value) {
  NoteNeighbourPass();
  TGUIObject::SetState(value);
  if (int(netCount) < positions) return;
  SetNetState(unsigned(position), value, onColour);
  SetNetState(unsigned(positions), value, onColour);
}

bool TToggle::HasNet(int net) {
  return (unsigned(position) < netCount && nets[position].number == net) ||
         (unsigned(positions) < netCount && nets[positions].number == net);
}

bool TToggle::GetSavedState(int) { return FindNetMemberOn(unsigned(position)) || FindNetMemberOn(unsigned(positions)); }

void TToggle::Propagate(bool) {}

void TToggle::Draw(TCanvas* target) {
  QPainter& painter = target->Painter();
  PreparePainter(painter, false);
  const float x0 = placedPoints[0].x, y0 = placedPoints[0].y;
  const float x1 = placedPoints[1].x, y1 = placedPoints[1].y;
  // From the middle of the right edge to the left edge: position 0 at the top.
  painter.drawLine(QPoint(int(x1), int((y0 + y1) / 2)),
                   QPoint(int(x0), int(y0 + float(position) * (y1 - y0) / float(positions - 1))));
}

// ---------------------------------------------------------------- impedance select

TImpedanceSelect::TImpedanceSelect(void* diagram, int mask, int shift, int page, int reg, const float* rect, int width,
                                   TColor colour)
    : TBitWidget(0x30, page, reg, 1, nullptr, rect, width, colour), diagram(diagram), mask(mask), shift(shift) {
  SetHintText("Impedance Select: Page: " + std::to_string(page) + ", Register: " + std::to_string(reg));
}

bool TImpedanceSelect::Click(int x, int y) {
  if (mode == 0 || !HitTest(x, y)) return false;
  position = (position + 1) % 3;
  Paint(canvas);
  SetState(true);
  WriteRegister();
  SendEvent(kEventLit);
  return true;
}

void TImpedanceSelect::SetState(bool value) {
  TGUIObject::SetState(value);
  // An off selector is inert until something turns it on.
  SetMode(value ? 1 : 0, nullptr);
  SetField(mask, shift, value ? position + 1 : 0);
}

void TImpedanceSelect::UpdateFromRegister() {
  const int value = Field(data ? *data : 0, mask, shift) - 1;
  position = value >= 0 && value <= 2 ? value : 0;
  Paint(canvas);
}

void TImpedanceSelect::Draw(TCanvas* target) {
  QPainter& painter = target->Painter();
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setBrush(Qt::NoBrush);
  const float x0 = placedPoints[0].x, y0 = placedPoints[0].y;
  const float x1 = placedPoints[1].x, y1 = placedPoints[1].y;
  const QPointF pivot = At((x0 + x1) / 2, y0);
  const QPointF ends[3] = {At(x0, y1), At((x0 + x1) / 2, y1), At(x1, y1)};
  painter.setPen(QPen(PenColour(backgroundColour), qreal(currentWidth)));
  for (int i = 0; i < 3; ++i)
    if (i != position) painter.drawLine(pivot, ends[i]);
  painter.setPen(QPen(PenColour(currentColour), qreal(currentWidth)));
  painter.drawLine(pivot, ends[position]);
}

// ---------------------------------------------------------------- check box

TPlCheckBox::TPlCheckBox(QWidget* ownerWindow, int device, int page, int reg, const std::string& text, int bitNumber,
                         const float* rect)
    : TBitWidget(device, page, reg, 1, nullptr, rect, 1, 0),
      caption(text),
      bit(uint8_t(bitNumber)),
      owner(ownerWindow) {
  QWidget* parent = DiagramControlParent(ownerWindow);
  control = new QCheckBox(parent);
  // Its font and size come with its first placement.
  control->resize(kBoxWidth, kBoxHeight);
  control->setChecked(false);
  // A refresh that changes the mark runs the handler too; its write is
  // parked by the register window then.
  QObject::connect(control.data(), &QCheckBox::toggled, control.data(), [this](bool) { CheckClick(); });
  // Without an owner (headless) there is nothing to show it in.
  if (parent) control->show();
}

TPlCheckBox::~TPlCheckBox() { delete control.data(); }

QCheckBox* TPlCheckBox::GetControl() const { return control.data(); }

void TPlCheckBox::Place(float s, int dx, int dy) {
  PlaceBody(s, dx, dy);
  // Smaller than full size, the box and its caption shrink with the diagram
  // so that they stay on the box's rectangle.
  sizeFactor = ControlSizeFactor(s);
  if (control) {
    control->setGeometry(int(placedPoints[0].x - float(dx)), int(placedPoints[0].y - float(dy) + 1),
                         ScaledControlPixels(kBoxWidth, sizeFactor), ScaledControlPixels(kBoxHeight, sizeFactor));
    if (fit.Refit(sizeFactor))
      FitControl(control, ScaledControlFont(QFont(QStringLiteral("Arial")), sizeFactor), sizeFactor);
  }
  boxLeft = int(placedPoints[0].x);
  boxTop = int(placedPoints[0].y);
}

void TPlCheckBox::SetVisible(bool flag) {
  if (control && control->parentWidget()) control->setVisible(flag);
}

void TPlCheckBox::Draw(TCanvas* target) {
  QPainter& painter = target->Painter();
  painter.setFont(DiagramFont(ScaledControlPoints(8, sizeFactor)));
  painter.setBrush(Qt::NoBrush);
  painter.setPen(QColor(0, 0, 0));
  const int left = (control ? control->width() : ScaledControlPixels(kBoxWidth, sizeFactor)) + boxLeft + 3;
  painter.drawText(QRect(left, boxTop, ScaledControlPixels(70, sizeFactor), ScaledControlPixels(14, sizeFactor)),
                   Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, QString::fromStdString(caption));
}

void TPlCheckBox::UpdateFromRegister() {
  if (control) control->setChecked(BitSet(bit));
}

void TPlCheckBox::CheckClick() {
  if (!control) return;
  SetBit(bit, control->isChecked());
  WriteRegister();
}
