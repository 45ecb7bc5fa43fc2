#include "diagram/routing.h"

#include <QPainter>
#include <cmath>
#include <string>

#include "diagram/bit_widgets.h"
#include "platform/log.h"

namespace {

// A crossbar's rows come from the file unplaced: kept in the placed range.
int Round(float value) { return int(std::lround(double(ClampCoordinate(value)))); }

QColor Opaque(TColor colour) { return QColor(int(colour & 0xFF), int((colour >> 8) & 0xFF), int((colour >> 16) & 0xFF)); }

}  // namespace

// ---------------------------------------------------------------- crossbar

TDIRSelect::TDIRSelect(void* owner, unsigned fieldMask, unsigned fieldShift, int device, int page, int reg,
                       const float* rect, const float* sourceYs, unsigned sources, const float* destinationYs,
                       unsigned destinations, int width, TColor colour)
    : TBoundShape(device, page, device == kRouteDevice ? 0 : reg,
                  device == kRouteDevice ? 8 : device == 0x6B ? 1 : int(std::clamp(destinations, 1u, kMaxDestinations)),
                  nullptr, rect, width, colour),
      window(owner),
      mask(fieldMask),
      shift(std::min(fieldShift, 7u)),
      sourceCount(std::min(sources, kMaxSources)),
      destinationCount(std::min(destinations, kMaxDestinations)) {
  std::copy(sourceYs, sourceYs + sourceCount, sourceY);
  std::copy(destinationYs, destinationYs + destinationCount, destinationY);
  SetHintText("MUX: I2C Address: " + HexAddress(device) + ", Register: " + std::to_string(reg));
}

float TDIRSelect::SourceAt(unsigned i) const {
  return (i < sourceCount ? sourceY[i] : 0) * scale + placedPoints[0].y;
}

float TDIRSelect::DestinationAt(unsigned i) const {
  return (i < destinationCount ? destinationY[i] : 0) * scale + placedPoints[0].y;
}

void TDIRSelect::Recompute() {
  if (busy) return;
  busy = true;
  if (sourceCount + destinationCount <= netCount) {
    for (unsigned i = 0; i < destinationCount; ++i) {
      const unsigned source = selectedSource[i];
      const bool connected = source < sourceCount;
      TGUIObject* s = connected ? FindNetMemberOn(source) : nullptr;
      TGUIObject* d = FindNetMemberOn(sourceCount + i);
      if (s) {
        destinationColour[i] = s->GetOnColour();
        SetNetState(sourceCount + i, true, destinationColour[i]);
      }
      if (d && connected) SetNetState(source, true, d->GetOnColour());
      if (!s && !(d && connected)) {
        destinationColour[i] = 0;
        if (connected) SetNetState(source, false, 0);
        SetNetState(sourceCount + i, false, 0);
      }
    }
  }
  SendEvent(kEventStateChanged);
  busy = false;
}

void TDIRSelect::SetOnColour(TColor colour) {
  TGUIObject::SetOnColour(colour);
  const TGUIEventCallback saved = eventCallback;
  eventCallback = nullptr;
  Recompute();
  eventCallback = saved;
}

bool TDIRSelect::HasNet(int net) {
  const unsigned n = std::min({sourceCount + destinationCount, netCount, kMaxNets});
  for (unsigned i = 0; i < n; ++i) {
    if (nets[i].number == net) {
      foundNet = i;
      return true;
    }
  }
  foundNet = n;
  return false;
}

bool TDIRSelect::DrivesNet(int net) {
  unsigned i = 0;
  while (i < destinationCount && !(sourceCount + i < netCount && nets[sourceCount + i].number == net)) ++i;
  if (i >= destinationCount) return false;
  TGUIObject* p = FindNetMemberOn(pendingSource);
  TGUIObject* q = FindNetMemberOn(sourceCount + i);
  if (p) onColour = destinationColour[i];
  return p || q;
}

void TDIRSelect::MouseMove(int x, int y) {
  TGUIObject::MouseMove(x, y);
  if (fadeState != kFadeLit) return;
  mouseY = y;
  mouseX = x;
  Paint(canvas);
  SendEvent(kEventLit);
}

bool TDIRSelect::Click(int x, int y) {
  if (mode == 0 || !ClickTest(x, y)) return false;
  switch (hoverMode) {
    case 2:
      pendingSource = hoverIndex;
      hoverMode = 3;
      return true;
    case 4:
      pendingDestination = hoverIndex;
      hoverMode = 1;
      return true;
    case 1:
      pendingSource = hoverIndex;
      hoverMode = 0;
      Commit();
      return true;
    case 3:
      pendingDestination = hoverIndex;
      hoverMode = 0;
      Commit();
      return true;
    default:
      return true;
  }
}

bool TDIRSelect::Fits(unsigned source) const {
  // The routing device takes 4 << source as its register number.
  if (device == kRouteDevice) return source < 32 && (4u << source) <= 127u;
  return source <= 0x0F && ((source << shift) & ~mask & 0xFFu) == 0;
}

void TDIRSelect::Commit() {
  if (pendingSource >= sourceCount) pendingSource = 0;
  if (pendingDestination >= destinationCount) pendingDestination = 0;
  if (destinationCount == 0) return;
  if (!Fits(pendingSource)) {
    platform::LogLine("MUX: I2C Address: " + HexAddress(device) + ": source " + std::to_string(pendingSource) +
                      " does not fit its register; nothing is written");
    return;
  }
  selectedSource[pendingDestination] = pendingSource;
  Recompute();
  // An unconnected destination keeps what its register holds.
  auto value = [&](unsigned i) { return selectedSource[i] < sourceCount ? selectedSource[i] : 0u; };
  if (firstRegister == kPackedRegister) {
    if (destinationCount > 1 && selectedSource[1] < sourceCount && selectedSource[0] < sourceCount)
      data[0] = uint8_t((value(0) << 4) | value(1));
    else if (selectedSource[0] < sourceCount)
      data[0] = uint8_t((data[0] & 0x0F) | (value(0) << 4));
  } else {
    const unsigned n = std::min<unsigned>(destinationCount, unsigned(count));
    for (unsigned i = 0; i < n; ++i) {
      if (selectedSource[i] >= sourceCount || !Fits(selectedSource[i])) continue;
      data[i] = uint8_t((data[i] & ~mask) | (selectedSource[i] << shift));
    }
  }
  const int savedFirst = firstRegister, savedCount = count;
  if (device == kRouteDevice) {
    const unsigned routeRegister = 4u << selectedSource[0];
    firstRegister = int(routeRegister);
    // The image behind a bound window is the device's one page; a window
    // not bound yet has its own eight bytes.
    const int bytes = data == PrivateData() ? savedCount : 128;
    std::fill(data, data + bytes, uint8_t(routeRegister));
    count = 1;
  }
  Paint(canvas);
  if (write) write(user, device, page, firstRegister, count);
  firstRegister = savedFirst;
  count = savedCount;
}

void TDIRSelect::Refresh() {
  if (!data) return;
  if (firstRegister == kPackedRegister) {
    selectedSource[0] = data[0] >> 4;
    if (destinationCount > 1) selectedSource[1] = data[0] & 0x0F;
  } else {
    const unsigned n = std::min<unsigned>(destinationCount, unsigned(count));
    for (unsigned i = 0; i < n; ++i) selectedSource[i] = (data[i] & mask) >> shift;
  }
  if (device == kRouteDevice) {
    for (unsigned i = 0; i <= 5; ++i) {
      if (data[0] & (4u << i)) {
        selectedSource[0] = i;
        break;
      }
    }
  }
  // A register naming a source the element does not have: unconnected.
  for (unsigned i = 0; i < destinationCount; ++i)
    if (selectedSource[i] >= sourceCount) selectedSource[i] = kUnconnected;
  Recompute();
}

unsigned TDIRSelect::Hovered(const float* ys, unsigned n) const {
  for (unsigned i = 0; i < n; ++i)
    if ((ys[i] + 5) * scale + placedPoints[0].y >= float(mouseY)) return i;
  return n - 1;
}

void TDIRSelect::Draw(TCanvas* target) {
  QPainter& painter = target->Painter();
  painter.setRenderHint(QPainter::Antialiasing, true);
  painter.setBrush(Qt::NoBrush);
  const float x0 = placedPoints[0].x, x1 = placedPoints[1].x;
  for (unsigned i = 0; i < destinationCount; ++i) {
    if (selectedSource[i] >= sourceCount) continue;
    // An idle connection in the widget's own colour.
    const TColor colour = destinationColour[i] ? destinationColour[i] : currentColour;
    painter.setPen(QPen(Opaque(colour), qreal(currentWidth), Qt::SolidLine));
    painter.drawLine(QPoint(Round(x0), Round(SourceAt(selectedSource[i]))),
                     QPoint(Round(x1), Round(DestinationAt(i))));
  }
  if (fadeState != kFadeLit) return;
  painter.setPen(QPen(Opaque(currentColour), qreal(currentWidth), Qt::SolidLine));
  painter.setBrush(QBrush(Opaque(currentColour)));
  const int left = Round(x0), right = Round(x1);
  const int dir = left < right ? 1 : -1;
  if (hoverMode != 1 && hoverMode != 3) {
    const int mid = left + (right - left) / 2;
    hoverMode = (dir == 1 ? mouseX < mid : mouseX > mid) ? 2 : 4;
  }
  if (hoverMode == 1 || hoverMode == 2) {
    if (sourceCount == 0) return;
    hoverIndex = Hovered(sourceY, sourceCount);
    const int y = Round(SourceAt(hoverIndex));
    if (hoverMode == 1)
      painter.drawLine(QPoint(left, y), QPoint(right, Round(DestinationAt(pendingDestination))));
    else
      painter.drawRect(QRect(QPoint(left + dir, y - 2), QPoint(left + 4 * dir, y + 2)).normalized());
  } else {
    if (destinationCount == 0) return;
    hoverIndex = Hovered(destinationY, destinationCount);
    const int y = Round(DestinationAt(hoverIndex));
    if (hoverMode == 3)
      painter.drawLine(QPoint(left, Round(SourceAt(pendingSource))), QPoint(right, y));
    else
      painter.drawRect(QRect(QPoint(right - 4 * dir, y - 2), QPoint(right - dir, y + 2)).normalized());
  }
  painter.setBrush(Qt::NoBrush);
}

// ---------------------------------------------------------------- mixer

void TMixer::SetState(bool value) {
  TGUIObject::SetState(value);
  mode = 0;
  if (netCount < 2) return;
  unsigned n = 0, red = 0, green = 0, blue = 0;
  for (unsigned k = 0; k + 1 < netCount; ++k) {
    const TNet& net = nets[k];
    TGUIObject* member = nullptr;
    for (unsigned m = 0; m < net.memberCount && !member; ++m)
      if (net.members[m] != this) member = net.members[m];
    if (!member) return;
    // A lever answers for the nets it connects only: a toggle set to
    // another input is no source of this one.
    if (member->HasNet(net.number) && member->GetState()) {
      ++n;
      const TColor c = member->GetOnColour();
      red += c & 0xFF;
      green += (c >> 8) & 0xFF;
      blue += (c >> 16) & 0xFF;
    }
  }
  if (mutex && n > 1) n = 0;
  const TColor colour = n > 0 ? TColor((red / n) | ((green / n) << 8) | ((blue / n) << 16)) : 0;
  on = n > 0;
  SetNetState(netCount - 1, on, colour);
}

bool TMixer::GetSavedState(int net) {
  if (netCount == 0 || net != nets[netCount - 1].number) return false;
  unsigned n = 0;
  for (unsigned k = 0; k + 1 < netCount; ++k) n += FindNetMemberOn(k) ? 1 : 0;
  return n > 0 && !(mutex && n > 1);
}

// ---------------------------------------------------------------- resistor select

TQMX7460RSEL::TQMX7460RSEL(void* diagram, QWidget* ownerWindow, int device, int page, int reg, int fieldMask,
                           int fieldShift, const std::string& pathData)
    : TBoundShape(device, page, reg, 1, nullptr, pathData),
      window(diagram),
      owner(ownerWindow),
      mask(fieldMask),
      shift(std::clamp(fieldShift, 0, 7)) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", unsigned(fieldMask) & 0xFFu);
  SetHintText("Impedance Control: I2C Address: " + HexAddress(device) + ", Page: " + std::to_string(page) +
              ", Register: " + std::to_string(reg) + ", Mask: " + text);
  list = new QListWidget(DiagramControlParent(ownerWindow));
  list->setObjectName("ImpedanceList");
  list->setFont(QFont(QStringLiteral("Arial")));
  list->resize(40, 50);
  list->setFrameShape(QFrame::Box);
  list->addItems({"10k", "20k", "40k"});
  list->setCurrentRow(0);
  list->hide();
  QObject::connect(list.data(), &QListWidget::itemDoubleClicked, list.data(), [this] { ListDblClick(); });
}

TQMX7460RSEL::~TQMX7460RSEL() { delete list.data(); }

void TQMX7460RSEL::Place(float s, int dx, int dy) {
  TSVGPath::Place(s, dx, dy);
  repositionList = true;
}

bool TQMX7460RSEL::Click(int x, int y) {
  if (!TGUIObject::Click(x, y)) return false;
  if (list && list->parentWidget()) {
    list->show();
    list->raise();
  }
  return true;
}

void TQMX7460RSEL::ListDblClick() {
  if (!list || !data) return;
  list->hide();
  *data = uint8_t(*data & ~mask);
  if (sourceCount > 0 && sources[0]->Request(1, static_cast<TGUIObject*>(this)) == 1)
    *data = uint8_t(*data | (((std::max(list->currentRow(), 0) + 1) << shift) & mask));
  if (write) write(user, device, page, firstRegister, 1);
  SendEvent(kEventLit);
}

int TQMX7460RSEL::Request(int code, void*) {
  if (code != 3) return -1;
  ListDblClick();
  return 0;
}

void TQMX7460RSEL::RegisterChanged() {
  if (!data) return;
  const int v = (*data & mask) >> shift;
  // A value above the list's three items selects none of them.
  if (v != 0 && list) list->setCurrentRow(v <= list->count() ? v - 1 : -1);
  uint8_t state = v != 0 ? 1 : 0;
  TGUIObject::SetState(state != 0);
  if (sourceCount > 0) sources[0]->Request(2, &state);
}

void TQMX7460RSEL::Draw(TCanvas* target) {
  TSVGPath::Draw(target);
  float left, top, right, bottom;
  GetHitBox(left, top, right, bottom);
  if (repositionList && list) {
    list->move(Round(left), Round(top));
    repositionList = false;
  }
  if (!list || !list->currentItem() || list->currentRow() < 0) return;
  QPainter& painter = target->Painter();
  painter.setRenderHint(QPainter::Antialiasing, true);
  const int size = std::max(Round(10 * scale), 1);
  QFont font(QStringLiteral("Arial"));
  font.setPointSize(size);
  painter.setFont(font);
  painter.setPen(Opaque(currentColour));
  const QString text = list->currentItem()->text();
  const QFontMetrics metrics(font);
  const QPointF centre(qreal(left), qreal(top - float(size) - 5 * scale));
  painter.drawText(QPointF(centre.x() - metrics.horizontalAdvance(text) / 2.0,
                           centre.y() + (metrics.ascent() - metrics.descent()) / 2.0),
                   text);
}
